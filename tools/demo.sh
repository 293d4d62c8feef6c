#!/usr/bin/env bash
# The main job: builds Peldra.exe, then installs a signed test release from the loopback release
# server under Wine on a simulated Windows 11 PC, and shows status and verify afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PD_BUILD_DIR:-$root/build}
"$root/tools/build.sh" windows
exec python3 "$root/tools/demo.py" --exe "$build/cli/Peldra-simulated.exe" --folder "$build/demo"
