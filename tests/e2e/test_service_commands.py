"""The service commands as a person uses them: install, uninstall, start and
stop through Wine's service control manager, with the printed lines and exit
codes compared exactly and the registration read back with Wine's own `reg`.

Every test registers services under names of its own, since other e2e files
share the wineserver and may run at the same time. Where a test needs a
service that is slow to stop, or one that runs without a Java runtime, it
registers the stand-in service built from tests/e2e/standins (a small Windows
program whose way of stopping is chosen on its command line)."""

import os
import re
import shutil
import time
import unittest
import uuid
from pathlib import Path

from harness import (TEMPLATE, WAIT_SECONDS, WORK_ROOT, LauncherTest, processes_with, sends_a_control,
                     windows_path)

SERVICES_KEY = "HKLM\\System\\CurrentControlSet\\Services\\"
EVENT_SOURCES_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
STOPPED, STOP_PENDING, RUNNING = 1, 3, 4
# The Win32 exit code of a service that was never started.
ERROR_SERVICE_NEVER_STARTED = 1077
# The system's errors after a failure line: no such service, a start of a
# running one, a stop of a stopped one, a name still marked for deletion.
NO_SERVICE, RUNS_ALREADY, NOT_ACTIVE, MARKED = 1060, 1056, 1062, 1072


def failed(line, code):
    """A fixed failure line, then the system's error line for `code` (Wine's
    texts are taken as they come)."""
    return re.compile(re.escape(line) + f"\nError {code}(: [^\n]+|\\.)\n")


def standin_path():
    """The stand-in service program built in the tree of the template under test."""
    given = os.environ.get("KERNO_SERVICE_STANDIN")
    if given:
        return Path(given)
    return Path(TEMPLATE).parent / "tests" / "e2e" / "standins" / "service-standin.exe"


class ServiceTest(LauncherTest):
    """Helpers around one test's own services."""

    def unique_name(self, tag):
        return f"KrnSvc{tag}{uuid.uuid4().hex[:8]}"

    def pack_service(self, name, subdir="", **keys):
        description = {"serviceName": name, "executableType": 3}
        description.update(keys)
        return self.pack(description, subdir=subdir)

    def forget(self, name):
        """Removes the service when the test ends, however it ends (after
        tearDown, when the test's own directory may be gone)."""
        self.addCleanup(self.run_exe, "sc", "delete", name, cwd=WORK_ROOT)
        self.addCleanup(self.run_exe, "sc", "stop", name, cwd=WORK_ROOT)

    def expect(self, result, rc, out):
        """The launcher's exit code and printed lines (or a pattern they match
        whole); nothing on stderr."""
        if isinstance(out, re.Pattern):
            self.assertTrue(out.fullmatch(result.out), (out.pattern, result))
            out = result.out
        self.assertEqual((result.rc, result.out, result.err), (rc, out, ""), result)

    # -- the service control manager, through Wine's tools -----------------
    def status(self, name):
        return self.sc_status(name)

    def wait_for(self, name, wanted):
        """Polls until the service's (state, exit code) satisfies `wanted`."""
        deadline = time.monotonic() + WAIT_SECONDS
        seen = self.status(name)
        while not wanted(seen):
            if time.monotonic() > deadline:
                self.fail(f"service {name} stayed at {seen}; its processes:\n{processes_with(name)}")
            time.sleep(0.2)
            seen = self.status(name)
        return seen

    def registration(self, name):
        """The values of the service's registry key as `reg query` shows them:
        {value name: (type, data)}; None when there is no such key."""
        r = self.run_exe("reg", "query", SERVICES_KEY + name)
        if r.rc != 0:
            return None
        values = {}
        for line in r.out.splitlines():
            m = re.match(r"^ {4}(.+?) {4}(REG_[A-Z_]+)(?: {4}(.*))?$", line)
            if m:
                values[m.group(1)] = (m.group(2), m.group(3) or "")
        return values

    def exported(self, name):
        """The service's key as `reg export` writes it (UTF-16, exact)."""
        target = self.dir / (name + ".reg")
        r = self.run_exe("reg", "export", SERVICES_KEY + name, windows_path(target), "/y")
        self.assertEqual(r.rc, 0, r)
        return target.read_bytes().decode("utf-16")

    def start_type(self, name):
        return self.registration(name)["Start"]

    # -- the stand-in service ------------------------------------------------
    def standin(self, name, mode="", running=True, exe=None):
        """Registers the stand-in (at `exe` when given) under `name` and,
        unless told otherwise, starts it and waits until it runs. A "slow"
        one stays stop pending until the test calls the returned function
        (or ends)."""
        exe = exe or standin_path()
        # Outside the test's directory, which is gone before the clean-ups run.
        release = WORK_ROOT / f"{name}.release"
        if mode == "slow":
            mode = f"slow {windows_path(release)}"
        if not standin_path().is_file():
            self.fail(f"stand-in service {standin_path()} is not built: the Windows trees build it from "
                      "tests/e2e/standins (add_subdirectory(e2e/standins) in tests/CMakeLists.txt)")
        binary = f'"{windows_path(exe)}"' + (" " + mode if mode else "")
        r = self.run_exe("sc", "create", name, "binPath=", binary)
        self.assertEqual(r.rc, 0, r)
        self.forget(name)
        self.addCleanup(release.write_text, "")
        if running:
            r = self.run_exe("sc", "start", name)
            self.assertEqual(r.rc, 0, r)
            self.wait_for(name, lambda s: s and s[0] == RUNNING)
        return lambda: release.write_text("")

    def own_standin(self, name, mode=""):
        """A service of a configured executable's own that stops as the
        stand-in does: the stand-in runs from the executable's path, which
        the executable then takes over (the running program keeps its file).
        Returns the executable and what standin() returns."""
        exe = self.pack_service(name)
        packed = exe.with_name(exe.name + ".packed")
        os.replace(exe, packed)
        shutil.copy(standin_path(), exe)
        let_go = self.standin(name, mode, exe=exe)
        os.replace(packed, exe)
        return exe, let_go


