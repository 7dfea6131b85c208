#!/usr/bin/env bash
# Stops what start.sh started.
dir=${1:?state folder}
for f in pacat xvfb; do
    if [ -f "$dir/$f.pid" ]; then kill "$(cat "$dir/$f.pid")" 2>/dev/null; rm -f "$dir/$f.pid"; fi
done
if [ -d "$dir/pulse" ]; then
    PULSE_RUNTIME_PATH=$dir/pulse HOME=$dir pulseaudio --kill >/dev/null 2>&1
    for _ in $(seq 30); do [ -f "$dir/pulse/pid" ] || break; kill -0 "$(cat "$dir/pulse/pid")" 2>/dev/null || break; sleep 0.1; done
fi
: > "$dir/env" 2>/dev/null
exit 0
