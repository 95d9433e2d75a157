"""The Java runtime search, end to end: configured executables started as
real services with the diagnostic log on, against fake runtime homes made of
the stand-ins of tests/standins (java.exe, jvm.dll, unpack200.exe).

A service gets its environment from the machine environment in the registry
as it stood when the wineserver started, and its standard handles go
nowhere. So this module runs in a Wine prefix of its own, booted once:
KERNO_LOG=yes and the variables the E entries and the product-home tests
need are set in the machine environment, and the wineserver is restarted
with a relay trace of MessageBoxA and fputs going to a file, where the tests
read the messages and the notice on standard output of each service run.
Services are created interactive, so that a message box returns at once.
Nothing of the shared prefix is touched, so other test files may run at the
same time. See docs/java-search.md."""

import itertools
import os
import re
import shutil
import subprocess
import time
import unittest
from pathlib import Path

import harness
from harness import LauncherTest, message_boxes

from service_support import (ARCH, MACHINE_ENV, SERVICE_MANAGER_SETTINGS, STANDINS, TEMPLATE,
                             WINE_LOADER, start_wineserver, stop_wineserver)

OWN = harness.WORK_ROOT / f"java-search-{ARCH}"
PREFIX = OWN / "wineprefix"
TRACE = OWN / "services-trace.log"
ENV_HOMES = OWN / "env"
SERVICE_TIMEOUT = harness.WAIT_SECONDS

BASE = {
    "executableType": 5,  # message boxes: each one shows in the relay trace
    "launcherFlavour": "x",
    "MSG_ERROR_CAPTION": "Kerno",
    "MSG_NO_JVM": "no jvm",
    "MSG_PATH_JVM_DAMAGED": "path damaged",
    "MSG_ENV_VAR_JVM_INVALID": "env invalid: %ENV_VAR_NAME%",
    "MSG_DEFINED_JVM_DAMAGED": "defined damaged: %DEFINED_PATH%",
    "MSG_JVM_START_FAILED": "start failed",
}
INTERNAL_20 = "An internal error occurred (error code: 20)"

_saved_environ = {}
_service_numbers = itertools.count(1)


def winpath(path):
    """A Linux path as the launcher sees it through Wine's Z: drive."""
    return "Z:" + str(path).replace("/", "\\")


def wine_env(**extra):
    env = dict(os.environ, WINEPREFIX=str(PREFIX))
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    env.pop("DISPLAY", None)
    env.update(extra)
    return env


def wine(*args, check=True, timeout=120):
    proc = subprocess.run(WINE_LOADER + [str(a) for a in args], capture_output=True,
                          env=wine_env(), stdin=subprocess.DEVNULL, timeout=timeout)
    out = proc.stdout.decode("cp1252", "replace").replace("\r\n", "\n")
    if check and proc.returncode != 0:
        raise AssertionError(f"wine {args}: rc={proc.returncode} {out} "
                             f"{proc.stderr.decode(errors='replace')[-500:]}")
    return proc.returncode, out


def reg(*args, check=True):
    return wine("reg", *args, check=check)


def start_session(debug):
    """Starts this prefix's wineserver and a first program whose helpers
    (services.exe and the services it starts) inherit `debug` and write
    their traces to TRACE."""
    start_wineserver(wine_env(), debug, TRACE)


def stop_session():
    stop_wineserver(wine_env())


def setUpModule():
    if not (harness.PACKER and TEMPLATE and harness.PREFIX and (STANDINS / "java.exe").exists()):
        raise unittest.SkipTest("needs the packer, the template, a Wine prefix and the stand-ins")
    for key in ("WINEPREFIX",):
        _saved_environ[key] = os.environ.get(key)
    # The harness's own runs (run_exe) go to this module's prefix as well.
    os.environ["WINEPREFIX"] = str(PREFIX)
    harness.WINE = list(WINE_LOADER)
    harness.PREFIX = str(PREFIX)

    stop_session()
    shutil.rmtree(OWN, ignore_errors=True)
    PREFIX.mkdir(parents=True)  # the wineserver starts in it
    start_session("-all")
    reg("add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/d",
        "user32.MessageBoxA;msvcrt.fputs", "/f")
    for key, name, kind, data in SERVICE_MANAGER_SETTINGS:
        reg("add", key, "/v", name, "/t", kind, "/d", data, "/f")
    machine = {
        "KERNO_LOG": "yes",
        "KERNO_E2E_JAVA": winpath(ENV_HOMES / "ejava"),
        "KERNO_E2E_SLASHED": winpath(ENV_HOMES / "slashed").replace("\\", "/"),
        "KERNO_JAVA_HOME": winpath(ENV_HOMES / "kerno"),
        "BRINDLE_JAVA_HOME": winpath(ENV_HOMES / "brindle"),
    }
    for name, value in machine.items():
        reg("add", MACHINE_ENV, "/v", name, "/d", value, "/f")
    stop_session()
    start_session("-all,+relay")


