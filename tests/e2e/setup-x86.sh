#!/bin/sh
# Boots the Wine prefix of the x86 end-to-end pass through the 32-bit route.
# Exits 77 (reported as skipped) where the route cannot work on this machine.
#
#   setup-x86.sh PREFIX
set -eu
prefix=$1
route="$(dirname "$0")/../../scripts/with-win32.sh"
if ! reason=$("$route" --check 2>&1); then
  echo "x86 route not available here: $reason" >&2
  exit 77
fi
rm -rf "$prefix"
# Relay traces, where a test asks for them, only show the message box call.
# Wine's service manager waits 90 s (not 10) for a starting service, as in
# cmake/wine-run.sh: each module's run of the route starts it anew and it
# reads the value then.
# shellcheck disable=SC2016 # expanded inside the route
"$route" --prefix "$prefix" sh -c \
  '"$KERNO_WINE" reg add "HKCU\\Software\\Wine\\Debug" /v RelayInclude /d user32.MessageBoxA /f >/dev/null &&
   "$KERNO_WINE" reg add "HKLM\\System\\CurrentControlSet\\Control" /v ServicesPipeTimeout /t REG_SZ /d 90000 /f >/dev/null'
