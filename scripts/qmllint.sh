#!/usr/bin/env bash
# Lints the QML module as its CMake target does, and fails on any warning but the two we mean:
# the app's objects that the entry function publishes as context properties (qmllint 6.4 has no
# way to declare them), and the qmltypes file Debian's Qt5Compat package leaves out.
# Usage: scripts/qmllint.sh [build dir], from the source root.
set -euo pipefail

build=${1:-build}
json="$build/recorderlib_qmllint.json"
context_properties="Logger myModel settingsModel slotsModel slotsRecorder slotsAudioHelper recordingSummary"

rm -f "$json"
# The target's own exit status is qmllint's, which the exceptions below decide instead.
ninja -C "$build" recorderlib_qmllint_json >/dev/null 2>&1 || true
if [ ! -s "$json" ]; then
    echo "qmllint: no report in $json; run: ninja -C $build recorderlib_qmllint_json" >&2
    exit 2
fi

python3 - "$json" "$context_properties" <<'PY'
import json, sys

report, names = sys.argv[1], set(sys.argv[2].split())
gap_module = 'Warnings occurred while importing module "Qt5Compat.GraphicalEffects":'
gap_file = "QML types file does not exist: /usr/lib/x86_64-linux-gnu/qt6/qml/Qt5Compat/GraphicalEffects/private/plugins.qmltypes"

failures, ignored_names, ignored_gap = [], {}, 0
for f in json.load(open(report))["files"]:
    text = None
    for w in f["warnings"]:
        if w["type"] not in ("warning", "critical"):
            continue
        where = "%s:%s:%s" % (f["filename"], w.get("line", 0), w.get("column", 0))
        if w["message"] in (gap_module, gap_file):
            ignored_gap += 1
            continue
        if w["message"] == "Unqualified access" and "charOffset" in w:
            if text is None:
                # qmllint counts offsets in UTF-16 units.
                text = open(f["filename"], encoding="utf-8").read().encode("utf-16-le")
            start = 2 * w["charOffset"]
            name = text[start:start + 2 * w["length"]].decode("utf-16-le")
            if name in names:
                ignored_names[name] = ignored_names.get(name, 0) + 1
                continue
            failures.append("%s: Unqualified access to %s" % (where, name))
            continue
        failures.append("%s: %s" % (where, w["message"]))

for line in failures:
    print(line)
print("qmllint: %d warning(s); ignored %d access(es) to context properties (%s) and %d for the Qt5Compat qmltypes gap"
      % (len(failures), sum(ignored_names.values()),
         ", ".join("%s %d" % kv for kv in sorted(ignored_names.items())) or "none", ignored_gap))
sys.exit(1 if failures else 0)
PY
