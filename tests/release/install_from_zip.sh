#!/usr/bin/env bash
# Installs a release zip the way its INSTALL.md tells a user to, in a Wine
# prefix of its own that nothing else has touched:
#  - the zip holds exactly the release files, SHA256SUMS covers every other
#    one and they match it, and the DLL's version record and dialog text carry
#    the version in the zip's name;
#  - the zip is unpacked into the folder that INSTALL.md's command block starts
#    in, and that block (```bat) is run line by line with Wine's cmd: our host
#    program prints the sample job through the zipped DLL, and the zipped
#    stream checker checks, sums up and draws the stream;
#  - what the block left is what INSTALL.md says: a sound stream, one picture
#    per printed label, the printer it names, settings under its key and the
#    log at its path.
#   install_from_zip.sh ZIP WORKDIR      (WORKDIR is emptied first)
set -euo pipefail
zip=$(realpath "$1")
work=$(realpath -m "$2")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export LC_ALL=C

fail() { echo "release test: $*" >&2; exit 1; }
step() { echo "release test: $*"; }

rm -rf "$work"
mkdir -p "$work/plain"

# --- The zip's contents --------------------------------------------------------
version=$(basename "$zip" | sed -n 's/^qvr-plugin-zk-r41x0-\([0-9.]*\)-win64\.zip$/\1/p')
[ -n "$version" ] || fail "zip name $(basename "$zip") does not carry a version"
expected=$( { printf '%s\n' INSTALL.md host-behaviour.md QVR_PLUGIN_ZK-R41x0.dll SHA256SUMS qvr_host.exe streamcheck.exe
              (cd "$root/samples" && find . -type f | sed 's|^\./|samples/|'); } | sort)
listing=$(cmake -E tar tf "$zip" | sed 's|/$||' | grep -v '^samples$' | sort)
[ "$listing" = "$expected" ] || fail "zip holds"$'\n'"$listing"$'\n'"expected"$'\n'"$expected"

(cd "$work/plain" && cmake -E tar xf "$zip")
summed=$(sed 's/^[0-9a-f]\{64\}  //' "$work/plain/SHA256SUMS" | sort)
[ "$summed" = "$(grep -vx SHA256SUMS <<<"$expected")" ] || fail "SHA256SUMS does not list every other file once"
(cd "$work/plain" && sha256sum --quiet -c SHA256SUMS) || fail "a file does not match SHA256SUMS"
grep -q "release $version" "$work/plain/INSTALL.md" || fail "INSTALL.md does not name release $version"

# The fixed part of the version record (file and product version) and the dialog's text.
dll="$work/plain/QVR_PLUGIN_ZK-R41x0.dll"
fixed=$(grep -obUaP '\xBD\x04\xEF\xFE' "$dll" | head -n 1 | cut -d: -f1)
[ -n "$fixed" ] || fail "the DLL has no version record"
read -r file_minor file_major file_tweak file_patch prod_minor prod_major prod_tweak prod_patch \
  < <(od -An -tu2 -j $((fixed + 8)) -N16 "$dll")
[ "$file_major.$file_minor.$file_patch.$file_tweak" = "$version" ] ||
  fail "file version $file_major.$file_minor.$file_patch.$file_tweak, zip says $version"
[ "$prod_major.$prod_minor.$prod_patch.$prod_tweak" = "$version" ] ||
  fail "product version $prod_major.$prod_minor.$prod_patch.$prod_tweak, zip says $version"
