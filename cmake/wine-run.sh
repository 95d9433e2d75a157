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
# The set-up gives Wine's service manager a start time-out fit for a loaded
# machine; the teardown ends the server and every Wine process of the prefix
# and waits until they are gone. See docs/testing.md (Wine).
set -eu

WINE=${KERNO_WINE:-/usr/lib/wine/wine64}
WINESERVER=${KERNO_WINESERVER:-/usr/lib/wine/wineserver}
# How long Wine's service manager waits for a starting service to connect
# and report (milliseconds; Wine's own default of 10 s is too short when the
# machine is busy: it then kills the service before it has done anything).
SERVICE_START_TIMEOUT_MS=${KERNO_SERVICE_START_TIMEOUT_MS:-90000}
prefix=
action=run
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=$2; shift 2 ;;
    --setup) action=setup; shift ;;
    --teardown) action=teardown; shift ;;
    --restart) action=restart; shift ;;
    --help|-h) sed -n '2,14p' "$0"; exit 0 ;;
    *) break ;;
  esac
done
[ -n "$prefix" ] || { echo "wine-run.sh: --prefix DIR is required" >&2; exit 2; }

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installers: nothing here needs them and they cost seconds.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY || true

# A persistent server (-p): it never shuts down, and so never ends the
# service manager, when the prefix has no program running.
start_server() {
  "$WINESERVER" -p >>"$prefix.boot.log" 2>&1 </dev/null 9>&-
  "$WINE" cmd /c exit >>"$prefix.boot.log" 2>&1 </dev/null 9>&-
}

# Ends every Wine process of the prefix and its server, and waits until the
# server is gone.
stop_server() {
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
}

setup() {
  mkdir -p "$prefix"
  # Helper processes (services.exe and others) inherit the first program's
  # standard handles and keep them open: give them a file, never a pipe.
  start_server
  # Relay traces, where a test asks for them, only show the message box call.
  "$WINE" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'user32.MessageBoxA' /f \
    >>"$prefix.boot.log" 2>&1 </dev/null
  "$WINE" reg add 'HKLM\System\CurrentControlSet\Control' /v ServicesPipeTimeout \
    /t REG_SZ /d "$SERVICE_START_TIMEOUT_MS" /f >>"$prefix.boot.log" 2>&1 </dev/null
  # The service manager reads its time-out when it starts: start it again.
  stop_server
  start_server
  touch "$prefix.ready"
}

case $action in
  setup)
    # A server left over from an earlier run would hold the old prefix.
    if [ -d "$prefix" ]; then stop_server; fi
    rm -rf "$prefix" "$prefix.ready"
    setup
    exit 0 ;;
  restart)
    stop_server
    start_server
    exit 0 ;;
  teardown)
    if [ -d "$prefix" ]; then stop_server; fi
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
