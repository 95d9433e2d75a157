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
set -eu

# The mingw compiler only builds the self-test (scripts/with-win32.sh --self-test).
PACKAGES="wine wine64 wine32:i386 qemu-user-static gcc binutils g++-mingw-w64-i686-posix"
check_only=0
case "${1:-}" in
  --check) check_only=1 ;;
  --help|-h) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  "") ;;
  *) echo "setup-x86.sh: unknown argument: $1" >&2; exit 2 ;;
esac

say() { echo "setup-x86: $*" >&2; }

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]
}

has_i386=0
dpkg --print-foreign-architectures | grep -qx i386 && has_i386=1
missing=
for p in $PACKAGES; do
  installed "$p" || missing="$missing $p"
done

if [ "$has_i386" = 1 ] && [ -z "$missing" ]; then
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
say "done"
