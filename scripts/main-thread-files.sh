#!/usr/bin/env bash
# Runs the hung-drive test under strace and lists every file-system call the application's main
# thread made on a recording folder or on the hung drive; there must be none. The main thread's own
# files (settings, log, caches, fonts) are left out: they live in the user's local profile.
#
#   bash scripts/main-thread-files.sh [build folder]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
command -v strace >/dev/null || { echo "strace is missing: apt-get install strace" >&2; exit 2; }
out=$(mktemp -d)
trap 'bash "$top/tests/env/stop.sh" "$out/env" >/dev/null 2>&1; rm -rf "$out"' EXIT
bash "$top/tests/env/start.sh" "$out/env" >/dev/null
set -a
. "$out/env/env"
set +a
calls=execve,stat,lstat,statfs,fstatfs,newfstatat,statx,openat,access,faccessat,faccessat2,mkdir,getdents64,unlink,rename
strace -f -qq -e trace=$calls -o "$out/trace" "$build/tests/tst_hungdrive" >"$out/test.log" 2>&1 ||
    { tail -n 20 "$out/test.log" >&2; exit 1; }
if grep -q '^SKIP' "$out/test.log"; then
    grep '^SKIP' "$out/test.log" | head -n 1
    exit 0
fi
# strace pads short process ids with spaces.
main=$(sed -n 's/^\([0-9]*\) *execve(".*\/StavelinRecorder".*/\1/p' "$out/trace" | head -n 1)
[ -n "$main" ] || { echo "the application never started" >&2; exit 1; }
total=$(grep -c "^$main " "$out/trace" || true)
found=$(grep "^$main " "$out/trace" | grep -E 'hung-drive|-videos' || true)
others=$(grep -v "^$main " "$out/trace" | grep -cE 'hung-drive/mnt|-videos' || true)
echo "main thread: $total file-system calls, $(printf '%s' "$found" | grep -c . || true) on recording folders;" \
    "other threads and processes: $others on them"
[ -z "$found" ] || { printf '%s\n' "$found" >&2; exit 1; }
# Nobody touching the folders at all means the test's folders were not found by these names.
[ "$others" -gt 0 ] || { echo "no call on a recording folder at all: have the test's folder names changed?" >&2; exit 1; }
