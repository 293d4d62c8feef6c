#!/usr/bin/env bash
# Creates the Wine prefix at <folder> once (Windows 10, no window manager waits), and with
# "start" leaves a persistent wineserver running for it, or with "stop" ends that server.
# Usage: tools/wine-prefix.sh <folder> [create|start|stop]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=$(realpath -m "$1")
action=${2:-create}
. "$here/wine-env.sh" "$prefix"

# Runs a Wine command with its output in a file (Wine's background services inherit it, so
# never a pipe) and stops with what Wine said when it fails.
wine_step() {
    local log
    log=$(mktemp)
    if ! "$@" </dev/null >"$log" 2>&1; then
        echo "wine-prefix: '$*' failed in $prefix:" >&2
        cat "$log" >&2
        rm -f "$log"
        exit 1
    fi
    rm -f "$log"
}

create() {
    mkdir -p "$(dirname "$prefix")"
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -f "$prefix/.ready" ]; then
        rm -rf "$prefix"
        echo "wine-prefix: creating the Wine prefix $prefix" >&2
        wine_step wine wineboot -i
        wine_step wine winecfg /v win10
        wine_step wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
        wineserver -w
        touch "$prefix/.ready"
    fi
    # With PD_WINE_NULL_GRAPHICS=1 (the unit tests' prefix): Wine's null graphics driver, so that
    # top-level windows, messages and timers work without an X display (the Windows Hello
    # prompt's owner window is one). Also added to older prefixes.
    if [ "${PD_WINE_NULL_GRAPHICS:-}" = 1 ] && [ ! -f "$prefix/.null-graphics" ]; then
        wine_step wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
        wineserver -w
        touch "$prefix/.null-graphics"
    fi
    flock -u 9
}

case "$action" in
create) create ;;
start)
    create
    # A server left running (a test exe started by hand, an interrupted run) would make the new
    # persistent one fail to start: end it first.
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    # A persistent server with every standard stream on /dev/null: otherwise Wine's background
    # services inherit CTest's output pipe and each test waits for it to close.
    # Should that fail, a second try shows why (a server it might leave has its streams on a file).
    wineserver -p </dev/null >/dev/null 2>&1 || wine_step wineserver -p
    # Under a parallel test run, wineboot has been seen to fail once without a word while the new
    # server settles; a second try says what Wine says if it fails again.
    wine wineboot </dev/null >/dev/null 2>&1 || { wineserver -p </dev/null >/dev/null 2>&1 || true; wine_step wine wineboot; }
    ;;
stop)
    # Wait until the server is gone, so that a run started right after finds no server on its
    # way out.
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: $0 <prefix> [create|start|stop]" >&2
    exit 2
    ;;
esac
