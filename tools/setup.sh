#!/usr/bin/env bash
# Brings a Debian 12 machine to what the build and the tests need: the packages, and the
# sources of zstd and {fmt} from Debian's source packages (kept in .deps/, never committed).
# Idempotent, and quiet when everything is already there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deps="$root/.deps"

packages=(
    cmake ninja-build git python3 dpkg-dev xz-utils ca-certificates
    g++-mingw-w64-x86-64-posix mingw-w64-tools
    wine64 xvfb zstd googletest clang-19 libclang-rt-19-dev libssl-dev
    osslsigncode wixl msitools openssl
)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

# Debian's source packages, fetched through a private APT configuration so that nothing
# system-wide changes.
fetch_source() { # <source package> <folder name under .deps/src>
    local pkg=$1 name=$2
    [ -f "$deps/src/$name/.complete" ] && return 0
    echo "setup: fetching the sources of $pkg"
    local apt="$deps/apt"
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d" "$deps/src"
    echo 'deb-src http://deb.debian.org/debian bookworm main' >"$apt/sources.list"
    cat >"$apt/apt.conf" <<CONF
Dir::Etc::SourceList "$apt/sources.list";
Dir::Etc::SourceParts "$apt/sources.list.d";
Dir::State "$apt";
Dir::State::Lists "$apt/lists";
Dir::Cache "$apt/cache";
APT::Sandbox::User "root";
CONF
    if [ ! -f "$apt/.updated" ]; then
        APT_CONFIG="$apt/apt.conf" apt-get update -qq
        touch "$apt/.updated"
    fi
    local work="$deps/src/.work-$name"
    rm -rf "$work" "$deps/src/$name"
    mkdir -p "$work"
    (cd "$work" && APT_CONFIG="$apt/apt.conf" apt-get source -qq "$pkg" >/dev/null 2>&1)
    local dir
    dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    [ -n "$dir" ] || { echo "setup: could not unpack $pkg" >&2; exit 1; }
    mv "$dir" "$deps/src/$name"
    rm -rf "$work"
    touch "$deps/src/$name/.complete"
}

fetch_source zstd zstd
fetch_source fmtlib fmt
