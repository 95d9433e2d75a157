#!/bin/sh
# The launcher template imports only what every start needs: user32 and
# shell32 (a message box, the shell's long-name fallback) are loaded on first
# use (src/common/system_library_win.cpp), since loading them costs each
# service start several milliseconds.
#
#   check-template-imports.sh OBJDUMP TEMPLATE
set -eu
imports=$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
echo "$2 imports:" $imports
echo "$imports" | grep -qx 'kernel32.dll' || { echo "no kernel32.dll import: not a template?"; exit 1; }
if echo "$imports" | grep -qxE 'user32\.dll|shell32\.dll|ole32\.dll'; then
  echo "imports a library that only a message box or the shell fallback needs"
  exit 1
fi
