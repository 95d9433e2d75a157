#!/bin/sh
# The demo: builds everything, packs the example service description into a
# configured launcher, and runs its command words under Wine, showing what
# each prints and its exit code.
#
#   scripts/demo.sh
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in --help|-h) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac

scripts/setup.sh
cmake --preset all >/dev/null
cmake --build --preset all >/dev/null
build=$(realpath build/all)

demo=$build/demo
prefix=$demo/wineprefix
rm -rf "$demo"
mkdir -p "$demo"
wine="cmake/wine-run.sh --prefix $prefix"
trap 'cmake/wine-run.sh --prefix "$prefix" --teardown >/dev/null 2>&1' EXIT

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "kernopack build examples/service.json -o $demo/KernoDemo.exe"
"$build/kernopack" build examples/service.json -o "$demo/KernoDemo.exe"
ls -l "$demo/KernoDemo.exe"

step "kernopack dump: the configuration inside the executable"
"$build/kernopack" dump "$demo/KernoDemo.exe" | head -40

step "Creating a private Wine prefix"
cmake/wine-run.sh --prefix "$prefix" --setup

run() {
  step "KernoDemo.exe $*"
  set +e
  $wine "$demo/KernoDemo.exe" "$@"
  echo "(exit code $?)"
  set -e
}
run
run /install
run /start
step "The registration, as the service control manager keeps it"
$wine reg query 'HKLM\System\CurrentControlSet\Services\KernoDemo' 2>/dev/null || echo "(not registered)"
run /stop
run /uninstall
step "A damaged block: the launcher says so and ends with exit code 1"
cp "$demo/KernoDemo.exe" "$demo/Damaged.exe"
truncate -s -1024 "$demo/Damaged.exe"
set +e
WINEDEBUG=-all,+relay $wine "$demo/Damaged.exe" 2>&1 | grep -o 'MessageBoxA(.*' | head -1
set -e
