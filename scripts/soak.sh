#!/bin/sh
# Long soak: a minute of line noise flooding the window, then the real window, offscreen, against
# the simulated sensor with split, corrupted, dropped and late replies; at least 5,000 presses over
# several window+simulator pairs run side by side.
# Usage: sh scripts/soak.sh [BUILD_DIR]. ZELVIK_SOAK_CYCLES (default 5000), ZELVIK_SOAK_JOBS
# (default 4), ZELVIK_SOAK_SEED (default 1) and ZELVIK_SOAK_LOGDIR (default BUILD_DIR/soak-logs)
# change the run; the simulator logs and the per-pair logs stay there as evidence.
set -e
BUILD=${1:-build}
cmake --build "$BUILD" --target tst_soak tst_flood zelvik-sensor-sim >/dev/null
BUILD=$(cd "$BUILD" && pwd)
export QT_QPA_PLATFORM=offscreen
export ZELVIK_SIM="$BUILD/tools/sensor-sim/zelvik-sensor-sim"
export ZELVIK_SOAK_CYCLES="${ZELVIK_SOAK_CYCLES:-5000}"
export ZELVIK_SOAK_JOBS="${ZELVIK_SOAK_JOBS:-4}"
export ZELVIK_SOAK_SEED="${ZELVIK_SOAK_SEED:-1}"
export ZELVIK_SOAK_LOGDIR="${ZELVIK_SOAK_LOGDIR:-$BUILD/soak-logs}"
mkdir -p "$ZELVIK_SOAK_LOGDIR"
rm -f "$ZELVIK_SOAK_LOGDIR"/sim-*.log "$ZELVIK_SOAK_LOGDIR"/worker-*.log "$ZELVIK_SOAK_LOGDIR"/result-*.json
echo "Soak: $ZELVIK_SOAK_CYCLES presses in $ZELVIK_SOAK_JOBS pairs, first seed $ZELVIK_SOAK_SEED (about $((ZELVIK_SOAK_CYCLES / ZELVIK_SOAK_JOBS / 45 + 2)) min)"
# A minute of line noise at full speed against the window, then a query that must be answered.
ZELVIK_FLOOD_SECONDS=60 "$BUILD/tests/tst_flood"
"$BUILD/tests/soak/tst_soak" soak
