#!/bin/sh
# Installs what the 32-bit Windows test route needs (see docs/x86-route.md):
# the i386 Wine loader, qemu's user-mode emulator and a compiler for the
# small preload library that scripts/with-win32.sh builds.
#
#   setup-x86.sh          install what is missing (as root; quick when done)
#   setup-x86.sh --check  only report what is missing (exit 1 if anything)
#
# It leaves the machine's binfmt registrations as they are: the route
# registers i386 only inside its own namespace, and the emulator package's
# own formats (arm, mips, ...) are kept from being switched on here.
#
# Where the distribution's emulator is older than 10.0 (Debian 12 has 7.2,
# whose 32-bit Wine processes now and then die in a control; see
# docs/x86-route.md), it also fetches the i386 emulator of qemu-user from the
# distribution's backports into /usr/local/lib/kerno-x86/qemu-i386, without
# installing the package.
set -eu

# The mingw compiler only builds the self-test (scripts/with-win32.sh --self-test).
PACKAGES="wine wine64 wine32:i386 qemu-user-static gcc binutils g++-mingw-w64-i686-posix"
# Where scripts/with-win32.sh looks for the newer emulator first.
EMULATOR=/usr/local/lib/kerno-x86/qemu-i386
# The oldest emulator release known to run 32-bit Wine services reliably.
EMULATOR_MAJOR=10
check_only=0
case "${1:-}" in
  --check) check_only=1 ;;
  --help|-h) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  "") ;;
  *) echo "setup-x86.sh: unknown argument: $1" >&2; exit 2 ;;
esac

say() { echo "setup-x86: $*" >&2; }

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]
}

# The major release of an emulator binary; 0 when it does not run.
emulator_major() {
  v=$("$1" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9][0-9]*\)\..*/\1/p' | head -n 1)
  echo "${v:-0}"
}

# Fetches qemu-user from <codename>-backports with apt-get's own lists and
# cache in a scratch directory (the machine's sources and state stay as they
# are) and unpacks its i386 emulator to $EMULATOR.
fetch_emulator() {
  # shellcheck disable=SC1091 # the distribution's own file
  codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  case "$codename" in ''|*[!a-z]*) say "unknown distribution release: cannot fetch a newer emulator"; return 1 ;; esac
  work=$(mktemp -d) || return 1
  chmod 755 "$work"  # apt fetches as the _apt user
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  signed=
  [ -f "$keyring" ] && signed=" [signed-by=$keyring]"
  echo "deb$signed http://deb.debian.org/debian $codename-backports main" >"$work/sources.list"
  set -- -o "Dir::Etc::sourcelist=$work/sources.list" -o Dir::Etc::sourceparts=- \
    -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o APT::Get::List-Cleanup=0
  say "fetching qemu-user from $codename-backports (the i386 emulator only)"
  ok=0
  if apt-get "$@" update -qq >"$work/log" 2>&1 &&
     (cd "$work" && apt-get "$@" download -qq "qemu-user/$codename-backports") >>"$work/log" 2>&1; then
    for deb in "$work"/qemu-user_*.deb; do
      [ -f "$deb" ] || continue
      mkdir -p "$work/x" "$(dirname "$EMULATOR")"
      dpkg-deb -x "$deb" "$work/x" &&
        [ "$(emulator_major "$work/x/usr/bin/qemu-i386")" -ge "$EMULATOR_MAJOR" ] &&
        install -m 755 "$work/x/usr/bin/qemu-i386" "$EMULATOR.new" &&
        mv -f "$EMULATOR.new" "$EMULATOR" && ok=1
    done
  fi
  [ "$ok" = 1 ] || { say "could not fetch a newer emulator:"; tail -n 5 "$work/log" | sed 's/^/  /' >&2; }
  rm -rf "$work"
  [ "$ok" = 1 ]
}

# Whether the route has an emulator of $EMULATOR_MAJOR or newer.
emulator_current() {
  [ "$(emulator_major "$EMULATOR")" -ge "$EMULATOR_MAJOR" ] ||
    [ "$(emulator_major /usr/bin/qemu-i386-static)" -ge "$EMULATOR_MAJOR" ]
}

# The newer emulator, unless the machine runs i386 code itself or is not
# root; a failure leaves the route on the old one (its tests of controls
# are then skipped), so it only warns.
ensure_emulator() {
  emulator_current && return 0
  if [ "$check_only" = 1 ]; then
    say "no i386 emulator of release $EMULATOR_MAJOR or newer (run as root to fetch it to $EMULATOR)"
    return 0
  fi
  [ "$(id -u)" = 0 ] || { say "not root: keeping the emulator of release $(emulator_major /usr/bin/qemu-i386-static)"; return 0; }
  fetch_emulator || say "warning: keeping the emulator of release $(emulator_major /usr/bin/qemu-i386-static)"
  return 0
}

