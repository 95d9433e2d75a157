#!/bin/sh
# Prints the launcher templates' sizes, subsystems and imported DLLs, and
# checks that nothing follows the last section's raw data.
#
#   scripts/template-info.sh [BUILD_DIR]     default: build/all
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in --help|-h) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
build=${1:-build/all}
status=0
for exe in "$build/win64/kernosvc-x64.exe" "$build/win32/kernosvc-x86.exe"; do
  if [ ! -f "$exe" ]; then echo "$exe: not built"; status=1; continue; fi
  size=$(stat -c %s "$exe")
  objdump=x86_64-w64-mingw32-objdump
  echo "$(basename "$exe"): $size bytes"
  $objdump -p "$exe" | awk '/^Subsystem/ {print "  subsystem: " $2 " " $3 " " $4}'
  $objdump -p "$exe" | awk '/DLL Name:/ {print "  imports:   " $3}'
  python3 - "$exe" <<'PY' || status=1
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
n, opt = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
size, ptr = struct.unpack_from("<II", data, pe + 24 + opt + (n - 1) * 40 + 16)
tail = len(data) - (size + ptr)
print(f"  sections:  {n}, last ends at {size + ptr}, {tail} bytes after it")
sys.exit(1 if tail else 0)
PY
done
exit $status
