#!/usr/bin/env bash
# Every tracked C++ file is formatted as .clang-format says (a dry run: nothing is rewritten);
# names each file that is not. The runtime's interface header keeps the vendor's own layout.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^platform/ndi/include/')
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/format-check.$$; then
    grep -oE '^[^: ]+\.(cpp|h):[0-9]+:[0-9]+: error' /tmp/format-check.$$ | cut -d: -f1 | sort -u | sed 's/^/not formatted: /'
    echo "Run: clang-format -i <file> (or for every file: git ls-files '*.cpp' '*.h' | xargs clang-format -i)"
    rm -f /tmp/format-check.$$
    exit 1
fi
rm -f /tmp/format-check.$$
