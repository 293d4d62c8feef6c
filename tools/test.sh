#!/usr/bin/env bash
# Checks the layer order of the includes, installs what is missing, builds both configurations and
# runs every test: the windows one under Wine, then the native one (sanitizers, and each fuzz
# target for a bounded time).
# Extra arguments go to both ctest runs (for example: tools/test.sh -R core).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python3 "$root/tools/check-layers.py" "$root"
"$root/tools/build.sh" all
status=0
(cd "${PD_BUILD_DIR:-$root/build}" && ctest --output-on-failure --parallel "$(nproc)" "$@") || status=1
(cd "${PD_NATIVE_BUILD_DIR:-$root/build-native}" && ctest --output-on-failure --parallel "$(nproc)" "$@") || status=1
exit $status
