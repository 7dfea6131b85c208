#!/usr/bin/env bash
# Layers only reach down: fails, naming each offending line, when an include crosses a layer the
# wrong way. From the bottom: app/ (but main.cpp) includes only app/; ndi/ (input) includes nothing
# above it; recording/ and storage/ reach only app/ and ndi/; slots/ never includes audio/, remote/
# or render/; audio/ never includes remote/ or render/; remote/ and render/ never include each
# other; platform/ includes nothing of the app.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
found=0
check() { # folder pattern why [exclude]
    local hits
    hits=$(grep -rnE --include='*.h' --include='*.cpp' "^#include \"($2)/" "$1" | grep -v "${4:-^$}")
    if [ -n "$hits" ]; then
        echo "$3:"
        echo "$hits"
        found=1
    fi
}
check app 'ndi|recording|storage|slots|audio|render|remote|platform|qml' "app/ includes only app/" '^app/main.cpp:'
check ndi 'recording|storage|slots|audio|remote|render' "ndi/ includes only app/"
check recording 'storage|slots|audio|remote|render' "recording/ reaches only app/ and ndi/"
check storage 'recording|slots|audio|remote|render' "storage/ reaches only app/ and ndi/"
check slots 'audio|remote|render' "slots/ never includes audio/, remote/ or render/"
check audio 'remote|render' "audio/ never includes remote/ or render/"
check remote 'render' "remote/ never includes render/"
check render 'remote' "render/ never includes remote/"
check platform 'app|ndi|recording|storage|slots|audio|render|remote|qml' "platform/ knows nothing of the application"
[ "$found" = 0 ] && echo "layers: every include reaches down"
exit "$found"
