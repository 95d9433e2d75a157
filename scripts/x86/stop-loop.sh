#!/bin/sh
# Reproduces the failed stops of 32-bit services under the emulator
# (docs/x86-route.md, "Known problem") without the test harness: registers
# the plain stand-in service, starts it, waits until it runs and stops it
# with the x86 launcher's /stop, N times, in a prefix of its own booted by
# scripts/with-win32.sh with Wine's error channels on and the service
# manager's pipe time-out at 120 s. Prints each stop's result and time, a
# summary, and the error lines of Wine's service and exception channels.
#
#   scripts/x86/stop-loop.sh [-n N] [BUILD]   N stops (default 20); BUILD is
#                                              the built tree (default build/all)
#   scripts/x86/stop-loop.sh --help           this text
#
# KERNO_QEMU_I386 picks another emulator, as for with-win32.sh. Exit code:
# 0 when every stop worked, 1 when one failed, 2 on bad usage or set-up.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
runs=20
build=$root/build/all
while [ $# -gt 0 ]; do
  case "$1" in
    --help|-h) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -n) [ $# -ge 2 ] || { echo "stop-loop.sh: -n needs a number" >&2; exit 2; }
        runs=$2; shift 2 ;;
    -*) echo "stop-loop.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
case "$runs" in ''|*[!0-9]*|0) echo "stop-loop.sh: N must be a positive number: $runs" >&2; exit 2 ;; esac

standin=$build/win32/tests/e2e/standins/service-standin.exe
template=$build/win32/kernosvc-x86.exe
packer=$build/kernopack
for f in "$standin" "$template" "$packer"; do
  [ -f "$f" ] || { echo "stop-loop.sh: $f is not built (cmake --build --preset all)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/stop-loop.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
# The launcher whose /stop is used; its configured name is never used.
echo '{"serviceName": "Unused", "executableType": 3}' >"$work/svc.json"
"$packer" build "$work/svc.json" --launcher "$template" -o "$work/svc.exe" >/dev/null ||
  { echo "stop-loop.sh: the packer failed" >&2; exit 2; }

# Runs inside the route: $1 the stand-in, $2 the launcher, $3 the count.
cat >"$work/loop.sh" <<'EOF'
w=$KERNO_WINE
"$w" reg add 'HKLM\System\CurrentControlSet\Control' /v ServicesPipeTimeout /t REG_SZ /d 120000 /f >/dev/null 2>&1
standin=$1
i=0 failed=0
while [ "$i" -lt "$3" ]; do
  i=$((i + 1)) name=KrnStopLoop$i
  "$w" sc create "$name" binPath= "\"$standin\"" >/dev/null 2>&1
  "$w" sc start "$name" >/dev/null 2>&1
  n=0
  until "$w" sc query "$name" 2>/dev/null | grep -q RUNNING; do
    n=$((n + 1)); [ "$n" -gt 300 ] && { echo "stop $i: the service never ran"; break; }
    sleep 0.2
  done
  began=$(date +%s%N)
  out=$("$w" "$2" /stop "$name" 2>/dev/null) && rc=0 || rc=$?
  ms=$(( ($(date +%s%N) - began) / 1000000 ))
  echo "stop $i: exit $rc after $ms ms: $(printf '%s' "$out" | tr -d '\r' | tr '\n' ' ')"
  if [ "$rc" != 0 ]; then
    failed=$((failed + 1))
    echo "  then: $("$w" sc query "$name" 2>&1 | tr -d '\r' | tr -s ' \n' ' ')"
  fi
  "$w" sc stop "$name" >/dev/null 2>&1 || true
  "$w" sc delete "$name" >/dev/null 2>&1 || true
done
echo "stop-loop.sh: $failed of $i stops failed"
[ "$failed" = 0 ]
EOF
# A Linux path as Wine's Z: drive shows it.
zpath() { printf 'Z:%s' "$1" | sed 's|/|\\|g'; }
status=0
WINEDEBUG=err+all "$root/scripts/with-win32.sh" --prefix "$work/prefix" \
  sh "$work/loop.sh" "$(zpath "$standin")" "$(zpath "$work/svc.exe")" "$runs" || status=$?
echo "stop-loop.sh: error lines of Wine's service and exception channels:"
grep -a ':err:service:\|:err:seh:' "$work/prefix/with-win32.log" | sort | uniq -c | sed 's/^/  /' || true
case "$status" in 0|1) exit "$status" ;; *) exit 2 ;; esac
