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
# machine and keeps one idle Wine process (the keeper) in the prefix until
# the teardown, which ends it, the server and every Wine process of the
# prefix, and waits until they are gone. See docs/testing.md (Wine).
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
    --help|-h) sed -n '2,15p' "$0"; exit 0 ;;
    *) break ;;
  esac
done
[ -n "$prefix" ] || { echo "wine-run.sh: --prefix DIR is required" >&2; exit 2; }

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installers: nothing here needs them and they cost seconds.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY || true

boot() {
  "$WINESERVER" -p >>"$prefix.boot.log" 2>&1 </dev/null 9>&-
  "$WINE" cmd /c exit >>"$prefix.boot.log" 2>&1 </dev/null 9>&-
}

start_server() {
  boot
  start_keeper
}

# The keeper: an idle Wine process for the prefix's whole life, so the
# prefix never runs out of ordinary processes (Wine ends its service manager
# when the last one ends, unless the server was started persistent). It
# waits for a line on a FIFO that it holds open itself, so it never gets
# one; the wineserver's end ends it.
start_keeper() {
  rm -f "$prefix.keeper"
  mkfifo "$prefix.keeper"
  "$WINE" cmd /c "set /p keep=" 0<>"$prefix.keeper" >>"$prefix.boot.log" 2>&1 9>&- &
  echo $! >"$prefix.keeper.pid"
}

# Whether process $1 is a Wine process of this prefix (a pid file may be stale).
of_prefix() {
  { tr '\0' '\n' <"/proc/$1/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$prefix"
}

# Ends every Wine process of the prefix and its server, and waits until the
# keeper's Linux process is gone too (bounded: 60 s).
stop_server() {
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
  pid=$(cat "$prefix.keeper.pid" 2>/dev/null || true)
  case "$pid" in ''|*[!0-9]*) pid= ;; esac
  tries=0
  while [ -n "$pid" ] && of_prefix "$pid" && [ "$tries" -lt 600 ]; do
    sleep 0.1; tries=$((tries + 1))
  done
  if [ -n "$pid" ] && of_prefix "$pid"; then
    echo "wine-run.sh: the keeper (process $pid) outlived the wineserver; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$prefix.keeper" "$prefix.keeper.pid"
}

setup() {
  mkdir -p "$prefix"
  # Helper processes (services.exe and others) inherit the first program's
  # standard handles and keep them open: give them a file, never a pipe.
  boot
  # Relay traces, where a test asks for them, only show the message box call.
  "$WINE" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'user32.MessageBoxA' /f \
    >>"$prefix.boot.log" 2>&1 </dev/null
  "$WINE" reg add 'HKLM\System\CurrentControlSet\Control' /v ServicesPipeTimeout \
    /t REG_SZ /d "$SERVICE_START_TIMEOUT_MS" /f >>"$prefix.boot.log" 2>&1 </dev/null
  # The service manager reads its time-out when it starts: start it again.
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
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
    rm -rf "$prefix" "$prefix.ready" "$prefix.boot.log" "$prefix.lock" "$prefix.keeper" "$prefix.keeper.pid"
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
