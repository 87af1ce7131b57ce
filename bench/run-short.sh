#!/bin/sh
# Runs one benchmark in its short form for ctest and checks the lines it printed.
# Usage: sh run-short.sh [-n PROGRAM] -e PATTERN [-e PATTERN...] -- COMMAND [ARG...]
# Fails when COMMAND fails or when any PATTERN (an extended regular expression) matches none of
# its lines. -n: the test is skipped (status 77) when PROGRAM is not installed, for a tool the
# benchmark runs under, such as xvfb-run.
set -u
PATTERNS=$(mktemp)
OUTPUT=$(mktemp)
trap 'rm -f "$PATTERNS" "$OUTPUT"' EXIT
while [ $# -gt 0 ]; do
    case $1 in
        -n)
            if ! command -v "$2" >/dev/null 2>&1; then
                echo "skipped: $2 is not installed"
                exit 77
            fi
            shift 2 ;;
        -e) printf '%s\n' "$2" >>"$PATTERNS"; shift 2 ;;
        --) shift; break ;;
        *) echo "run-short.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
if [ ! -s "$PATTERNS" ] || [ $# -eq 0 ]; then
    echo "run-short.sh: needs at least one -e PATTERN and a command" >&2
    exit 2
fi
"$@" >"$OUTPUT" 2>&1
STATUS=$?
cat "$OUTPUT"
if [ "$STATUS" -ne 0 ]; then
    echo "FAIL: the benchmark exited with status $STATUS"
    exit 1
fi
MISSING=0
while IFS= read -r pattern; do
    if ! grep -E -q -e "$pattern" "$OUTPUT"; then
        echo "FAIL: no line matches: $pattern"
        MISSING=1
    fi
done <"$PATTERNS"
exit "$MISSING"
