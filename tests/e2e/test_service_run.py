"""A whole service run, end to end, as a person does it: the configured
launcher installed with /install, started by Wine's service control manager
(with start parameters), queried with `sc query`, stopped with /stop and
removed with /uninstall; with the launcher's diagnostic log on.

No Windows Java runtime can be installed here: the runtime found is a fake
home made of the stand-ins of tests/standins, and its jvm.dll is the
recording JNI double. The tests tell it what the Java side does (which
classes exist, what WinLauncher.main, FirstRun.firstRun and System.exit do)
in jvm-standin.cfg and read back every JNI call the launcher made, with its
arguments, from jvm-standin.calls (docs/testing.md).

This module boots a Wine prefix of its own, with
KERNO_LOG=yes in the machine environment and a relay trace of MessageBoxA."""

import itertools
import json
import os
import pty
import re
import select
import shutil
import stat
import subprocess
import time
import unittest

import harness
from harness import LauncherTest, sends_a_control, windows_path
from service_support import (ARCH, EVENT_SOURCES_KEY, RUNNING, SERVICES_KEY, STANDINS, STOP_PENDING,
                             STOPPED, PrivateSession, event_sources, events, fake_runtime, message_table,
                             read_calls, read_log, reported_statuses, shown_messages, wait_until)

# Wine keeps no event log: the relay trace shows the event calls and the
# eventlog channel their texts.
SESSION = PrivateSession(
    "service-run", {"KERNO_LOG": "yes"},
    relay_include="user32.MessageBoxA;advapi32.RegisterEventSourceW;advapi32.ReportEventW",
    channels=",+eventlog,+service")
# How long a test waits for a state it asked for; waiting this long is a failure.
STATE_TIMEOUT = harness.WAIT_SECONDS
LAUNCHER_CLASS = "com/kerno/runtime/WinLauncher"
MAIN_SIGNATURE = "([Ljava/lang/String;)V"

BASE = {
    "executableType": 5,  # message boxes: each one shows in the relay trace
    "jreSearchSequence": "B.\\jre",
    "mainClass": "com.example.App",
    "MSG_ERROR_CAPTION": "Kerno",
    "MSG_MAIN_CLASS_NOT_LOADED": "no launcher class",
    "MSG_MAIN_METHOD_NOT_FOUND": "no launcher main",
    "MSG_INTERNAL_ERROR": "internal error %ERROR_CODE%",
}

_numbers = itertools.count(1)


def setUpModule():
    if not (harness.PACKER and harness.TEMPLATE and harness.PREFIX and
            (STANDINS / "jvm.dll").exists()):
        raise unittest.SkipTest("needs the packer, the template, a Wine prefix and the stand-ins")
    SESSION.open()


def tearDownModule():
    SESSION.close()


class ServiceRunTest(LauncherTest):
    """One test's service: its runtime, its settings of the JNI double, its
    registration, and what a run left behind."""

    def setUp(self):
        super().setUp()
        self.name = f"KernoRun{next(_numbers)}"
        self.trace_offset = SESSION.trace_size()
        self.service_log = None

    # -- the runtime and the Java side ---------------------------------------------
    def runtime(self, *settings, javaw=False, home="jre", jvm=STANDINS / "jvm.dll"):
        """A fake runtime home beside the executable (.\\jre unless `home`
        names another) whose VM library is `jvm`; `settings` are the lines
        of the JNI double's jvm-standin.cfg."""
        self.vm_dir = fake_runtime(self.dir / home, *settings, javaw=javaw, jvm=jvm)
        return self.vm_dir

    def release(self, name):
        """Lets a "wait NAME" step of the double go on."""
        (self.vm_dir / name).write_text("")

    def calls(self):
        return read_calls(self.vm_dir)

    def service(self, **keys):
        return self.pack(dict(BASE, serviceName=self.name, **keys))

    # -- the service control manager ----------------------------------------------
    def install(self, exe):
        self.addCleanup(SESSION.wine, "sc", "delete", self.name, check=False)
        r = self.run_exe(exe, "/install")
        self.assertEqual((r.rc, r.out), (0, f"Installed service '{self.name}'.\n"), r)

    def start(self, *parameters):
        # Every launcher of this prefix logs (KERNO_LOG is in the machine
        # environment): the first log after the start is the service's.
        SESSION.clear_logs()
        self.service_log = None
        SESSION.wine("sc", "start", self.name, *parameters)
        self.service_log = wait_until(lambda: SESSION.log_files(), "the service's log")[0]

    def status(self):
        return SESSION.status(self.name)

    def wait_state(self, wanted):
        """(state, exit code) once `wanted` (a test of the state) holds."""
        def reached():
            status = self.status()
            return status if status and wanted(status[0]) else None
        return wait_until(reached, f"the state of {self.name}", STATE_TIMEOUT, processes=self.dir.name)

    def wait_stopped(self):
        return self.wait_state(lambda state: state == STOPPED)

    def command(self, exe, word):
        """Runs a command word of the launcher; (exit code, printed lines)."""
        r = self.run_exe(exe, word)
        self.assertEqual(r.err, "", r)
        return r.rc, r.out

    def stop_cleanly(self, exe, code=0):
        """/stop answers that the service stopped, and it is stopped with `code`."""
        self.assertEqual(self.command(exe, "/stop"),
                         (0, f"Stopping service '{self.name}'.\nService stopped\n"))
        self.assertEqual(self.status(), (STOPPED, code))

    def wait_launched(self):
        """Waits until the service runs its application and waits for a stop."""
        wait_until(lambda: "registering ConsoleCtrlHandler" in self.log(),
                   f"{self.name} to finish its launch", STATE_TIMEOUT, processes=self.dir.name)

    # -- what the run left ---------------------------------------------------------------
    def log(self):
        """The service's diagnostic log."""
        return read_log(self.service_log)

    def messages(self):
        texts, name_the_log = shown_messages(SESSION.trace_since(self.trace_offset))
        if texts:
            self.assertTrue(name_the_log, texts)
        return texts

    def events(self):
        """(type, event ID, text) of the event log entries written since the
        test began; every one under the service's name."""
        trace = SESSION.trace_since(self.trace_offset)
        sources = set(event_sources(trace))
        found = events(trace)
        if found:
            self.assertEqual(sources, {self.name}, trace[-3000:])
        return found

    def assertEntry(self, entry, kind, text):
        """An event log entry of `kind` with message 1 and `text` (Wine's
        trace cuts a long text, marking the cut with "...")."""
        self.assertEqual(entry[:2], (kind, 1), entry)
        shown = entry[2]
        if shown.endswith("..."):
            self.assertTrue(text.startswith(shown[:-3]), (shown, text))
        else:
            self.assertEqual(shown, text)

    def assertInOrder(self, lines, *patterns):
        """The lines matching `patterns` (regular expressions) appear in this order."""
        position = 0
        for pattern in patterns:
            for i in range(position, len(lines)):
                if re.fullmatch(pattern, lines[i]):
                    position = i + 1
                    break
            else:
                self.fail(f"{pattern!r} not found after line {position}:\n" + "\n".join(lines))

    def assertNoMisuse(self, calls):
        """The double saw no call it counts as a misuse of JNI."""
        errors = [c for c in calls if c[0] == "ERROR"]
        self.assertEqual(errors, [], calls)

    @staticmethod
    def options(calls):
        # All but the VM's exit hook, which every launch gives last.
        return [c[1] for c in calls if c[0] == "option" and c[1:] != ["exit", "extraInfo"]]

    @staticmethod
    def main_parameters(calls):
        for c in calls:
            if c[:4] == ["CallStaticVoidMethodA", LAUNCHER_CLASS, "main", MAIN_SIGNATURE]:
                return c[4:]
        return None

    def image_path(self):
        _, out = SESSION.reg("query", SERVICES_KEY + self.name, "/v", "ImagePath")
        return re.search(r"ImagePath\s+REG_SZ\s+(.*)", out).group(1).strip()


