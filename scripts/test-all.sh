#!/usr/bin/env bash
# Sets everything up and runs every test: the native core suite under address
# and undefined-behaviour sanitizers, the Windows suite under Wine, then every
# fuzz target for about a minute.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows
bash scripts/fuzz.sh 60