def tearDownModule():
    stop_session()
    if os.environ.get("KERNO_E2E_KEEP") != "1":
        shutil.rmtree(OWN, ignore_errors=True)
    for key, value in _saved_environ.items():
        if value is None:
            os.environ.pop(key, None)
        else:
            os.environ[key] = value


def process_alive(marker):
    """Whether a process runs whose command line names `marker` (a test's
    own directory)."""
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit() or entry.name == str(os.getpid()):
            continue
        try:
            if marker in (entry / "cmdline").read_bytes().decode("utf-8", "replace"):
                return True
        except OSError:
            continue
    return False


class ServiceRun:
    """What one service start left behind."""

    def __init__(self, exit_code, log, trace):
        self.exit_code = exit_code
        self.log = log
        self.trace = trace
        # The log is on, so every message ends with the log file's path.
        shown = [text for text, _, _ in message_boxes(type("T", (), {"err_raw": trace}))]
        self.boxes = [text.split("\n\nLog: ")[0] for text in shown]
        self.boxes_name_the_log = all("\n\nLog: " in text for text in shown)
        # (text, stream) of every fputs; the log's header is the first one
        # into the log's stream, so the others there are log lines too.
        writes = re.findall(r'Call msvcrt\.fputs\([0-9a-f]+ "((?:[^"\\]|\\.)*)",([0-9a-f]+)\)',
                            trace)
        log_streams = {stream for text, stream in writes if text.startswith("Started executable ")}
        self.stdout_writes = [text for text, stream in writes if stream not in log_streams]

    def __repr__(self):
        return f"exit={self.exit_code} boxes={self.boxes}\n" + "\n".join(self.log)


