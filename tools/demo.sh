#!/usr/bin/env bash
# The main job: builds Peldra.exe and runs it under Wine, showing what it does so far.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PD_BUILD_DIR:-$root/build}
"$root/tools/build.sh" windows >/dev/null
echo "\$ Peldra.exe version"
"$root/tools/wine-run.sh" "$build/wineprefix" "$build/cli/Peldra.exe" version
