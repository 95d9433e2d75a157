#!/bin/sh
# Launcher start-up overhead, x64 under wine64 beside x86 through the 32-bit
# route: the mean wall time of a whole launcher process that reads its block,
# extracts nothing and fails a command word at once ("/stop" of a service that
# does not exist), and loadConfig alone in each build.
#
#   run.sh BUILD_DIR WORK_DIR X64_PREFIX      (called by bench/run.sh)
set -eu
build=$1
work=$2
prefix64=$3
runs=20
packer="$build/kernopack"
route=scripts/with-win32.sh
echo '{"serviceName": "BenchStartup"}' >"$work/startup.json"
"$packer" build "$work/startup.json" --launcher "$build/win64/kernosvc-x64.exe" -o "$work/start64.exe"
"$packer" build "$work/startup.json" --launcher "$build/win32/kernosvc-x86.exe" -o "$work/start86.exe"
"$packer" build "$work/records-65.json" --launcher "$build/win32/bench/loadconfig_bench_win.exe" \
  -o "$work/loadconfig86-65.exe"

# Mean seconds per run of a command, RUNS times, after one warm-up run.
cat >"$work/time-runs.sh" <<'SH'
runs=$1; shift
"$@" >/dev/null 2>&1 || true
start=$(date +%s.%N)
i=0
while [ $i -lt "$runs" ]; do "$@" >/dev/null 2>&1 || true; i=$((i + 1)); done
end=$(date +%s.%N)
echo "$start $end $runs" | awk '{printf "%.4f\n", ($2 - $1) / $3}'
SH

t64=$(sh "$work/time-runs.sh" $runs cmake/wine-run.sh --prefix "$prefix64" "$work/start64.exe" /stop NoSuchService)
l64=$(cmake/wine-run.sh --prefix "$prefix64" "$work/loadconfig-65.exe" 300)
if "$route" --check 2>/dev/null; then
  x86=$("$route" --prefix "$work/prefix86" sh -c '
    t=$(sh "$1/time-runs.sh" "$2" "$KERNO_WINE" "$1/start86.exe" /stop NoSuchService)
    l=$("$KERNO_WINE" "$1/loadconfig86-65.exe" 300)
    echo "$t $l $KERNO_X86_EMULATION"' sh "$work" $runs)
  python3 - "$t64" "$l64" "$x86" <<'PY'
import sys
t64 = float(sys.argv[1]); l64 = float(sys.argv[2].split()[1])
t86, _, l86, how = sys.argv[3].split()
t86, l86 = float(t86), float(l86)
print(f"Launcher start-up (a whole process, mean of 20) and loadConfig (65 records, mean of 300):")
print(f"  x64 under wine64:          {t64 * 1000:8.1f} ms per process   {l64:8.1f} us loadConfig")
print(f"  x86 through the route ({how}): {t86 * 1000:8.1f} ms per process   {l86:8.1f} us loadConfig")
print(f"  x86 / x64: {t86 / t64:.2f}x per process, {l86 / l64:.2f}x loadConfig")
PY
else
  echo "Launcher start-up: x64 $t64 s per process; x86 skipped (the 32-bit route is not available here)"
fi
