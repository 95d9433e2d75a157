#!/bin/sh
# The demo: builds everything, packs the example service description into a
# configured launcher and runs it as a Windows service under Wine: install,
# start, the launcher's log and what the VM was given, stop, uninstall.
#
# No Windows Java runtime can be installed on Linux, so the demo lays out a
# stand-in runtime built from the test sources: a java.exe that answers the
# version probe and a jvm.dll that records what the launcher asks of the VM.
#
#   scripts/demo.sh
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in --help|-h) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac

scripts/setup.sh
cmake --preset all >/dev/null
cmake --build --preset all >/dev/null
build=$(realpath build/all)
standins=$build/win64/tests/standins

demo=$build/demo
prefix=$demo/wineprefix
app=$demo/app
wine="cmake/wine-run.sh --prefix $prefix"
cmake/wine-run.sh --prefix "$prefix" --teardown >/dev/null 2>&1 || true
rm -rf "$demo"
mkdir -p "$app/jre/bin/server"
trap 'cmake/wine-run.sh --prefix "$prefix" --teardown >/dev/null 2>&1' EXIT

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
run() {
  step "KernoDemo.exe $*"
  set +e
  $wine "$app/KernoDemo.exe" "$@"
  echo "(exit code $?)"
  set -e
}

step "kernopack build examples/service.json -o app/KernoDemo.exe"
"$build/kernopack" build examples/service.json -o "$app/KernoDemo.exe"
ls -l "$app/KernoDemo.exe"

step "kernopack dump: the configuration inside the executable (first lines)"
"$build/kernopack" dump "$app/KernoDemo.exe" | head -12

step "The application beside it, and a stand-in Java runtime in app\\jre"
cp "$build/kerno-runtime.jar" "$app/"
cp "$build/kerno-demo.jar" "$app/"
cp "$standins/java.exe" "$app/jre/bin/"
cp "$standins/jvm.dll" "$app/jre/bin/server/"
printf 'banner=java version "17.0.2" 2022-01-18 LTS\n' >"$app/jre/bin/java-standin.cfg"
printf 'main=return\n' >"$app/jre/bin/server/jvm-standin.cfg"
(cd "$app" && find . -type f | sort)

step "A private Wine prefix, with the launcher's log switched on for services"
cmake/wine-run.sh --prefix "$prefix" --setup
# A service gets the machine environment as it stood when the wineserver
# started: set KERNO_LOG there, then restart the wineserver.
$wine reg add 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' \
  /v KERNO_LOG /d yes /f >/dev/null
cmake/wine-run.sh --prefix "$prefix" --restart

run
run /install
step "The registration, as the service control manager keeps it"
$wine reg query 'HKLM\System\CurrentControlSet\Services\KernoDemo' 2>/dev/null
run /start
sleep 3
step "sc query KernoDemo"
$wine sc query KernoDemo 2>/dev/null | grep -E 'STATE|EXIT_CODE' || true

step "The launcher's log (service run)"
log=$(grep -l 'KernoDemo.exe' "$prefix"/drive_c/users/*/Temp/brd_nlog_* "$prefix"/drive_c/windows/temp/brd_nlog_* 2>/dev/null | tail -1 || true)
if [ -n "$log" ]; then tr -d '\r' <"$log"; else echo "(no log found)"; fi

step "What the VM was given (recorded by the stand-in jvm.dll)"
tr -d '\r' <"$app/jre/bin/server/jvm-standin.calls" | head -40

run /stop
run /uninstall
step "A damaged block: the launcher says so and ends with exit code 1"
cp "$app/KernoDemo.exe" "$app/Damaged.exe"
truncate -s -1024 "$app/Damaged.exe"
set +e
WINEDEBUG=-all,+relay $wine "$app/Damaged.exe" 2>&1 | grep -o 'MessageBoxA(.*' | head -1
set -e
