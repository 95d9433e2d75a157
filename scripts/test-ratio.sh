#!/bin/sh
# Prints the size of the tests against the code they test: non-blank lines
# of tests/ (unit, glue, real-JVM, fuzz, end to end, stand-ins, harness)
# against src/, tools/ and runtime/. Counts the files git tracks plus new,
# not yet ignored ones; fuzz seed inputs (tests/fuzz/corpus/) and the real
# configurations the importer's tests read (tests/unit/import_data/) are
# data, not counted.
#
#   scripts/test-ratio.sh          one line: tests, code and their ratio
#   scripts/test-ratio.sh -v       also the count per top-level folder of tests/
set -eu
cd "$(dirname "$0")/.."
verbose=0
case "${1:-}" in
  --help|-h) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  -v|--verbose) verbose=1 ;;
  "") ;;
  *) echo "test-ratio.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
esac

files() { git ls-files --cached --others --exclude-standard -- "$@" | grep -v '^tests/fuzz/corpus/\|^tests/unit/import_data/' || true; }
count() { files "$@" | while IFS= read -r f; do [ -f "$f" ] && cat "$f"; done | grep -cv '^[[:space:]]*$' || true; }

tests=$(count tests)
code=$(count src tools runtime)
if [ $verbose = 1 ]; then
  for d in $(files tests | cut -d/ -f2 | sort -u); do
    [ -d "tests/$d" ] && printf '  tests/%-10s %6d\n' "$d" "$(count "tests/$d")"
  done
fi
awk -v t="$tests" -v c="$code" 'BEGIN { printf "test ratio: %d non-blank lines of tests / %d of code (src, tools, runtime) = %.2fx\n", t, c, (c ? t / c : 0) }'
