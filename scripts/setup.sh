#!/usr/bin/env bash
# Installs everything the project needs, from Debian's packages only, and
# fetches Debian's libpng source for the Windows build. Does nothing when all
# of it is present already, so every entry point may call it.
# That includes clang with libFuzzer, which CI's bounded fuzz runs need
# (--fuzz, once needed for them, is still accepted and changes nothing), and
# lld, whose lld-link links the Windows suite's Microsoft-ABI host.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="${QVR_DEPS_DIR:-$root/.deps}"

packages=(
  cmake ninja-build g++ pkg-config dpkg-dev
  libpng-dev zlib1g-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  binutils-mingw-w64-x86-64 libz-mingw-w64-dev
  wine wine64 xvfb xauth
  libcpp-httplib-dev nlohmann-json3-dev chromium
  clang libclang-rt-14-dev lld
  libasio-dev cups cups-client cups-bsd netcat-openbsd
)

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
echo "setup: ready"
