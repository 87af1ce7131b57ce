#!/bin/sh
# Benchmarks, each beside its baseline in one run: start-up and resident memory of zelvikconfig
# against a bare QMainWindow program (20 runs each, median), response time of the window against
# the simulated sensor at 9600 baud (200 presses) beside the floor of the poll and the line time,
# and CPU time in 60 s idle with the port open beside the bare program idle; for zelvikctl the read
# round trip (200 reads back to back in one process), a 60 s monitor at 10 readings/s and start to exit of
# `zelvikctl --version` beside a bare QCoreApplication program; and the Measurements window fed with
# 24 h of synthetic readings at three a second (memory growth, redraw on a 1,920-pixel canvas).
# Usage: sh scripts/bench.sh [BUILD_DIR]. BENCH_RUNS, BENCH_PRESSES, BENCH_IDLE_SECONDS and
# BENCH_MONITOR_SECONDS change the sizes. Runs on an Xvfb display (xvfb-run), so the windows are real X windows.
set -e
BUILD=${1:-build}
RUNS=${BENCH_RUNS:-20}
PRESSES=${BENCH_PRESSES:-200}
IDLE=${BENCH_IDLE_SECONDS:-60}
MONITOR=${BENCH_MONITOR_SECONDS:-60}
if ! command -v xvfb-run >/dev/null 2>&1; then
    if [ "$(id -u)" -eq 0 ]; then
        apt-get install -y -qq xvfb >/dev/null
    else
        echo "bench: xvfb-run is missing (apt-get install xvfb)" >&2
        exit 1
    fi
fi
# The benchmarks are built with the tests; BUILD is used as it is configured, never reconfigured.
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    echo "bench: $BUILD is not a configured build folder (make configure, or cmake -S . -B $BUILD)" >&2
    exit 1
fi
if ! cmake --build "$BUILD" -j"$(nproc)" --target zelvikconfig zelvikctl zelvik-sensor-sim zelvik-bench zelvik-bench-bare \
    zelvik-bench-cli zelvik-bench-barecore zelvik-bench-chart >/dev/null; then
    echo "bench: the benchmarks did not build (they are built only with BUILD_TESTING=ON, the default)" >&2
    exit 1
fi
BUILD=$(cd "$BUILD" && pwd)
STARTUP="$BUILD/bench/zelvik-bench-startup"
cmake --build "$BUILD" --target zelvik-bench-startup >/dev/null 2>&1 || true
# Full sizes, whatever the shell running this had set for ctest.
unset ZELVIK_BENCH_SHORT
unset QT_QPA_PLATFORM

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), \
$(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo), Debian $(cat /etc/debian_version), \
Qt $(dpkg-query -W -f='${Version}' qtbase5-dev 2>/dev/null)"
echo "Build: $(grep -m1 CMAKE_BUILD_TYPE: "$BUILD/CMakeCache.txt" | cut -d= -f2)"
OUTPUT=$(mktemp)
# One display for all the window's measurements; xvfb-run picks a free display number and stops it after.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" sh -c '
    set -e
    if [ -x "$1" ]; then "$1" "$2" "$3/app/zelvikconfig" "$3/bench/zelvik-bench-bare"
    else echo "startup: zelvik-bench-startup not built (libxcb1-dev missing)"; fi
    "$3/bench/zelvik-bench" response "$3/tools/sensor-sim/zelvik-sensor-sim" "$4"
    "$3/bench/zelvik-bench" idle "$3/tools/sensor-sim/zelvik-sensor-sim" "$5" "$3/bench/zelvik-bench-bare"
    "$3/bench/zelvik-bench-chart" 24 1920
' bench "$STARTUP" "$RUNS" "$BUILD" "$PRESSES" "$IDLE" >"$OUTPUT" 2>&1 || STATUS=$?
# Qt's own start-up chatter is not part of the figures.
grep -v -e 'XDG_RUNTIME_DIR' -e 'propagateSizeHints' -e 'connectSlotsByName' "$OUTPUT" || true
rm -f "$OUTPUT"
# zelvikctl needs no display.
CLI="$BUILD/bench/zelvik-bench-cli"
SIM="$BUILD/tools/sensor-sim/zelvik-sensor-sim"
"$CLI" roundtrip "$BUILD/cli/zelvikctl" "$SIM" "$PRESSES" || STATUS=$?
"$CLI" monitor "$BUILD/cli/zelvikctl" "$SIM" "$MONITOR" || STATUS=$?
"$CLI" startup "$RUNS" "$BUILD/cli/zelvikctl+--version" "$BUILD/bench/zelvik-bench-barecore" || STATUS=$?
exit "${STATUS:-0}"
