#!/bin/sh
# The soak: N cycles of install, start, stop and uninstall of a service that
# carries included files, under Wine, in a prefix of its own (persistent
# wineserver) with the diagnostic log on (KERNO_LOG=yes in the machine
# environment) and the event log on. The runtime is the stand-in one of the
# end-to-end tests (its WinLauncher.main returns, so the service runs until
# stopped); the cycles are driven by bench/soak_bench_win.cpp through the
# launcher's own command words. Every so often (ten times a run) it prints
# what is left: extraction directories in the temporary directories,
# deletion-list entries, whether the service key and the event source key
# are gone, the number of event sources, the diagnostic log written per
# cycle, and the service process's handle count at the last start. At the
# end, a verdict: nothing may grow with N (exit code 1 when something did).
# A benchmark, never part of the tests.
#
#   bench/soak.sh [--build DIR] [--keep] [--for SECONDS] N
#     --build DIR     the build of the "all" preset (default build/all)
#     --keep          keep the work directory and its prefix (printed)
#     --for SECONDS   start no further tenth of the run once this long has
#                     passed; the figures and the verdict cover the cycles run
set -eu
caller=$(pwd)
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/all
keep=0
limit=0
while [ $# -gt 0 ]; do
  case "$1" in
    --help|-h) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --build) build=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --for) limit=$2; shift 2 ;;
    -*) echo "soak.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -eq 1 ] || { echo "soak.sh: give the number of cycles (see --help)" >&2; exit 2; }
cycles=$1
case "$cycles" in ''|*[!0-9]*|0) echo "soak.sh: N must be a positive whole number" >&2; exit 2 ;; esac
case "$limit" in ''|*[!0-9]*) echo "soak.sh: --for takes a whole number of seconds" >&2; exit 2 ;; esac
build=$(cd "$caller" && realpath "$build")
packer="$build/kernopack"
win64="$build/win64"
for f in "$packer" "$win64/kernosvc-x64.exe" "$win64/bench/soak_bench_win.exe" \
         "$win64/tests/standins/java.exe" "$win64/tests/standins/jvm.dll"; do
  [ -e "$f" ] || { echo "soak.sh: $f is missing: build the all preset first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kerno-soak.XXXXXX")