class JavaSearchTest(LauncherTest):
    def setUp(self):
        super().setUp()
        shutil.rmtree(ENV_HOMES, ignore_errors=True)
        ENV_HOMES.mkdir(parents=True)
        self.registry_keys = []

    def tearDown(self):
        for key in self.registry_keys:
            reg("delete", key, "/f", check=False)
        shutil.rmtree(ENV_HOMES, ignore_errors=True)
        super().tearDown()

    # -- fake runtime homes ------------------------------------------------
    def runtime(self, home, version="1.8.0_392", where="bin", vm="server", library="jvm.dll",
                banner=None, exit_code=None, javaw=False, tools=False):
        """Lays out a runtime home: where="bin" puts java.exe in home\\bin,
        where="jre" in home\\jre\\bin; the library goes into <bin>\\<vm>.
        Returns the bin directory."""
        home = Path(home)
        bindir = home / ("jre/bin" if where == "jre" else "bin")
        bindir.mkdir(parents=True, exist_ok=True)
        shutil.copy(STANDINS / "java.exe", bindir / "java.exe")
        if javaw:
            shutil.copy(STANDINS / "java.exe", bindir / "javaw.exe")
        lines = ["banner=" + (banner if banner is not None else f'java version "{version}"')]
        if exit_code is not None:
            lines.append(f"exit={exit_code}")
        (bindir / "java-standin.cfg").write_text("\n".join(lines) + "\n")
        if vm:
            (bindir / vm).mkdir(exist_ok=True)
            shutil.copy(STANDINS / library, bindir / vm / "jvm.dll")
        if tools:
            (home / "lib").mkdir(parents=True, exist_ok=True)
            (home / "lib" / "tools.jar").write_bytes(b"")
        return bindir

    @staticmethod
    def runs(bindir):
        f = Path(bindir) / "java-standin.runs"
        return len(f.read_text().splitlines()) if f.exists() else 0

    @staticmethod
    def loaded(bindir, vm="server"):
        f = Path(bindir) / vm / "jvm-standin.loads"
        return f.exists() and "loaded " in f.read_text()

    # -- service runs --------------------------------------------------------
    def service(self, **description):
        self.name = f"KernoJvm{next(_service_numbers)}"
        return self.pack(dict(BASE, serviceName=self.name, **description))

    def start(self, exe):
        name = self.name
        wine("sc", "create", name, "binPath=", winpath(exe), "type=", "own", "type=", "interact")
        log_dirs = [PREFIX / "drive_c"] + list((PREFIX / "drive_c" / "users").glob("*/Temp"))
        for d in log_dirs:
            for old in d.glob("brd_nlog_*"):
                old.unlink()
        offset = TRACE.stat().st_size
        try:
            started = wine("sc", "start", name, check=False)
            ended_by = "stopped"
            deadline = time.monotonic() + SERVICE_TIMEOUT
            gone = 0
            while True:
                _, out = wine("sc", "query", name, check=False)
                state = re.search(r"STATE\s+:\s+(\d+)", out)
                if state and state.group(1) == "1":
                    code = re.search(r"WIN32_EXIT_CODE\s+:\s+(\d+)", out)
                    exit_code = int(code.group(1)) if code else None
                    break
                # A process that ended without reporting would go on being
                # called running by Wine's service manager.
                gone = gone + 1 if not process_alive(self.dir.name) else 0
                if gone >= 3:
                    exit_code = None
                    ended_by = "its process was not seen three times in a row"
                    break
                self.assertLess(time.monotonic(), deadline, f"{name} did not stop: {out}")
                time.sleep(0.2)
        finally:
            wine("sc", "delete", name, check=False)
        with open(TRACE, "rb") as f:
            f.seek(offset)
            trace = f.read().decode("cp1252", "replace")
        logs = [p for d in log_dirs for p in d.glob("brd_nlog_*")]
        # What the start looked like, so that a run without a log says why.
        self.assertEqual(len(logs), 1, f"log files: {logs}; sc start: {started}; "
                                       f"ended: {ended_by}; last sc query: {out}")
        log = logs[0].read_bytes().decode("cp1252").replace("\r\n", "\n").split("\n")
        return ServiceRun(exit_code, log, trace)

    def assertLoaded(self, run, tail):
        """The search ended with the library of the executable ending in `tail`."""
        self.assertEqual(run.exit_code, 0, run)
        self.assertEqual(run.boxes, [], run)
        self.assertIn("Loading of JVM-DLL successful", run.log, run)
        tried = [l for l in run.log if l.startswith("Trying to load JVM-DLL from ")]
        self.assertEqual(len(tried), 1, run)
        self.assertTrue(tried[0].lower().endswith(tail.lower()), (tried, tail))

    def assertFailed(self, run, message):
        self.assertEqual(run.exit_code, 1, run)
        self.assertEqual(run.boxes, [message], run)
        self.assertTrue(run.boxes_name_the_log, run)

    def assertInOrder(self, run, *lines):
        """The lines (regular expressions) appear in the log in this order."""
        position = 0
        for pattern in lines:
            for i in range(position, len(run.log)):
                if re.fullmatch(pattern, run.log[i]):
                    position = i + 1
                    break
            else:
                self.fail(f"{pattern!r} not found after line {position}: {run}")