@sends_a_control
class WholeRun(ServiceRunTest):
    def test_install_start_with_parameters_stop_and_uninstall(self):
        # The shipped configuration's shape: brindle flavour, a required jar
        # beside the executable, an optional directory of archives, " -Xrs",
        # -J start parameters taken as VM options (key 125 at 1).
        self.runtime("main=return")
        (self.dir / "app.jar").write_bytes(b"")
        (self.dir / "lib").mkdir()
        (self.dir / "lib" / "one.zip").write_bytes(b"")
        (self.dir / "lib" / "two.jar").write_bytes(b"")
        exe = self.service(launcherFlavour="i", classPath=["A1.\\app.jar", "S0.\\lib"],
                           arguments="x 'y z'", stdoutFile="Logs\\Out.log", eventLog=True,
                           commandLineVmOptions=1)
        self.install(exe)
        image = self.image_path()  # the launcher's short, lower-case path
        home = image.rsplit("\\", 1)[0]

        # The event source: the executable's own message table.
        _, out = SESSION.reg("query", EVENT_SOURCES_KEY + self.name)
        self.assertRegex(out, r"EventMessageFile\s+REG_EXPAND_SZ\s+" + re.escape(image) + r"\n")
        self.assertRegex(out, r"TypesSupported\s+REG_DWORD\s+0x7\n")

        self.start("-J-Xmx64m", "a", "b c")
        self.wait_launched()
        self.assertEqual(self.status(), (RUNNING, 0))
        self.assertEqual(self.messages(), [])
        # One information entry naming the runtime and the library, the same
        # line as in the log.
        started = [l for l in self.log() if l.startswith(f"Service '{self.name}' started")]
        self.assertEqual(started, [f"Service '{self.name}' started (Java runtime "
                                   f"{home}\\jre\\bin\\java.exe, VM library "
                                   f"{home}\\jre\\bin\\server\\jvm.dll)"], self.log())
        entries = self.events()
        self.assertEqual(len(entries), 1, entries)
        self.assertEntry(entries[0], "information", started[0])

        calls = self.calls()
        self.assertNoMisuse(calls)
        self.assertEqual(calls[0], ["JNI_CreateJavaVM", "version=0x00010002", "nOptions=8",
                                    "ignoreUnrecognized=1"])
        self.assertEqual(self.options(calls), [
            "-Dkerno.isBrindle=true",
            "-Dkerno.moduleName=" + image,
            "-Dkerno.tempDir=",
            # Native libraries from the executable's directory and the runtime's bin only.
            f"-Djava.library.path={home};{home}\\jre\\bin",
            # The runtime jar first, archives of a scanned directory jar before zip.
            f"-Djava.class.path={home}\\.brindle\\brdruntime.jar;{home}\\.\\app.jar;"
            f"{home}\\.\\lib\\two.jar;{home}\\.\\lib\\one.zip;",
            "-Xrs",
            "-Xmx64m",
        ])
        # Then the VM's exit hook, which tells the exit handler the status.
        self.assertEqual([c for c in calls if c[0] == "option"][-1], ["option", "exit", "extraInfo"])
        parameters = ["false", "com.example.App", f"{home}\\Logs\\Out.log",
                      f"{home}\\logs\\service-output.log", "false", self.name,
                      "x", "y z", "a", "b c"]
        self.assertEqual(self.main_parameters(calls), parameters)
        # No first-run hook without its marker (the order of the JNI calls
        # is the unit tier's).
        self.assertNotIn("com/brindle/runtime/FirstRun", [c[1] for c in calls if len(c) > 1])

        self.stop_cleanly(exe)
        # System.exit(0), which ended the process through the C runtime's
        # exit (the stopped report above comes from the launcher's exit handler).
        self.assertEqual(self.calls()[-1], ["exit", "0"])

        entries = self.events()
        self.assertEqual(len(entries), 2, entries)
        self.assertEntry(entries[1], "information", started[0].replace(" started ", " stopped "))

        self.assertEqual(self.command(exe, "/uninstall"),
                         (0, f"Uninstalled service '{self.name}'.\n"))
        self.assertIsNone(self.status())
        for key in (SERVICES_KEY, EVENT_SOURCES_KEY):
            rc, _ = SESSION.reg("query", key + self.name, check=False)
            self.assertNotEqual(rc, 0, key)
        # The command processes wrote no entry.
        self.assertEqual(len(self.events()), 2)


