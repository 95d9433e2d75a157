#!/bin/sh
# Runs one end-to-end test module against the x86 template through the
# 32-bit route (scripts/with-win32.sh), in the prefix the fixture booted.
# Exits 77 (reported as skipped) where the route cannot work on this machine.
#
#   run-x86.sh PREFIX MODULE
set -eu
prefix=$1
module=$2
route="$(dirname "$0")/../../scripts/with-win32.sh"
if ! reason=$("$route" --check 2>&1); then
  echo "x86 route not available here: $reason" >&2
  exit 77
fi
# Inside the route KERNO_WINE is the 32-bit loader and WINEPREFIX is booted.
exec "$route" --prefix "$prefix" sh -c \
  'KERNO_WINE_CMD="$KERNO_WINE" exec python3 -m unittest -v "$0"' "$module"
