#!/bin/bash
# Runs a command where 32-bit Windows programs work under Wine, on a kernel
# that cannot run i386 code itself (see docs/x86-route.md).
#
#   with-win32.sh [--prefix DIR] CMD [ARGS...]  run CMD inside the route
#   with-win32.sh --check                       exit 0 if the route works here,
#                                               else 77 and one line on stderr
#   with-win32.sh [--prefix DIR] --self-test    build and run a small PE32
#                                               program that checks the route
#   with-win32.sh --help                        this text
#
# CMD runs in a private user, mount and PID namespace. Where the kernel runs
# i386 code itself, 32-bit Wine runs natively; where it does not (32-bit
# emulation switched off), i386 ELF files are handed to qemu-i386-static
# through a binfmt_misc of the namespace's own (Linux 6.7 or later; nothing
# is registered machine-wide). A Wine prefix is booted first (a fresh
# temporary one unless --prefix names one, which is then kept) and its
# wineserver runs until CMD ends. CMD sees:
#
#   WINEPREFIX           the prefix, its wineserver and services running
#   KERNO_WINE           the Wine loader for 32-bit programs (/usr/lib/wine/wine)
#   KERNO_WINESERVER     the wineserver launcher (/usr/lib/wine/wineserver)
#   KERNO_WIN32_ROUTE    1
#   KERNO_X86_EMULATION  how i386 code runs: native or qemu
#   KERNO_WINE_BOOT_LOG  the file that holds the output of Wine's helpers
#   LD_PRELOAD           the mmap fix for qemu (an empty twin for 64-bit code)
#   WINEDEBUG, WINEDLLOVERRIDES  defaults (-all; no Mono or Gecko) unless set
#   ASAN_OPTIONS         gains verify_asan_link_order=0 (the preload is first)
#   DISPLAY              unset: no window system, message boxes return at once
#
# The exit code is CMD's; 125 if the route could not be set up.
#
# Environment it reads: KERNO_X86_EMULATION (auto, the default: native where
# the kernel can, else qemu; or force native or qemu), KERNO_X86_CACHE (where
# the preload library and the self-test are built; default
# ${XDG_CACHE_HOME:-$HOME/.cache}/kerno-x86), KERNO_QEMU_I386 (default
# /usr/bin/qemu-i386-static), TMPDIR.
set -uo pipefail
# A closed standard handle (possible under CI) becomes /dev/null before any
# file we open could take its number.
[ -e /proc/self/fd/0 ] || exec </dev/null
[ -e /proc/self/fd/1 ] || exec >/dev/null
[ -e /proc/self/fd/2 ] || exec 2>/dev/null

readonly ME=with-win32
SCRIPT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly SCRIPT_DIR
SELF="$SCRIPT_DIR/$(basename "${BASH_SOURCE[0]}")"
readonly SELF
readonly X86_DIR="$SCRIPT_DIR/x86"

readonly WINE32=/usr/lib/wine/wine
readonly WINE64=/usr/lib/wine/wine64
readonly WINESERVER=/usr/lib/wine/wineserver
readonly QEMU=${KERNO_QEMU_I386:-/usr/bin/qemu-i386-static}
readonly I386_LIBC=/lib/i386-linux-gnu/libc.so.6
readonly MINGW_CXX=i686-w64-mingw32-g++-posix
readonly EXIT_SKIP=77
readonly EXIT_ROUTE=125
# The namespace's binfmt_misc entry: i386 ELF executables and shared
# objects, the same magic and mask as qemu's own i386 registration. F opens
# the emulator now, so the entry keeps working whatever CMD mounts.
readonly BINFMT_NAME=kerno-i386
readonly BINFMT_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
readonly BINFMT_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
readonly PRELOAD_NAME=kerno-noreplace.so
readonly SELFTEST_PROBE="probe value 42"

say() { echo "$ME: $*" >&2; }
usage() { sed -n '2,/^set -uo/p' "$SELF" | sed '$d' | sed 's/^# \{0,1\}//'; }

cache_dir() {
  if [ -n "${KERNO_X86_CACHE:-}" ]; then
    echo "$KERNO_X86_CACHE"
  elif [ -n "${XDG_CACHE_HOME:-}" ]; then
    echo "$XDG_CACHE_HOME/kerno-x86"
  elif [ -n "${HOME:-}" ] && [ "$HOME" != / ]; then
    echo "$HOME/.cache/kerno-x86"
  else
    echo "${TMPDIR:-/tmp}/kerno-x86-$(id -u)"
  fi
}