@sends_a_control
class KernoFlavour(ServiceRunTest):
    def test_options_file_parameters_and_start_parameters_for_the_application(self):
        self.runtime("main=return", javaw=True)
        for jar in ("kerno-runtime.jar", "app.jar"):
            (self.dir / jar).write_bytes(b"")
        # The first-run marker means nothing to this flavour.
        (self.dir / ".brindle").mkdir()
        (self.dir / ".brindle" / "firstrun").write_text("")
        (self.dir / "svc.vmoptions").write_text(
            "   -Xmx512m   \n# a comment\n\n-Dfrom.file=${KERNO_EXEDIR}\n")
        exe = self.service(launcherFlavour="e", classPath=["A1kerno-runtime.jar", "A1app.jar"],
                           vmParameters='-Xms8m "-Dspaced=a b"', commandLineVmOptions=0,
                           executableType=1, stdoutRedirect=0, stdoutFile="ignored.log",
                           stderrFile="logs\\err.log", extraLauncherFlag=2, eventLog=None)
        self.install(exe)
        image = self.image_path()
        home = image.rsplit("\\", 1)[0]
        # Without key 30020 (null: no record, not the packer's default) nothing
        # of the event log: no source, no entry.
        rc, _ = SESSION.reg("query", EVENT_SOURCES_KEY + self.name, check=False)
        self.assertNotEqual(rc, 0)

        self.start("-J-Xmx64m", "run")
        self.wait_launched()
        self.assertEqual(self.status(), (RUNNING, 0))
        self.assertEqual(self.events(), [])
        calls = self.calls()
        self.assertNoMisuse(calls)
        self.assertEqual(self.options(calls), [
            "-Dkerno.moduleName=" + image,
            "-Dkerno.tempDir=",
            f"-Djava.library.path={home};{home}\\jre\\bin",
            "-Xmx512m",
            "-Dfrom.file=${KERNO_EXEDIR}",  # lines of the file are not expanded
            f"-Djava.class.path={home}\\kerno-runtime.jar;{home}\\app.jar;",
            "-Xms8m",
            "-Dspaced=a b",
        ])
        # Key 125 at 0: a -J start parameter is the application's.
        self.assertEqual(self.main_parameters(calls),
                         ["true", "com.example.App", "", f"{home}\\logs\\err.log", "true",
                          self.name, "-J-Xmx64m", "run"])
        # (The launch's log lines and their order are the unit tier's.)
        self.assertNotIn("com/brindle/runtime/FirstRun", [c[1] for c in calls if len(c) > 1])

        SESSION.wine("sc", "stop", self.name)
        self.assertEqual(self.wait_stopped(), (STOPPED, 0))
        self.assertEqual(self.calls()[-1], ["exit", "0"])


class StartCache(ServiceRunTest):
    def test_a_modern_runtime_gets_its_archive_in_a_private_directory_a_wide_one_is_refused(self):
        self.vm_dir = fake_runtime(self.dir / "jre", "main=return", banner="17.0.2")
        (self.dir / "app.jar").write_bytes(b"")
        exe = self.service(classPath="app.jar", vmParameters="-Xmx64m", eventLog=None)
        self.install(exe)
        cache = None
        for wide in (False, True):
            with self.subTest(wide=wide):
                if wide:
                    shutil.rmtree(cache)
                    cache.mkdir(mode=0o777)
                    os.chmod(cache, 0o777)
                    (self.vm_dir / "jvm-standin.calls").unlink()
                self.start()
                self.wait_launched()
                options = self.options(self.calls())
                archive = [o for o in options if o.startswith("-XX:ArchiveClassesAtExit=")]
                if wide:
                    self.assertEqual(archive, [])
                    self.assertTrue(any("start cache: off for this start: " in line and "(S-1-1-0)" in line
                                        for line in self.log()), self.log())
                else:
                    # Right after the launcher's own properties, before the description's;
                    # under %ProgramData% (C:\users\Public under Wine).
                    self.assertEqual(options[options.index("-Xshare:auto") + 1:][:1], archive)
                    self.assertLess(options.index("-Xshare:auto"), options.index("-Xmx64m"))
                    match = re.fullmatch(r"-XX:ArchiveClassesAtExit=(C:\\.+\\kerno-start-cache-"
                                         rf"{self.name})\\{self.name}-[0-9a-f]{{16}}\.jsa", archive[0])
                    self.assertTrue(match, archive)
                    cache = SESSION.prefix / "drive_c" / match.group(1)[3:].replace("\\", "/")
                    # Wine shows the private access list as no write for the group, nothing for others.
                    self.assertEqual(stat.S_IMODE(cache.stat().st_mode) & 0o027, 0)
                SESSION.wine("sc", "stop", self.name)
                self.assertEqual(self.wait_stopped(), (STOPPED, 0))


