#!/usr/bin/env bash
# Installs the Debian packages listed in packages.txt that are missing. Quick when all are there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mapfile -t wanted < <(grep -vE '^\s*(#|$)' "$here/packages.txt")
# The panel's browser test runs on Node; a machine that already has its own Node build keeps it
# (Debian's npm package conflicts with other Node builds).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    wanted+=(nodejs npm)
fi
missing=()
for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