class Install(ServiceTest):
    def test_bare_word_follows_key_107_and_the_explicit_words_choose_for_themselves(self):
        # (executableType, word, expected Start value): 2 automatic, 3 on demand
        cases = [(4, "/install", 2), (3, "/install", 3), (1, "/install", 3),
                 (3, "/install-auto", 2), (4, "/install-demand", 3)]
        for kind, word, start in cases:
            with self.subTest(executableType=kind, word=word):
                name = self.unique_name("Type")
                self.forget(name)
                exe = self.pack_service(name, executableType=kind)
                self.expect(self.run_exe(exe, word), 0, f"Installed service '{name}'.\n")
                self.assertEqual(self.start_type(name), ("REG_DWORD", f"0x{start}"))

    def test_a_place_others_can_write_is_installed_with_one_warning_line(self):
        # Wine shows Unix permissions as the access list: the owner's bits
        # for the user, the others' bits for Everyone. The VM options file
        # beside the executable is looked at like its directory.
        cases = ((0o700, None, None), (0o755, 0o644, None), (0o777, None, "m777"), (0o703, None, "m703"),
                 (0o755, 0o666, r"m755f\\svc\.vmoptions"))
        for mode, options_mode, warned in cases:
            with self.subTest(mode=oct(mode), options_mode=options_mode):
                name = self.unique_name("Dir")
                self.forget(name)
                exe = self.pack_service(name, subdir=f"m{mode:o}" + ("f" if options_mode else ""))
                if options_mode:
                    options = exe.with_suffix(".vmoptions")
                    options.write_text("-Xmx64m\n")
                    os.chmod(options, options_mode)
                os.chmod(exe.parent, mode)
                r = self.run_exe(exe, "/install")
                os.chmod(exe.parent, 0o700)
                self.assertEqual((r.rc, r.err), (0, ""), r)
                lines = r.out.splitlines()
                self.assertEqual(lines[0], f"Installed service '{name}'.")
                if not warned:
                    self.assertEqual(len(lines), 1, r)
                    continue
                self.assertEqual(len(lines), 2, r)
                self.assertRegex(lines[1], r"^Warning: users other than administrators and SYSTEM can write to "
                                           r"[A-Za-z]:\\.*\\" + warned + r" \(S-1-1-0\); ")
                self.assertEqual(self.start_type(name), ("REG_DWORD", "0x3"))

    def test_registration_of_the_configured_keys(self):
        # Wine gives every long name an 8.3 form, so the short path of a
        # directory with a space has none and stays unquoted; the quoting of a
        # path that keeps a space is covered by the unit tests.
        wide = "N\u00e4chtliche Jobs \u2013 \u65e5\u672c"
        cases = [
            ({}, "Program Files/My App", {}),
            ({"serviceDependencies": "a,,b", "serviceDescription": "Runs the nightly jobs"}, "",
             {"DependOnService": ("REG_MULTI_SZ", "a\\0b"),
              "Description": ("REG_SZ", "Runs the nightly jobs")}),
            ({"serviceDescription": wide}, "", {}),
            ({"serviceDescription": ""}, "", {}),
        ]
        for keys, subdir, expected in cases:
            with self.subTest(keys=keys):
                name = self.unique_name("Reg")
                self.forget(name)
                exe = self.pack_service(name, subdir=subdir, **keys)
                self.expect(self.run_exe(exe, "/install"), 0, f"Installed service '{name}'.\n")
                values = self.registration(name)
                self.assertEqual({k: values[k] for k in ("Type", "Start", "ErrorControl", "DisplayName",
                                                         "ObjectName")},
                                 {"Type": ("REG_DWORD", "0x110"), "Start": ("REG_DWORD", "0x3"),
                                  "ErrorControl": ("REG_DWORD", "0x1"), "DisplayName": ("REG_SZ", name),
                                  "ObjectName": ("REG_SZ", "LocalSystem")})
                # The launcher's own path in its short, lower-case form, alone.
                kind, image = values["ImagePath"]
                self.assertEqual(kind, "REG_SZ")
                self.assertEqual(image, image.lower())
                self.assertTrue(image.startswith("z:\\") and image.endswith("\\svc.exe"), image)
                self.assertNotIn('"', image)
                self.assertNotIn(" ", image)
                for key in ("DependOnService", "Description"):
                    if key in expected:
                        self.assertEqual(values[key], expected[key])
                    elif key != "Description" or not keys.get("serviceDescription"):
                        self.assertNotIn(key, values)
                exported = self.exported(name)
                if "serviceDependencies" in keys:
                    self.assertIn('"DependOnService"=hex(7):61,00,00,00,62,00,00,00,00,00', exported)
                if keys.get("serviceDescription") == wide:
                    # The wide text arrives whole, beyond the ANSI code page too.
                    self.assertIn(f'"Description"="{wide}"', exported)
                if subdir:
                    # The registered path starts the launcher: its service
                    # reports itself stopped with exit code 1, as it does
                    # without a Java runtime.
                    self.assertEqual(self.status(name), (STOPPED, ERROR_SERVICE_NEVER_STARTED))
                    self.run_exe("sc", "start", name)
                    self.wait_for(name, lambda s: s == (STOPPED, 1))

    def test_production_settings_land_in_the_registration(self):
        # Each setting is what the registry shows afterwards, or named in one
        # line with the system's error; the install succeeds either way (Wine
        # refuses the failure-actions flag and delayed start with error 124,
        # and keeps no failure actions; docs/operations.md).
        refusal = re.compile(r"Setting '(.+)' was refused by the system \(error (\d+)\); "
                             r"the service is installed without it\.")
        cases = [
            ({"serviceAccount": "LocalService", "interactive": False,
              "recovery": {"restartDelaySeconds": 5, "maxRestarts": 2, "resetPeriodHours": 1},
              "delayedAutoStart": True, "preshutdownTimeoutSeconds": 120},
             "/install-auto", "NT AUTHORITY\\LocalService", "0x10"),
            ({"serviceAccount": "virtual"}, "/install", "NT SERVICE\\{name}", "0x10"),
            ({"serviceAccount": "CORP\\web$"}, "/install", "CORP\\web$", "0x10"),
            ({"interactive": False}, "/install", "LocalSystem", "0x10"),
        ]
        for keys, word, account, kind in cases:
            with self.subTest(keys=keys):
                name = self.unique_name("Prod")
                self.forget(name)
                r = self.run_exe(self.pack_service(name, **keys), word)
                self.assertEqual((r.rc, r.err), (0, ""), r)
                lines = r.out.splitlines()
                self.assertEqual(lines[-1], f"Installed service '{name}'.", r)
                refused = {}
                for line in lines[:-1]:
                    m = refusal.fullmatch(line)
                    self.assertTrue(m, line)
                    refused[m.group(1)] = int(m.group(2))
                values = self.registration(name)
                self.assertEqual(values["ObjectName"], ("REG_SZ", account.format(name=name)))
                self.assertEqual(values["Type"], ("REG_DWORD", kind))
                if "preshutdownTimeoutSeconds" in keys:
                    self.assertNotIn("preshutdownTimeoutSeconds", refused)
                    self.assertEqual(values["PreshutdownTimeout"], ("REG_DWORD", "0x1d4c0"))
                    self.assertEqual(values.get("DelayedAutostart") == ("REG_DWORD", "0x1"),
                                     "delayedAutoStart" not in refused, (values, refused))
                    flag = "recovery (failure-actions flag)"
                    self.assertEqual(values.get("FailureActionsOnNonCrashFailures") == ("REG_DWORD", "0x1"),
                                     flag not in refused, (values, refused))
                    self.assertTrue(set(refused) <= {"delayedAutoStart", flag}, refused)
                    if "FailureActions" in values:
                        # reset period 3600 s, 3 actions: restart after 5 s twice, then none.
                        data = bytes.fromhex(values["FailureActions"][1])
                        self.assertEqual(data[:4], (3600).to_bytes(4, "little"))
                        self.assertEqual(data[12:16], (3).to_bytes(4, "little"))
                        self.assertEqual(data[20:], bytes.fromhex("01000000881300000100000088130000"
                                                                  "0000000000000000"))
                else:
                    # (Wine writes its default PreshutdownTimeout for every service.)
                    self.assertEqual(refused, {})
                    self.assertNotIn("FailureActions", values)
                    self.assertNotIn("DelayedAutostart", values)

    @sends_a_control
    def test_installing_over_a_running_service_stops_and_replaces_it(self):
        name = self.unique_name("Over")
        exe, _ = self.own_standin(name)
        self.expect(self.run_exe(exe, "/install"), 0,
                    f"Stopping service '{name}'.\nService stopped\nInstalled service '{name}'.\n")
        values = self.registration(name)
        self.assertTrue(values["ImagePath"][1].endswith("\\svc.exe"), values)
        self.assertEqual(values["Type"], ("REG_DWORD", "0x110"))
        self.assertEqual(self.status(name), (STOPPED, ERROR_SERVICE_NEVER_STARTED))

    @sends_a_control
    def test_a_service_that_does_not_stop_in_time_is_not_replaced(self):
        # The old service is only marked for deletion while it still stops,
        # so its name cannot be taken yet: the line says why and what to do.
        name = self.unique_name("Stuck")
        exe, let_go = self.own_standin(name, "slow")
        self.expect(self.run_exe(exe, "/install"), 1, failed(
                    f"Stopping service '{name}'.\nError while stopping service\n"
                    f"Could not create service: the old service '{name}' is still marked for "
                    "deletion, because it has not stopped yet or a program holds it open; close "
                    "the Services console, Event Viewer and any other program holding a handle "
                    "to the service, then install again.", MARKED))
        self.assertIn(" slow ", self.registration(name)["ImagePath"][1])
        let_go()
        self.wait_for(name, lambda s: s is None)

    def test_another_programs_service_and_event_source_are_left_alone(self):
        name = self.unique_name("Foreign")
        self.standin(name, running=False)
        image = self.registration(name)["ImagePath"][1]
        exe = self.pack_service(name, eventLog=True)
        self.expect(self.run_exe(exe, "/install"), 1,
                    f"Could not create service.\nService '{name}' exists and starts {image}, not this "
                    "executable; it was left as it is.\n")
        self.assertEqual(self.registration(name)["ImagePath"][1], image)

        self.assertEqual(self.run_exe("sc", "delete", name).rc, 0)
        source = EVENT_SOURCES_KEY + name
        other = "%SystemRoot%\\system32\\other.dll"
        self.addCleanup(self.run_exe, "reg", "delete", source, "/f", cwd=WORK_ROOT)
        r = self.run_exe("reg", "add", source, "/v", "EventMessageFile", "/t", "REG_EXPAND_SZ", "/d", other, "/f")
        self.assertEqual(r.rc, 0, r)
        left = f"The event source '{name}' was left as it is: its message file is {other}, not this executable.\n"
        self.expect(self.run_exe(exe, "/install"), 0,
                    f"Could not register the event source of service '{name}' (error 183).\n{left}"
                    f"Installed service '{name}'.\n")
        self.expect(self.run_exe(exe, "/uninstall"), 0, f"Uninstalled service '{name}'.\n{left}")
        r = self.run_exe("reg", "query", source, "/v", "EventMessageFile")
        self.assertEqual(r.rc, 0, r)
        self.assertIn(other, r.out)

    def test_name_after_the_word_replaces_the_configured_name(self):
        configured = self.unique_name("Conf")
        other = self.unique_name("Other") + " Name"
        self.forget(other)
        exe = self.pack_service(configured)
        # The rest of the line, spaces included, is the name.
        self.expect(self.run_exe(exe, "/install", *other.split(" ")), 0,
                    f"Installed service '{other}'.\n")
        self.assertEqual(self.registration(other)["DisplayName"], ("REG_SZ", other))
        self.assertIsNone(self.registration(configured))


