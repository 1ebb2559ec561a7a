#!/usr/bin/env bash
# Prints the job files of tools/streamcheck/tests/data/diff through our host
# program and the plug-in (Windows build, under Wine) into the stream files
# beside them, which the native tests of "streamcheck diff" compare. Run it
# again after a change to the plug-in's output or to a job file there.
# base.job is printed twice (base.prn, base-again.prn), a second or more
# apart: the two streams differ only in the printer clock's date and time.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
data="$root/tools/streamcheck/tests/data/diff"

if [ -z "${QVR_SKIP_BUILD:-}" ]; then
  cmake --preset windows >/dev/null
  cmake --build build/windows --target qvr_host QVR_PLUGIN_ZK-R41x0
fi
prefix="$root/build/windows/wineprefix"
scripts/wine-prefix.sh "$prefix"
export WINEPREFIX="$prefix"
win() { winepath -w "$1" 2>/dev/null; }

print() {  # print JOBFILE STREAM
  rm -f "$2"
  (cd "$data" && "$root/scripts/wine-run.sh" "$root/build/windows/bin/qvr_host.exe" "$(win "$1")" \
     --output "$(win "$2")" 2> >(grep -v -E '^(fixme|err|warn|wine):' >&2))
  echo "$(basename "$1") -> $(basename "$2") ($(stat -c %s "$2") bytes)"
}

print "$data/base.job" "$data/base.prn"
sleep 2
print "$data/base.job" "$data/base-again.prn"
for job in moved media extra; do print "$data/$job.job" "$data/$job.prn"; done