# Builds $1 from the compile command in the remaining arguments unless the
# stamp beside it shows the same sources and command. The result appears
# atomically, so parallel runs never load a half-written file.
build_cached() {
  local out=$1; shift
  local sources=() a
  for a in "$@"; do [ -f "$a" ] && case "$a" in *.c|*.cpp) sources+=("$a") ;; esac; done
  local stamp
  stamp=$(printf '%s\n' "$*"; cat "${sources[@]}")
  stamp=$(printf '%s' "$stamp" | sha256sum | cut -d' ' -f1)
  if [ -f "$out" ] && [ "$(cat "$out.stamp" 2>/dev/null)" = "$stamp" ]; then
    return 0
  fi
  mkdir -p "$(dirname "$out")" || return 1
  local tmp="$out.tmp.$$"
  local cmd=("$@")
  local i
  for i in "${!cmd[@]}"; do [ "${cmd[$i]}" = "@OUT@" ] && cmd[i]=$tmp; done
  if ! "${cmd[@]}" >"$tmp.log" 2>&1; then
    say "build failed: ${cmd[*]}"
    sed 's/^/  /' "$tmp.log" >&2
    rm -f "$tmp" "$tmp.log"
    return 1
  fi
  rm -f "$tmp.log"
  mv -f "$tmp" "$out" && printf '%s\n' "$stamp" >"$out.stamp.$$" && mv -f "$out.stamp.$$" "$out.stamp"
}

# The preload pair, laid out for ld.so's $LIB (Debian's multiarch names).
build_preload() {
  local cache=$1 src="$X86_DIR/noreplace.c"
  local flags=(-O2 -fPIC -shared -nostdlib -fno-stack-protector -Wall -Wextra -Werror)
  build_cached "$cache/lib/i386-linux-gnu/$PRELOAD_NAME" \
    gcc -m32 "${flags[@]}" -o @OUT@ "$src" "$I386_LIBC" || return 1
  build_cached "$cache/lib/x86_64-linux-gnu/$PRELOAD_NAME" \
    gcc -m64 "${flags[@]}" -o @OUT@ "$src" || return 1
}

build_selftest() {
  local dir=$1/selftest
  local flags=(-std=c++17 -O2 -Wall -Wextra -Werror -Wshadow -Wformat=2 -static -s)
  build_cached "$dir/kerno-x86-selftest.dll" \
    "$MINGW_CXX" "${flags[@]}" -shared -Wl,--add-stdcall-alias -o @OUT@ "$X86_DIR/selftest_dll_win.cpp" || return 1
  build_cached "$dir/kerno-x86-selftest.exe" \
    "$MINGW_CXX" "${flags[@]}" -o @OUT@ "$X86_DIR/selftest_win.cpp" || return 1
}

# A PID namespace makes the kernel end every process of the run (services,
# stray Wine processes) when the run ends. Some containers forbid mounting
# a fresh /proc; then the run goes without one.
NS_BASE=(unshare --user --map-root-user --mount --propagation private)
NS_PID=(--pid --fork --kill-child --mount-proc)
ns_command() {
  if "${NS_BASE[@]}" "${NS_PID[@]}" true 2>/dev/null; then
    NS=("${NS_BASE[@]}" "${NS_PID[@]}")
  else
    NS=("${NS_BASE[@]}")
  fi
}

# Exit codes of the namespace set-up below, each with its reason.
probe_reason() {
  case $1 in
    10) echo "cannot create a user namespace here (unshare --user failed)" ;;
    11) echo "this kernel ($(uname -r)) neither runs i386 programs itself nor has binfmt_misc per user namespace (Linux 6.7 or later)" ;;
    12) echo "cannot register i386 in the namespace's binfmt_misc" ;;
    13) echo "i386 programs do not start through $QEMU" ;;
    14) echo "KERNO_X86_EMULATION=native, but this kernel does not run i386 programs itself" ;;
    15) echo "$QEMU is missing (package qemu-user-static; run scripts/setup-x86.sh)" ;;
    *) echo "the namespace probe failed (exit code $1)" ;;
  esac
}

