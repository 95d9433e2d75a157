#!/bin/sh
# Builds everything (native, Windows x64 and x86, fuzz) and runs every test
# tier with one ctest: unit, glue under Wine, end to end under Wine, fuzz;
# then builds the shipped pieces a second time and compares the release
# bundles (scripts/check-reproducible.sh), and prints the size of the tests
# against the code (scripts/test-ratio.sh).
#
#   scripts/test.sh [CTEST ARGS...]    e.g. scripts/test.sh -R e2e
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in
  --help|-h) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac

scripts/setup.sh
scripts/check-glue-split.sh
scripts/check-include-cycles.py
cmake --preset all >/dev/null
cmake --build --preset all
status=0
ctest --preset all "$@" || status=$?
scripts/check-reproducible.sh || status=1
scripts/test-ratio.sh
exit $status
