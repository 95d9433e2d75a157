#!/bin/sh
# The Java runtime search with and without the version cache, side by side:
# a search sequence of five runtime homes made of the stand-in java.exe, of
# which the first four are rejected by their version and the fifth accepted.
#
#   bench/java_search.d/run.sh BUILD_DIR WORK PREFIX   (called by bench/run.sh)
set -eu
build=$1
work=$2/java-search
prefix=$3
bench="$build/win64/bench/java_search_bench_win.exe"
standins="$build/win64/tests/standins"
[ -x "$bench" ] && [ -e "$standins/java.exe" ] || { echo "java-search bench: build the all preset first" >&2; exit 1; }

mkdir -p "$work"
sequence=
for i in 1 2 3 4 5; do
  home="$work/home$i"
  mkdir -p "$home/bin"
  cp "$standins/java.exe" "$home/bin/java.exe"
  version=1.7.0_8$i
  [ "$i" = 5 ] && version=1.8.0_392
  printf 'banner=java version "%s"\n' "$version" >"$home/bin/java-standin.cfg"
  sequence="${sequence}AZ:$(printf '%s' "$home" | tr / '\\\\');"
done
python3 - "$work/bench.json" "$sequence" <<'PY'
import json, sys
with open(sys.argv[1], "w") as f:
    json.dump({"serviceName": "JavaSearchBench", "jreSearchSequence": sys.argv[2],
               "minJavaVersion": "1.8", "launcherFlavour": "x"}, f)
PY
"$build/kernopack" build "$work/bench.json" --launcher "$bench" -o "$work/bench.exe"
result=$(cmake/wine-run.sh --prefix "$prefix" "$work/bench.exe" 10)
python3 - "$result" <<'PY'
import sys
rounds, miss, hit, kind, exe = sys.argv[1].split(" ", 4)
miss, hit = float(miss), float(hit)
print("Java runtime search under Wine (x64), five candidates, mean of %s searches each:" % rounds)
print(f"  version cache empty (five java.exe runs): {miss:9.2f} ms")
print(f"  version cache filled (no java.exe run):   {hit:9.2f} ms")
print(f"  ratio {miss / hit:.0f}x; about {(miss - hit) / 5:.1f} ms per probe by execution")
PY
