#!/usr/bin/env bash
# Brings a Debian 12 machine to what the build, the tests, the demo and the benchmarks need: the
# packages, and the sources of zstd and {fmt} from Debian's source packages (kept in .deps/,
# never committed). Idempotent, and quiet when everything is already there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deps="$root/.deps"

# Every command the scripts under tools/ and tests/ call comes from one of these (or from an
# essential package: coreutils, findutils, grep, sed, util-linux). Debian 12's wine64 holds only
# the loader: the wine, wineserver and wineboot commands come from wine.
packages=(
    cmake ninja-build git python3 dpkg-dev xz-utils ca-certificates curl
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
    wine wine64 xvfb xdotool zstd googletest clang-19 libclang-rt-19-dev libssl-dev
    osslsigncode wixl msitools openssl tmux python3-gammu imagemagick
    tshark python3-cryptography
)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]} (the first time: several minutes)"
    "${sudo_cmd[@]}" apt-get update -q
    # tshark's package asks whether non-root users may capture; the tests only read files.
    echo 'wireshark-common wireshark-common/install-setuid boolean false' |
        "${sudo_cmd[@]}" debconf-set-selections
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
fi

# The deb-src line for the private configuration below: the mirror (and its keyring) that this
# machine's own APT sources use for bookworm main, from deb822 .sources files or one-line lists.
source_line() {
    local found
    found=$(cat /dev/null /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '
        function flush() {
            if (!found && !off && (" " types " ") ~ / deb / && (" " suites " ") ~ / bookworm / \
                && (" " comps " ") ~ / main /) {
                split(uris, u, " "); print u[1], key; found = 1
            }
            types = uris = suites = comps = key = ""; off = 0
        }
        /^#/ { next }
        /^[ \t]*$/ { flush(); next }
        /^[ \t]/ { next }
        {
            name = tolower(substr($0, 1, index($0, ":") - 1))
            value = substr($0, index($0, ":") + 1)
            gsub(/[ \t]+/, " ", value); gsub(/^ | $/, "", value)
            if (name == "types") types = value
            else if (name == "uris") uris = value
            else if (name == "suites") suites = value
            else if (name == "components") comps = value
            else if (name == "signed-by" && value ~ /^\//) key = value
            else if (name == "enabled" && tolower(value) == "no") off = 1
        }
        END { flush() }')
    [ -n "$found" ] || found=$(cat /dev/null /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk '
        /^[ \t]*deb[ \t]/ {
            line = $0; sub(/^[ \t]*deb[ \t]+/, "", line); opts = ""
            if (line ~ /^\[/) {
                opts = substr(line, 2, index(line, "]") - 2); line = substr(line, index(line, "]") + 1)
            }
            gsub(/^[ \t]+/, "", line); n = split(line, f, /[ \t]+/)
            if (f[2] != "bookworm") next
            for (i = 3; i <= n; i++) if (f[i] == "main") {
                key = ""
                if (match(opts, /signed-by=[^ \t]+/)) key = substr(opts, RSTART + 10, RLENGTH - 10)
                print f[1], key; exit
            }
        }')
    if [ -z "$found" ]; then
        echo "setup: no APT source for Debian 12 (bookworm) main in /etc/apt: add the mirror you use" >&2
        exit 1
    fi
    local uri=${found%% *} key=${found#* }
    if [ -n "$key" ]; then
        echo "deb-src [signed-by=$key] $uri bookworm main"
    else
        echo "deb-src $uri bookworm main"
    fi
}

# Runs an apt command with its output kept in a log that is shown only when it fails.
logged() {
    local log
    log=$(mktemp)
    if ! "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        echo "setup: '$*' failed" >&2
        exit 1
    fi
    rm -f "$log"
}

# Debian's source packages, fetched through a private APT configuration so that nothing
# system-wide changes.
fetch_source() { # <source package> <folder name under .deps/src>
    local pkg=$1 name=$2
    [ -f "$deps/src/$name/.complete" ] && return 0
    echo "setup: fetching the sources of $pkg"
    local apt="$deps/apt" line
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d" "$deps/src"
    line=$(source_line)
    # A changed mirror needs fresh lists.
    if [ "$(cat "$apt/sources.list" 2>/dev/null)" != "$line" ]; then
        echo "$line" >"$apt/sources.list"
        rm -f "$apt/.updated"
    fi
    cat >"$apt/apt.conf" <<CONF
Dir::Etc::SourceList "$apt/sources.list";
Dir::Etc::SourceParts "$apt/sources.list.d";
Dir::State "$apt";
Dir::State::Lists "$apt/lists";
Dir::Cache "$apt/cache";
APT::Sandbox::User "root";
CONF
    if [ ! -f "$apt/.updated" ]; then
        logged env APT_CONFIG="$apt/apt.conf" apt-get update
        touch "$apt/.updated"
    fi
    local work="$deps/src/.work-$name"
    rm -rf "$work" "$deps/src/$name"
    mkdir -p "$work"
    (cd "$work" && logged env APT_CONFIG="$apt/apt.conf" apt-get source "$pkg")
    local dir
    dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    [ -n "$dir" ] || { echo "setup: could not unpack $pkg" >&2; exit 1; }
    mv "$dir" "$deps/src/$name"
    rm -rf "$work"
    touch "$deps/src/$name/.complete"
}

fetch_source zstd zstd
fetch_source fmtlib fmt