class SearchSequence(JavaSearchTest):
    def test_b_entry_relative_to_the_executable(self):
        exe = self.service(jreSearchSequence="B.\\jre")
        bindir = self.runtime(self.dir / "jre")
        run = self.start(exe)
        self.assertLoaded(run, r"\jre\bin\java.exe")
        self.assertTrue(self.loaded(bindir))
        self.assertInOrder(run, r"LoadDLL \(1, \(null\), 0\)", "Searching for a JVM",
                           r"Testing location \.\\jre \(type B\)",
                           r"checkJavaExe \(.*\\jre\\bin\\java\.exe, \[out\], , , 1\)",
                           "file exists", "got version from execution 1.8.0_392",
                           "checkJavaExe returning 1",
                           r"Trying to load JVM-DLL from .*\\jre\\bin\\java\.exe",
                           r"Trying .*\\jre\\bin\\server\\jvm\.dll \(exists 1\)",
                           "Loading of JVM-DLL successful")

    def test_a_and_r_entries_and_unknown_letters(self):
        missing = winpath(self.dir / "missing")
        exe = self.service(jreSearchSequence=f"A{missing};b.\\rt;Q;R.\\rt")
        bindir = self.runtime(self.dir / "rt", where="jre")
        run = self.start(exe)
        self.assertLoaded(run, r"\rt\jre\bin\java.exe")
        self.assertTrue(self.loaded(bindir))
        self.assertInOrder(run, rf"Testing location {re.escape(missing)} \(type A\)",
                           "file doesn't exist", "checkJavaExe returning 0",
                           r"Testing location \.\\rt \(type b\)",
                           r"Testing location  \(type Q\)",
                           r"Testing location \.\\rt \(type R\)", "checkJavaExe returning 1")

    def test_e_entry_with_forward_slashes(self):
        exe = self.service(jreSearchSequence="EKERNO_E2E_UNSET;EKERNO_E2E_SLASHED")
        bindir = self.runtime(ENV_HOMES / "slashed")
        run = self.start(exe)
        self.assertLoaded(run, r"\slashed\bin\java.exe")
        self.assertTrue(self.loaded(bindir))
        self.assertInOrder(run, r"Testing location KERNO_E2E_UNSET \(type E\)",
                           r"Testing location KERNO_E2E_SLASHED \(type E\)",
                           r"(?i)checkJavaExe \(z:\\.*\\slashed\\bin\\java\.exe, \[out\], , , 0\)")

    def test_s_entry_finds_java_beside_the_executable(self):
        exe = self.service(jreSearchSequence="S")
        bindir = self.runtime(self.dir, vm="server")  # svc.exe's directory first in the order
        shutil.copy(bindir / "java.exe", self.dir / "java.exe")
        shutil.copy(bindir / "java-standin.cfg", self.dir / "java-standin.cfg")
        (self.dir / "server").mkdir()
        shutil.copy(STANDINS / "jvm.dll", self.dir / "server" / "jvm.dll")
        run = self.start(exe)
        self.assertLoaded(run, r"\java.exe")
        self.assertTrue(self.loaded(self.dir))
        self.assertInOrder(run, r"Testing location  \(type S\)", "checkJavaExe returning 1")

    def test_empty_sequence_consults_only_the_fixed_steps(self):
        exe = self.service(jreSearchSequence="")
        run = self.start(exe)
        self.assertFailed(run, "no jvm")
        self.assertInOrder(run, "Searching for a JVM", "Search sequence finished", "ERROR: No JVM found")
        self.assertFalse(any(l.startswith("Testing") for l in run.log), run)

    def test_fallback_pass_takes_a_rejected_b_entry_whatever_its_version(self):
        exe = self.service(jreSearchSequence="B.\\jre", minJavaVersion="1.6")
        bindir = self.runtime(self.dir / "jre", version="1.5.0_22")
        run = self.start(exe)
        self.assertLoaded(run, r"\jre\bin\java.exe")
        self.assertTrue(self.loaded(bindir))
        self.assertInOrder(run, "got version from execution 1.5.0_22", "checkJavaExe returning 0",
                           "Search sequence finished", r"Testing relative location \.\\jre",
                           r".*\\jre\\bin\\java\.exe exists", "Loading of JVM-DLL successful")

    def test_fallback_pass_skips_absolute_a_entries(self):
        home = self.dir / "jre"
        exe = self.service(jreSearchSequence="A" + winpath(home), minJavaVersion="1.6")
        self.runtime(home, version="1.5.0_22")
        run = self.start(exe)
        self.assertFailed(run, "no jvm")
        self.assertFalse(any(l.startswith("Testing relative location") for l in run.log), run)


class LocationFiles(JavaSearchTest):
    def test_preferred_location_comes_before_the_sequence(self):
        exe = self.service(jreSearchSequence="B.\\other")
        (self.dir / ".brindle").mkdir()
        (self.dir / ".brindle" / "pref_jre.cfg").write_bytes(b"pref\r\nignored\r\n")
        bindir = self.runtime(self.dir / "pref")
        run = self.start(exe)
        self.assertLoaded(run, r"\pref\bin\java.exe")
        self.assertTrue(self.loaded(bindir))
        self.assertInOrder(run, "Searching for a JVM", "Has preferred location pref",
                           "checkJavaExe returning 1", "Using preferred location")
        self.assertFalse(any(l.startswith("Testing location") for l in run.log), run)

    def test_installer_location_after_the_sequence(self):
        install = self.dir / "install"
        (install / ".brindle").mkdir(parents=True)
        (install / ".brindle" / "inst_jre.cfg").write_text("inst\n")
        exe = self.service(jreSearchSequence="Y", installationDirectory=".\\install")
        bindir = self.runtime(self.dir / "inst")
        run = self.start(exe)
        self.assertLoaded(run, r"\inst\bin\java.exe")
        self.assertTrue(self.loaded(bindir))
        self.assertInOrder(run, "Search sequence finished", "Has installer location inst",
                           "Using installer location")

    def test_damaged_runtime_from_a_location_file_names_the_line(self):
        (self.dir / ".brindle").mkdir()
        (self.dir / ".brindle" / "pref_jre.cfg").write_text("pref\n")
        exe = self.service(jreSearchSequence="")
        self.runtime(self.dir / "pref", library="jvm_noentry.dll")
        run = self.start(exe)
        self.assertFailed(run, "defined damaged: pref")


