#!/bin/sh
# Extraction of 64 MB of included files next to a plain copy of the same
# files, under Wine, in one run; the target is a ratio of at least 0.8.
#
#   bench/extraction.d/run.sh BUILD_DIR WORK PREFIX   (called by bench/run.sh)
set -eu
build=$1
work=$2/extraction
prefix=$3
bench="$build/win64/bench/extraction_bench_win.exe"
[ -x "$bench" ] || { echo "extraction bench: build the all preset first" >&2; exit 1; }

mkdir -p "$work/in"
# Eight files of 8 MiB: archives as a service would carry them.
python3 - "$work" <<'PY'
import json, os, sys
work = sys.argv[1]
names = []
for i in range(8):
    name = f"lib{i}.jar"
    with open(os.path.join(work, "in", name), "wb") as f:
        f.write(os.urandom(8 * 1024 * 1024))
    names.append(f"in/{name}")
with open(os.path.join(work, "bench.json"), "w") as f:
    json.dump({"serviceName": "ExtractionBench", "includedFiles": names}, f)
PY
"$build/kernopack" build "$work/bench.json" --launcher "$bench" -o "$work/extraction.exe"
source="Z:$(printf '%s' "$work/in" | tr / '\\\\')"
result=$(cmake/wine-run.sh --prefix "$prefix" "$work/extraction.exe" 5 "$source")
python3 - "$result" <<'PY'
import sys
rounds, size, extract, copy, small = sys.argv[1].split()
mb = int(size) / 2**20
rate = lambda ms: mb / (float(ms) / 1000)
print(f"Included-file extraction under Wine (x64), {mb:.0f} MiB in 8 files, median of {rounds} runs:")
print(f"  extraction (1 MiB pieces):  {rate(extract):8.0f} MiB/s ({float(extract):7.1f} ms)")
print(f"  plain copy (CopyFileA):     {rate(copy):8.0f} MiB/s ({float(copy):7.1f} ms)")
print(f"  8 KiB pieces, for reference:{rate(small):8.0f} MiB/s ({float(small):7.1f} ms)")
print(f"  ratio extraction / copy {rate(extract) / rate(copy):.2f} (target >= 0.8)")
PY
rm -rf "$work"
