#!/usr/bin/env bash
# Builds the fuzz targets with clang (the fuzz preset) and runs each for a
# bounded time from a scratch folder of starting inputs. A finding fails the run; its
# input is left in out/fuzz-findings/ to be kept in the corpus under a name
# that says what it found.
# A target whose whole corpus takes most of the time to replay starts instead
# from its starting inputs: the inputs its corpus keeps by name (each once found a
# fault) and a few small ones, so that the run spends its time mutating.
#   fuzz.sh [SECONDS]   seconds per target, 60 when not given
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
seconds="${1:-60}"
bash scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# Memory a run may use, and the largest single allocation: the plug-in must
# refuse what the host's numbers ask for rather than try to allocate it.
limits=(-rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=25)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings="$root/out/fuzz-findings"
status=0

# run TARGET BINARY CORPUS MAX_LEN [STARTERS]: from STARTERS and CORPUS's named
# inputs when STARTERS is given, else from all of CORPUS.
run() {
  local target=$1 binary=$2 corpus=$3 max_len=$4 starters=${5:-}
  mkdir -p "$work/$target"
  if [ -n "$starters" ]; then
    cp "$starters"/* "$work/$target/"
    find "$corpus" -maxdepth 1 -type f -regextype posix-extended ! -regex '.*/[0-9a-f]{40}' -exec cp {} "$work/$target/" \;
  else
    cp "$corpus"/* "$work/$target/"
  fi
  local start_count found=0
  start_count=$(find "$work/$target" -maxdepth 1 -type f | wc -l)
  echo "fuzz: $target for ${seconds}s"
  if ! nice -n 10 "$binary" "$work/$target" -max_total_time="$seconds" -max_len="$max_len" "${limits[@]}" \
      -artifact_prefix="$work/$target-" -print_final_stats=1 >"$work/$target.log" 2>&1; then
    mkdir -p "$findings"
    cp "$work/$target"-* "$findings/" 2>/dev/null || true
    tail -n 60 "$work/$target.log"
    echo "fuzz: $target found a fault; input(s) in $findings"
    found=1
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$work/$target.log" || true
  echo "fuzz: $target started from $start_count inputs"
  return "$found"
}

# The two targets run side by side, one processor each: each still fuzzes for
# its whole time, and the run takes the time of one.
run plugin_fuzzer build/fuzz/tools/pluginfuzz/plugin_fuzzer tools/pluginfuzz/corpus 2048 tools/pluginfuzz/starters \
  >"$work/plugin_fuzzer.out" 2>&1 &
plugin_pid=$!
run streamcheck_fuzzer build/fuzz/tools/streamcheck/streamcheck_fuzzer tools/streamcheck/fuzz/corpus 4096 \
  >"$work/streamcheck_fuzzer.out" 2>&1 &
checker_pid=$!
wait "$plugin_pid" || status=1
wait "$checker_pid" || status=1
cat "$work/plugin_fuzzer.out" "$work/streamcheck_fuzzer.out"
exit "$status"
