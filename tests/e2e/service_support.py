"""Helpers for end-to-end tests that start the launcher as a real service.

A service gets its environment from the machine environment in the registry
as it stood when the wineserver started, and its standard handles go
nowhere. A module that needs the launcher's log in a service run therefore
boots a Wine prefix of its own (`PrivateSession`): the machine environment is
set, the wineserver restarted, and Wine's helpers (services.exe and the
services it starts) write a relay trace of the calls named in
`relay_include` to a file, where the tests read the message boxes.

Every prefix booted here gets Wine's service manager ready for a busy
machine (`SERVICE_MANAGER_SETTINGS`, read when the server starts;
`start_wineserver`, `stop_wineserver`); docs/testing.md (Wine) says why.

Also here: reading the diagnostic log of a service run, and the record the
stand-in jvm.dll writes (`read_calls`; the format is in docs/testing.md)."""

import json
import os
import re
import shlex
import shutil
import struct
import subprocess
from pathlib import Path

import harness
# The service states, keys and the wait, shared with the tier's other files.
from harness import (EVENT_SOURCES_KEY, RUNNING, SERVICES_KEY, STOP_PENDING, STOPPED,  # noqa: F401
                     wait_until)

ARCH = os.environ.get("KERNO_ARCH", "x64")
TEMPLATE = os.environ.get("KERNO_TEMPLATE", "")
STANDINS = Path(os.environ.get("KERNO_STANDINS") or
                (Path(TEMPLATE).parent / "tests" / "standins" if TEMPLATE else ""))
# The 32-bit route (tests/e2e/run-x86.sh) names its loader; wine64 boots the
# prefix either way and hands 32-bit programs over.
WINE_LOADER = shlex.split(os.environ.get("KERNO_WINE_CMD", "")) or [
    os.environ.get("KERNO_WINE", "/usr/lib/wine/wine64")]
WINE64 = "/usr/lib/wine/wine64"
WINESERVER = os.environ.get("KERNO_WINESERVER", "/usr/lib/wine/wineserver")
MACHINE_ENV = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"

# How long Wine's service manager waits for a starting service to connect
# and report, in milliseconds. Wine's default, 10 s, is too short on a busy
# machine: a launcher that has not connected by then is killed before it has
# done anything (its start fails with 1053 and it leaves no log). Also the
# value cmake/wine-run.sh gives the shared prefix.
SERVICE_START_TIMEOUT_MS = 90000
# Registry values (key, name, type, data) a prefix needs before its server
# starts; services.exe reads them at its start.
SERVICE_MANAGER_SETTINGS = [
    (r"HKLM\System\CurrentControlSet\Control", "ServicesPipeTimeout", "REG_SZ",
     str(SERVICE_START_TIMEOUT_MS)),
]
# Bound on waiting for a stopped wineserver to go.
STOP_SECONDS = 120


