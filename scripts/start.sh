#!/usr/bin/env bash
# Installs what is missing, builds, and starts the recorder. Without NDI_SIM_SOURCES the simulated
# NDI runtime shows its built-in demo network.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
build=${BUILD_DIR:-$top/build}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting a virtual one (Xvfb :77). Screenshot with: import -display :77 -window root shot.png"
    Xvfb :77 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    export DISPLAY=:77
    sleep 1
fi
exec "$build/bin/StavelinRecorder"