class FailedLaunch(ServiceRunTest):
    """How a launch that fails ends the service run; which JNI calls lead
    there is the unit tier's (launch_java_vm_launcher_test)."""

    def test_main_that_throws_stops_the_service_with_exit_code_1(self):
        self.runtime("main=throw java/lang/IllegalStateException")
        exe = self.service()
        self.install(exe)
        self.start()
        self.assertEqual(self.wait_stopped(), (STOPPED, 1))
        # The exception is in the log and the VM's description; no message.
        self.assertEqual(self.messages(), [])
        self.assertInOrder(self.log(), "calling main", "main returned",
                           "ERROR: an exception occured", "ERROR: could not call main")
        self.assertIn(["ExceptionDescribe", "throwable", "java/lang/IllegalStateException",
                       "thrown by the stand-in"], self.calls())

    def test_a_missing_launcher_class_is_fatal_and_reported_stopped(self):
        self.runtime("missing=com/kerno/runtime/WinLauncher")
        exe = self.service(eventLog=True)
        self.install(exe)
        self.start()
        # The fatal path reports the service stopped, with exit code 1,
        # before the process ends.
        self.assertEqual(self.wait_stopped(), (STOPPED, 1))
        self.assertEqual(self.messages(), ["no launcher class"])
        # The message box's whole text (with its Log line) as an error entry,
        # and no start entry.
        trace = SESSION.trace_since(self.trace_offset)
        [(box, _, _)] = harness.message_boxes(type("T", (), {"err_raw": trace}))
        entries = self.events()
        self.assertEqual(len(entries), 1, entries)
        self.assertEntry(entries[0], "error", box.replace("\n", "\r\n"))
        self.assertInOrder(self.log(), "main class: com/kerno/runtime/WinLauncher",
                           "ERROR: could not find main class")


@sends_a_control
class FirstRunHook(ServiceRunTest):
    def test_false_skips_main_and_an_exit_that_returns_destroys_the_vm(self):
        # The marker beside the executable makes the launch ask the hook.
        self.runtime("main=return", "firstRun=return false", "exit=return")
        (self.dir / ".brindle").mkdir()
        (self.dir / ".brindle" / "firstrun").write_text("")
        exe = self.service(launcherFlavour="i")
        self.install(exe)
        self.start()
        self.wait_launched()
        self.assertEqual(self.status(), (RUNNING, 0))
        self.assertInOrder(self.log(), "JVM created", "checkFirstRun stopped further execution",
                           "launch done")
        self.stop_cleanly(exe)
        calls = self.calls()
        self.assertNoMisuse(calls)
        self.assertIsNone(self.main_parameters(calls))
        self.assertEqual(calls[-4:], [
            ["CallStaticVoidMethodA", "java/lang/System", "exit", "(I)V", "0"],
            ["step", "return"],
            ["ExceptionOccurred", "->", "null"],
            ["DestroyJavaVM", "->", "0"],
        ])


@sends_a_control
class ApplicationEnd(ServiceRunTest):
    """The application's own end is the service's: the status of its
    System.exit (through the VM's exit hook), or its main's end as the
    launcher's watch of it reports it."""

    def ended(self, *settings):
        """Runs the service until it stops by itself: (state, Win32 exit code,
        service-specific exit code) and its event entries but the start's."""
        self.runtime(*settings)
        exe = self.service(eventLog=True)
        self.install(exe)
        self.start()
        state, code = self.wait_stopped()
        _, out = SESSION.wine("sc", "query", self.name)
        specific = re.search(r"SERVICE_EXIT_CODE\s*:\s*(\d+)", out)
        self.assertNoMisuse(self.calls())
        entries = [e for e in self.events() if not (e[2] or "").startswith(f"Service '{self.name}' started")]
        return (state, code, int(specific.group(1)) if specific else None), entries

    def test_an_application_that_exits_with_3_is_stopped_with_1066_and_3(self):
        status, entries = self.ended("main=exit 3")
        self.assertEqual(status, (STOPPED, 1066, 3))
        self.assertEqual(len(entries), 1, entries)
        self.assertEntry(entries[0], "error", f"Service '{self.name}' ended: the application ended the "
                         "process with exit status 3, without a stop request; reported as "
                         "service-specific exit code 3")

    def test_an_application_that_exits_with_0_stopped_by_itself(self):
        status, entries = self.ended("main=exit 0")
        self.assertEqual(status[:2], (STOPPED, 0))
        self.assertEqual(len(entries), 1, entries)
        self.assertEntry(entries[0], "information", f"Service '{self.name}' ended: the application "
                         "ended by itself (exit status 0), without a stop request")

    def test_a_main_that_threw_stops_the_service_with_1066_and_1103(self):
        status, entries = self.ended("main=return", "end=return false")
        self.assertEqual(status, (STOPPED, 1066, 1103))
        self.assertEqual(len(entries), 1, entries)
        self.assertEntry(entries[0], "error", f"Service '{self.name}' failed: the application's main "
                         "threw java.lang.IllegalStateException: thrown by the stand-in and no "
                         "application thread is left; it ends with service-specific exit code 1103")
        # The VM ended with the code too, and the watch's thread detached.
        calls = self.calls()
        self.assertEqual(calls[-2:], [
            ["CallStaticVoidMethodA", "java/lang/System", "exit", "(I)V", "1103"], ["exit", "1103"]])
        self.assertIn(["DetachCurrentThread", "->", "0"], calls)

    def test_an_application_that_finished_stops_the_service_with_0(self):
        status, entries = self.ended("main=return", "end=return")
        self.assertEqual(status[:2], (STOPPED, 0))
        self.assertEqual(len(entries), 2, entries)
        self.assertEntry(entries[0], "information", f"Service '{self.name}' ends: the application "
                         "finished (its main returned and no application thread is left)")
        self.assertTrue(entries[1][2].startswith(f"Service '{self.name}' stopped"), entries)


