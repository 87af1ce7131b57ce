#!/bin/sh
# Static analysis of the project's own C++ code: clang-tidy with the checks of .clang-tidy, then
# cppcheck. Generated code (moc, uic, rcc output) and build folders are not analysed.
# Exits non-zero on any finding of either tool.
#
# Usage: sh scripts/lint.sh [BUILD_DIR]   (default: build, relative to the current folder)
# Environment: LINT_JOBS (default: number of processors).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd -P)
BUILD=${1:-build}
JOBS=${LINT_JOBS:-$(nproc)}

# --- tools ---------------------------------------------------------------------------------------
sh "$ROOT/scripts/install-deps.sh" clang-tidy cppcheck python3

# --- compile commands and generated headers ------------------------------------------------------
# The benchmarks are built with the tests, so they are analysed too.
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
BUILD=$(cd "$BUILD" && pwd -P)
# The sources include ui_mainwindow.h and moc output; the autogen targets make them (and what they
# depend on) without building the rest.
AUTOGEN=$(cmake --build "$BUILD" --target help | sed -n 's/^[^a-zA-Z_]*\([A-Za-z0-9_.+-]*_autogen\)\b.*/\1/p' | sort -u)
if [ -n "$AUTOGEN" ]; then
    # shellcheck disable=SC2086
    cmake --build "$BUILD" -j"$JOBS" --target $AUTOGEN >/dev/null
else
    cmake --build "$BUILD" -j"$JOBS" >/dev/null
fi

# A database of the project's own translation units only. The fuzz targets are a project of their
# own (built with clang); they are analysed with the flags of the decoder library plus the
# simulator's include folder.
LINT_DIR="$BUILD/lint"
mkdir -p "$LINT_DIR"
python3 - "$ROOT" "$BUILD" "$LINT_DIR/compile_commands.json" <<'EOF'
import glob, json, os, sys

root, build, out = sys.argv[1:4]
entries = json.load(open(os.path.join(build, "compile_commands.json")))

def own(path):
    path = os.path.realpath(path)
    if not path.startswith(root + os.sep) or path.startswith(build + os.sep):
        return False
    first = os.path.relpath(path, root).split(os.sep)[0]
    return not first.startswith("build") and "_autogen" not in path

selected = [e for e in entries if own(e["file"])]
template = next(e for e in selected if e["file"].endswith(os.sep + os.path.join("decoder", "framer.cpp")))
for source in sorted(glob.glob(os.path.join(root, "fuzz", "*.cpp"))):
    command = template["command"].replace(template["file"], source)
    command = command.replace(" -c ", " -I%s -I%s -c " % (os.path.join(root, "tools", "sensor-sim"),
                                                          os.path.join(root, "fuzz")), 1)
    selected.append({"directory": template["directory"], "command": command, "file": source})
json.dump(selected, open(out, "w"), indent=1)
print("%d translation units" % len(selected))
EOF

status=0

# --- clang-tidy ----------------------------------------------------------------------------------
echo "clang-tidy $(clang-tidy --version | sed -n 's/.*version \([0-9.]*\).*/\1/p')"
# Every file of the reduced database, with the checks and header filter of .clang-tidy.
if command -v run-clang-tidy >/dev/null 2>&1; then
    run-clang-tidy -quiet -p "$LINT_DIR" -j "$JOBS" || status=1
else
    sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$LINT_DIR/compile_commands.json" | tr '\n' '\0' \
        | xargs -0 -P "$JOBS" -n 1 clang-tidy --quiet -p "$LINT_DIR" || status=1
fi

# --- cppcheck ------------------------------------------------------------------------------------
# Qt's headers are described by the qt library file instead of being parsed; findings inside
# generated headers of the build folder are not ours.
echo "$(cppcheck --version)"
cppcheck --project="$LINT_DIR/compile_commands.json" --library=qt --std=c++17 \
    --enable=warning,performance,portability,style --inline-suppr \
    --suppress=missingIncludeSystem --suppress="*:$BUILD/*" \
    --error-exitcode=1 --quiet -j "$JOBS" || status=1

if [ "$status" -ne 0 ]; then
    echo "lint: findings above" >&2
else
    echo "lint: clean"
fi
exit "$status"