class ProductHome(JavaSearchTest):
    def test_the_flavour_chooses_the_variable(self):
        kerno = self.runtime(ENV_HOMES / "kerno")
        brindle = self.runtime(ENV_HOMES / "brindle")
        for flavour, bindir, other in (("e", kerno, "brindle"), ("i", brindle, "kerno")):
            with self.subTest(flavour=flavour):
                run = self.start(self.service(jreSearchSequence="", launcherFlavour=flavour))
                self.assertLoaded(run, r"\bin\java.exe")
                self.assertTrue(self.loaded(bindir))
                (bindir / "server" / "jvm-standin.loads").unlink()
                # The other product's variable is never consulted.
                self.assertFalse(any(f"\\{other}\\" in l.lower() for l in run.log), run)
        with self.subTest(flavour="x"):
            run = self.start(self.service(jreSearchSequence="", launcherFlavour="x"))
            self.assertFailed(run, "no jvm")
            self.assertFalse(any(l.startswith("checkJavaExe") for l in run.log), run)


class Registry(JavaSearchTest):
    JRE = r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment"
    JDK = r"HKLM\SOFTWARE\JavaSoft\Java Development Kit"

    def javasoft(self, key, current, versions):
        self.registry_keys.append(key)
        if current is not None:
            reg("add", key, "/v", "CurrentVersion", "/d", current, "/f")
        for name, home in versions.items():
            reg("add", key + "\\" + name, "/v", "JavaHome", "/d", winpath(home), "/f")

    def located(self, root, bindir):
        name = winpath(Path(bindir) / "java.exe").replace("\\", "/")
        key = root + r"\SOFTWARE\quarrow\kerno\locatedjvms"
        self.registry_keys.append(key)
        reg("add", key + "\\" + name, "/f")

    def test_current_version_of_the_runtime_environment(self):
        home = self.dir / "jre18"
        bindir = self.runtime(home)
        self.javasoft(self.JRE, "1.8", {"1.8": home})
        run = self.start(self.service(jreSearchSequence="Y"))
        self.assertLoaded(run, r"\jre18\bin\java.exe")
        self.assertTrue(self.loaded(bindir))
        self.assertInOrder(run, r"Testing location  \(type Y\)",
                           r"checkJavaExe \(.*jre18\\bin\\java\.exe, \[out\], , , 0\)")

    def test_version_keys_walked_from_the_highest_in_range(self):
        homes = {v: self.dir / ("v" + v.replace(".", "")) for v in ("1.3.1", "1.6", "1.6.0_45", "1.7")}
        bins = {v: self.runtime(h, version=v if "_" in v else v + ".0_1") for v, h in homes.items()}
        # CurrentVersion out of range: the subkeys are walked.
        self.javasoft(self.JRE, "1.3.1", homes)
        run = self.start(self.service(jreSearchSequence="Y", minJavaVersion="1.6",
                                      maxJavaVersion="1.6"))
        self.assertLoaded(run, r"\v160_45\bin\java.exe")
        self.assertEqual([self.runs(bins[v]) for v in ("1.3.1", "1.6", "1.6.0_45", "1.7")],
                         [0, 0, 1, 0])

    def test_located_jvms_win_over_javasoft_on_a_higher_version(self):
        soft = self.runtime(self.dir / "soft", version="1.6.0_05")
        user = self.runtime(self.dir / "user", version="1.6.0_10")
        machine = self.runtime(self.dir / "machine", version="1.6.0_20")
        self.javasoft(self.JRE, "1.6", {"1.6": self.dir / "soft"})
        self.located("HKCU", user)
        self.located("HKLM", machine)
        run = self.start(self.service(jreSearchSequence="Y"))
        self.assertLoaded(run, r"\machine\bin\java.exe")
        self.assertEqual([self.runs(b) for b in (soft, user, machine)], [1, 1, 1])
        self.assertTrue(self.loaded(machine))

    def test_a_development_kit_by_its_current_version(self):
        home = self.dir / "jdk"
        bindir = self.runtime(home, where="jre", tools=True)
        self.javasoft(self.JDK, "1.8", {"1.8": home})
        self.javasoft(self.JRE, "1.7", {"1.7": self.dir / "absent"})
        run = self.start(self.service(jreSearchSequence="Y", requireJdk=1))
        self.assertLoaded(run, r"\jdk\jre\bin\java.exe")
        self.assertTrue(self.loaded(bindir))


