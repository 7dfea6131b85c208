#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, lints the QML, checks that every
# translation unit of the application compiles for Windows, fuzzes the TCP line handler for a minute
# (its own small clang build), and runs every test through CTest, headless (the test fixture starts
# Xvfb and a PulseAudio null sink and stops them afterwards), then looks, with strace, for file-system
# calls of the application's main thread on the recording folders while a drive hangs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/check-layers.sh"
"$top/scripts/check-format.sh"
"$top/scripts/build.sh" -DRECORDER_WERROR=ON "$@"
build=${BUILD_DIR:-$top/build}
"$top/scripts/qmllint.sh" "$build"
"$top/scripts/check-windows.sh" "$build"

fuzz=${build}-fuzz
cmake -S "$top" -B "$fuzz" -G Ninja -DRECORDER_FUZZ=ON -DRECORDER_WERROR=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$fuzz" --target fuzz_tcpprotocol
(cd "$fuzz" && ctest --output-on-failure -R '^fuzz_')

(cd "$build" && ctest --output-on-failure --timeout 900)
"$top/scripts/main-thread-files.sh" "$build"
