"""Helpers for the end-to-end tests: pack a service description with the
packer, run the configured executable under Wine as a person would, and read
back what it printed, showed or wrote."""

import json
import os
import re
import shlex
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

PACKER = os.environ.get("KERNO_PACKER", "")
# The Windows packer of the x64 tree, run under Wine.
PACKER_EXE = os.environ.get("KERNO_PACKER_EXE", "")
TEMPLATE = os.environ.get("KERNO_TEMPLATE", "")
ARCH = os.environ.get("KERNO_ARCH", "x64")
PREFIX = os.environ.get("KERNO_WINEPREFIX", "")
# How to start a Windows program: the Wine wrapper with this run's prefix.
WINE = shlex.split(os.environ.get("KERNO_WINE_CMD", "")) or [
    os.environ.get("KERNO_WINE_RUN", "wine"), "--prefix", PREFIX]
WORK_ROOT = Path(os.environ.get("KERNO_E2E_WORK", tempfile.gettempdir()))
# Console output of the launcher is in the ANSI code page.
ENCODING = "cp1252"

# On the x86 route through qemu-user, a stop of a 32-bit service now and
# then fails: qemu 7.2 hands the process a SIGSEGV without a trap number,
# which Wine takes for an illegal instruction in the dispatcher thread's
# pipe read, so the control goes unanswered; qemu 10 (tried from Debian's
# backports) failed fewer stops, but still some. Reproduced with the plain
# stand-in service, outside these tests (docs/x86-route.md).
# Tests that send a control to a running service run on x64, and on x86
# where the kernel runs i386 code itself.
EMULATED_X86 = ARCH == "x86" and os.environ.get("KERNO_X86_EMULATION") == "qemu"
sends_a_control = unittest.skipIf(
    EMULATED_X86, "a 32-bit service under qemu-user now and then leaves a control unanswered "
    "(docs/x86-route.md); runs on x64 and on native i386")

MAGIC = 0xE8E413D5
# Bound on waiting for a state a test set going (a service's state, a
# process's end). Generous: on a busy machine one Wine command takes seconds
# and a service start tens of them. Reaching it means the test has failed.
WAIT_SECONDS = 300

STOPPED, STOP_PENDING, RUNNING = 1, 3, 4
# The Win32 exit code of a service that was never started.
ERROR_SERVICE_NEVER_STARTED = 1077
SERVICES_KEY = "HKLM\\System\\CurrentControlSet\\Services\\"
EVENT_SOURCES_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"


def _sticky_directories_above_work():
    """The Windows names (lower case) of the directories above the work root
    that everyone may write but, by the sticky bit, nobody may empty of
    others' entries (/tmp). Wine shows them as letting everyone delete
    entries, so /install warns about them: a fact of where the tests run,
    not of the test."""
    found = set()
    for d in WORK_ROOT.resolve().parents:
        try:
            mode = d.stat().st_mode
        except OSError:
            continue
        if mode & 0o1002 == 0o1002:
            found.add(("z:" + str(d).replace("/", "\\")).lower())
    return found


_ABOVE_WARNING = re.compile(r"^Warning: users other than administrators and SYSTEM can replace what (.+?) holds \(")


def _warning_about_the_machine(line):
    m = _ABOVE_WARNING.match(line)
    return bool(m) and m.group(1).lower() in _STICKY_ABOVE_WORK


_STICKY_ABOVE_WORK = _sticky_directories_above_work()


class Result:
    def __init__(self, proc):
        self.rc = proc.returncode
        out = proc.stdout.decode(ENCODING, "replace").replace("\r\n", "\n")
        self.out = "".join(l for l in out.splitlines(True) if not _warning_about_the_machine(l))
        self.err_raw = proc.stderr.decode(ENCODING, "replace").replace("\r\n", "\n")
        # Wine's own diagnostics are no part of what the program printed.
        self.err = "".join(l for l in self.err_raw.splitlines(True)
                           if not re.match(r"^[0-9a-f]{4}:(Call|Ret|err|fixme|warn|trace|Starting )", l)
                           and not l.startswith("wine: ") and not _warning_about_the_machine(l))

    def __repr__(self):
        return f"rc={self.rc} out={self.out!r} err={self.err_raw[-2000:]!r}"


