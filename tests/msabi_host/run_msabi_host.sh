#!/usr/bin/env bash
# The Microsoft-ABI host against the hand-written slot table: qvr_host adds
# the printer and prints witness.job through its table (the reference, which
# streamcheck must find sound), then msabi_host prints the same job through its
# own class declaration, once per way of deleting an object, and compares.
#   run_msabi_host.sh WINEPREFIX BINDIR WORKDIR      (WORKDIR is emptied first)
set -euo pipefail
prefix=$(realpath "$1")
bin=$(realpath "$2")
work=$(realpath -m "$3")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
printer="QVR MS-ABI Host Printer"

run() { "$root/scripts/wine-run.sh" --prefix "$prefix" "$@" 2>"$work/wine.err"; }
# Wine's drive Z: is the Unix root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

rm -rf "$work"
mkdir -p "$work"
cd "$bin"
run ./qvr_host.exe "$(windows_path "$here/witness.job")" --printer "$printer" \
  --output "$(windows_path "$work/reference.prn")"
run ./streamcheck.exe check "$(windows_path "$work/reference.prn")"
run ./msabi_host.exe "$printer" "$(windows_path "$work/reference.prn")" \
  "$(windows_path "$work/delete.prn")" "$(windows_path "$work/factory.prn")"
