#!/usr/bin/env bash
# Runs one GoogleTest exe under Wine and passes only when it exited with 0 and printed its
# summary without failures, so that a crash or an early exit can never count as a pass.
# Usage: tools/run-gtest.sh <prefix folder> <test.exe> [gtest arguments...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
log=$(mktemp)
trap 'rm -f "$log"' EXIT

run() {
    "$here/wine-run.sh" "$@" 2>&1 | tee "$log"
    return "${PIPESTATUS[0]}"
}

run "$@"
rc=$?
# Once in a long parallel run, Wine has ended a program with 1 in a few milliseconds, before it
# printed a byte (its main prints at once), and said nothing. That is a start that did not happen,
# not a test result: it is tried once more, with Wine's own errors shown should it happen again.
if [ "$rc" -ne 0 ] && [ ! -s "$log" ]; then
    echo "run-gtest: Wine ended the test exe with exit code $rc before it printed anything; once more, with Wine's errors" >&2
    PD_WINEDEBUG=-all,err+all run "$@"
    rc=$?
fi
if [ "$rc" -ne 0 ]; then
    echo "run-gtest: the test exe ended with exit code $rc" >&2
    exit 1
fi
if ! grep -q '^\[  PASSED  \]' "$log" || grep -q '^\[  FAILED  \]' "$log"; then
    echo "run-gtest: the test exe did not report that all its tests passed" >&2
    exit 1
fi