class VersionRules(JavaSearchTest):
    def test_version_cache_spares_the_second_run_until_the_executable_changes(self):
        exe = self.service(jreSearchSequence="B.\\jre")
        bindir = self.runtime(self.dir / "jre", version="1.7.0_80")
        first = self.start(exe)
        self.assertIn("got version from execution 1.7.0_80", first.log)
        self.assertEqual(self.runs(bindir), 1)
        _, out = reg("query", r"HKCU\SOFTWARE\quarrow\kerno\jvms", "/s")
        self.assertRegex(out, r"(?i)jvms\\z:/.*/jre/bin/java\.exe\n")
        self.assertRegex(out, r"Version\s+REG_SZ\s+1\.7\.0_80")
        self.assertRegex(out, r"LastWriteTime\s+REG_BINARY\s+[0-9A-F]{16}")

        second = self.start(exe)
        self.assertLoaded(second, r"\jre\bin\java.exe")
        self.assertIn("got version from registry 1.7.0_80", second.log)
        self.assertEqual(self.runs(bindir), 1)

        # Replaced: a new last-write time, so it is run again.
        (bindir / "java.exe").unlink()
        shutil.copy(STANDINS / "java.exe", bindir / "java.exe")
        later = time.time() + 5
        os.utime(bindir / "java.exe", (later, later))
        third = self.start(exe)
        self.assertIn("got version from execution 1.7.0_80", third.log)
        self.assertEqual(self.runs(bindir), 2)

    def test_current_banners_with_a_date_and_openjdk_builds(self):
        exe = self.service(jreSearchSequence="B.\\jre", minJavaVersion="17", maxJavaVersion="17")
        self.runtime(self.dir / "jre", banner='openjdk version "17.0.2" 2022-01-18')
        run = self.start(exe)
        self.assertLoaded(run, r"\jre\bin\java.exe")
        self.assertIn("got version from execution 17.0.2", run.log)

    def test_unreadable_versions_are_rejected(self):
        for banner, exit_code in (('java version "1.8.0"', 1), ("java version 1.8.0", None),
                                  ('java version "1.8.0', None)):
            with self.subTest(banner=banner, exit_code=exit_code):
                home = ENV_HOMES / "ejava"
                shutil.rmtree(home, ignore_errors=True)
                self.runtime(home, banner=banner, exit_code=exit_code)
                run = self.start(self.service(jreSearchSequence="EKERNO_E2E_JAVA"))
                self.assertFailed(run, "no jvm")
                self.assertInOrder(run, "file exists", "couldn't get version",
                                   "checkJavaExe returning 0")

    def test_pre_releases_only_from_configured_directories_or_with_key_130(self):
        home = ENV_HOMES / "ejava"
        self.runtime(home, version="1.8.0-ea")
        run = self.start(self.service(jreSearchSequence="EKERNO_E2E_JAVA"))
        self.assertFailed(run, "no jvm")
        run = self.start(self.service(jreSearchSequence="EKERNO_E2E_JAVA", allowBetaJre=1))
        self.assertLoaded(run, r"\ejava\bin\java.exe")
        run = self.start(self.service(jreSearchSequence="A" + winpath(home)))
        self.assertLoaded(run, r"\ejava\bin\java.exe")

    def test_javaw_with_executable_type_1(self):
        home = self.dir / "jre"
        bindir = self.runtime(home, javaw=True)
        run = self.start(self.service(jreSearchSequence="A" + winpath(home), executableType=1))
        self.assertLoaded(run, r"\jre\bin\javaw.exe")
        self.assertTrue(self.loaded(bindir))
        (bindir / "javaw.exe").unlink()
        run = self.start(self.service(jreSearchSequence="A" + winpath(home), executableType=1))
        self.assertFailed(run, "no jvm")

    def test_require_jdk_needs_tools_jar(self):
        home = self.dir / "kit"
        self.runtime(home, where="jre")
        run = self.start(self.service(jreSearchSequence="A" + winpath(home), requireJdk=1))
        self.assertFailed(run, "no jvm")
        (home / "lib").mkdir()
        (home / "lib" / "tools.jar").write_bytes(b"")
        run = self.start(self.service(jreSearchSequence="A" + winpath(home), requireJdk=1))
        self.assertLoaded(run, r"\kit\jre\bin\java.exe")


