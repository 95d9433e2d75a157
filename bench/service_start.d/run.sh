#!/bin/sh
# Service start-up of the launcher against a trivial service, side by side in
# one run: from just before StartServiceW to JNI_CreateJavaVM in the stand-in
# jvm.dll (the launcher, version cache warm after the warm-up start) and to
# ServiceMain (a service that does nothing). Medians of RUNS starts each, the
# two interleaved, and their ratio; x64 under wine64, x86 through the 32-bit
# route beside it.
#
#   run.sh BUILD_DIR WORK_DIR X64_PREFIX     (called by bench/run.sh)
#   KERNO_BENCH_RUNS=N                       starts per service (default 10)
set -eu
build=$1
work=$2/service-start
prefix64=$3
runs=${KERNO_BENCH_RUNS:-10}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
packer="$build/kernopack"
route="$root/scripts/with-win32.sh"

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# Lays out one architecture's files: the configured launcher beside a
# runtime home ("jre") made of the stand-ins, and the trivial service.
layout() {  # ARCH TREE TEMPLATE
  dir="$work/$1"
  mkdir -p "$dir/jre/bin/server"
  cp "$build/$2/tests/standins/java.exe" "$dir/jre/bin/java.exe"
  cp "$build/$2/tests/standins/jvm.dll" "$dir/jre/bin/server/jvm.dll"
  printf 'banner=java version "1.8.0_392"\n' >"$dir/jre/bin/java-standin.cfg"
  cp "$build/$2/bench/trivial_service_bench_win.exe" "$dir/trivial.exe"
  cp "$build/$2/bench/service_start_bench_win.exe" "$dir/poller.exe"
  printf '{"serviceName": "KernoStartBench", "jreSearchSequence": "B.\\\\jre", "launcherFlavour": "x"}\n' \
    >"$dir/service.json"
  "$packer" build "$dir/service.json" --launcher "$build/$2/$3" -o "$dir/launcher.exe" >/dev/null
}

mkdir -p "$work"
# Runs inside one prefix with $WINE_CMD as the loader: installs both
# services, keeps an idle process alive, runs the poller, removes them.
cat >"$work.measure.sh" <<'SH'
set -eu
dir=$1 runs=$2 wine=$3
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
$wine "$dir/poller.exe" idle 1800 >/dev/null 2>&1 &
idle=$!
$wine sc create KernoTrivialBench binPath= "$(winpath "$dir/trivial.exe")" type= own >/dev/null
$wine sc create KernoStartBench binPath= "$(winpath "$dir/launcher.exe")" type= own >/dev/null
status=0
$wine "$dir/poller.exe" "$runs" KernoTrivialBench "$(winpath "$dir/trivial-service.stamp")" \
  KernoStartBench "$(winpath "$dir/jre/bin/server/jvm-standin.stamp")" >"$dir/result" || status=$?
$wine sc delete KernoTrivialBench >/dev/null 2>&1 || true
$wine sc delete KernoStartBench >/dev/null 2>&1 || true
kill "$idle" 2>/dev/null || true
wait "$idle" 2>/dev/null || true
exit $status
SH


layout x64 win64 kernosvc-x64.exe
WINEPREFIX=$prefix64 WINEDEBUG=-all sh "$work.measure.sh" "$work/x64" "$runs" /usr/lib/wine/wine64
x86=skipped
if [ -x "$build/win32/kernosvc-x86.exe" ] && "$route" --check >/dev/null 2>&1; then
  layout x86 win32 kernosvc-x86.exe
  "$route" --prefix "$work/prefix86" sh -c 'WINEDEBUG=-all sh "$1" "$2" "$3" "$KERNO_WINE"' \
    sh "$work.measure.sh" "$work/x86" "$runs"
  x86=$(cat "$work/x86/result")
fi
python3 - "$runs" "$(cat "$work/x64/result")" "$x86" <<'PY'
import sys
runs = sys.argv[1]
print(f"Service start-up, StartServiceW to the point of interest, median of {runs} (min-max), ms:")
for arch, text in (("x64 under wine64", sys.argv[2]), ("x86 through the route", sys.argv[3])):
    if text == "skipped":
        print(f"  {arch}: skipped (the 32-bit route is not available here)")
        continue
    rows = {line.split()[0]: [float(v) for v in line.split()[1:]] for line in text.splitlines()}
    trivial, launcher = rows["KernoTrivialBench"], rows["KernoStartBench"]
    print(f"  {arch}: trivial service to ServiceMain {trivial[0]:7.1f} ({trivial[1]:.1f}-{trivial[2]:.1f}); "
          f"launcher to JNI_CreateJavaVM {launcher[0]:7.1f} ({launcher[1]:.1f}-{launcher[2]:.1f}); "
          f"ratio {launcher[0] / trivial[0]:.2f}x")
    again = int(trivial[3] + launcher[3])
    if again:
        print(f"    ({again} starts timed out in the service manager and were made again: "
              "the machine is under heavy load, the numbers are less telling)")
PY
