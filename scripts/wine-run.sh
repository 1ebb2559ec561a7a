#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix: wine-run.sh --prefix DIR program args...
set -euo pipefail
if [ "${1:-}" = --prefix ]; then WINEPREFIX=$(realpath -m "$2"); export WINEPREFIX; shift 2; fi
: "${WINEPREFIX:?wine-run.sh needs --prefix DIR or WINEPREFIX}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