has_i386=0
dpkg --print-foreign-architectures | grep -qx i386 && has_i386=1
missing=
for p in $PACKAGES; do
  installed "$p" || missing="$missing $p"
done

if [ "$has_i386" = 1 ] && [ -z "$missing" ]; then
  ensure_emulator
  [ "$check_only" = 1 ] && say "everything is installed"
  exit 0
fi
if [ "$check_only" = 1 ]; then
  [ "$has_i386" = 1 ] || say "the i386 architecture is not enabled in dpkg"
  [ -z "$missing" ] || say "missing packages:$missing"
  exit 1
fi
if [ "$(id -u)" != 0 ]; then
  say "run as root to install:$missing"
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
need_update=0
if [ "$has_i386" = 0 ]; then
  say "enabling the i386 architecture"
  dpkg --add-architecture i386
  need_update=1
fi
# No i386 package lists yet (or none at all): the install cannot resolve.
ls /var/lib/apt/lists/*_binary-i386_Packages* >/dev/null 2>&1 || need_update=1
ls /var/lib/apt/lists/*_binary-amd64_Packages* >/dev/null 2>&1 || need_update=1

apt_update() {
  say "apt-get update"
  apt-get update -qq >/dev/null
}
[ "$need_update" = 0 ] || apt_update

# Formats the emulator package would switch on machine-wide when it is
# installed: through binfmt-support's update-binfmts at once, or through a
# systemd-binfmt restart that the package's binfmt.d files trigger.
qemu_formats() {
  for f in /var/lib/binfmts/qemu-*; do
    [ -e "$f" ] && basename "$f"
  done
  return 0
}
# systemd reads /etc/binfmt.d before /usr/lib/binfmt.d; a same-named link to
# /dev/null masks a file. Only formats that are not registered now get one,
# so nothing that works today stops working.
mask_systemd_formats() {
  deb=$1
  mkdir -p /etc/binfmt.d
  for conf in $(dpkg-deb -c "$deb" | sed -n 's|.*\./usr/lib/binfmt\.d/\(qemu-[^ ]*\.conf\)$|\1|p'); do
    name=${conf%.conf}
    [ -e "/etc/binfmt.d/$conf" ] || [ -L "/etc/binfmt.d/$conf" ] && continue
    [ -e "/proc/sys/fs/binfmt_misc/$name" ] && continue
    ln -s /dev/null "/etc/binfmt.d/$conf"
  done
  say "masked the emulator's binfmt.d entries in /etc/binfmt.d"
}

apt_install() {
  apt-get install -y -qq --no-install-recommends -o Dpkg::Use-Pty=0 "$@" >/dev/null
}

install_missing() {
  qemu_new=0
  case " $missing " in *" qemu-user-static "*) qemu_new=1 ;; esac
  before=
  if [ "$qemu_new" = 1 ] && command -v update-binfmts >/dev/null 2>&1; then
    before=$(qemu_formats)
  fi
  if [ "$qemu_new" = 1 ] && [ -d /run/systemd/system ]; then
    tmp=$(mktemp -d)
    (cd "$tmp" && apt-get download -qq qemu-user-static) >/dev/null 2>&1 || true
    # apt fetches as _apt; a root-only mktemp directory makes it warn, harmless.
    masked=0
    for deb in "$tmp"/qemu-user-static_*.deb; do
      [ -e "$deb" ] && mask_systemd_formats "$deb" && masked=1
    done
    [ "$masked" = 1 ] || say "warning: could not mask the emulator's binfmt.d entries"
    rm -rf "$tmp"
  fi
  say "installing:$missing"
  # shellcheck disable=SC2086 # one word per package
  apt_install $missing || return 1
  if [ "$qemu_new" = 1 ] && command -v update-binfmts >/dev/null 2>&1; then
    for name in $(qemu_formats); do
      printf '%s\n' "$before" | grep -qx "$name" && continue
      update-binfmts --package qemu-user-static --remove "$name" \
        "/usr/bin/$name-static" >/dev/null 2>&1 || true
    done
  fi
  return 0
}

if ! install_missing; then
  # Stale package lists give 404s or unknown versions: refresh once and retry.
  [ "$need_update" = 1 ] && exit 1
  apt_update
  install_missing
fi

for p in $PACKAGES; do
  installed "$p" || { say "not installed after all: $p"; exit 1; }
done
ensure_emulator
say "done"
