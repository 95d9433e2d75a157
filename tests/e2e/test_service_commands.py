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
import unittest
import uuid
from pathlib import Path

from harness import (ERROR_SERVICE_NEVER_STARTED, EVENT_SOURCES_KEY, PREFIX, RUNNING, SERVICES_KEY,
                     STOP_PENDING, STOPPED, TEMPLATE, WORK_ROOT, LauncherTest, sends_a_control, windows_path)

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
            self.wait_status(name, lambda s: s and s[0] == RUNNING)
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
                    self.assertEqual(self.sc_status(name), (STOPPED, ERROR_SERVICE_NEVER_STARTED))
                    self.run_exe("sc", "start", name)
                    self.wait_status(name, lambda s: s == (STOPPED, 1))

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

    def test_a_user_accounts_password_comes_from_standard_input_and_is_kept_nowhere(self):
        # Wine knows the user it runs as; ".\\" is this computer.
        account = ".\\" + (os.environ.get("USER") or "root")
        name = self.unique_name("User")
        self.forget(name)
        exe = self.pack_service(name, serviceAccount=account, displayName="Orders as a user")
        asked = (f"Could not install service: account '{account}' needs its password; type it when asked, "
                 "or give it as one line on standard input.\n")
        self.expect(self.run_exe(exe, "/install"), 1, asked)  # no input: nothing installed
        self.assertIsNone(self.registration(name))
        self.expect(self.run_exe(exe, "/install", input=b"x" * 1025 + b"\n"), 1,
                    "Could not install service: the line on standard input is longer than 1024 bytes.\n")

        # Wine keeps no account rights: each command grants the right anew.
        granted = f"Granted account '{account}' the right to log on as a service.\n"
        password = "Pw-" + uuid.uuid4().hex
        r = self.run_exe(exe, "/install", input=password.encode() + b"\r\nnext line\n")
        self.expect(r, 0, f"Installed service '{name}'.\n" + granted)
        values = self.registration(name)
        self.assertEqual(values["ObjectName"], ("REG_SZ", account))
        self.assertEqual(values["DisplayName"], ("REG_SZ", "Orders as a user"))
        self.assertEqual(values["Type"], ("REG_DWORD", "0x10"))
        # /configure without input keeps the account it finds; with input it sets it again.
        self.expect(self.run_exe(exe, "/configure"), 0, f"Configured service '{name}'.\n" + granted)
        self.expect(self.run_exe(exe, "/configure", input=password.encode() + b"\n"), 0,
                    f"Configured service '{name}'.\n" + granted)

        # Neither the password nor its UTF-16 form anywhere under the prefix or the test's directory,
        # nor in the service's key as the registry holds it now.
        self.assertNotIn(password, self.exported(name))
        forms = [password.encode(), password.encode("utf-16-le")]
        for root in (Path(PREFIX), self.dir):
            for path in root.rglob("*"):
                if path.is_file() and not path.is_symlink():
                    data = path.read_bytes()
                    self.assertFalse(any(f in data for f in forms), path)

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

STOPPING = "Stopping service '{name}'.\n"
NOT_STOPPED = STOPPING + "Error while stopping service\n"
STOPPED_LINES = STOPPING + "Service stopped\n"
MARKED_LINE = ("Could not create service: the old service '{name}' is still marked for deletion, because it "
               "has not stopped yet or a program holds it open; close the Services console, Event Viewer and "
               "any other program holding a handle to the service, then install again.")
GONE = "gone"
# A stand-in service (tests/e2e/standins), running in the given mode, meets
# the commands: each (word, exit code, printed lines, or a failure's last
# line and the system's error that follows it); then its state before
# the test lets a "slow" one go and the state it reaches afterwards. A slow
# one stays stop pending, reporting a wait hint of 1 s, until let go; a
# "progress" one stops in 8 s with a wait hint of 5 s, its checkpoint
# advancing every 0.2 s.
AGAINST_A_RUNNING_SERVICE = [
    # Installing over it stops and replaces it: a launcher registration, never started.
    ("", [("/start", 1, ("Could not start service.", RUNS_ALREADY)),
          ("/install", 0, STOPPED_LINES + "Installed service '{name}'.\n")],
     (STOPPED, ERROR_SERVICE_NEVER_STARTED), None),
    # One that does not stop in time is only marked for deletion: not replaced.
    ("slow", [("/install", 1, (NOT_STOPPED + MARKED_LINE, MARKED))], STOP_PENDING, GONE),
    ("", [("/uninstall", 0, STOPPED_LINES + "Uninstalled service '{name}'.\n")], GONE, GONE),
    ("slow", [("/uninstall", 0, NOT_STOPPED + "Uninstalled service '{name}'.\n")], STOP_PENDING, GONE),
    ("slow", [("/stop", 1, NOT_STOPPED)], STOP_PENDING, STOPPED),
    ("progress", [("/stop", 0, STOPPED_LINES)], (STOPPED, 0), None),
]


@sends_a_control
class AgainstARunningService(ServiceTest):
    def test_commands_meet_a_running_service(self):
        def reached(status, wanted):
            if wanted == GONE:
                return status is None
            return status == wanted if isinstance(wanted, tuple) else bool(status) and status[0] == wanted
        for number, (mode, steps, before, after) in enumerate(AGAINST_A_RUNNING_SERVICE):
            with self.subTest(mode=mode, words=[word for word, _, _ in steps]):
                name = self.unique_name(f"Run{number}")
                exe, let_go = self.own_standin(name, mode)
                for word, rc, out in steps:
                    self.expect(self.run_exe(exe, word), rc, failed(out[0].format(name=name), out[1])
                                if isinstance(out, tuple) else out.format(name=name))
                status = self.sc_status(name)
                self.assertTrue(reached(status, before), status)
                let_go()
                if after is not None:
                    self.wait_status(name, lambda s: reached(s, after))


@sends_a_control
class NameAfterTheWord(ServiceTest):
    def test_start_stop_and_uninstall_act_on_the_named_service(self):
        # Every spelling of the words is the unit tier's (config_test).
        name = self.unique_name("Words")
        self.standin(name, running=False)
        exe = self.pack_service(self.unique_name("Unused"))
        self.expect(self.run_exe(exe, "/start", name), 0, f"Starting service '{name}'.\n")
        self.wait_status(name, lambda s: s and s[0] == RUNNING)
        self.expect(self.run_exe(exe, "/stop", name), 0, f"Stopping service '{name}'.\nService stopped\n")
        self.assertEqual(self.sc_status(name), (STOPPED, 0))
        self.expect(self.run_exe(exe, "/uninstall", name), 0, f"Uninstalled service '{name}'.\n")


if __name__ == "__main__":
    unittest.main()
