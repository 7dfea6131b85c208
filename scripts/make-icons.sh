#!/bin/sh
# Renders the artwork in qml/icons/src/*.svg to the PNGs the UI loads from qml/icons/.
# The PNGs are committed, so the build never needs this; run it after editing a drawing.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
src="$here/qml/icons/src"
out="$here/qml/icons"

for svg in "$src"/*.svg; do
    name=$(basename "$svg" .svg)
    rsvg-convert --format=png --output="$out/$name.png" "$svg"
    echo "$out/$name.png"
done
