#!/usr/bin/env bash
# Installs what its caller needs, from Debian's packages only, and fetches
# Debian's libpng and HTTP-library sources for the Windows build. Does nothing
# when all of it is present already, so every entry point may call it.
#   setup.sh --main   the main job: the cross compiler, Wine, the Windows zlib,
#                     the header-only libraries and the sources it builds from
#   setup.sh          everything (the default, and what the tests need): the
#                     above, plus the native suite's libraries, clang with
#                     libFuzzer and lld for the Microsoft-ABI host, Chromium for
#                     the page tests, CUPS as a real print client, Xvfb
# (--fuzz, once needed for the fuzz runs, is still accepted and changes nothing.)
set -euo pipefail

purpose=all
for arg in "$@"; do
  case "$arg" in
    --main) purpose=main ;;
    --all|--fuzz) ;;
    *) echo "usage: setup.sh [--main|--all]" >&2; exit 2 ;;
  esac
done

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="${QVR_DEPS_DIR:-$root/.deps}"

# What the main job builds and runs: the DLL, qvr_host.exe and streamcheck.exe
# (its virtual printer takes Asio and nlohmann-json from the machine), under Wine.
packages=(
  cmake ninja-build dpkg-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  binutils-mingw-w64-x86-64 libz-mingw-w64-dev
  wine wine64 libasio-dev nlohmann-json3-dev
)
if [ "$purpose" = all ]; then
  packages+=(
    g++ pkg-config libpng-dev zlib1g-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
    xvfb xauth libcpp-httplib-dev chromium
    clang libclang-rt-14-dev lld
    cups cups-client cups-bsd netcat-openbsd
  )
fi

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

updated=0
apt_update() {
  if [ "$updated" = 0 ]; then
    "${sudo_cmd[@]}" apt-get update -qq
    updated=1
  fi
}

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Debian source packages for the Windows build: deb-src entries that mirror
# the machine's binary sources, added once.
sources_ready=0
enable_sources() {
  [ "$sources_ready" = 0 ] || return 0
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    echo "setup: adding deb-src entries that mirror the binary sources"
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      sed 's/^Types:.*$/Types: deb-src/' "$f" | "${sudo_cmd[@]}" tee "${f%.sources}-src.sources" >/dev/null
    done
    if [ -f /etc/apt/sources.list ]; then
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/qvr-src.list >/dev/null
    fi
    updated=0
  fi
  apt_update
  sources_ready=1
}

# Unpacks Debian's source package $1 into $deps/$2, keeping the folder that
# holds file $3. The main suite's source is reliably there; a security
# update's may not be, so the main suite's is asked for first.
fetch_source() {
  local package=$1 target=$2 marker=$3 download="$deps/$2-download" suite dir
  enable_sources
  rm -rf "$download" && mkdir -p "$download"
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  (cd "$download" && { apt-get source -qq "$package/$suite" >/dev/null 2>&1 || apt-get source -qq "$package"; })
  dir=$(find "$download" -maxdepth 1 -mindepth 1 -type d | head -n 1)
  [ -n "$dir" ] && [ -f "$dir/$marker" ] || { echo "setup: $package source not found" >&2; exit 1; }
  rm -rf "${deps:?}/$target" && mv "$dir" "$deps/$target" && rm -rf "$download"
}

# The Windows build compiles libpng from Debian's own source package with the
# cross compiler, so the DLL carries the same library the native build links.
[ -f "$deps/libpng-src/png.c" ] || fetch_source libpng1.6 libpng-src png.c
# The virtual printer's HTTP library for the Windows build: the upstream single
# header is in Debian's source package (its binary package is split and Linux-only).
[ -f "$deps/cpp-httplib-src/httplib.h" ] || fetch_source cpp-httplib cpp-httplib-src httplib.h
# The header-only libraries the cross build takes from the machine (Asio, JSON),
# in a folder of their own: /usr/include itself must not reach the cross compiler.
cross="$deps/cross-include"
mkdir -p "$cross"
for header in asio.hpp asio nlohmann; do
  [ -e "/usr/include/$header" ] || { echo "setup: /usr/include/$header missing" >&2; exit 1; }
  [ "$(readlink "$cross/$header" 2>/dev/null)" = "/usr/include/$header" ] || ln -sfn "/usr/include/$header" "$cross/$header"
done
echo "setup: ready ($purpose)"
