#!/usr/bin/env bash
# Takes a picture of the configuration dialog as a user sees it: Wine's normal
# (x11) display driver on a virtual X server, the dialog opened through the
# DLL's configuration operation by tools/configshot, saved as PNG.
#   dialog-screenshot.sh [WINDOWS-BUILD-DIR] [OUTPUT.png]
# The build's own test prefix uses the null driver; this script keeps its own
# prefix next to it (screenshot-prefix) with the x11 driver.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/windows}" && pwd)"
output="${2:-$root/docs/config-dialog.png}"
prefix="$build/screenshot-prefix"
bin="$build/bin"
[ -f "$bin/qvr_configshot.exe" ] || { echo "dialog-screenshot: build qvr_configshot in $build first" >&2; exit 1; }

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/.qvr-screenshot-ready" ]; then
  mkdir -p "$prefix"
  xvfb-run -a wine wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  # A crash must end the program, not wait in Wine's debugger.
  xvfb-run -a wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
  # No window manager runs on the virtual server: let Wine draw the caption and frame.
  xvfb-run -a wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  xvfb-run -a wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$prefix/.qvr-screenshot-ready"
fi

bmp="$(mktemp --suffix=.bmp)"
trap 'rm -f "$bmp"' EXIT
(cd "$bin" && xvfb-run -a -s "-screen 0 1024x768x24" \
  wine qvr_configshot.exe QVR_PLUGIN_ZK-R41x0.dll "ZK-R41x0 Screenshot" "Z:${bmp//\//\\}") 2>/dev/null
wineserver -w || true

mkdir -p "$(dirname "$output")"
python3 - "$bmp" "$output" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
offset, = struct.unpack_from("<I", data, 10)
width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
assert bits == 24, "expected a 24-bit BMP"
stride = (width * 3 + 3) // 4 * 4
rows = []
for y in range(abs(height)):
    source = height - 1 - y if height > 0 else y
    line = data[offset + source * stride: offset + source * stride + width * 3]
    rgb = bytearray(len(line))
    rgb[0::3], rgb[1::3], rgb[2::3] = line[2::3], line[1::3], line[0::3]
    rows.append(b"\0" + bytes(rgb))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
PY
echo "dialog-screenshot: wrote $output"