class LibraryLoading(JavaSearchTest):
    def test_vm_types_in_order_and_each_attempt_logged(self):
        bindir = self.runtime(self.dir / "jre", vm="client")
        run = self.start(self.service(jreSearchSequence="B.\\jre", preferredVmType="server"))
        self.assertLoaded(run, r"\jre\bin\java.exe")
        self.assertTrue(self.loaded(bindir, "client"))
        tries = [re.sub(r".*\\bin\\", "", l) for l in run.log if l.startswith("Trying ") and "jvm.dll" in l]
        self.assertEqual(tries, [r"server\jvm.dll (exists 0)", r"hotspot\jvm.dll (exists 0)",
                                 r"client\jvm.dll (exists 1)"])

    def test_a_development_kits_jre_supplies_the_library(self):
        kit = self.dir / "jdk"
        self.runtime(kit, vm=None)
        (kit / "jre" / "bin" / "server").mkdir(parents=True)
        shutil.copy(STANDINS / "jvm.dll", kit / "jre" / "bin" / "server" / "jvm.dll")
        run = self.start(self.service(jreSearchSequence="A" + winpath(kit)))
        self.assertLoaded(run, r"\jdk\bin\java.exe")
        self.assertTrue(self.loaded(kit / "jre" / "bin"))
        self.assertInOrder(run, r"Trying .*\\jdk\\bin\\classic\\jvm\.dll \(exists 0\)",
                           r"Trying .*\\jdk\\bin\\\.\.\\jre\\bin\\server\\jvm\.dll \(exists 1\)")

    def test_one_message_per_failure_kind(self):
        noentry = dict(library="jvm_noentry.dll")
        cases = []
        # A directory entry: the directory as written.
        self.runtime(self.dir / "jre", **noentry)
        cases.append(({"jreSearchSequence": "B.\\jre"}, "defined damaged: .\\jre", False))
        # An environment variable, here with no library at all.
        self.runtime(ENV_HOMES / "ejava", vm=None)
        cases.append(({"jreSearchSequence": "EKERNO_E2E_JAVA"}, "env invalid: KERNO_E2E_JAVA", True))
        for description, message, no_handle in cases:
            with self.subTest(message=message):
                run = self.start(self.service(**description))
                self.assertFailed(run, message)
                self.assertEqual("ERROR: Could not get DLL-Handle." in run.log, no_handle, run)
                self.assertIn("ERROR: Could not load functions", run.log)
                self.assertNotIn("Loading of JVM-DLL successful", run.log)

    def test_messages_of_the_search_path_and_the_registry(self):
        self.runtime(self.dir, vm="server", library="jvm_noentry.dll")
        shutil.copy(self.dir / "bin" / "java.exe", self.dir / "java.exe")
        shutil.copy(self.dir / "bin" / "java-standin.cfg", self.dir / "java-standin.cfg")
        (self.dir / "server").mkdir()
        shutil.copy(STANDINS / "jvm_noentry.dll", self.dir / "server" / "jvm.dll")
        run = self.start(self.service(jreSearchSequence="S"))
        self.assertFailed(run, "path damaged")

        located = self.runtime(self.dir / "loc", library="jvm_noentry.dll")
        name = winpath(located / "java.exe").replace("\\", "/")
        key = r"HKCU\SOFTWARE\quarrow\kerno\locatedjvms"
        self.registry_keys.append(key)
        reg("add", key + "\\" + name, "/f")
        run = self.start(self.service(jreSearchSequence="Y"))
        self.assertFailed(run, "start failed")


    def test_a_runtime_of_the_other_bitness_is_skipped(self):
        # The other build's stand-in library: a 32-bit jvm.dll for the x64
        # launcher, a 64-bit one for the x86 launcher. Its java.exe is this
        # build's, so only the library's header tells them apart.
        other_tree = "win32" if ARCH == "x64" else "win64"
        other_dll = Path(TEMPLATE).parent.parent / other_tree / "tests" / "standins" / "jvm.dll"
        if not other_dll.exists():
            self.skipTest(f"no {other_dll}")
        own_bits, other_bits = ("64-bit", "32-bit") if ARCH == "x64" else ("32-bit", "64-bit")
        other = self.runtime(self.dir / "other")
        shutil.copy(other_dll, other / "server" / "jvm.dll")
        own = self.runtime(self.dir / "own")
        skipped = (rf"Skipping .*\\other\\bin\\java\.exe: its JVM library "
                   rf".*\\other\\bin\\server\\jvm\.dll is {other_bits}, this launcher is {own_bits}")

        run = self.start(self.service(jreSearchSequence="B.\\other;B.\\own"))
        self.assertLoaded(run, r"\own\bin\java.exe")
        self.assertTrue(self.loaded(own))
        self.assertFalse(self.loaded(other))
        self.assertInOrder(run, r"Testing location \.\\other \(type B\)", "file exists", skipped,
                           "checkJavaExe returning 0", r"Testing location \.\\own \(type B\)")

        # Nothing else: the fallback pass skips it too, and the message says why.
        run = self.start(self.service(jreSearchSequence="B.\\other"))
        self.assertFailed(run, f"no jvm\r\nThe Java runtime found is {other_bits}; "
                               f"this program needs a {own_bits} Java runtime.")
        self.assertInOrder(run, skipped, r"Testing relative location \.\\other", skipped,
                           "ERROR: No JVM found")
        self.assertFalse(self.loaded(other))


