#!/usr/bin/env bash
# The main job: sets up what it needs, builds the DLL, our host program and the
# stream checker, and prints the sample label job through the plug-in into the
# Wine spooler. Leaves the printer stream and pictures of the printed labels in
# out/ (or $1).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
out=$(realpath -m "${1:-$root/out}")
job="${QVR_JOB:-$root/samples/sample.job}"

bash scripts/setup.sh --main
# Only what the job runs: the DLL, our host program and the stream checker. A
# tree already configured for the Windows suite keeps its tests.
testing=OFF
grep -qs '^BUILD_TESTING:BOOL=ON' build/windows/CMakeCache.txt && testing=ON
cmake --preset windows -DBUILD_TESTING=$testing >/dev/null
# Wine's first start (its prefix) waits mostly on itself: it runs beside the build.
prefix="$root/build/windows/wineprefix"
scripts/wine-prefix.sh "$prefix" &
prefix_pid=$!
cmake --build --preset windows --target QVR_PLUGIN_ZK-R41x0 qvr_host streamcheck
wait "$prefix_pid"
export WINEPREFIX="$prefix"

mkdir -p "$out"
stream="$out/sample-job.prn"
rm -f "$stream"
win() { winepath -w "$1" 2>/dev/null; }
# The job file's own bitmaps (BMP files) are named relative to the samples folder.
(cd "$root/samples" && "$root/scripts/wine-run.sh" "$root/build/windows/bin/qvr_host.exe" "$(win "$job")" \
   --output "$(win "$stream")" 2> >(grep -v -E '^(fixme|err|warn|wine):' >&2))
echo "main job: printer stream in $stream ($(stat -c %s "$stream") bytes)"

if [ -x "$root/build/windows/bin/streamcheck.exe" ]; then
  rm -rf "$out/labels" && mkdir -p "$out/labels"
  "$root/scripts/wine-run.sh" "$root/build/windows/bin/streamcheck.exe" render "$(win "$stream")" "$(win "$out/labels")" \
    2> >(grep -v -E '^(fixme|err|warn|wine):' >&2)
  "$root/scripts/wine-run.sh" "$root/build/windows/bin/streamcheck.exe" summary "$(win "$stream")" \
    2> >(grep -v -E '^(fixme|err|warn|wine):' >&2)
  echo "main job: pictures of the printed labels in $out/labels"
fi

cat <<HINT
main job: to see this job on the virtual printer, build the optimised tools and start it:
  cmake --preset release && cmake --build --preset release
  build/release/tools/streamcheck/streamcheck serve --out "$out/printer-jobs"
then send the stream from another terminal and open http://127.0.0.1:8631/ :
  nc -N 127.0.0.1 9100 < "$stream"
HINT
