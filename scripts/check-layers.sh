#!/usr/bin/env bash
# Checks that every include between the source folders points down the
# layers: platform <- output, config <- engine <- frame (resources is data
# any layer may name). Prints each include that points up or sideways and
# fails if there is one.
set -euo pipefail
root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$root/src"

# The folders each layer may include from, itself included.
declare -A allowed=(
  [platform]="platform"
  [output]="output platform"
  [config]="config platform resources"
  [engine]="engine output config platform"
  [frame]="frame engine output config platform resources"
)

status=0
for layer in "${!allowed[@]}"; do
  [ -d "$layer" ] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}
    target=$(sed -n 's/.*#include "\([^/"]*\)\/.*/\1/p' <<<"$hit")
    [ -n "$target" ] || continue
    if [[ " ${allowed[$layer]} " != *" $target "* ]]; then
      echo "src/$file: $layer includes $target: ${hit#*:}"
      status=1
    fi
  done < <(grep -rH '^#include "[^/"]*/' "$layer" || true)
done
if [ "$status" -eq 0 ]; then echo "every include points down the layers"; fi
exit "$status"