class LauncherTest(unittest.TestCase):
    """A test case with its own work directory, removed when it passes."""

    def setUp(self):
        if not (PACKER and TEMPLATE and PREFIX):
            self.skipTest("KERNO_PACKER, KERNO_TEMPLATE and KERNO_WINEPREFIX must be set")
        WORK_ROOT.mkdir(parents=True, exist_ok=True)
        self.dir = Path(tempfile.mkdtemp(prefix=self.id().split(".")[-1][:40] + "-",
                                         dir=WORK_ROOT))

    def tearDown(self):
        outcome = getattr(self, "_outcome", None)
        ok = outcome is None or getattr(outcome, "success", True)
        if ok:
            shutil.rmtree(self.dir, ignore_errors=True)

    # -- packing ---------------------------------------------------------
    def pack(self, description, name="svc.exe", subdir=""):
        # Wine refuses the failure-actions flag (error 124), so the packer's
        # default recovery would add a refusal line to every install: the
        # tests' services have none unless a test asks for it.
        description = {"recovery": None, **description}
        target = self.dir / subdir
        target.mkdir(parents=True, exist_ok=True)
        described = self.dir / (name + ".json")
        described.write_text(json.dumps(description, indent=1), encoding="utf-8")
        exe = target / name
        proc = subprocess.run([PACKER, "build", str(described), "--launcher", TEMPLATE, "-o", str(exe)],
                              capture_output=True, timeout=60)
        self.assertEqual(proc.returncode, 0, proc.stderr.decode(errors="replace"))
        return exe

    # -- running ---------------------------------------------------------
    def run_exe(self, exe, *args, env=None, relay=False, timeout=120, cwd=None, input=None):
        """Runs a program under Wine; `input` (bytes) is its standard input,
        none without it."""
        environment = dict(os.environ)
        for k in ("KERNO_LOG", "BRINDLE_LOG"):
            environment.pop(k, None)
        environment.update(env or {})
        if relay:
            environment["WINEDEBUG"] = "-all,+relay"
        proc = subprocess.run(WINE + [str(exe), *args], capture_output=True, env=environment,
                              timeout=timeout, cwd=cwd or self.dir, input=input,
                              stdin=None if input is not None else subprocess.DEVNULL)
        return Result(proc)

    # -- the service control manager and the registry, through Wine's tools --
    def sc_status(self, name):
        """(state, Win32 exit code) of a service as `sc query` shows them."""
        r = self.run_exe("sc", "query", name, cwd=WORK_ROOT)
        return service_status(r.rc, r.out)

    def wait_status(self, name, wanted, processes=None):
        """Polls until the service's (state, exit code), None when it does not
        exist, satisfies `wanted`; fails naming the processes whose command
        line holds `processes` (default: the service's name)."""
        def reached():
            status = self.sc_status(name)
            return [status] if wanted(status) else None
        return wait_until(reached, f"the state of service {name}", processes=processes or name)[0]

    def registration(self, name):
        """The values of the service's registry key as `reg query` shows them:
        {value name: (type, data)}; None when there is no such key."""
        r = self.run_exe("reg", "query", SERVICES_KEY + name, cwd=WORK_ROOT)
        if r.rc != 0:
            return None
        values = {}
        for line in r.out.splitlines():
            m = re.match(r"^ {4}(.+?) {4}(REG_[A-Z_]+)(?: {4}(.*))?$", line)
            if m:
                values[m.group(1)] = (m.group(2), m.group(3) or "")
        return values


def service_status(rc, out):
    """(state, Win32 exit code) from what `sc query` printed; None when the
    service does not exist."""
    state = re.search(r"STATE\s*:\s*(\d+)", out)
    code = re.search(r"WIN32_EXIT_CODE\s*:\s*(\d+)", out)
    if rc != 0 or not state:
        return None
    return int(state.group(1)), int(code.group(1)) if code else None


def wait_until(predicate, what, timeout=WAIT_SECONDS, interval=0.2, processes=None):
    """Polls `predicate` until it gives something true; fails with `what`
    (and the processes whose command line holds `processes`, if given)."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            shown = f"; its processes:\n{processes_with(processes)}" if processes else ""
            raise AssertionError(f"timed out waiting for {what}{shown}")
        time.sleep(interval)


def processes_with(text):
    """The processes whose command line holds `text`, with the state of each
    of their threads (from /proc): what a failed wait for a service shows,
    so that a stuck process can be told from one that is gone."""
    lines = []
    for proc in Path("/proc").glob("[0-9]*"):
        try:
            command = (proc / "cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace")
            if text not in command or int(proc.name) == os.getpid():
                continue
            threads = []
            for task in sorted((proc / "task").iterdir()):
                stat = (task / "stat").read_text()
                wchan = (task / "wchan").read_text() if (task / "wchan").exists() else "?"
                threads.append(f"{task.name}:{stat[stat.rindex(')') + 2]}:{wchan or '-'}")
        except OSError:  # gone meanwhile
            continue
        lines.append(f"pid {proc.name} [{' '.join(threads)}] {command[:300]}")
    return "\n".join(lines) or f"no process with {text!r} in its command line"


def windows_path(path):
    """A Linux path as the launcher sees it through Wine's Z: drive."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def message_boxes(result):
    """(text, caption, style) of every MessageBoxA call in a relay trace."""
    boxes = []
    for line in result.err_raw.splitlines():
        m = re.search(r'Call user32\.MessageBoxA\(([0-9a-f]+),[0-9a-f]+ (".*?"|L?""|),'
                      r'[0-9a-f]+ (".*?"|),([0-9a-f]+)\)', line)
        if m:
            boxes.append((unescape(m.group(2)), unescape(m.group(3)), int(m.group(4), 16)))
    return boxes


def unescape(quoted):
    """Undoes Wine's escaping of a traced string."""
    if not quoted:
        return ""
    body = quoted[1:-1]
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c == "\\" and i + 1 < len(body):
            n = body[i + 1]
            if n in "nrt\\\"":
                out.append({"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}[n])
                i += 2
                continue
            if n == "x":
                out.append(chr(int(body[i + 2:i + 4], 16)))
                i += 4
                continue
        out.append(c)
        i += 1
    return "".join(out)


def block_offset(data):
    """File offset of the configuration block: the end of the last section."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional = struct.unpack_from("<H", data, pe + 20)[0]
    last = pe + 24 + optional + (sections - 1) * 40
    size, pointer = struct.unpack_from("<II", data, last + 16)
    return size + pointer


def windows_to_unix(path):
    """Maps a path the launcher printed to the file under the Wine prefix."""
    drive, rest = path[0].lower(), path[3:] if len(path) > 3 else ""
    base = Path("/") if drive == "z" else Path(PREFIX) / ("drive_" + drive)
    current = base
    for part in [p for p in rest.split("\\") if p]:
        match = None
        if current.is_dir():
            for entry in os.listdir(current):
                if entry.lower() == part.lower():
                    match = entry
                    break
        current = current / (match or part)
    return current
