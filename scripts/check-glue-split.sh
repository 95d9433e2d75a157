#!/bin/sh
# Holds the split between pure logic and Win32 glue: <windows.h> (and the
# other system headers that drag it in) may appear only in *_win.* files.
# Only sources count: a patch kept for a measurement may quote such a line.
set -eu
cd "$(dirname "$0")/.."
bad=$(grep -rlE --include='*.cpp' --include='*.h' --include='*.c' --include='*.hpp' \
        '#\s*include\s*[<"](windows|winsvc|winreg|shlobj|shellapi)\.h[>"]' \
        src tools tests bench 2>/dev/null | grep -vE '_win\.(cpp|h)$' || true)
if [ -n "$bad" ]; then
  echo "windows.h outside *_win.* files:" >&2
  echo "$bad" >&2
  exit 1
fi
echo "glue split: ok"