class Uninstall(ServiceTest):
    def test_each_word_fails_on_a_missing_service_and_stop_on_one_that_does_not_run(self):
        name = self.unique_name("Missing")
        self.forget(name)
        exe = self.pack_service(name)
        for word, out in (("/uninstall", "Could not delete service."), ("/stop", "Could not stop service."),
                          ("/start", "Could not start service.")):
            with self.subTest(word=word):
                self.expect(self.run_exe(exe, word), 1, failed(out, NO_SERVICE))
        self.expect(self.run_exe(exe, "/install"), 0, f"Installed service '{name}'.\n")
        # The refusal says why, in the system's words.
        self.expect(self.run_exe(exe, "/stop"), 1, failed("Could not stop service.", NOT_ACTIVE))
        self.expect(self.run_exe(exe, "/uninstall"), 0, f"Uninstalled service '{name}'.\n")
        self.assertIsNone(self.registration(name))

    @sends_a_control
    def test_a_running_service_cannot_be_started_again_and_is_stopped_first(self):
        name = self.unique_name("RunDel")
        self.standin(name)
        exe = self.pack_service(name)
        self.expect(self.run_exe(exe, "/start"), 1, failed("Could not start service.", RUNS_ALREADY))
        self.expect(self.run_exe(exe, "/uninstall"), 0,
                    f"Stopping service '{name}'.\nService stopped\nUninstalled service '{name}'.\n")
        self.wait_for(name, lambda s: s is None)

    @sends_a_control
    def test_a_service_that_does_not_stop_in_time_is_still_marked_for_deletion(self):
        name = self.unique_name("SlowDel")
        let_go = self.standin(name, "slow")
        exe = self.pack_service(name)
        self.expect(self.run_exe(exe, "/uninstall"), 0,
                    f"Stopping service '{name}'.\nError while stopping service\n"
                    f"Uninstalled service '{name}'.\n")
        # Gone once it has stopped after all.
        self.assertEqual(self.status(name)[0], STOP_PENDING)
        let_go()
        self.wait_for(name, lambda s: s is None)


