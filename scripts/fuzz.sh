#!/bin/sh
# Builds the libFuzzer targets of fuzz/ with clang and runs each for FUZZ_SECONDS (default 60).
# Saved crash inputs under fuzz/regressions/<target>/ are replayed first. The checked-in seed
# corpus is copied to a scratch corpus, so a run never changes it. Exits non-zero on any crash,
# leak, time-out, sanitizer report or failing regression input.
#
# Environment: FUZZ_SECONDS, FUZZ_BUILD_DIR (default build-fuzz in the repository root),
# FUZZ_WORK_DIR (scratch corpus, logs and crash inputs; default FUZZ_BUILD_DIR/work),
# FUZZ_TARGETS (default: all three targets).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_PER_TARGET=${FUZZ_SECONDS:-60}
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
WORK=${FUZZ_WORK_DIR:-$BUILD/work}
TARGETS=${FUZZ_TARGETS:-"fuzz_replies fuzz_sim_requests fuzz_operator_texts"}

# --- tools ---------------------------------------------------------------------------------------
sh "$ROOT/scripts/install-deps.sh" clang libclang-rt-14-dev

# --- build ---------------------------------------------------------------------------------------
CC=clang CXX=clang++ cmake -S "$ROOT/fuzz" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)"

# --- run -----------------------------------------------------------------------------------------
ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:symbolize=1"
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# The suppression list scripts/sanitize.sh uses too: leaks that Qt's GUI and X libraries keep for
# the life of a process. The fuzz targets load none of them and run clean without it, so it hides
# nothing of theirs.
LSAN_OPTIONS="print_suppressions=0:suppressions=$ROOT/tests/sanitizers/lsan.supp"
export ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

# A report of any sanitizer or of libFuzzer itself (crash, leak, time-out, out of memory).
REPORT_PATTERN='==FUZZCHECK==|ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|ERROR: libFuzzer|==ERROR'

# The report lines of a log, with the stack frames that lie in the project's own sources.
show_report() {
    awk -v root="$ROOT/" -v pattern="$REPORT_PATTERN" \
        '$0 ~ pattern || ($0 ~ /#[0-9]+ 0x/ && index($0, root) > 0)' "$1" | head -n 30 >&2
}

failed=0
summary=""
for target in $TARGETS; do
    binary="$BUILD/$target"
    corpus="$WORK/corpus/$target"
    artifacts="$WORK/artifacts/$target"
    log="$WORK/$target.log"
    rm -rf "$corpus" "$artifacts"
    mkdir -p "$corpus" "$artifacts"
    cp -R "$ROOT/fuzz/corpus/$target/." "$corpus/"

    # Inputs that once crashed must now run clean, each in a run of its own.
    regressions_failed=0
    regressions_run=0
    if [ -d "$ROOT/fuzz/regressions/$target" ]; then
        for input in "$ROOT/fuzz/regressions/$target"/*; do
            [ -f "$input" ] || continue
            regressions_run=$((regressions_run + 1))
            if ! "$binary" -timeout=10 -rss_limit_mb=2048 "$input" >"$WORK/$target.regression.log" 2>&1 \
                || grep -Eq "$REPORT_PATTERN" "$WORK/$target.regression.log"; then
                regressions_failed=$((regressions_failed + 1))
                echo "$target: regression input $(basename "$input") fails:" >&2
                show_report "$WORK/$target.regression.log"
            fi
        done
    fi

    status=0
    "$binary" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1 || status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    coverage=$(grep -o ' cov: [0-9]*' "$log" | tail -n 1 | sed 's/ cov: //')
    verdict="fuzzing ok"
    if [ "$status" -ne 0 ] || grep -Eq "$REPORT_PATTERN" "$log"; then
        verdict="fuzzing FAILED (exit $status; log $log; inputs in $artifacts)"
        show_report "$log"
        failed=1
    fi
    if [ "$regressions_failed" -ne 0 ]; then
        verdict="$verdict, regressions FAILED: $regressions_failed of $regressions_run"
        failed=1
    elif [ "$regressions_run" -ne 0 ]; then
        verdict="$verdict, regressions ok: $regressions_run"
    fi
    line="$target: ${executions:-0} executions, cov: ${coverage:-?}, $verdict"
    echo "$line"
    summary="$summary$line
"
done

echo
echo "Fuzzing summary (${SECONDS_PER_TARGET}s per target):"
printf '%s' "$summary"
exit "$failed"