# Resource text is UTF-16: a pattern of each ASCII character followed by a zero byte.
utf16() {
  local text=$1 i pattern=""
  for ((i = 0; i < ${#text}; i++)); do pattern+=$(printf '\\x%02x\\x00' "'${text:i:1}"); done
  printf '%s' "$pattern"
}
grep -qaP "$(utf16 "FileVersion")\x00\x00(\x00\x00)?$(utf16 "$version")\x00\x00" "$dll" ||
  fail "the version record's text does not say $version"
grep -qaP "$(utf16 "Version $version")\x00\x00" "$dll" || fail "the dialog does not say Version $version"
step "zip $(basename "$zip"): contents, checksums and version $version sound"

# --- The symbols zip ---------------------------------------------------------------
symbols_zip="${zip%.zip}-symbols.zip"
[ -f "$symbols_zip" ] || fail "no $(basename "$symbols_zip") beside the release zip"
programs=(QVR_PLUGIN_ZK-R41x0.dll qvr_host.exe streamcheck.exe)
expected=$( { echo SHA256SUMS; printf '%s.debug\n' "${programs[@]}"; } | sort)
listing=$(cmake -E tar tf "$symbols_zip" | sort)
[ "$listing" = "$expected" ] || fail "the symbols zip holds"$'\n'"$listing"$'\n'"expected"$'\n'"$expected"
mkdir -p "$work/symbols"
(cd "$work/symbols" && cmake -E tar xf "$symbols_zip" && sha256sum --quiet -c SHA256SUMS) ||
  fail "a debug file does not match the symbols zip's SHA256SUMS"
tools=x86_64-w64-mingw32
for program in "${programs[@]}"; do
  shipped="$work/plain/$program"
  sections=$("$tools-objdump" -h "$shipped")
  ! grep -q ' \.debug_' <<<"$sections" || fail "$program still carries debug sections"
  symbols=$("$tools-objdump" -t "$shipped")
  ! grep -q '^\[' <<<"$symbols" || fail "$program still carries a symbol table"
  "$tools-objcopy" --dump-section .gnu_debuglink="$work/debuglink" "$shipped" "$work/debuglink-copy" ||
    fail "$program has no debug link"
  # The link: the file name, zero-padded to a multiple of 4 bytes, then its CRC-32 (gzip's, little-endian).
  linked=$(head -c $(($(stat -c %s "$work/debuglink") - 4)) "$work/debuglink" | tr -d '\0')
  [ "$linked" = "$program.debug" ] || fail "$program links to '$linked', not $program.debug"
  link_crc=$(tail -c 4 "$work/debuglink" | od -An -tx4 | tr -d ' ')
  file_crc=$(gzip -c "$work/symbols/$program.debug" | tail -c 8 | head -c 4 | od -An -tx4 | tr -d ' ')
  [ "$link_crc" = "$file_crc" ] || fail "$program's debug link has checksum $link_crc, its .debug file $file_crc"
done

# A crash report names an address in the DLL; INSTALL.md reads it with the
# symbols beside the DLL. CreatePluginObject's export entry is such an address.
exports=$("$tools-objdump" -p "$dll")
image_base=$(sed -n 's/^ImageBase[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' <<<"$exports")
index=$(sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] CreatePluginObject$/\1/p' <<<"$exports")
rva=$(sed -n "s/^[[:space:]]*\[ *$index\] +base\[ *[0-9]*\] *\([0-9a-fA-F]*\) Export RVA$/\1/p" <<<"$exports")
[ -n "$image_base" ] && [ -n "$index" ] && [ -n "$rva" ] || fail "no export entry of CreatePluginObject in the DLL"
address=$(printf '0x%x' $((0x$image_base + 0x$rva)))
mkdir -p "$work/crash"
cp "$dll" "$work/crash/"
bare=$("$tools-addr2line" -f -e "$work/crash/QVR_PLUGIN_ZK-R41x0.dll" "$address" | head -n 1)
[ "$bare" = "??" ] || fail "the stripped DLL alone names $address as $bare"
cp "$work/symbols/QVR_PLUGIN_ZK-R41x0.dll.debug" "$work/crash/"
mapfile -t read_back < <("$tools-addr2line" -f -e "$work/crash/QVR_PLUGIN_ZK-R41x0.dll" "$address")
function=${read_back[0]:-} source=${read_back[1]:-}
[ "$function" = CreatePluginObject ] && [[ "$source" =~ /plugin_novra\.cpp:[0-9]+$ ]] ||
  fail "with its symbols the DLL names $address as '$function' at '$source'"
step "programs stripped, each linked to its file in $(basename "$symbols_zip"); $address reads as $function"

# --- INSTALL.md's trial, in a new prefix ------------------------------------------
block=$(awk '/^```bat$/ {inside = 1; next} /^```$/ {inside = 0} inside' "$work/plain/INSTALL.md" | tr -d '\r')
[ -n "$block" ] || fail "INSTALL.md has no command block"
first=$(head -n 1 <<<"$block")
folder=$(sed -n 's/^cd \/d C:\\\(.*\)$/\1/p' <<<"$first")
[ -n "$folder" ] || fail "INSTALL.md's block does not start with 'cd /d C:\\FOLDER': $first"

prefix="$work/wineprefix"
"$root/scripts/wine-prefix.sh" "$prefix" >/dev/null
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
install_dir="$prefix/drive_c/${folder//\\//}"
mkdir -p "$install_dir"
(cd "$install_dir" && cmake -E tar xf "$zip")
[ -f "$install_dir/QVR_PLUGIN_ZK-R41x0.dll" ] || fail "nothing unpacked into C:\\$folder"

# One line after the other; a failing line ends the batch with its line number.
batch="$install_dir/try-it.bat"
{
  printf '@echo off\r\n'
  n=0
  while IFS= read -r line; do
    n=$((n + 1))
    printf '%s\r\nif errorlevel 1 exit /b %d\r\n' "$line" "$n"
  done <<<"$block"
} >"$batch"
set +e
wine cmd /c "C:\\$folder\\try-it.bat" >"$work/try-it.out" 2>"$work/try-it.err"
status=$?
set -e
cat "$work/try-it.out"
if [ "$status" != 0 ]; then
  grep -v -E '^(fixme|err|warn|wine):' "$work/try-it.err" >&2 || true
  fail "INSTALL.md's line $status failed: $(sed -n "${status}p" <<<"$block")"
fi

# --- What the trial left ---------------------------------------------------------
stream=$(sed -n 's/.*--output C:\\\([^ ]*\).*/\1/p' <<<"$block" | head -n 1)
[ -n "$stream" ] || fail "INSTALL.md's block gives qvr_host no --output"
stream_file="$prefix/drive_c/${stream//\\//}"
[ -s "$stream_file" ] || fail "no printer stream in C:\\$stream"
labels=$(sed -n 's/.*streamcheck\.exe render [^ ]* \([^ ]*\)$/\1/p' <<<"$block")
[ -n "$labels" ] || fail "INSTALL.md's block draws no labels"
printed=$(sed -n 's/^labels printed: *\([0-9]*\).*/\1/p' "$work/try-it.out")
[ -n "$printed" ] && [ "$printed" -gt 0 ] || fail "the summary names no printed labels"
drawn=$(find "$install_dir/${labels//\\//}" -name 'label-*.png' | wc -l)
[ "$drawn" = "$printed" ] || fail "$drawn pictures drawn for $printed printed labels"
step "the sample printed $printed labels through the zipped DLL, checked and drawn by the zipped streamcheck"
# The zipped streamcheck is the virtual printer of INSTALL.md's section on it.
grep -q '^       streamcheck.exe serve ' "$work/plain/INSTALL.md" || fail "INSTALL.md does not start streamcheck.exe serve"
serve_help=$(cd "$install_dir" && wine streamcheck.exe serve --help 2>/dev/null | tr -d '\r') ||
  fail "the zipped streamcheck.exe has no serve"
grep -q -- '--max-connections' <<<"$serve_help" || fail "streamcheck.exe serve --help lists no options"

printer_name=$(sed -n 's/.*named `\([^`]*\)` on port `FILE:`.*/\1/p' "$work/plain/INSTALL.md" | head -n 1)
[ -n "$printer_name" ] || fail "INSTALL.md names no trial printer"
printers='HKLM\System\CurrentControlSet\Control\Print\Printers'
wine reg query "$printers\\$printer_name" >/dev/null 2>&1 ||
  fail "qvr_host did not add the printer $printer_name"

# A setting stored through the host lands under the key INSTALL.md names; a
# refused job header leaves a line in the log at the path INSTALL.md names.
settings_key=$(sed -n 's/.*under the key `\([^`]*\)`.*/\1/p' "$work/plain/INSTALL.md" | head -n 1)
log_path=$(sed -n 's/^    C:\\\(.*\.log\)$/\1/p' "$work/plain/INSTALL.md" | head -n 1)
[ -n "$settings_key" ] && [ -n "$log_path" ] || fail "INSTALL.md names no settings key or no log path"
printf 'resolution 360\r\nheader 1 1\r\n' >"$install_dir/refused.job"
(cd "$install_dir" && wine qvr_host.exe refused.job --output "C:\\$folder\\refused.prn" --setting MediaType=4 \
  --setting PrintError=0 >/dev/null 2>&1) || true
wine reg query "$printers\\$printer_name\\$settings_key" /v MediaType 2>/dev/null | tr -d '\r' |
  grep -qiE 'MediaType[[:space:]]+REG_DWORD[[:space:]]+0x0*4$' || fail "no MediaType 4 under $settings_key after --setting"
log_file="$prefix/drive_c/${log_path//\\//}"
[ -s "$log_file" ] || fail "no log at C:\\$log_path after a refused job"
grep -q ',NOVRA_QVR,QVR_PLUGIN_ZK-R41x0,' "$log_file" || fail "the log's lines do not read as INSTALL.md says"
wineserver -k || true
step "printer $printer_name, settings under $settings_key and the log at C:\\$log_path as INSTALL.md says"
