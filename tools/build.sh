#!/usr/bin/env bash
# Configures and builds Peldra.exe and its tests into build/ (or $PD_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PD_BUILD_DIR:-$root/build}
"$root/tools/setup.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)"
