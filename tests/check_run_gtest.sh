#!/bin/sh
# cmake/run-gtest.sh passes a test program's exit code on, and fails a run that ended with exit code
# 0 without GoogleTest's summary (a program Wine ended before its main), after trying it twice.
# Usage: check_run_gtest.sh RUN_GTEST
set -u
runner=$1
status=0
# program (run by sh -c), expected exit code, expected number of attempts reported
while IFS='|' read -r program expected attempts; do
    output=$("$runner" env sh -c "$program" 2>&1)
    code=$?
    reported=$(printf '%s\n' "$output" | grep -c 'without running its tests')
    if [ "$code" -ne "$expected" ] || [ "$reported" -ne "$attempts" ]; then
        echo "FAIL: '$program': exit code $code (expected $expected), $reported attempts reported (expected $attempts)"
        status=1
    fi
done <<'CASES'
echo "[  PASSED  ] 3 tests."|0|0
echo "[  FAILED  ] 1 test"; exit 1|1|0
exit 77|77|0
true|1|2
echo "[==========] Running 1 test"|1|2
CASES
exit "$status"
