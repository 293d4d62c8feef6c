#!/usr/bin/env bash
# Runs one GoogleTest exe under Wine and passes only when it exited with 0 and printed its
# summary without failures, so that a crash or an early exit can never count as a pass.
# Usage: tools/run-gtest.sh <prefix folder> <test.exe> [gtest arguments...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$here/wine-run.sh" "$@" 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
if [ "$rc" -ne 0 ]; then
    echo "run-gtest: the test exe ended with exit code $rc" >&2
    exit 1
fi
if ! grep -q '^\[  PASSED  \]' "$log" || grep -q '^\[  FAILED  \]' "$log"; then
    echo "run-gtest: the test exe did not report that all its tests passed" >&2
    exit 1
fi