@sends_a_control
class Stop(ServiceRunTest):
    def test_stop_while_main_runs_is_acted_on_after_main_returns(self):
        # main runs until the test lets it go; the application's shutdown
        # then takes a while, during which the stop is still pending.
        self.runtime("main=wait main.release", "exit=sleep 2000; exit")
        exe = self.service()
        self.install(exe)
        self.start()
        wait_until(lambda: ["step", "wait", "main.release"] in self.calls(), "main to run")

        stop = subprocess.Popen(harness.WINE + [str(exe), "/stop"], cwd=self.dir,
                                env=SESSION.env(), stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            # Stop pending at once, while main still runs.
            self.assertEqual(self.wait_state(lambda state: state != RUNNING), (STOP_PENDING, 0))
            self.assertEqual(self.calls()[-1], ["step", "wait", "main.release"])
            self.release("main.release")
            out, _ = stop.communicate(timeout=STATE_TIMEOUT)
        finally:
            if stop.poll() is None:
                stop.kill()
        self.assertEqual((stop.returncode, out.decode(harness.ENCODING).replace("\r\n", "\n")),
                         (0, f"Stopping service '{self.name}'.\nService stopped\n"))
        self.assertEqual(self.status(), (STOPPED, 0))
        calls = self.calls()
        self.assertNoMisuse(calls)
        self.assertEqual([c for c in calls if c[0] in ("step", "exit")], [
            ["step", "wait", "main.release"], ["step", "return"],
            ["step", "sleep", "2000"], ["exit", "0"]])
        self.assertInOrder(self.log(), "main returned", "launch done",
                           "registering ConsoleCtrlHandler")

    def test_the_stop_method_gets_its_arguments_before_the_exit_and_what_it_threw_is_reported(self):
        self.runtime("main=return", "stop=throw java/lang/IllegalStateException")
        exe = self.service(eventLog=True, stopMethod={
            "class": "org.example.Server", "method": "shutdown", "arguments": ["graceful", "a b"],
            "timeoutSeconds": 5})
        self.install(exe)
        self.start()
        self.wait_launched()
        self.stop_cleanly(exe)
        calls = self.calls()
        self.assertNoMisuse(calls)
        stop = calls.index(["CallStaticVoidMethodA", "org/example/Server", "shutdown", MAIN_SIGNATURE,
                            "graceful", "a b"])
        self.assertLess(stop, calls.index(["CallStaticVoidMethodA", "java/lang/System", "exit", "(I)V", "0"]))
        line = ("the stop method org.example.Server.shutdown threw java.lang.IllegalStateException: "
                "thrown by the stand-in; stopping all the same")
        self.assertIn("ERROR: " + line, self.log())
        self.assertIn(("error", 1, line), self.events())


@sends_a_control
class StopTimeOut(ServiceRunTest):
    # Long enough for the progress reports, a second apart, to come before
    # it even when a busy machine stretches each second.
    STOP_TIMEOUT = 10
    ERROR_TIMEOUT = 1460

    def test_a_stop_whose_exit_never_ends_ends_within_the_stop_time_out(self):
        # A shutdown hook that never returns: System.exit hangs.
        self.runtime("main=return", "exit=hang")
        exe = self.service(stopTimeoutSeconds=self.STOP_TIMEOUT)
        self.install(exe)
        self.start()
        self.wait_launched()

        began = time.monotonic()
        self.stop_cleanly(exe, code=self.ERROR_TIMEOUT)
        # How soon it ended is printed, not asserted (a loaded machine slows
        # Wine's process starts); the exit code says the time-out ended it.
        print(f"\n{ARCH}: stop with a {self.STOP_TIMEOUT} s time-out ended after "
              f"{time.monotonic() - began:.2f} s")
        # Stop pending with a rising checkpoint while the exit hung, then
        # stopped by the time-out: as the service reported it, read from
        # Wine's trace rather than caught in passing.
        # (Wine's own services report there too, but never stop pending.)
        reported = reported_statuses(SESSION.trace_since(self.trace_offset))
        pending = [checkpoint for state, _, checkpoint in reported if state == STOP_PENDING]
        self.assertEqual(pending, sorted(pending), reported)
        self.assertGreaterEqual(max(pending, default=0), 1, reported)
        timed_out = [i for i, (state, code, _) in enumerate(reported)
                     if (state, code) == (STOPPED, self.ERROR_TIMEOUT)]
        self.assertEqual(len(timed_out), 1, reported)
        self.assertNotIn(STOP_PENDING, [state for state, _, _ in reported[timed_out[0]:]], reported)
        calls = self.calls()
        self.assertNoMisuse(calls)
        self.assertEqual(calls[-2:], [
            ["CallStaticVoidMethodA", "java/lang/System", "exit", "(I)V", "0"],
            ["step", "hang"]])
        self.assertIn(f"ERROR: the stop did not end within the stop time-out of "
                      f"{self.STOP_TIMEOUT} seconds: ending the process", self.log())


class ConsoleRun(ServiceRunTest):
    """/console runs what the service runs, in the foreground."""

    def console_in_terminal(self, exe, ready):
        """Runs `exe /console` in a pseudo-terminal, as from a console
        window, and types Ctrl+C once the terminal shows the line `ready`:
        (exit code, what the terminal showed)."""
        def squash(text):  # blanks are drawn as cursor moves; line ends stay
            return re.sub(rb"[ \t]", b"", re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", text))

        pid, terminal = pty.fork()
        if pid == 0:
            try:
                os.chdir(self.dir)
                os.execvpe(harness.WINE[0], harness.WINE + [str(exe), "/console"], SESSION.env())
            finally:
                os._exit(127)
        shown, sent, status = b"", False, None
        deadline = time.monotonic() + STATE_TIMEOUT
        try:
            while status is None:
                # Wine's console draws character by character, hiding and
                # showing the cursor around each one and moving it over blanks.
                if not sent and squash(ready) in squash(shown):
                    os.write(terminal, b"\x03")
                    sent = True
                if select.select([terminal], [], [], 0.2)[0]:
                    try:
                        shown += os.read(terminal, 4096)
                    except OSError:  # the terminal's last user has gone
                        pass
                done, code = os.waitpid(pid, os.WNOHANG)
                if done:
                    status = code
                elif time.monotonic() > deadline:
                    self.fail(f"/console still runs (Ctrl+C sent: {sent}): {shown[-2000:]!r}")
        finally:
            if status is None:
                os.kill(pid, 9)
                os.waitpid(pid, 0)
            os.close(terminal)
        self.assertTrue(sent, shown[-2000:])
        return os.waitstatus_to_exitcode(status), shown

    @unittest.skipIf(ARCH == "x86", "Ctrl+C typed into the 32-bit Wine route (through qemu-user) "
                     "left the console run hanging in three runs of four; x64 shows the behaviour")
    def test_the_console_run_is_a_service_start_and_ctrl_c_stops_it(self):
        self.runtime("main=return")
        exe = self.service()
        self.install(exe)
        self.start()
        self.wait_launched()
        self.stop_cleanly(exe)
        service_calls = self.calls()
        (self.vm_dir / "jvm-standin.calls").unlink()

        # Ctrl+C once the launcher's line saying it waits for it is whole on
        # the screen, as a person would type it. (Typed while the launcher was
        # still writing to the console, it left the run hanging on the x86
        # route, through the emulator, twice.)
        rc, shown = self.console_in_terminal(
            exe, b"Running in the console: Ctrl+C stops it, Ctrl+Break writes a thread dump\r")
        self.assertEqual(rc, 0, shown[-2000:])
        calls = self.calls()
        self.assertNoMisuse(calls)
        # Line for line what the service did, its stop included: System.exit(0).
        self.assertEqual(calls, service_calls)
        self.assertEqual(calls[-2:], [
            ["CallStaticVoidMethodA", "java/lang/System", "exit", "(I)V", "0"], ["exit", "0"]])

    def test_a_runtime_of_the_other_bitness_is_skipped_for_the_next_one(self):
        # First in the sequence a runtime whose JVM library is the other
        # template's build, then one of this template's: the run takes the
        # second, and the log names the skipped one.
        other_tree = "win64" if ARCH == "x86" else "win32"
        self.runtime(home="other", jvm=STANDINS.parents[2] / other_tree / "tests" / "standins" / "jvm.dll")
        self.runtime("main=exit 3")
        exe = self.service(jreSearchSequence="B.\\other;B.\\jre")
        r = self.run_exe(exe, "/console")
        self.assertEqual(r.rc, 3, r)
        found, own = ("64-bit", "32-bit") if ARCH == "x86" else ("32-bit", "64-bit")
        self.assertRegex(r.err, r"(?m)^Skipping .*\\other\\bin\\java\.exe: its JVM library "
                                rf".*\\other\\bin\\server\\jvm\.dll is {found}, this launcher is {own}$")
        self.assertIn("calling main", r.err.split("\n"))

    def test_messages_and_log_on_standard_error(self):
        # (The application's exit code as the run's: the other-bitness case.)
        self.runtime("missing=com/kerno/runtime/WinLauncher")
        exe = self.service()  # key 107 asks for message boxes
        SESSION.clear_logs()
        r = self.run_exe(exe, "/console", relay=True)
        self.assertEqual(r.rc, 1, r)
        lines = r.err.split("\n")
        self.assertRegex(lines[0], r"^Started executable .*svc\.exe at ")
        self.assertIn("ERROR: could not find main class", lines)
        self.assertIn("no launcher class", lines)
        self.assertNotIn("Log: ", r.err)
        self.assertEqual(harness.message_boxes(r), [])
        self.assertEqual(SESSION.log_files(), [])
        # A command process: nothing in the event log.
        self.assertEqual((event_sources(r.err_raw), events(r.err_raw)), ([], []))


@sends_a_control
class ImportedServices(ServiceRunTest):
    """A service of each peer imported (`kernopack import`), built, installed
    and started: what the VM receives is what the peer's java command line
    or JVM settings asked for, item by item."""

    def windows_path(self, *parts):
        return "Z:" + str(self.dir.joinpath(*parts)).replace("/", "\\")

    def imported(self, source, text, *options):
        """The description `kernopack import` writes for `text` (bytes or
        str) saved as `source` beside the executable; the report must name
        every setting."""
        path = self.dir / source
        (path.write_bytes if isinstance(text, bytes) else path.write_text)(text)
        out = self.dir / "imported.json"
        proc = subprocess.run([harness.PACKER, "import", str(path), "-o", str(out), *options],
                              capture_output=True, timeout=60)
        self.assertEqual(proc.returncode, 0, proc.stderr.decode(errors="replace"))
        description = json.loads(out.read_text(encoding="utf-8"))
        description["serviceName"] = self.name
        return description

    def run_imported(self, description):
        """Installs and starts the built service; (options, main parameters, home)."""
        exe = self.pack(description)
        self.install(exe)
        home = self.image_path().rsplit("\\", 1)[0]
        self.start()
        self.wait_launched()
        self.assertEqual(self.status(), (RUNNING, 0))
        calls = self.calls()
        self.assertNoMisuse(calls)
        self.exe = exe
        return self.options(calls), self.main_parameters(calls), home

    def class_path(self, options):
        found = [o for o in options if o.startswith("-Djava.class.path=")]
        self.assertEqual(len(found), 1, options)
        return found[0]

    def test_winsw_service_running_a_real_jar(self):
        # H2 (Debian's libh2-java) as WinSW runs it: -jar, whose manifest
        # names the main class and the class path.
        self.runtime("main=return")
        shutil.copy("/usr/share/java/h2.jar", self.dir / "h2.jar")
        d = self.imported("h2.xml", """<service>
  <id>h2</id>
  <executable>%BASE%\\jre\\bin\\java.exe</executable>
  <arguments>-Xmx128m "-Dgreeting=hello world" -jar "%BASE%\\h2.jar" -tcp -baseDir "%BASE%\\data dir"</arguments>
</service>
""")
        self.assertEqual(d["jreSearchSequence"], ["Ajre"])
        self.assertEqual(d["mainClass"], "org.h2.tools.Console")
        if harness.PACKER_EXE and ARCH == "x64":
            # kernopack.exe reads the XML with Windows' XmlLite and the jar with
            # its own zlib: the same description.
            rc, _ = SESSION.wine(harness.PACKER_EXE, "import", self.windows_path("h2.xml"), "-o",
                                 self.windows_path("from-exe.json"), check=False)
            self.assertEqual(rc, 0)
            from_exe = json.loads((self.dir / "from-exe.json").read_text(encoding="utf-8"))
            self.assertEqual(dict(from_exe, serviceName=self.name), d)
        options, parameters, home = self.run_imported(d)
        self.assertEqual(options[-2:], ["-Xmx128m", "-Dgreeting=hello world"])
        self.assertIn(f"-Djava.class.path={home}\\.brindle\\brdruntime.jar;{home}\\h2.jar;", self.class_path(options))
        self.assertEqual(parameters[1], "org.h2.tools.Console")
        self.assertEqual(parameters[-3:], ["-tcp", "-baseDir", f"{home}\\data dir"])
        self.stop_cleanly(self.exe)

    def test_nssm_registry_export(self):
        self.runtime("main=return")
        (self.dir / "app.jar").write_bytes(b"")
        (self.dir / "lib").mkdir()
        (self.dir / "lib" / "one.jar").write_bytes(b"")
        service = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\imported"
        def text(value):
            return value.replace("\\", "\\\\").replace('"', '\\"')
        parameters = '-Xss2m -cp "lib\\*;app.jar" com.example.App "a b" c'
        reg = ("Windows Registry Editor Version 5.00\r\n\r\n"
               f"[{service}]\r\n\"Start\"=dword:00000003\r\n\r\n"
               f"[{service}\\Parameters]\r\n"
               f"\"Application\"=\"{text(self.windows_path('jre', 'bin', 'java.exe'))}\"\r\n"
               f"\"AppDirectory\"=\"{text(self.windows_path())}\"\r\n"
               f"\"AppParameters\"=\"{text(parameters)}\"\r\n")
        d = self.imported("svc.reg", b"\xff\xfe" + reg.encode("utf-16-le"))
        self.assertEqual(d["jreSearchSequence"], ["A" + self.windows_path("jre")])
        # NSSM restarts by default; Wine refuses the failure actions' flag.
        self.assertEqual(d.pop("recovery")["maxRestarts"], 100)
        options, parameters, home = self.run_imported(d)
        self.assertEqual(options[-1:], ["-Xss2m"])
        here = self.windows_path()
        self.assertEqual(self.class_path(options), f"-Djava.class.path={home}\\.brindle\\brdruntime.jar;"
                                                   f"{here}\\lib\\one.jar;{here}\\app.jar;")
        self.assertEqual(parameters[1], "com.example.App")
        self.assertEqual(parameters[-2:], ["a b", "c"])
        self.stop_cleanly(self.exe)

    @unittest.skipUnless(harness.PACKER_EXE and ARCH == "x64", "needs the x64 tree's kernopack.exe")
    def test_kernopack_exe_reads_an_installed_nssm_service(self):
        # NSSM's registration as `nssm install` leaves it (an unquoted
        # program path with a blank), read by the Windows packer itself.
        self.runtime("main=return")
        (self.dir / "app.jar").write_bytes(b"")
        nssm = self.name + "Nssm"
        key = SERVICES_KEY + nssm
        self.addCleanup(SESSION.reg, "delete", key, "/f", check=False)
        values = [("", "ImagePath", "REG_EXPAND_SZ", "C:\\Program Files\\nssm\\nssm.exe"),
                  ("", "Start", "REG_DWORD", "2"),
                  ("\\Parameters", "Application", "REG_EXPAND_SZ", self.windows_path("jre", "bin", "java.exe")),
                  ("\\Parameters", "AppDirectory", "REG_EXPAND_SZ", self.windows_path()),
                  ("\\Parameters", "AppParameters", "REG_EXPAND_SZ", "-Xmx96m -cp app.jar com.example.App one"),
                  ("\\Parameters\\AppExit", "", "REG_SZ", "Exit")]
        for sub, name, kind, data in values:
            target = ["/v", name] if name else ["/ve"]
            SESSION.reg("add", key + sub, *target, "/t", kind, "/d", data, "/f")
        out = self.windows_path("from-registry.json")
        rc, _ = SESSION.wine(harness.PACKER_EXE, "import", "--service", nssm, "-o", out, check=False)
        self.assertEqual(rc, 0)
        d = json.loads((self.dir / "from-registry.json").read_text(encoding="utf-8"))
        self.assertEqual(d["serviceName"], nssm)
        self.assertEqual(d["executableType"], 4)
        self.assertNotIn("recovery", d)  # AppExit Exit: the service stops
        d["serviceName"] = self.name
        options, parameters, home = self.run_imported(d)
        self.assertEqual(options[-1:], ["-Xmx96m"])
        self.assertEqual(parameters[1], "com.example.App")
        self.assertEqual(parameters[-1], "one")
        self.stop_cleanly(self.exe)

    def test_procrun_install_command(self):
        self.runtime("main=return")
        (self.dir / "app.jar").write_bytes(b"")
        d = self.imported("install.cmd", (
            f"prunsrv.exe //IS//imported --Jvm \"{self.windows_path('jre', 'bin', 'server', 'jvm.dll')}\" "
            "--Classpath app.jar --StartClass com.example.App ++StartParams \"x;y z\" "
            "++JvmOptions \"-Da=1#-Db=two words\" --JvmMx 64 --ServiceUser LocalSystem\n"))
        self.assertEqual(d["vmOptions"], ["-Da=1", "-Db=two words", "-Xmx64m"])
        # What procrun adds at install; Wine has neither service to start first.
        self.assertEqual(d.pop("serviceDependencies"), ["Tcpip", "Afd"])
        options, parameters, home = self.run_imported(d)
        self.assertEqual(options[-3:], ["-Da=1", "-Db=two words", "-Xmx64m"])
        self.assertEqual(self.class_path(options),
                         f"-Djava.class.path={home}\\.brindle\\brdruntime.jar;{home}\\app.jar;")
        self.assertEqual(parameters[1], "com.example.App")
        self.assertEqual(parameters[-2:], ["x", "y z"])
        self.stop_cleanly(self.exe)


class SettingsTeamsBringAlong(ServiceRunTest):
    """The environment, the display name, VM options one by one and a class
    path as java -cp takes it, in a service run and in /console."""

    @sends_a_control
    def test_environment_reaches_the_search_java_and_the_vm_with_options_and_class_path(self):
        # The runtime lies where only a configured variable says.
        self.runtime("main=return", "env=APP_HOME", "env=SVC_JAVA_HOME", home="runtime")
        with open(self.vm_dir.parent / "java-standin.cfg", "a") as cfg:
            cfg.write("env=APP_HOME\nenv=PATH\n")
        for jar in ("app.jar", "lib/a.jar", "lib/b.JAR", "lib/notes.txt", "extra/x.jar"):
            (self.dir / jar).parent.mkdir(exist_ok=True)
            (self.dir / jar).write_bytes(b"")
        home = windows_path(self.dir)
        options = ["-Dhome=%APP_HOME%", "-Dgreeting=${GREETING}", '-Dq="a b";c#d  ', "-XX:ErrorFile=hs_err_pid%p.log"]
        exe = self.service(
            launcherFlavour="e", jreSearchSequence="ESVC_JAVA_HOME", displayName="Orders (end to end)",
            environment={"APP_HOME": home, "SVC_JAVA_HOME": "%APP_HOME%\\runtime",
                         "PATH": "%APP_HOME%\\bin;%PATH%", "GREETING": "hello world"},
            classPath=["app.jar", "lib/*", "%APP_HOME%\\extra\\x.jar"], vmParameters=None, vmOptions=options)
        self.install(exe)
        _, out = SESSION.reg("query", SERVICES_KEY + self.name, "/v", "DisplayName")
        self.assertRegex(out, r"DisplayName\s+REG_SZ\s+Orders \(end to end\)\r?\n")

        self.start()
        self.wait_launched()
        calls = self.calls()
        self.assertNoMisuse(calls)
        self.assertIn(["env", "APP_HOME", home], calls)
        self.assertIn(["env", "SVC_JAVA_HOME", home + "\\runtime"], calls)
        probed = (self.vm_dir.parent / "java-standin.env").read_text().splitlines()
        self.assertEqual(probed[0], "APP_HOME=" + home)
        self.assertTrue(probed[1].startswith(f"PATH={home}\\bin;"), probed)
        vm_options = self.options(calls)
        # Each item one option, byte for byte but for the variables.
        self.assertEqual(vm_options[-4:], [f"-Dhome={home}", "-Dgreeting=hello world", '-Dq="a b";c#d  ',
                                           "-XX:ErrorFile=hs_err_pid%p.log"])
        class_path = next(o for o in vm_options if o.startswith("-Djava.class.path="))
        names = [e.rsplit("\\", 1)[-1].lower() for e in class_path.split("=", 1)[1].split(";") if e]
        # lib/* gives every archive of lib, in the order the system lists them.
        self.assertEqual((names[0], sorted(names[1:3]), names[3:]), ("app.jar", ["a.jar", "b.jar"], ["x.jar"]),
                         class_path)
        SESSION.wine("sc", "stop", self.name)
        self.assertEqual(self.wait_stopped(), (STOPPED, 0))
        service_calls = self.calls()
        (self.vm_dir / "jvm-standin.calls").unlink()

        rc, shown = ConsoleRun.console_in_terminal(self, 
            exe, b"Running in the console: Ctrl+C stops it, Ctrl+Break writes a thread dump\r")
        self.assertEqual(rc, 0, shown[-2000:])
        # The same variables, options and class path.
        self.assertEqual(self.calls(), service_calls)


class Templates(unittest.TestCase):
    def test_the_message_table_holds_the_insertion_string_alone(self):
        # Message 1, whose text is "%1" (then "%0", which ends it): Event
        # Viewer shows an entry's text as the launcher wrote it.
        table = message_table(harness.TEMPLATE)
        self.assertEqual(list(table), [1], table)
        self.assertEqual(table[1].split("%0")[0], "%1", table)


if __name__ == "__main__":
    unittest.main()
