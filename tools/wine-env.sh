# Sourced by the Wine scripts: the environment every Wine process of the project runs with.
# Usage: . tools/wine-env.sh <prefix folder>
export WINEPREFIX="$1"
# Wine says nothing of its own unless PD_WINEDEBUG asks for a channel (-all,err+all: its errors).
export WINEDEBUG="${PD_WINEDEBUG:--all}"
export WINEARCH=win64
# No Mono or Gecko prompts, no desktop files written into $HOME, and no debugger: with
# winedbg on, a crashing program may exit with 0. PD_WINEDLLOVERRIDES adds a test's own.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d${PD_WINEDLLOVERRIDES:+;$PD_WINEDLLOVERRIDES}"
# WinHTTP honours http_proxy even for 127.0.0.1.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
# Debian's Wine runs without its preloader, which would keep Wine's fixed addresses free: now and
# then the kernel's address randomisation puts something there, and the program never starts
# ("failed to map the shared user data", exit code 1, said only where Wine's errors are shown). A
# fixed layout never does; where the system refuses one, Wine runs as it is. Scripts start Wine
# as "${PD_WINE[@]}" (or as wine, through the function below).
if setarch -R true 2>/dev/null; then
    PD_WINE=(setarch -R wine)
else
    PD_WINE=(wine)
fi
wine() { "${PD_WINE[@]}" "$@"; }