prefix="$work/wineprefix"
wine_run="$root/cmake/wine-run.sh"
name=KernoSoak
cleanup() {
  if [ $keep = 1 ]; then
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
    echo "soak: kept $work"
  else
    "$wine_run" --prefix "$prefix" --teardown >/dev/null 2>&1 || true
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
wine() { "$wine_run" --prefix "$prefix" "$@" </dev/null; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

echo "soak: $cycles cycles in $work"
"$wine_run" --prefix "$prefix" --setup
wine reg add 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' \
  /v KERNO_LOG /d yes /f >/dev/null 2>&1
"$wine_run" --prefix "$prefix" --restart

# The service: a launcher with three included files (one empty, one of
# 1 MiB) beside a stand-in runtime home.
svc="$work/svc"
mkdir -p "$svc/in" "$svc/jre/bin/server"
cp "$win64/tests/standins/java.exe" "$svc/jre/bin/java.exe"
cp "$win64/tests/standins/jvm.dll" "$svc/jre/bin/server/jvm.dll"
printf 'banner=java version "1.8.0_392"\n' >"$svc/jre/bin/java-standin.cfg"
printf 'main=return\n' >"$svc/jre/bin/server/jvm-standin.cfg"
head -c 1048576 /dev/urandom >"$svc/in/app.jar"
printf 'soak\n' >"$svc/in/settings.txt"
: >"$svc/in/empty.txt"
cat >"$svc/service.json" <<EOF
{"serviceName": "$name", "jreSearchSequence": "B.\\\\jre", "mainClass": "com.example.App",
 "eventLog": true, "includedFiles": ["in/app.jar", "in/settings.txt", "in/empty.txt"]}
EOF
"$packer" build "$svc/service.json" --launcher "$win64/kernosvc-x64.exe" -o "$svc/svc.exe" >/dev/null
cp "$win64/bench/soak_bench_win.exe" "$work/soak.exe"

drive="$prefix/drive_c"
temps() { echo "$drive/windows/temp"; for d in "$drive"/users/*/Temp; do [ -d "$d" ] && echo "$d"; done; }
count_in() { find "$1" -mindepth 1 -maxdepth 1 -type d -name "$2" 2>/dev/null | wc -l; }
# Deletion-list entries: paths in delete_file and delete_dir of the account.
list_entries() {
  wine reg query 'HKCU\SOFTWARE\quarrow\kerno\temp' 2>/dev/null | tr -d '\r' |
    awk '$1 ~ /^delete_(file|dir)$/ { n += gsub(/;/, ";") } END { print n + 0 }'
}
key_left() {  # KEY: "gone" or "left"
  if wine reg query "$1" >/dev/null 2>&1; then echo left; else echo gone; fi
}
event_sources() {
  wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application' 2>/dev/null | tr -d '\r' |
    grep -ci '^HKEY_LOCAL_MACHINE.*\\Application\\' || true
}

step=$(( cycles >= 10 ? cycles / 10 : 1 ))
done_cycles=0
first=
report="$work/report"
: >"$report"
began=$(date +%s)
while [ $done_cycles -lt $cycles ]; do
  if [ "$limit" -gt 0 ] && [ $(( $(date +%s) - began )) -ge "$limit" ]; then
    echo "soak: stopped after $done_cycles of $cycles cycles: --for $limit seconds have passed"
    break
  fi
  n=$(( cycles - done_cycles < step ? cycles - done_cycles : step ))
  out=$(wine "$(winpath "$work/soak.exe")" "$n" "$name" "$(winpath "$svc/svc.exe")" \
          "$(winpath "$svc/jre/bin/server/jvm-standin.calls")" 2>&1) || {
    echo "$out" | grep -v '^[0-9a-f]\{4\}:' >&2
    echo "soak: the cycles after $done_cycles failed" >&2
    exit 1
  }
  done_cycles=$(( done_cycles + n ))
  handles=$(echo "$out" | awk '$1 == "handles" { print $2 "/" $3 }')
  seconds=$(echo "$out" | awk '$1 == "seconds" { print $2 }')
  dirs=0 logs=0 log_bytes=0 where=
  for t in $(temps); do
    # Extraction directories as this release names them (krn_<hex>) and
    # as earlier ones did (krn<hex>.tmp_dir<hex>).
    here=$(( $(count_in "$t" 'krn_*') + $(count_in "$t" 'krn*.tmp_dir*') ))
    dirs=$(( dirs + here ))
    where="$where ${t#"$drive"/}:$here"
    logs=$(( logs + $(find "$t" -maxdepth 1 -type f -name 'brd_nlog_*' 2>/dev/null | wc -l) ))
    b=$(find "$t" -maxdepth 1 -name 'brd_nlog_*' -printf '%s\n' 2>/dev/null | awk '{ s += $1 } END { print s + 0 }')
    log_bytes=$(( log_bytes + b ))
    # Counted, then removed: each run writes a log of its own.
    find "$t" -maxdepth 1 -name 'brd_nlog_*' -delete 2>/dev/null || true
  done
  entries=$(list_entries)
  service_key=$(key_left "HKLM\\System\\CurrentControlSet\\Services\\$name")
  source_key=$(key_left "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\$name")
  sources=$(event_sources)
  per_cycle=$(( log_bytes / n ))
  printf 'cycle %d/%d: %.2f s/cycle; extraction dirs %d (%s); list entries %d; service key %s; event source key %s; event sources %d; log %d B/cycle (%d files); handles %s\n' \
    "$done_cycles" "$cycles" "$(echo "$seconds $n" | awk '{ print $1 / $2 }')" "$dirs" "${where# }" "$entries" \
    "$service_key" "$source_key" "$sources" "$per_cycle" "$logs" "$handles"
  echo "$done_cycles $dirs $entries $service_key $source_key $sources $per_cycle $handles" >>"$report"
done

# The verdict: the last measurement against the most of those in the first
# half of the run, leaving out the first one when there are three or more
# (the first cycle finds nothing to sweep). A leak grows with every cycle;
# the figures also move a little between measurements, with what each sweep
# found, and the log may write up to a tenth more per cycle; the handle
# count of the one service process moves by one or two with Wine's threads.
awk '
  { for (i = 1; i <= 7; ++i) row[NR, i] = $i; split($8, h, "/"); row[NR, 8] = h[1] + 0; row[NR, 9] = h[2] + 0 }
  END {
    half = int((NR + 1) / 2)
    for (i = 2; i <= 9; ++i) most[i] = 0
    for (r = (NR >= 3 ? 2 : 1); r <= half; ++r)
      for (i = 2; i <= 9; ++i) if (i != 4 && i != 5 && row[r, i] + 0 > most[i]) most[i] = row[r, i] + 0
    names[2] = "extraction dirs"; names[3] = "list entries"; names[6] = "event sources"
    names[8] = "handles"; names[9] = "handles in the system table"
    bad = ""
    for (i = 2; i <= 9; ++i)
      if ((i in names) && row[NR, i] + 0 > most[i] + (i >= 8 ? 2 : 0))
        bad = bad sprintf(" %s %d -> %d;", names[i], most[i], row[NR, i])
    if (row[NR, 4] != "gone") bad = bad " the service key is left;"
    if (row[NR, 5] != "gone") bad = bad " the event source key is left;"
    if (row[NR, 7] + 0 > most[7] * 1.1) bad = bad sprintf(" log per cycle %d -> %d bytes;", most[7], row[NR, 7])
    if (bad == "") { printf "verdict: nothing grew over %d cycles\n", row[NR, 1]; exit 0 }
    printf "verdict: GREW over %d cycles:%s\n", row[NR, 1], bad; exit 1
  }' "$report"
