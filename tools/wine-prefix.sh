#!/usr/bin/env bash
# Creates the Wine prefix at <folder> once (Windows 10, no window manager waits), and with
# "start" leaves a persistent wineserver running for it, or with "stop" ends that server.
# With "template" it creates <folder> as the template of the prefixes beside it: a prefix whose
# folder holds a ready "wineprefix-template" is made as a copy of it (a second, against six
# seconds or more for Wine's own set-up, and nothing for Wine to get wrong under load).
# Usage: tools/wine-prefix.sh <folder> [create|start|stop|template]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=$(realpath -m "$1")
action=${2:-create}
. "$here/wine-env.sh" "$prefix"
template="$(dirname "$prefix")/wineprefix-template"

# Runs a Wine command with its output in a file (Wine's background services inherit it, so
# never a pipe); on failure, says what Wine said and returns its status.
wine_step() {
    local log status=0
    log=$(mktemp)
    "$@" </dev/null >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        echo "wine-prefix: '$*' failed in $prefix:" >&2
        cat "$log" >&2
    fi
    rm -f "$log"
    return "$status"
}

# Wine's own set-up of a new prefix, under a server that stays up between the steps (a server
# that ends between two of them was seen to fail the next with "recvmsg: Connection reset by
# peer").
set_up() {
    rm -rf "$prefix"
    mkdir -p "$prefix" # the server starts in it
    wineserver -p </dev/null >/dev/null 2>&1 || true
    local status=0
    wine_step wine wineboot -i &&
        wine_step wine winecfg /v win10 &&
        wine_step wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f || status=$?
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    return "$status"
}

# Wine's set-up, one prefix at a time on this machine (several at once have failed in ways
# Wine does not explain), tried a second time when it fails.
set_up_alone() {
    exec 8>"${TMPDIR:-/tmp}/peldra-wine-prefix-set-up.lock"
    flock 8
    echo "wine-prefix: creating the Wine prefix $prefix" >&2
    if ! set_up; then
        echo "wine-prefix: trying once more" >&2
        set_up || { flock -u 8; exit 1; }
    fi
    flock -u 8
}

# Whether the desktop process that this start's keeper made runs: it inherits the keeper's
# environment, whose mark tells it from the desktop of any other prefix or checkout.
desktop_running() {
    local pid
    for pid in $(pgrep -f 'explorer.exe /desktop' || true); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "PD_DESKTOP_MARK=$desktop_mark" && return 0
    done
    return 1
}

# The prefix as a copy of the template. Wine's own programs and libraries in system32 (630 MB, which
# neither Wine nor a test writes into once the prefix is set up; new files there, such as stored
# tasks, are the prefix's own) are hard links to the template's; the rest, the registry among it,
# is copied.
copy_template() {
    local copy="$prefix.copy" system=drive_c/windows/system32
    rm -rf "$prefix" "$copy"
    mkdir -p "$copy"
    tar -C "$template" --exclude="./$system" --exclude=./.ready -cf - . | tar -C "$copy" -xf -
    cp -al "$template/$system" "$copy/$system"
    mv "$copy" "$prefix"
}

create() {
    mkdir -p "$(dirname "$prefix")"
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -f "$prefix/.ready" ]; then
        if [ "$prefix" != "$template" ] && [ -f "$template/.ready" ]; then
            copy_template
        else
            set_up_alone
        fi
        touch "$prefix/.ready"
    fi
    # With PD_WINE_NULL_GRAPHICS=1 (the unit tests' prefix): Wine's null graphics driver, so that
    # top-level windows, messages and timers work without an X display (the Windows Hello
    # prompt's owner window is one). Also added to older prefixes.
    if [ "${PD_WINE_NULL_GRAPHICS:-}" = 1 ] && [ ! -f "$prefix/.null-graphics" ]; then
        wine_step wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f || exit 1
        wineserver -w
        touch "$prefix/.null-graphics"
    fi
    flock -u 9
}

case "$action" in
create) create ;;
template)
    [ "$prefix" = "$template" ] || { echo "wine-prefix: a template is named wineprefix-template" >&2; exit 2; }
    create
    ;;
start)
    create
    # A server left running (a test exe started by hand, an interrupted run) would make the new
    # persistent one fail to start: end it first.
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    # A persistent server with every standard stream on /dev/null: otherwise Wine's background
    # services inherit CTest's output pipe and each test waits for it to close.
    # Should that fail, a second try shows why (a server it might leave has its streams on a file).
    wineserver -p </dev/null >/dev/null 2>&1 || wine_step wineserver -p || exit 1
    # Under a parallel test run, wineboot has been seen to fail once without a word while the new
    # server settles; a second try says what Wine says if it fails again.
    wine wineboot </dev/null >/dev/null 2>&1 || { wineserver -p </dev/null >/dev/null 2>&1 || true; wine_step wine wineboot || exit 1; }
    # With PD_DESKTOP_KEEPER (the test fixtures): the desktop process started by the keeper, with
    # its streams on /dev/null, and kept while the server runs. Started by a test's program it would
    # take that program's standard error and hold the test's pipe open while others use the desktop.
    if [ -n "${PD_DESKTOP_KEEPER:-}" ]; then
        desktop_mark="$$.$(date +%s%N)"
        PD_DESKTOP_MARK=$desktop_mark wine "$PD_DESKTOP_KEEPER" </dev/null >/dev/null 2>&1 &
        for _ in $(seq 600); do
            desktop_running && break
            sleep 0.1
        done
        desktop_running || echo "wine-prefix: the desktop of $prefix did not start" >&2
    fi
    ;;
stop)
    # Wait until the server is gone, so that a run started right after finds no server on its
    # way out.
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: $0 <prefix> [create|start|stop|template]" >&2
    exit 2
    ;;
esac
