#!/usr/bin/env bash
# Configures and builds the windows configuration (Peldra.exe and its tests, in build/) and the
# native one (platform-free libraries with sanitizers and fuzzers, in build-native/).
# Usage: tools/build.sh [windows|native|all]   (default: all)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}
"$root/tools/setup.sh"

# Configures quietly (its output is shown when it fails); the build shows ninja's progress.
configure_and_build() { # <build folder> [cmake options...]
    local build=$1
    shift
    if [ ! -f "$build/CMakeCache.txt" ]; then
        echo "build: configuring $build"
        local log
        log=$(mktemp)
        if ! cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$log" 2>&1; then
            cat "$log" >&2
            rm -f "$log" "$build/CMakeCache.txt"
            echo "build: configuring $build failed" >&2
            exit 1
        fi
        rm -f "$log"
    fi
    echo "build: building $build"
    cmake --build "$build" --parallel "$(nproc)"
}

if [ "$which" = windows ] || [ "$which" = all ]; then
    configure_and_build "${PD_BUILD_DIR:-$root/build}"
fi
if [ "$which" = native ] || [ "$which" = all ]; then
    configure_and_build "${PD_NATIVE_BUILD_DIR:-$root/build-native}" -DPD_NATIVE=ON \
        -DCMAKE_C_COMPILER=clang-19 -DCMAKE_CXX_COMPILER=clang++-19
fi
