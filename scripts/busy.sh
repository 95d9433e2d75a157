#!/bin/sh
# Keeps every core busy, to run the test suite as it runs on a loaded
# machine (CI shares its machine; slow process starts show up there first).
#
#   scripts/busy.sh start [N]   start N workers (default: one per core), each
#                               a loop of sha256sum over a 256 MiB file
#   scripts/busy.sh stop        stop the workers this script started
#   scripts/busy.sh status      list them
#   scripts/busy.sh --help      this text
#
# State (the file the workers hash, their process ids) is kept in
# ${KERNO_BUSY_DIR:-${TMPDIR:-/tmp}/kerno-busy-$(id -u)}. Workers stop
# themselves after KERNO_BUSY_SECONDS (default 7200), so a forgotten start
# never loads the machine for good.
set -eu

dir=${KERNO_BUSY_DIR:-${TMPDIR:-/tmp}/kerno-busy-$(id -u)}
limit=${KERNO_BUSY_SECONDS:-7200}
say() { echo "busy.sh: $*" >&2; }

usage() { sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; }

# Process ids of workers still running (the pid file may outlive them).
running() {
  [ -f "$dir/pids" ] || return 0
  while read -r pid; do
    case "$pid" in ''|*[!0-9]*) continue ;; esac
    # Only our own workers: their command line names the state directory.
    if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "$dir/data"; then
      echo "$pid"
    fi
  done <"$dir/pids"
}

start() {
  n=${1:-$(nproc)}
  case "$n" in ''|*[!0-9]*|0) say "the number of workers must be a positive number: $n"; exit 2 ;; esac
  case "$limit" in ''|*[!0-9]*|0) say "KERNO_BUSY_SECONDS must be a positive number: $limit"; exit 2 ;; esac
  if [ -n "$(running)" ]; then
    say "workers are running already (scripts/busy.sh stop first)"; exit 1
  fi
  mkdir -p "$dir"
  if [ ! -f "$dir/data" ] || [ "$(stat -c %s "$dir/data")" -ne 268435456 ]; then
    head -c 268435456 /dev/urandom >"$dir/data.tmp" && mv "$dir/data.tmp" "$dir/data"
  fi
  : >"$dir/pids"
  i=0
  while [ "$i" -lt "$n" ]; do
    # A worker of its own shell: stop ends the loop and its sha256sum.
    # shellcheck disable=SC2016 # expanded by the worker's shell
    setsid sh -c 'end=$(($(date +%s) + $1)); while [ "$(date +%s)" -lt "$end" ]; do sha256sum "$0" >/dev/null; done' \
      "$dir/data" "$limit" </dev/null >/dev/null 2>&1 &
    echo $! >>"$dir/pids"
    i=$((i + 1))
  done
  say "$n workers started (they stop by themselves after $limit s)"
}

stop() {
  pids=$(running)
  for pid in $pids; do
    # The worker leads its own process group: end the loop and its hash.
    kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true
  done
  rm -f "$dir/pids" "$dir/data"
  rmdir "$dir" 2>/dev/null || true
  count=0
  for pid in $pids; do count=$((count + 1)); done
  say "stopped $count workers"
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) stop ;;
  status) pids=$(running); echo "${pids:-no workers running}" ;;
  --help|-h) usage ;;
  *) usage >&2; exit 2 ;;
esac