class PackedRuntime(JavaSearchTest):
    def packed(self, home, unpacker=True):
        bindir = self.runtime(home)
        if unpacker:
            shutil.copy(STANDINS / "unpack200.exe", bindir / "unpack200.exe")
        (home / "lib" / "ext").mkdir(parents=True)
        for jar in ("rt", "charsets", "deploy", "ext/localedata", "jsse"):  # no plugin.jar
            (home / "lib" / (jar + ".jar.pack")).write_bytes(b"packed " + jar.encode())
        return bindir

    def test_unpacked_once_with_a_notice(self):
        home = self.dir / "my jre"  # a blank: the unpacker's command line quotes it
        bindir = self.packed(home)
        exe = self.service(jreSearchSequence="B.\\my jre")
        run = self.start(exe)
        self.assertLoaded(run, r"\my jre\bin\java.exe")
        self.assertIn(r"Preparing JRE ...\n", run.stdout_writes)
        self.assertInOrder(run, "Unpacking JRE", r"Unpacking .*\\lib\\rt\.jar\.pack to .*\\lib\\rt\.jar",
                           "waiting for unpack200 to finish", "unpack done",
                           r"Unpacking .*\\lib\\plugin\.jar\.pack to .*", "pack path doesn't exists",
                           "Unpacking JRE done", "file exists")
        unpacks = (bindir / "unpack200-standin.runs").read_text().splitlines()
        self.assertEqual(len(unpacks), 5, unpacks)
        self.assertTrue(unpacks[0].startswith('"'), unpacks[0])
        self.assertEqual((home / "lib" / "rt.jar").read_bytes(), b"packed rt")
        self.assertEqual(sorted(p.name for p in (home / "lib").rglob("*.pack")), [])

        again = self.start(exe)
        self.assertLoaded(again, r"\my jre\bin\java.exe")
        self.assertNotIn("Unpacking JRE", again.log)
        self.assertEqual(again.stdout_writes, [])
        self.assertEqual(len((bindir / "unpack200-standin.runs").read_text().splitlines()), 5)

    def test_missing_unpacker_is_internal_error_20(self):
        self.packed(self.dir / "jre", unpacker=False)
        run = self.start(self.service(jreSearchSequence="B.\\jre"))
        self.assertEqual(run.boxes, [INTERNAL_20], run)
        self.assertEqual(run.exit_code, 1, run)  # the fatal path reports the failure
        self.assertInOrder(run, "Unpacking JRE", "could not create unpack process")
        self.assertNotIn("checkJavaExe returning 1", run.log)


if __name__ == "__main__":
    unittest.main()