# Decides how i386 code runs, inside the namespace; sets X86_EMULATION or
# returns one of the codes above. A private binfmt_misc goes on first, so
# that what runs "natively" is really the kernel's own i386 support and not
# some machine-wide emulator registration.
setup_i386() {
  local want=${KERNO_X86_EMULATION:-auto} private=0
  case "$want" in auto|native|qemu) ;; *) want=auto ;; esac
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null && private=1
  if [ "$want" != qemu ] && "$WINE32" --version >/dev/null 2>&1; then
    X86_EMULATION=native
    return 0
  fi
  [ "$want" = native ] && return 14
  [ -x "$QEMU" ] || return 15
  [ "$private" = 1 ] || return 11
  echo ":$BINFMT_NAME:M::$BINFMT_MAGIC:$BINFMT_MASK:$QEMU:F" \
    >/proc/sys/fs/binfmt_misc/register 2>/dev/null || return 12
  "$WINE32" --version >/dev/null 2>&1 || return 13
  X86_EMULATION=qemu
}

# Debian's Wine keeps the server socket in a directory of its own under
# TMPDIR, named in the prefix's "wineserver" file; nothing removes it when
# the server ends, so each run would leave one behind.
remove_server_dir() {
  local name
  name=$(head -c 64 "$1/wineserver" 2>/dev/null) || return 0
  case "$name" in
    wine-??????) ;;
    *) return 0 ;;
  esac
  case "$name" in *[!A-Za-z0-9-]*) return 0 ;; esac
  rm -rf "${TMPDIR:-/tmp}/$name"
}

# Stage 2: runs as the namespace's first process.
inside() {
  local prefix=$1 log=$2; shift 2
  unset KERNO_X86_STAGE
  local code=0
  setup_i386 || code=$?
  if [ "$prefix" = --probe ]; then
    [ "$code" = 0 ] && echo "$X86_EMULATION"
    exit "$code"
  fi
  if [ "$code" != 0 ]; then
    say "$(probe_reason "$code")"; exit "$EXIT_ROUTE"
  fi

  export WINEPREFIX=$prefix
  export KERNO_WINE=$WINE32
  export KERNO_WINESERVER=$WINESERVER
  export KERNO_WIN32_ROUTE=1
  export KERNO_X86_EMULATION=$X86_EMULATION
  export KERNO_WINE_BOOT_LOG=$log
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES-mscoree,mshtml=}
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
  unset DISPLAY WAYLAND_DISPLAY

  # Boot with the 64-bit loader where the prefix allows it: the helper
  # processes are then native and fast; 32-bit programs still get the
  # 32-bit loader (the 64-bit one hands them over by itself, too).
  local boot=$WINE32
  if [ -x "$WINE64" ] && [ "${WINEARCH:-}" != win32 ] && ! grep -qs '^#arch=win32' "$prefix/system.reg"; then
    boot=$WINE64
  fi
  # Helper processes (services.exe and others) inherit the first program's
  # standard handles and keep them open: they get the log file, never CMD's
  # pipes, and no terminal.
  mkdir -p "$prefix"
  : >"$log"
  if ! "$WINESERVER" -p >>"$log" 2>&1 </dev/null; then
    say "could not start the wineserver for $prefix; see $log"; exit "$EXIT_ROUTE"
  fi
  if ! "$boot" cmd /c exit >>"$log" 2>&1 </dev/null; then
    say "Wine did not start in $prefix; the last lines of $log:"
    tail -n 20 "$log" | sed 's/^/  /' >&2
    "$WINESERVER" -k >>"$log" 2>&1 </dev/null
    exit "$EXIT_ROUTE"
  fi

  local rc=0
  "$@" || rc=$?

  # CMD may have restarted the wineserver: stop whichever one runs now.
  "$WINESERVER" -k >>"$log" 2>&1 </dev/null || true
  "$WINESERVER" -w >>"$log" 2>&1 </dev/null || true
  remove_server_dir "$prefix"
  exit "$rc"
}

if [ "${KERNO_X86_STAGE:-}" = inside ]; then
  inside "$@"
fi

# Stage 1: checks, builds, namespace.
prefix=
mode=run
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix)
      [ $# -ge 2 ] || { say "--prefix needs a directory"; exit 2; }
      prefix=$2; shift 2 ;;
    --prefix=*) prefix=${1#--prefix=}; shift ;;
    --check) mode=check; shift ;;
    --self-test) mode=selftest; shift ;;
    --help|-h) usage; exit 0 ;;
    --) shift; break ;;
    -*) say "unknown option: $1 (see --help)"; exit 2 ;;
    *) break ;;
  esac
