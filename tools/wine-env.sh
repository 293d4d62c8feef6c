# Sourced by the Wine scripts: the environment every Wine process of the project runs with.
# Usage: . tools/wine-env.sh <prefix folder>
export WINEPREFIX="$1"
# Wine says nothing of its own unless PD_WINEDEBUG asks for a channel (-all,err+all: its errors).
export WINEDEBUG="${PD_WINEDEBUG:--all}"
export WINEARCH=win64
# No Mono or Gecko prompts, no desktop files written into $HOME, and no debugger: with
# winedbg on, a crashing program may exit with 0.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
# WinHTTP honours http_proxy even for 127.0.0.1.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
