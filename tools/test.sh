#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Extra arguments go to ctest
# (for example: tools/test.sh -R core).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PD_BUILD_DIR:-$root/build}
"$root/tools/build.sh"
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" "$@"
