#!/bin/sh
# Runs the Wine part of the suite (glue and end-to-end tests, both
# templates) several times in a row while scripts/busy.sh keeps every core
# busy, and prints each run's result and time. Stops at the first run that
# fails; its log names the test. Needs a built tree (cmake --build --preset all).
#
#   scripts/loaded-runs.sh [RUNS]    RUNS in a row (default 5)
#   scripts/loaded-runs.sh --help    this text
#
# Logs: build/loaded-runs/runK.log. Exit code: 0 when every run passed,
# 1 when one failed, 2 on bad usage.
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in
  --help|-h) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
runs=${1:-5}
case "$runs" in ''|*[!0-9]*|0) echo "loaded-runs.sh: RUNS must be a positive number: $runs" >&2; exit 2 ;; esac
[ -d build/all ] || { echo "loaded-runs.sh: no build/all: run cmake --preset all and build it first" >&2; exit 2; }
logs=build/loaded-runs
mkdir -p "$logs"
scripts/busy.sh start
trap 'scripts/busy.sh stop' EXIT INT TERM
status=0
i=1
while [ "$i" -le "$runs" ]; do
  began=$(date +%s)
  if ctest --preset all -R 'glue|e2e' >"$logs/run$i.log" 2>&1; then result=passed; else result=FAILED; status=1; fi
  echo "loaded-runs.sh: run $i of $runs $result in $(( $(date +%s) - began )) s," \
       "load average $(cut -d' ' -f1-3 /proc/loadavg) ($logs/run$i.log)"
  [ "$status" -eq 0 ] || break
  i=$((i + 1))
done
exit "$status"
