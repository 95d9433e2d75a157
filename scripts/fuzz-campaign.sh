#!/usr/bin/env bash
# Runs every libFuzzer target far beyond the short ctest run, then keeps
# what the runs found: the grown corpus, minimised, in tests/fuzz/corpus.
# Not part of CI. See docs/testing.md ("Fuzz campaign").
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: scripts/fuzz-campaign.sh [options] [TARGET...]

Builds the fuzz targets with optimisation (ASan+UBSan kept) in
build/fuzz-campaign, runs each TARGET (default: every *_fuzz target) to a
number of executions, at most JOBS targets at a time, then merges each
grown corpus into tests/fuzz/corpus/TARGET, minimised (libFuzzer -set_cover_merge=1:
a small set of inputs that keeps every feature reached).

Options:
  --runs N         executions per target (default 10000000)
  --max-time S     also stop a target after S seconds (default: no limit);
                   the summary then shows how far it got
  --jobs N         targets run at the same time (default 2, one per core)
  --nice N         niceness of the runs (default 19: the machine is shared)
  --no-merge       leave tests/fuzz/corpus as it is
  --out DIR        build and work directory (default build/fuzz-campaign)
  -h, --help       this text

Per target the work directory holds TARGET.log (libFuzzer's output),
TARGET-corpus/ (the grown corpus) and crash-*/leak-*/timeout-* files for
every finding. The closing table gives executions, coverage (edges "cov"
and features "ft" as libFuzzer counts them), corpus size and findings.
Exit code: 0 when no target found anything, 1 otherwise, 2 on bad usage.
EOF
}

root=$(cd "$(dirname "$0")/.." && pwd)
runs=10000000
max_time=0
jobs=2
niceness=19
merge=1
out="$root/build/fuzz-campaign"
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    --max-time) max_time=${2:?--max-time needs seconds}; shift 2 ;;
    --jobs) jobs=${2:?--jobs needs a number}; shift 2 ;;
    --nice) niceness=${2:?--nice needs a number}; shift 2 ;;
    --no-merge) merge=0; shift ;;
    --out) out=${2:?--out needs a directory}; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    -*) echo "fuzz-campaign: unknown option $1 (see --help)" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
for n in "$runs" "$max_time" "$jobs"; do
  case "$n" in ''|*[!0-9]*) echo "fuzz-campaign: not a number: $n" >&2; exit 2 ;; esac
done
[ "$jobs" -ge 1 ] || { echo "fuzz-campaign: --jobs must be at least 1" >&2; exit 2; }

# An optimised build: the ctest fuzz tree is a debug build, several times
# slower per execution.
cmake --preset fuzz -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$out.configure.log" 2>&1 ||
  { echo "fuzz-campaign: configuring failed, see $out.configure.log" >&2; exit 1; }
# The build at normal priority: it is short, and at 19 on a busy machine it
# would take longer than the runs.
cmake --build "$out" >"$out.build.log" 2>&1 ||
  { echo "fuzz-campaign: building failed, see $out.build.log" >&2; exit 1; }

if [ ${#targets[@]} -eq 0 ]; then
  for src in "$root"/tests/fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
bin="$out/tests/fuzz"
for t in "${targets[@]}"; do
  [ -x "$bin/$t" ] || { echo "fuzz-campaign: no target $t in $bin" >&2; exit 2; }
done

work="$out/work"
mkdir -p "$work"
run_one() {
  local t=$1
  mkdir -p "$work/$t-corpus" "$work/$t-findings"
  local limit=()
  [ "$max_time" -gt 0 ] && limit=(-max_total_time="$max_time")
  echo "fuzz-campaign: $t started $(date -u +%H:%M:%S)"
  # Grown inputs go to the first directory; the checked-in corpus only seeds.
  ASAN_OPTIONS=detect_leaks=1 nice -n "$niceness" "$bin/$t" -runs="$runs" "${limit[@]}" \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/$t-findings/" \
    "$work/$t-corpus" "$root/tests/fuzz/corpus/$t" >"$work/$t.log" 2>&1 || true
  echo "fuzz-campaign: $t ended $(date -u +%H:%M:%S)"
}
export -f run_one
export work bin runs max_time niceness root
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one {}'

if [ "$merge" -eq 1 ]; then
  for t in "${targets[@]}"; do
    seeds="$root/tests/fuzz/corpus/$t"
    fresh="$work/$t-merged"
    rm -rf "$fresh"
    mkdir -p "$fresh" "$seeds"
    if nice -n "$niceness" "$bin/$t" -set_cover_merge=1 "$fresh" "$seeds" "$work/$t-corpus" \
        >"$work/$t-merge.log" 2>&1; then
      # Named inputs (a finding's regression case, a hand-made seed) stay
      # as they are; the hash-named ones give way to the minimised set, less
      # the copies of named ones (libFuzzer names a file by its SHA-1).
      for f in "$seeds"/*; do
        [ -f "$f" ] || continue
        b=$(basename "$f")
        if [ ${#b} -eq 40 ] && [ -z "$(printf '%s' "$b" | tr -d 0-9a-f)" ]; then
          rm -f "$f"
        else
          rm -f "$fresh/$(sha1sum <"$f" | cut -d' ' -f1)"
        fi
      done
      cp "$fresh"/* "$seeds"/ 2>/dev/null || true
    else
      echo "fuzz-campaign: merging $t failed, corpus left as it was (see $work/$t-merge.log)" >&2
    fi
  done
fi

found=0
printf '\n%-22s %12s %8s %8s %9s %s\n' target executions cov ft corpus findings
for t in "${targets[@]}"; do
  log="$work/$t.log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  # The last status line that reports coverage.
  status=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
  if [ -z "$execs" ]; then execs=$(printf '%s\n' "$status" | sed -n 's/^#\([0-9]*\).*/\1/p'); fi
  cov=$(printf '%s\n' "$status" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
  ft=$(printf '%s\n' "$status" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
  files=$(find "$root/tests/fuzz/corpus/$t" -type f | wc -l)
  findings=$(find "$work/$t-findings" -type f | wc -l)
  [ "$findings" -gt 0 ] && found=1
  printf '%-22s %12s %8s %8s %9s %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$files" "$findings"
done
[ "$found" -eq 0 ] || echo "fuzz-campaign: findings in $work/*-findings" >&2
exit "$found"
