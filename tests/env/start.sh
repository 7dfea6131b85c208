#!/usr/bin/env bash
# Starts the headless display (Xvfb with Mesa's software OpenGL) and a private PulseAudio daemon
# with a null sink for the tests, and writes their addresses to $1/env for tests/common to read.
# With "sound" as $2, the sound server alone.
set -u
dir=${1:?state folder}
only=${2:-}
"$(dirname "$0")/stop.sh" "$dir" >/dev/null 2>&1
mkdir -p "$dir"
: > "$dir/env"

if [ "$only" != sound ] && command -v Xvfb >/dev/null; then
    exec 3> "$dir/displayfd"
    setsid Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp +extension GLX >"$dir/xvfb.log" 2>&1 &
    echo $! > "$dir/xvfb.pid"
    exec 3>&-
    for _ in $(seq 100); do [ -s "$dir/displayfd" ] && break; sleep 0.1; done
    if [ -s "$dir/displayfd" ]; then
        echo "DISPLAY=:$(tr -d '\n' < "$dir/displayfd")" >> "$dir/env"
    else
        echo "Xvfb did not start; see $dir/xvfb.log" >&2
    fi
fi

if command -v pulseaudio >/dev/null; then
    pulse="$dir/pulse"
    mkdir -p "$pulse"
    PULSE_RUNTIME_PATH=$pulse HOME=$dir pulseaudio --daemonize=yes --exit-idle-time=-1 --disallow-exit=yes \
        --use-pid-file=yes --log-target=file:$pulse/pulse.log -n \
        --load="module-native-protocol-unix socket=$pulse/native auth-anonymous=1" \
        --load="module-null-sink sink_name=nullsink rate=48000" >/dev/null 2>&1
    export PULSE_SERVER=unix:$pulse/native
    for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    if pactl set-default-sink nullsink >/dev/null 2>&1; then
        # The null sink stalls a new stream for up to two seconds unless something keeps it busy.
        setsid pacat -p --latency-msec=20 --raw --format=s16le --rate=48000 --channels=2 </dev/zero >/dev/null 2>&1 &
        echo $! > "$dir/pacat.pid"
        echo "PULSE_SERVER=$PULSE_SERVER" >> "$dir/env"
        sleep 2
    else
        echo "PulseAudio did not start; see $pulse/pulse.log" >&2
    fi
fi
cat "$dir/env"
