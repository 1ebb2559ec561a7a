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
# Wine's first start (its prefix) waits mostly on itself: it runs beside the build.
scripts/wine-prefix.sh build/windows/wineprefix &
prefix=$!
cmake --build --preset windows
wait "$prefix"
# The Windows suite waits on Wine about half of its time: the fuzzers are
# built meanwhile, at the lowest priority, so that the suite keeps its pace.
cmake --preset fuzz >/dev/null
mkdir -p build/fuzz
nice -n 19 cmake --build --preset fuzz >build/fuzz/build-output.txt 2>&1 &
fuzz_build=$!
windows_status=0
ctest --preset windows || windows_status=$?
if ! wait "$fuzz_build"; then
  cat build/fuzz/build-output.txt
  exit 1
fi
[ "$windows_status" -eq 0 ] || exit "$windows_status"
bash scripts/fuzz.sh 60