@sends_a_control
class Stop(ServiceTest):
    def test_a_service_still_stopping_after_its_wait_hint_is_a_failed_stop(self):
        # The stand-in reports a wait hint of one second and stops only when
        # the test lets it go.
        name = self.unique_name("Late")
        let_go = self.standin(name, "slow")
        exe = self.pack_service(name)
        self.expect(self.run_exe(exe, "/stop"), 1,
                    f"Stopping service '{name}'.\nError while stopping service\n")
        self.assertEqual(self.status(name)[0], STOP_PENDING)
        let_go()
        self.wait_for(name, lambda s: s and s[0] == STOPPED)

    def test_a_service_making_progress_is_waited_for_beyond_its_wait_hint(self):
        # Eight seconds of stopping with a wait hint of 5 s, the checkpoint
        # advancing every 0.2 s.
        name = self.unique_name("Steps")
        self.standin(name, "progress")
        exe = self.pack_service(name)
        self.expect(self.run_exe(exe, "/stop"), 0, f"Stopping service '{name}'.\nService stopped\n")
        self.assertEqual(self.status(name), (STOPPED, 0))


@sends_a_control
class WordForms(ServiceTest):
    def test_every_word_form_reaches_its_command(self):
        # One service named after the word: started, stopped, removed and
        # installed again by each spelling of the words.
        name = self.unique_name("Words")
        self.standin(name, running=False)
        exe = self.pack_service(self.unique_name("Unused"))
        steps = [
            ("/start", 0, f"Starting service '{name}'.\n"),
            ("/stop", 0, f"Stopping service '{name}'.\nService stopped\n"),
            ("/-uninstall", 0, f"Uninstalled service '{name}'.\n"),
            ("/install", 0, f"Installed service '{name}'.\n"),
            ("-install-auto", 0, f"Installed service '{name}'.\n"),
            ("--install-demand", 0, f"Installed service '{name}'.\n"),
            ("-uninstall", 0, f"Uninstalled service '{name}'.\n"),
        ]
        for word, rc, out in steps:
            with self.subTest(word=word):
                if word == "/stop":
                    self.wait_for(name, lambda s: s and s[0] == RUNNING)
                self.expect(self.run_exe(exe, word, name), rc, out)
                if word == "/stop":
                    self.assertEqual(self.status(name), (STOPPED, 0))
                if word == "-install-auto":
                    self.assertEqual(self.start_type(name), ("REG_DWORD", "0x2"))
                if word == "--install-demand":
                    self.assertEqual(self.start_type(name), ("REG_DWORD", "0x3"))


if __name__ == "__main__":
    unittest.main()
