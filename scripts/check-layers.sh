#!/usr/bin/env bash
# Layers only reach down: fails, naming each offending line, when an include crosses a layer the
# wrong way. app/ (but main.cpp) includes only app/; ndi/ and slots/ never include remote/ or
# render/; remote/ and render/ never include each other; platform/ includes nothing of the app.
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
check app 'ndi|slots|render|remote|platform|qml' "app/ includes only app/" '^app/main.cpp:'
check ndi 'remote|render' "ndi/ never includes remote/ or render/"
check slots 'remote|render' "slots/ never includes remote/ or render/"
check remote 'render' "remote/ never includes render/"
check render 'remote' "render/ never includes remote/"
check platform 'app|ndi|slots|render|remote|qml' "platform/ knows nothing of the application"
[ "$found" = 0 ] && echo "layers: every include reaches down"
exit "$found"
