#!/bin/sh
# Runs the benchmarks (never part of the tests) and prints ratios measured
# side by side in one run. Needs a build of the "all" preset.
#
#   bench/run.sh [BUILD_DIR]     default: build/all
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in --help|-h) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
build=$(realpath "${1:-build/all}")
packer="$build/kernopack"
win64="$build/win64"
[ -x "$packer" ] && [ -d "$win64/bench" ] || { echo "bench: build the all preset first" >&2; exit 1; }

work=$(mktemp -d)
prefix="$work/wineprefix"
wine_run="cmake/wine-run.sh --prefix $prefix"
trap 'cmake/wine-run.sh --prefix "$prefix" --teardown >/dev/null 2>&1; rm -rf "$work"' EXIT
cmake/wine-run.sh --prefix "$prefix" --setup

# loadConfig on blocks of 65 and of 5,000 records.
python3 - "$work" <<'PY'
import json, sys
work = sys.argv[1]
# The service name and the packer's defaults give 39 records; numbered extra
# ones make up the rest.
for total in (65, 5000):
    records = {str(30000 + i): "value %d of a benchmark block" % i for i in range(total - 39)}
    with open(f"{work}/records-{total}.json", "w") as f:
        json.dump({"serviceName": "Bench", "records": records}, f)
PY
for total in 65 5000; do
  "$packer" build "$work/records-$total.json" --launcher "$win64/bench/loadconfig_bench_win.exe" \
    -o "$work/loadconfig-$total.exe"
done
small=$($wine_run "$work/loadconfig-65.exe" 300)
large=$($wine_run "$work/loadconfig-5000.exe" 300)
python3 - "$small" "$large" <<'PY'
import sys
(n1, t1), (n2, t2) = (map(float, a.split()) for a in sys.argv[1:3])
print("loadConfig under Wine (x64), mean of 300 calls:")
print(f"  {int(n1):5d} records: {t1:9.1f} us")
print(f"  {int(n2):5d} records: {t2:9.1f} us")
print(f"  ratio {t2 / t1:.1f}x for {n2 / n1:.0f}x the records; "
      f"about {(t2 - t1) / (n2 - n1) * 1000:.0f} ns per extra record")
PY
for f in bench/*.d/run.sh; do
  [ -x "$f" ] && "$f" "$build" "$work" "$prefix"
done
