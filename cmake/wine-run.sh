#!/bin/sh
# Runs a Windows program under Wine with a private prefix.
#
#   wine-run.sh --prefix DIR PROGRAM [ARGS...]   run PROGRAM (the prefix is made on first use)
#   wine-run.sh --prefix DIR --setup             make the prefix, start its wineserver
#   wine-run.sh --prefix DIR --restart           restart the wineserver (a service reads
#                                                the machine environment at server start)
#   wine-run.sh --prefix DIR --teardown          stop the wineserver, remove the prefix
#
# One prefix and one wineserver serve a whole test run: ctest runs --setup as
# a fixture before the first Wine test and --teardown after the last one.
set -eu

WINE=${KERNO_WINE:-/usr/lib/wine/wine64}
WINESERVER=${KERNO_WINESERVER:-/usr/lib/wine/wineserver}
prefix=
action=run
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=$2; shift 2 ;;
    --setup) action=setup; shift ;;
    --teardown) action=teardown; shift ;;
    --restart) action=restart; shift ;;
    --help|-h) sed -n '2,11p' "$0"; exit 0 ;;
    *) break ;;
  esac
done
[ -n "$prefix" ] || { echo "wine-run.sh: --prefix DIR is required" >&2; exit 2; }

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installers: nothing here needs them and they cost seconds.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY || true

start_server() {
  "$WINESERVER" -p >>"$prefix.boot.log" 2>&1 </dev/null
  "$WINE" cmd /c exit >>"$prefix.boot.log" 2>&1 </dev/null
}

setup() {
  mkdir -p "$prefix"
  # Helper processes (services.exe and others) inherit the first program's
  # standard handles and keep them open: give them a file, never a pipe.
  start_server
  # Relay traces, where a test asks for them, only show the message box call.
  "$WINE" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'user32.MessageBoxA' /f \
    >>"$prefix.boot.log" 2>&1 </dev/null
  touch "$prefix.ready"
}

case $action in
  setup)
    # A server left over from an earlier run would hold the old prefix.
    if [ -d "$prefix" ]; then "$WINESERVER" -k 2>/dev/null || true; fi
    rm -rf "$prefix" "$prefix.ready"
    setup
    exit 0 ;;
  restart)
    "$WINESERVER" -k 2>/dev/null || true
    start_server
    exit 0 ;;
  teardown)
    if [ -d "$prefix" ]; then "$WINESERVER" -k 2>/dev/null || true; fi
    # Debian's Wine keeps the server socket in a temporary directory named in
    # the prefix; it outlives the server.
    if [ -f "$prefix/wineserver" ]; then
      socket_dir=$(cat "$prefix/wineserver" 2>/dev/null || true)
      case "$socket_dir" in wine-*) rm -rf "${TMPDIR:-/tmp}/$socket_dir" ;; esac
    fi
    rm -rf "$prefix" "$prefix.ready" "$prefix.boot.log" "$prefix.lock"
    exit 0 ;;
esac

[ $# -gt 0 ] || { echo "wine-run.sh: no program given" >&2; exit 2; }
if [ ! -e "$prefix.ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    [ -e "$prefix.ready" ] || setup
  ) 9>"$prefix.lock"
fi
exec "$WINE" "$@"
