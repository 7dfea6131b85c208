#!/usr/bin/env bash
# Compiles every translation unit of the application (the library and the executable, generated
# ones included; not the stand-ins, tests or benchmarks) for 64-bit Windows with MinGW-w64, syntax
# only, using the Linux build's own compile commands: Qt's headers, our include paths and defines.
# Fails naming the first file that does not compile. Usage: check-windows.sh [build folder]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD_DIR:-$top/build}}
compiler=x86_64-w64-mingw32-g++-posix
if ! command -v "$compiler" >/dev/null; then
    echo "Installing the MinGW-w64 cross compiler"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends g++-mingw-w64-x86-64-posix
fi
[ -f "$build/compile_commands.json" ] || { echo "No $build/compile_commands.json: build first"; exit 1; }
build=$(cd "$build" && pwd) # the compiles run in the build's own folders
# The HTTP library's header sits among Linux's system headers, which must stay out of a Windows
# compile: it alone is copied to a folder of its own.
headers=$build/windows-check/include
mkdir -p "$headers"
cp "$(pkg-config --variable=includedir cpp-httplib)/httplib.h" "$headers/"

exec python3 - "$top" "$build" "$compiler" "$headers" <<'PY'
import concurrent.futures, json, os, re, shlex, subprocess, sys

top, build, compiler, headers = sys.argv[1:5]
# The application's targets: the library (with its QML resource parts) and the executable.
ours = re.compile(r"(^|/)CMakeFiles/(recorderlib[^/]*|StavelinRecorder)\.dir/")
# What CMakeLists.txt adds for a Windows build. Qt's headers of the Linux build serve as they are:
# they choose the platform from the compiler's own macros (_WIN32), and only the Linux mkspec's
# qplatformdefs.h folder is swapped for the Windows one. Debian's build of the HTTP library asks for
# TLS and compression (-DCPPHTTPLIB_*_SUPPORT), whose headers a Windows target lacks here; those
# defines are dropped, the rest of the library is the same on both.
extra = ["-fsyntax-only", "-isystem", headers, "-D_WIN32_WINNT=0x0A00", "-DNOMINMAX", "-DWIN32_LEAN_AND_MEAN"]
drop_with_value = {"-o", "-MT", "-MF", "-MQ"}
drop = {"-c", "-MD", "-MMD", "-fPIC", "-fPIE"}

units = []
for entry in json.load(open(os.path.join(build, "compile_commands.json"))):
    args = entry.get("arguments") or shlex.split(entry["command"])
    out = args[args.index("-o") + 1] if "-o" in args else ""
    if not ours.search(out):
        continue
    # Past the launcher and the compiler to the first option.
    first = next(i for i, a in enumerate(args) if a.startswith("-"))
    flags, skip = [], False
    for a in args[first:]:
        if skip:
            skip = False
        elif a in drop_with_value:
            skip = True
        elif a in drop or a == entry["file"] or a.startswith("-DCPPHTTPLIB_"):
            pass
        else:
            flags.append(a.replace("/mkspecs/linux-g++", "/mkspecs/win32-g++"))
    units.append((entry["file"], entry["directory"], flags))

if not units:
    sys.exit("No translation units of the application in the compile commands")

def check(unit):
    file, directory, flags = unit
    run = subprocess.run([compiler] + flags + extra + [file], cwd=directory,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return run.returncode, run.stdout

with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 1) as pool:
    results = pool.map(check, units)
    for (file, _, _), (code, output) in zip(units, results):
        if code != 0:
            print(output[:6000], end="")
            print("Windows build: %s does not compile" % os.path.relpath(file, top))
            pool.shutdown(wait=False, cancel_futures=True)
            sys.exit(1)
print("Windows build: all %d translation units compile" % len(units))
PY
