#!/usr/bin/env bash
# Makes a release: sets everything up, builds the Windows preset (the DLL,
# qvr_host.exe, streamcheck.exe, the release zip and the zip of their debug
# symbols), runs every test (the native suite and the Windows suite, which
# installs the zip in a new Wine prefix and reads the symbols), and copies
# both zips to dist/.
#   package.sh                 build, test, package
#   package.sh --skip-tests    build and package only, for a quick local look
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

run_tests=1
case "${1:-}" in
  "") ;;
  --skip-tests) run_tests=0 ;;
  *) echo "usage: package.sh [--skip-tests]" >&2; exit 2 ;;
esac

if [ "$run_tests" = 1 ]; then
  bash scripts/test-all.sh
else
  bash scripts/setup.sh
  cmake --preset windows >/dev/null
  cmake --build --preset windows
fi

# The build leaves exactly one zip, named after the CMake project version, and its symbols zip.
shopt -s nullglob
zips=(build/windows/release/qvr-plugin-zk-r41x0-*-win64.zip)
[ "${#zips[@]}" = 1 ] || { echo "package: expected one zip in build/windows/release, found ${#zips[@]}" >&2; exit 1; }
symbols="${zips[0]%.zip}-symbols.zip"
[ -f "$symbols" ] || { echo "package: no $(basename "$symbols") beside the zip" >&2; exit 1; }
mkdir -p dist
cp "${zips[0]}" "$symbols" dist/
echo "package: dist/$(basename "${zips[0]}") and dist/$(basename "$symbols")"
[ "$run_tests" = 1 ] || echo "package: tests skipped; this zip is not a release"
