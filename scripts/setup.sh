#!/bin/sh
# Installs everything the build and every test tier need, from Debian's
# archive, on a fresh Debian 12 machine (run as root). Safe to run again:
# it installs only what is missing.
#
#   scripts/setup.sh          install what is missing
#   scripts/setup.sh --check  only report what is missing (exit 1 if anything)
set -eu

PACKAGES="cmake ninja-build g++ clang libclang-rt-14-dev python3 file
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
  binutils-mingw-w64-i686 wine64 googletest libbenchmark-dev nlohmann-json3-dev libcli11-dev
  openjdk-17-jdk-headless osslsigncode openssl gcovr wixl msitools python3-yaml libpugixml-dev
  zlib1g-dev libz-mingw-w64-dev libh2-java"

case "${1:-}" in
  --help|-h) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]
}
missing=
for p in $PACKAGES; do
  installed "$p" || missing="$missing $p"
done

if [ -n "$missing" ]; then
  if [ "${1:-}" = "--check" ]; then
    echo "setup: missing packages:$missing" >&2
    exit 1
  fi
  [ "$(id -u)" = 0 ] || { echo "setup: run as root to install:$missing" >&2; exit 1; }
  echo "setup: installing$missing" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing >/dev/null
fi

# The 32-bit Windows route (qemu user mode and the i386 Wine loader).
if [ -x "$(dirname "$0")/setup-x86.sh" ]; then
  "$(dirname "$0")/setup-x86.sh" ${1:-}
fi