done
if [ "$mode" = run ] && [ $# -eq 0 ]; then
  say "no command given (see --help)"; exit 2
fi
if [ -n "$prefix" ] && [ "${prefix#/}" = "$prefix" ]; then
  prefix="$PWD/$prefix"
fi

# Everything the route needs, as a reason when something is missing.
route_missing() {
  local tool
  for tool in unshare gcc sha256sum; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed"; return; }
  done
  [ -x "$WINE32" ] || { echo "$WINE32 is missing (package wine32:i386; run scripts/setup-x86.sh)"; return; }
  [ -x "$WINESERVER" ] || { echo "$WINESERVER is missing (package wine)"; return; }
  [ -f "$I386_LIBC" ] || { echo "$I386_LIBC is missing (package libc6:i386)"; return; }
}

reason=$(route_missing)
if [ -n "$reason" ]; then
  if [ "$mode" = check ]; then say "$reason"; exit "$EXIT_SKIP"; fi
  say "$reason"; exit "$EXIT_ROUTE"
fi

CACHE=$(cache_dir)
if ! build_preload "$CACHE"; then
  if [ "$mode" = check ]; then say "cannot build the preload library (gcc -m32)"; exit "$EXIT_SKIP"; fi
  exit "$EXIT_ROUTE"
fi
# ld.so puts "lib/i386-linux-gnu" or "lib/x86_64-linux-gnu" in place of $LIB.
PRELOAD="$CACHE/\$LIB/$PRELOAD_NAME"

if [ "$mode" = check ]; then
  # The probe runs without the PID namespace: its only job is the answer.
  KERNO_X86_STAGE=inside "${NS_BASE[@]}" "$SELF" --probe /dev/null </dev/null >/dev/null 2>&1
  rc=$?
  [ "$rc" = 0 ] && exit 0
  if ! "${NS_BASE[@]}" true </dev/null >/dev/null 2>&1; then rc=10; fi
  say "$(probe_reason "$rc")"
  exit "$EXIT_SKIP"
fi
ns_command

if [ "$mode" = selftest ]; then
  build_selftest "$CACHE" || exit "$EXIT_ROUTE"
  # Runs the program twice (right after the boot, then again) and reports
  # both times.
  # shellcheck disable=SC2016 # expanded by the inner shell
  set -- bash -c '
    usec() { local t=${1/[.,]/}; echo $((10#$t)); }
    secs() { printf "%d.%02d" $(($1 / 1000000)) $(($1 % 1000000 / 10000)); }
    t0=$(usec "$EPOCHREALTIME"); "$KERNO_WINE" "$1" || exit $?
    t1=$(usec "$EPOCHREALTIME"); "$KERNO_WINE" "$1" >/dev/null || exit $?
    t2=$(usec "$EPOCHREALTIME")
    echo "32-bit process: first $(secs $((t1 - t0))) s, warm $(secs $((t2 - t1))) s"
  ' selftest "$CACHE/selftest/kerno-x86-selftest.exe"
  export KERNO_X86_PROBE=$SELFTEST_PROBE
fi

created=
if [ -z "$prefix" ]; then
  created=$(mktemp -d "${TMPDIR:-/tmp}/kerno-wine32.XXXXXX") || { say "mktemp failed"; exit "$EXIT_ROUTE"; }
  prefix=$created/prefix
  log=$created/boot.log
else
  mkdir -p "$prefix" || exit "$EXIT_ROUTE"
  log=$prefix/with-win32.log
fi

cleanup() {
  # A temporary prefix is over a gigabyte: never leave one behind.
  if [ -n "$created" ]; then rm -rf "$created"; fi
}
child=
# shellcheck disable=SC2317 # reached through the traps
on_signal() {
  [ -n "$child" ] && kill -TERM "$child" 2>/dev/null && wait "$child" 2>/dev/null
  cleanup
  exit "$1"
}
trap 'on_signal 130' INT
trap 'on_signal 143' TERM
trap 'on_signal 129' HUP

# In the background so that a signal reaches the trap at once; stdin is
# handed over explicitly (a background job would otherwise get /dev/null).
exec 3<&0
KERNO_X86_STAGE=inside LD_PRELOAD="$PRELOAD${LD_PRELOAD:+ $LD_PRELOAD}" \
  "${NS[@]}" "$SELF" "$prefix" "$log" "$@" 0<&3 3<&- &
child=$!
exec 3<&-
wait "$child"
rc=$?
child=
cleanup
exit "$rc"