def start_wineserver(env, debug, trace):
    """Starts the wineserver of the prefix in `env`, persistent (it never
    ends the service manager when no program runs), and a first program
    whose helpers (services.exe and the services it starts) inherit `debug`
    and write their traces to the file `trace`."""
    subprocess.run([WINESERVER, "-p"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    with open(trace, "ab") as out:
        subprocess.run([WINE64, "cmd", "/c", "exit"], env=dict(env, WINEDEBUG=debug),
                       stdin=subprocess.DEVNULL, stdout=out, stderr=out, timeout=300)


def stop_wineserver(env):
    """Ends every Wine process of the prefix in `env` and its server, and
    waits (bounded) until the server is gone."""
    for flag in ("-k", "-w"):
        subprocess.run([WINESERVER, flag], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=STOP_SECONDS)


class PrivateSession:
    """A Wine prefix and wineserver of one test module."""

    def __init__(self, name, machine_env, relay_include="user32.MessageBoxA", channels=""):
        self.own = harness.WORK_ROOT / f"{name}-{ARCH}"
        self.prefix = self.own / "wineprefix"
        self.trace = self.own / "services-trace.log"
        self.machine_env = dict(machine_env)
        self.relay_include = relay_include
        # Further debug channels of the services' trace, e.g. ",+eventlog".
        self.channels = channels
        self._saved = {}

    def env(self, **extra):
        env = dict(os.environ, WINEPREFIX=str(self.prefix))
        env.setdefault("WINEDEBUG", "-all")
        env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        env.pop("DISPLAY", None)
        env.update(extra)
        return env

    def wine(self, *args, check=True, timeout=120):
        """Runs a Windows program of the prefix (sc, reg, ...): (rc, stdout)."""
        proc = subprocess.run(WINE_LOADER + [str(a) for a in args], capture_output=True,
                              env=self.env(), stdin=subprocess.DEVNULL, timeout=timeout)
        out = proc.stdout.decode(harness.ENCODING, "replace").replace("\r\n", "\n")
        if check and proc.returncode != 0:
            raise AssertionError(f"wine {args}: rc={proc.returncode} {out} "
                                 f"{proc.stderr.decode(errors='replace')[-500:]}")
        return proc.returncode, out

    def reg(self, *args, check=True):
        return self.wine("reg", *args, check=check)

    def _start(self, debug):
        # Helpers started now inherit the first program's output and debug
        # channels: the relay trace of every service lands in the trace file.
        start_wineserver(self.env(), debug, self.trace)

    def _stop(self):
        stop_wineserver(self.env())

    def open(self):
        """Boots the prefix with the machine environment and points the
        harness's own runs (run_exe) at it."""
        self._saved["WINEPREFIX"] = os.environ.get("WINEPREFIX")
        self._saved["harness"] = (harness.WINE, harness.PREFIX)
        os.environ["WINEPREFIX"] = str(self.prefix)
        harness.WINE = list(WINE_LOADER)
        harness.PREFIX = str(self.prefix)

        self._stop()
        shutil.rmtree(self.own, ignore_errors=True)
        self.prefix.mkdir(parents=True)
        self._start("-all")
        self.reg("add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/d",
                 self.relay_include, "/f")
        for key, name, kind, data in SERVICE_MANAGER_SETTINGS:
            self.reg("add", key, "/v", name, "/t", kind, "/d", data, "/f")
        for name, value in self.machine_env.items():
            self.reg("add", MACHINE_ENV, "/v", name, "/d", value, "/f")
        self._stop()
        self._start("-all,+relay" + self.channels)

    def close(self):
        self._stop()
        if os.environ.get("KERNO_E2E_KEEP") != "1":
            shutil.rmtree(self.own, ignore_errors=True)
        value = self._saved.get("WINEPREFIX")
        if value is None:
            os.environ.pop("WINEPREFIX", None)
        else:
            os.environ["WINEPREFIX"] = value
        if "harness" in self._saved:
            harness.WINE, harness.PREFIX = self._saved["harness"]

    # -- what the services left -----------------------------------------------
    def trace_size(self):
        return self.trace.stat().st_size if self.trace.exists() else 0

    def trace_since(self, offset):
        with open(self.trace, "rb") as f:
            f.seek(offset)
            return f.read().decode(harness.ENCODING, "replace")

    def log_dirs(self):
        drive = self.prefix / "drive_c"
        return [drive] + list((drive / "users").glob("*/Temp"))

    def clear_logs(self):
        for d in self.log_dirs():
            for old in d.glob("brd_nlog_*"):
                old.unlink()

    def log_files(self):
        return [p for d in self.log_dirs() for p in d.glob("brd_nlog_*")]

    # -- the service control manager -------------------------------------------
    def status(self, name):
        """(state, Win32 exit code) as `sc query` shows them; None when the
        service does not exist."""
        return harness.service_status(*self.wine("sc", "query", name, check=False))


def fake_runtime(home, *settings, javaw=False, jvm=None, banner="1.8.0_392"):
    """A fake runtime home at `home` made of the stand-ins: bin\\java.exe
    (and javaw.exe) saying `banner`, bin\\server\\jvm.dll (`jvm`, default
    the recording JNI double) whose jvm-standin.cfg holds the lines
    `settings`. Returns the directory of the VM library."""
    bindir = Path(home) / "bin"
    (bindir / "server").mkdir(parents=True)
    for name in ("java.exe", "javaw.exe") if javaw else ("java.exe",):
        shutil.copy(STANDINS / "java.exe", bindir / name)
    (bindir / "java-standin.cfg").write_text(f'banner=java version "{banner}"\n')
    shutil.copy(jvm or STANDINS / "jvm.dll", bindir / "server" / "jvm.dll")
    (bindir / "server" / "jvm-standin.cfg").write_text("".join(s + "\n" for s in settings))
    return bindir / "server"


def read_log(path):
    """The lines of a diagnostic log (ANSI code page)."""
    return Path(path).read_bytes().decode(harness.ENCODING, "replace").replace(
        "\r\n", "\n").split("\n")


def shown_messages(trace):
    """The texts of the message boxes in a relay trace, without the log
    file's path that the launcher appends while its log is on; and whether
    every one named the log."""
    shown = [text for text, _, _ in harness.message_boxes(type("T", (), {"err_raw": trace}))]
    return [text.split("\n\nLog: ")[0] for text in shown], all("\n\nLog: " in t for t in shown)


_EVENT_CALL = re.compile(r"Call advapi32\.ReportEventW\([0-9a-f]+,([0-9a-f]+),[0-9a-f]+,([0-9a-f]+),")
_EVENT_TEXT = re.compile(r"(err|trace):eventlog:ReportEventW (L\".*\")$")
EVENT_TYPES = {1: "error", 2: "warning", 4: "information"}


def event_sources(trace):
    """The source names of every RegisterEventSourceW call in a relay trace."""
    return re.findall(r'Call advapi32\.RegisterEventSourceW\([0-9a-f]+,[0-9a-f]+ L"(.*?)"\)',
                      trace)


_STATUS = re.compile(r"trace:service:SetServiceStatus \S+ (\S+) (\S+) (\S+) (\S+) (\S+) (\S+) (\S+)$")


def reported_statuses(trace):
    """(state, Win32 exit code, checkpoint) of every SetServiceStatus call in
    a trace with the service channel on, in order: what a service reported,
    however briefly it held a state."""
    found = []
    for line in trace.splitlines():
        m = _STATUS.search(line)
        if m:
            _, state, _, code, _, checkpoint, _ = (int(v, 16) for v in m.groups())
            found.append((state, code, checkpoint))
    return found


def events(trace):
    """(type, event ID, text) of every ReportEventW call in a relay trace
    with the eventlog channel on (Wine keeps no event log: it prints the
    insertion string, cut with "..." when it is long)."""
    found = []
    for line in trace.splitlines():
        call = _EVENT_CALL.search(line)
        if call:
            found.append([EVENT_TYPES.get(int(call.group(1), 16)), int(call.group(2), 16), None])
            continue
        text = _EVENT_TEXT.search(line)
        if text and found and found[-1][2] is None:
            found[-1][2] = harness.unescape(text.group(2)[1:])
    return [tuple(e) for e in found]


def pe_directory(path, index):
    """A PE file's bytes, the address of its data directory `index` (0 the
    exports, 2 the resources; 0 when it has none) and a function from an
    address to a file offset."""
    data = Path(path).read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rva = struct.unpack_from("<I", data, directories + index * 8)[0]
    table = optional + optional_size

    def offset(address_wanted):
        for i in range(sections):
            virtual_size, address, raw_size, raw = struct.unpack_from("<IIII", data,
                                                                      table + i * 40 + 8)
            if address <= address_wanted < address + max(virtual_size, raw_size):
                return raw + address_wanted - address
        raise ValueError(f"RVA {address_wanted:#x} outside every section")

    return data, rva, offset


def message_table(exe):
    """The texts of a PE file's message table (resource type 11, ID 1), by
    message ID."""
    data, resource_rva, offset = pe_directory(exe, 2)

    if resource_rva == 0:
        return {}
    root = offset(resource_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
            yield name, target

    def child(directory, wanted):
        for name, target in entries(directory):
            if name == wanted and target & 0x80000000:
                return root + (target & 0x7FFFFFFF)
        return None

    types = child(root, 11)
    table_dir = child(types, 1) if types is not None else None
    if table_dir is None:
        return {}
    _, language = next(entries(table_dir))
    data_rva, _ = struct.unpack_from("<II", data, root + language)
    start = offset(data_rva)
    texts = {}
    for b in range(struct.unpack_from("<I", data, start)[0]):
        low, high, entry = struct.unpack_from("<III", data, start + 4 + 12 * b)
        at = start + entry
        for message_id in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, at)
            raw = data[at + 4:at + length]
            texts[message_id] = (raw.decode("utf-16-le") if flags & 1 else
                                 raw.decode("cp1252")).rstrip("\0")
            at += length
    return texts


_TOKEN = re.compile(r'"(?:[^"\\]|\\.)*"|\S+')


def parse_call(line):
    """One line of jvm-standin.calls as a list of tokens: quoted texts
    decoded (JSON escapes), everything else as written."""
    return [json.loads(t) if t.startswith('"') else t for t in _TOKEN.findall(line)]


def read_calls(directory):
    """Every line the stand-in jvm.dll in `directory` recorded, parsed."""
    f = Path(directory) / "jvm-standin.calls"
    if not f.exists():
        return []
    return [parse_call(l) for l in f.read_text(encoding="utf-8").splitlines() if l]
