#!/usr/bin/env bash
# Builds the tests that hand work between threads (CTest label "threaded") with ThreadSanitizer,
# in a build folder of their own, and runs them: any race reported fails the run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TSAN_BUILD_DIR:-$top/build-tsan}
cmake -S "$top" -B "$build" -G Ninja -DRECORDER_SANITIZE=thread -DRECORDER_WERROR=ON >/dev/null
# Each test is built by the target of its name (a second run of one program has none of its own).
mapfile -t targets < <(cd "$build" && comm -12 <(ctest -L threaded -N | sed -n 's/^ *Test *#[0-9]*: *//p' | sort) \
    <(ninja -t targets all | sed -n 's/^\([^:/]*\): phony$/\1/p' | sort))
[ ${#targets[@]} -gt 0 ] || { echo "no threaded tests found" >&2; exit 1; }
cmake --build "$build" --target "${targets[@]}" -- -j"$(nproc)"
cd "$build"
ctest --output-on-failure --timeout 900 -L threaded
