#!/bin/sh
# Line and branch coverage of the pure code over the unit tier, and of the
# glue over the glue tier (mingw's --coverage, run under Wine; the .gcda files
# land beside the objects through Wine's Z: drive).
#
#   scripts/coverage.sh [--pure] [--glue]   both when neither is given
#
# Builds in build/cov-native and build/cov-win64 (no sanitizers, -O0) and
# prints gcovr's summary for each; details in build/cov-*/coverage.txt.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
pure=0 glue=0
for a in "$@"; do
  case "$a" in
    --pure) pure=1 ;;
    --glue) glue=1 ;;
    --help|-h) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "coverage.sh: unknown argument $a (see --help)" >&2; exit 2 ;;
  esac
done
[ $pure = 1 ] || [ $glue = 1 ] || { pure=1; glue=1; }
command -v gcovr >/dev/null || { echo "coverage.sh: gcovr is missing: run scripts/setup.sh" >&2; exit 1; }

if [ $pure = 1 ]; then
  b=build/cov-native; mkdir -p $b
  cmake -S . -B $b -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
    -DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >$b/build.log 2>&1 || { cat $b/build.log; exit 1; }
  nice cmake --build $b --target kerno_unit_tests >>$b/build.log 2>&1 || { tail -30 $b/build.log; exit 1; }
  find $b -name '*.gcda' -delete
  $b/tests/unit/kerno_unit_tests >>$b/build.log 2>&1 || { tail -30 $b/build.log; echo "coverage.sh: unit tests failed" >&2; exit 1; }
  echo "== pure code (unit tier)"
  # Only the objects of the unit test binary: other trees of this build
  # (the real-JVM tier, benchmarks) are no part of the unit tier.
  gcovr -r "$root" --object-directory $b $b/src $b/tools $b/tests/unit \
    --filter 'src/' --filter 'tools/kernopack/' \
    --exclude '.*_win\.(cpp|h)$' --exclude '.*_posix\.cpp$' --exclude '.*_iconv\.cpp$' \
    --exclude 'tools/kernopack/main\.cpp$' \
    --exclude-unreachable-branches --exclude-throw-branches \
    --txt $b/coverage.txt --print-summary 2>>$b/build.log | tail -3
fi

if [ $glue = 1 ]; then
  b=build/cov-win64; mkdir -p $b
  cmake -S . -B $b -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_EXE_LINKER_FLAGS=--coverage >$b/build.log 2>&1 || { cat $b/build.log; exit 1; }
  nice cmake --build $b --target kerno_glue_tests standin_java standin_unpack200 standin_jvm standin_jvm_noentry \
    standin_jvm_helped standin_helper_planted >>$b/build.log 2>&1 || { tail -30 $b/build.log; exit 1; }
  find $b -name '*.gcda' -delete
  prefix="$root/$b/wineprefix"
  cmake/wine-run.sh --prefix "$prefix" --setup
  status=0
  (cd $b && "$root/cmake/wine-run.sh" --prefix "$prefix" tests/win/kerno_glue_tests.exe) >>$b/build.log 2>&1 || status=$?
  cmake/wine-run.sh --prefix "$prefix" --teardown
  [ $status = 0 ] || echo "coverage.sh: some glue tests failed (see $b/build.log); coverage counts what ran" >&2
  echo "== glue (glue tier under Wine)"
  gcovr -r "$root" --object-directory $b --gcov-executable x86_64-w64-mingw32-gcov \
    $b/src $b/tools $b/tests/win \
    --filter '.*_win\.cpp$' --exclude 'tests/' --exclude 'src/startup/main_win\.cpp$' \
    --exclude-unreachable-branches --exclude-throw-branches \
    --txt $b/coverage.txt --print-summary 2>>$b/build.log | tail -3
fi
