#!/usr/bin/env bash
# Creates (once) the private Wine prefix that the Windows tests and our host
# program run in: headless (null display driver) and without Wine's debugger,
# so that a crash ends the program instead of waiting for a user.
set -euo pipefail
prefix=$(realpath -m "${1:?usage: wine-prefix.sh PREFIX}")
marker="$prefix/.qvr-prefix-ready"
[ -f "$marker" ] && exit 0
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$prefix"
env -u DISPLAY wine wineboot -i >/dev/null 2>&1 || true
wineserver -w
reg() { env -u DISPLAY wine reg "$@" >/dev/null 2>&1; }
reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f || true
reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 0 /f
wineserver -w
[ -f "$prefix/system.reg" ] || { echo "wine-prefix: wineboot did not create $prefix" >&2; exit 1; }
touch "$marker"
echo "wine-prefix: ready in $prefix"
