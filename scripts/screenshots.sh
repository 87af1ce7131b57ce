#!/bin/sh
# Retakes the operator guide's screenshots: builds zelvik-screenshots if needed and runs it under a
# virtual X server, so the pictures show the window as X draws it. Writes docs/images/*.png and
# docs/screenshot.png.
# Usage: scripts/screenshots.sh [build-dir]   (default: build)
set -e
cd "$(dirname "$0")/.."
BUILD=${1:-build}

for tool in xvfb-run cmake; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is missing (apt-get install xvfb cmake)" >&2; exit 1; }
done

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$BUILD" -j"$(nproc)" --target zelvik-screenshots zelvik-sensor-sim

mkdir -p docs/images
# The xcb platform, not offscreen: the pictures are what an X server shows, at the usual 96 dpi.
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x900x24 -dpi 96" \
    "$BUILD/tools/screenshots/zelvik-screenshots" --images docs/images --main docs/screenshot.png
