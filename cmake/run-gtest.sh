#!/bin/sh
# Runs one GoogleTest program as one ctest test and passes its output and exit code on, but fails it
# when it ends with exit code 0 without having run its tests, which ctest would count as a pass: Wine
# has been seen to end a program so, before its main. Such a run is tried once more, saying so.
#
#   run-gtest.sh WINE_RUN PROGRAM [ARGUMENTS...]
set -u
[ "$#" -ge 2 ] || { echo "usage: $0 WINE_RUN PROGRAM [ARGUMENTS...]" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/torv-gtest.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The output is shown as it comes and kept, to be read afterwards.
run_once() {
    { "$@" 2>&1; echo "$?" >"$work/status"; } | tee "$work/output"
    return "$(cat "$work/status")"
}

for attempt in 1 2; do
    status=0
    run_once "$@" || status=$?
    if [ "$status" -ne 0 ] || grep -q '^\[  PASSED  \]' "$work/output"; then
        exit "$status"
    fi
    echo "$0: $2 ended with exit code 0 without running its tests (attempt $attempt of 2)"
done
exit 1
