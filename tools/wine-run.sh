#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix (created on first use).
# Usage: tools/wine-run.sh <prefix folder> <program.exe> [arguments...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=$(realpath -m "$1")
shift
[ -f "$prefix/.ready" ] || "$here/wine-prefix.sh" "$prefix" create
. "$here/wine-env.sh" "$prefix"
exec "${PD_WINE[@]}" "$@"
