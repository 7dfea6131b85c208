#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test through CTest,
# headless (the test fixture starts Xvfb and a PulseAudio null sink and stops them afterwards).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" -DRECORDER_WERROR=ON "$@"
build=${BUILD_DIR:-$top/build}
cd "$build"
ctest --output-on-failure --timeout 900
