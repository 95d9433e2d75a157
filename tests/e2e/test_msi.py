"""The Windows Installer package `kernopack msi` makes, as a fleet's tools use
it: installed, upgraded, refused as a downgrade and removed with Wine's
msiexec (/qn /l*v), its tables read with msitools' `msiinfo export`, the
service and its event source read back with Wine's `reg`; /configure on an
installed service; and the packer's refusals.

msiexec's exit status reaches Linux modulo 256: it runs inside
`cmd /c "... & call echo %^errorlevel%"`, which prints the real code."""

import os
import re
import shutil
import subprocess
import unittest
import uuid
from pathlib import Path

import harness
from harness import LauncherTest, sends_a_control, windows_path, windows_to_unix
from service_support import RUNNING, SERVICES_KEY, STANDINS, wait_until

EVENT_SOURCES_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
REFUSAL = re.compile(r"Setting '(.+)' was refused by the system \(error (\d+)\); "
                     r"the service is installed without it\.")


def have_msitools():
    return shutil.which("wixl") and shutil.which("msiinfo") and shutil.which("msibuild")


def msi_table(msi, table):
    """The rows of one table as `msiinfo export` writes them (after the three
    header lines), each a list of fields."""
    out = subprocess.run(["msiinfo", "export", str(msi), table], capture_output=True, check=True).stdout
    lines = out.decode("utf-8").replace("\r\n", "\n").split("\n")[3:]
    return [l.split("\t") for l in lines if l]


class MsiTest(LauncherTest):
    def setUp(self):
        super().setUp()
        if not have_msitools():
            self.skipTest("needs wixl and msitools (scripts/setup.sh)")
        self.name = f"KrnMsi{uuid.uuid4().hex[:8]}"
        self.upgrade_code = str(uuid.uuid4()).upper()
        self.app = self.dir / "app"
        self.app.mkdir()

    def describe(self, **keys):
        description = {"serviceName": self.name, "executableType": 4, "launcherFlavour": "e",
                       "classPath": ["A1kerno-runtime.jar", "A1app.jar"], "mainClass": "com.example.App",
                       "jreSearchSequence": "B.\\jre"}
        description.update(keys)
        path = self.app / "service.json"
        path.write_text(__import__("json").dumps(description), encoding="utf-8")
        return path

    def pack_msi(self, version, out, *extra, template=None, env=None, upgrade_code=True):
        """Runs `kernopack msi`: (exit code, standard error)."""
        proc = subprocess.run([harness.PACKER, "msi", str(self.app / "service.json"), "--launcher",
                               template or harness.TEMPLATE, "--product-version", version, *extra] +
                              (["--upgrade-code", self.upgrade_code] if upgrade_code else []) +
                              (["-o", str(out)] if out else []),
                              capture_output=True, timeout=300, env=env)
        return proc.returncode, proc.stderr.decode(errors="replace")

    def built(self, version, out, *extra, **kw):
        rc, err = self.pack_msi(version, out, *extra, **kw)
        self.assertEqual(rc, 0, err)
        return out

    def msiexec(self, *args):
        """(Windows exit code, verbose log) of one msiexec run."""
        log = self.dir / f"msiexec-{len(list(self.dir.glob('msiexec-*.log')))}.log"
        # Through a batch file: quotes around a property's value reach
        # msiexec as they are (on cmd's command line they would be escaped).
        script = log.with_suffix(".cmd")
        script.write_text("@msiexec " + " ".join(args) + f" /qn /l*v {windows_path(log)}\r\n@echo %errorlevel%\r\n")
        # Output to a file, not a pipe: a service manager that msiexec starts
        # inherits its handles and would hold a pipe open.
        printed = log.with_suffix(".out")
        with open(printed, "wb") as out:
            subprocess.run(harness.WINE + ["cmd", "/c", windows_path(script)], stdout=out,
                           stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, cwd=self.dir, timeout=600)
        code = int(printed.read_text(encoding=harness.ENCODING, errors="replace").strip().splitlines()[-1])
        text = log.read_bytes().decode("utf-16" if log.read_bytes()[:2] == b"\xff\xfe" else "cp1252",
                                       "replace") if log.exists() else ""
        return code, text

    def values(self, key):
        """{name: (type, data)} of a registry key; None when it is missing."""
        r = self.run_exe("reg", "query", key)
        if r.rc != 0:
            return None
        return {m.group(1): (m.group(2), m.group(3) or "") for m in
                (re.match(r"^ {4}(.+?) {4}(REG_[A-Z_]+)(?: {4}(.*))?$", l) for l in r.out.splitlines()) if m}

    def forget(self, msi):
        """Removes the product and the service however the test ends."""
        self.addCleanup(self.run_exe, "sc", "delete", self.name, cwd=harness.WORK_ROOT)
        self.addCleanup(self.run_exe, "msiexec", "/x", windows_path(msi), "/qn", cwd=harness.WORK_ROOT,
                        timeout=600)

    def keep_service_manager(self):
        # Wine's service manager ends with the last ordinary process of the
        # prefix: one waits on its standard input while services run.
        idle = subprocess.Popen(harness.WINE + ["cmd", "/c", "pause"], stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(idle.wait, 60)
        self.addCleanup(idle.stdin.close)


class Package(MsiTest):
    def stand_in_runtime(self):
        bindir = self.app / "jre" / "bin"
        (bindir / "server").mkdir(parents=True)
        shutil.copy(STANDINS / "java.exe", bindir)
        (bindir / "java-standin.cfg").write_text('banner=java version "17.0.2"\n')
        shutil.copy(STANDINS / "jvm.dll", bindir / "server")
        (bindir / "server" / "jvm-standin.cfg").write_text("main=return\n")

    @sends_a_control
    def test_install_upgrade_downgrade_and_removal(self):
        self.stand_in_runtime()
        self.describe(serviceDescription="Fleet [test] & co", eventLog=True, serviceDependencies="RpcSs",
                      recovery={"restartDelaySeconds": 5, "maxRestarts": 2, "resetPeriodHours": 1},
                      package={"manufacturer": "Kerno Tests", "files": ["jre"]})
        (self.app / "app.jar").write_text("1.0")
        v10 = self.built("1.0.0", self.dir / "v10.msi")
        (self.app / "app.jar").write_text("1.1")
        v11 = self.built("1.1.0", self.dir / "v11.msi")
        self.forget(v11)
        self.forget(v10)
        self.keep_service_manager()

        # The tables, as msitools reads them.
        service = msi_table(v10, "ServiceInstall")
        # Never interactive in the table: /configure adds the flag under LocalSystem.
        self.assertEqual([r[1:7] + r[8:9] + r[12:] for r in service],
                         [[self.name, self.name, "16", "2", "1", "", "[SERVICEACCOUNT]",
                           "Fleet [\\[]test[\\]] & co"]])
        self.assertEqual(service[0][7], "RpcSs[~][~]")
        # Start at install, stop at install and removal, delete at removal; wait.
        self.assertEqual([r[1:5] for r in msi_table(v10, "ServiceControl")], [[self.name, "163", "", "1"]])
        # The launcher's command words through the DLL (type 1, deferred, as
        # SYSTEM): /configure on a new product only, /uninstall at removal.
        actions = {r[0]: r[1:] for r in msi_table(v10, "CustomAction")}
        self.assertEqual(actions["ConfigureService"][:3], ["3073", "KernoAction", "ConfigureService"])
        self.assertEqual(actions["UninstallService"][:3], ["3137", "KernoAction", "UninstallService"])
        self.assertEqual(actions["ConfigureServiceData"][1:3], ["ConfigureService", f"[INSTALLDIR]{self.name}.exe"])
        conditions = {r[0]: r[1] for r in msi_table(v10, "InstallExecuteSequence")}
        self.assertEqual((conditions["ConfigureService"], conditions["UninstallService"]),
                         ("NOT Installed", 'REMOVE~="ALL"'))
        self.assertEqual([r[1:4] for r in msi_table(v10, "MsiLockPermissionsEx")],
                         [["INSTALLDIR", "CreateFolder", "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"]])
        sequence = {r[0]: int(r[2]) for r in msi_table(v10, "InstallExecuteSequence")}
        self.assertLess(sequence["InstallServices"], sequence["ConfigureService"])
        self.assertLess(sequence["ConfigureService"], sequence["StartServices"])
        self.assertLess(sequence["InstallValidate"], sequence["RemoveExistingProducts"])
        self.assertLess(sequence["RemoveExistingProducts"], sequence["InstallInitialize"])
        self.assertIn(["DEFAULT_SERVICEACCOUNT", "LocalSystem"], msi_table(v10, "Property"))

        # 1.0 into a folder of the operator's choice; /configure's lines in the log.
        folder = f"C:\\KernoMsi_{self.name}"
        code, log = self.msiexec("/i", windows_path(v10), f'INSTALLDIR={folder}')
        self.assertEqual(code, 0, log[-3000:])
        self.assertIn(f"/configure: Configured service '{self.name}'.", log)
        exe = f"{folder}\\{self.name}.exe"
        values = self.values(SERVICES_KEY + self.name)
        self.assertEqual(values["ImagePath"][1].lower(), exe.lower())
        self.assertEqual((values["Start"], values["Type"], values["ErrorControl"], values["ObjectName"]),
                         (("REG_DWORD", "0x2"), ("REG_DWORD", "0x110"), ("REG_DWORD", "0x1"),
                          ("REG_SZ", "LocalSystem")))
        self.assertEqual(values["Description"], ("REG_SZ", "Fleet [test] & co"))
        # The event source as /install registers it, by /configure.
        source = self.values(EVENT_SOURCES_KEY + self.name)
        self.assertEqual(source["EventMessageFile"][0], "REG_EXPAND_SZ")
        self.assertEqual(source["EventMessageFile"][1].lower(), exe.lower())
        self.assertEqual(source["TypesSupported"], ("REG_DWORD", "0x7"))
        wait_until(lambda: (self.sc_status(self.name) or (0,))[0] == RUNNING, f"{self.name} running")
        vm_dir = windows_to_unix(folder) / "jre" / "bin" / "server"
        calls_file = vm_dir / "jvm-standin.calls"
        wait_until(lambda: calls_file.exists() and "step return" in calls_file.read_text(),
                   "the launcher class to return")
        calls = (vm_dir / "jvm-standin.calls").read_text()
        self.assertIn("app.jar", calls)
        self.assertIn("com.example.App", calls)
        self.assertTrue((windows_to_unix(folder) / "logs").is_dir())

        # 1.1 over 1.0: the remembered folder, new files, one product.
        code, log = self.msiexec("/i", windows_path(v11))
        self.assertEqual(code, 0, log[-3000:])
        self.assertEqual((windows_to_unix(folder) / "app.jar").read_text(), "1.1")
        self.assertEqual(self.values(SERVICES_KEY + self.name)["ImagePath"][1].lower(), exe.lower())
        wait_until(lambda: (self.sc_status(self.name) or (0,))[0] == RUNNING, f"{self.name} running again")
        r = self.run_exe("reg", "query", UNINSTALL_KEY, "/s", "/v", "DisplayName")
        self.assertEqual(r.out.count(f"REG_SZ    {self.name}\n"), 1, r.out)

        # 1.0 over 1.1 is refused, and 1.1 stays.
        code, log = self.msiexec("/i", windows_path(v10))
        self.assertEqual(code, 1603, log[-3000:])
        # (Wine's log names the failed condition, not its message.)
        self.assertIn("Property(S): NEWER_VERSION_FOUND = {", log)
        self.assertIn(["NOT NEWER_VERSION_FOUND", "A newer version of [ProductName] is already installed."],
                      msi_table(v10, "LaunchCondition"))
        self.assertEqual((windows_to_unix(folder) / "app.jar").read_text(), "1.1")

        # Removal takes the service, the event source and the installed files.
        code, log = self.msiexec("/x", windows_path(v11))
        self.assertEqual(code, 0, log[-3000:])
        self.assertIsNone(self.sc_status(self.name))
        self.assertIsNone(self.values(EVENT_SOURCES_KEY + self.name))
        left = windows_to_unix(folder)
        for f in (f"{self.name}.exe", "app.jar", "kerno-runtime.jar", "jre/bin/server/jvm.dll"):
            self.assertFalse((left / f).exists(), f)

    def test_a_service_that_cannot_start_rolls_the_install_back(self):
        # Its executable is no service program: the start fails at once.
        self.describe()
        (self.app / "app.jar").write_text("")
        template = self.dir / "not-a-service.exe"
        strip = "x86_64-w64-mingw32-strip" if harness.ARCH == "x64" else "i686-w64-mingw32-strip"
        subprocess.run([strip, "-o", str(template), str(STANDINS / "java.exe")], check=True)
        # A template ends with its last section (the 32-bit strip leaves a tail).
        image = template.read_bytes()
        template.write_bytes(image[:harness.block_offset(image)])
        msi = self.built("1.0.0", self.dir / "bad.msi", template=str(template))
        self.forget(msi)
        self.keep_service_manager()
        folder = f"C:\\KernoMsi_{self.name}"
        code, log = self.msiexec("/i", windows_path(msi), f'INSTALLDIR={folder}')
        self.assertIn(code, (1603, 1627), log[-3000:])
        self.assertIsNone(self.sc_status(self.name))
        self.assertFalse((windows_to_unix(folder) / f"{self.name}.exe").exists())


class Accounts(MsiTest):
    def installed(self, msi, *properties):
        code, log = self.msiexec("/i", windows_path(msi), *properties)
        self.assertEqual(code, 0, log[-3000:])
        values = self.values(SERVICES_KEY + self.name)
        return values["ObjectName"][1], values["Type"][1], log

    def test_every_account_installs_non_interactive_and_stays_across_upgrade_and_repair(self):
        # The description's account is the default; SERVICEACCOUNT overrides
        # it and is remembered: an upgrade and a repair given none keep it.
        # (Not interactive under LocalSystem either: the block names another
        # account, so it does not ask for that.)
        # Started on demand: the installer does not start it, nor a repair
        # while the last start is still ending.
        self.describe(serviceAccount="localservice", executableType=3, package={"manufacturer": "Kerno Tests"})
        (self.app / "app.jar").write_text("")
        v10 = self.built("1.0.0", self.dir / "v10.msi")
        v11 = self.built("1.1.0", self.dir / "v11.msi")
        self.forget(v11)
        self.forget(v10)
        self.keep_service_manager()
        kinds = [((), "NT AUTHORITY\\LocalService", "0x10"), (("SERVICEACCOUNT=LocalSystem",), "LocalSystem", "0x10"),
                 (('SERVICEACCOUNT="NT AUTHORITY\\NetworkService"',), "NT AUTHORITY\\NetworkService", "0x10"),
                 ((f'SERVICEACCOUNT="NT SERVICE\\{self.name}"',), f"NT SERVICE\\{self.name}", "0x10"),
                 (("SERVICEACCOUNT=CORP\\orders$",), "CORP\\orders$", "0x10")]
        for properties, account, kind in kinds:
            with self.subTest(account=account):
                self.assertEqual(self.installed(v10, *properties)[:2], (account, kind))
                code, log = self.msiexec("/x", windows_path(v10))
                self.assertEqual(code, 0, log[-3000:])
        self.installed(v10, f'SERVICEACCOUNT="NT SERVICE\\{self.name}"')
        self.assertEqual(self.installed(v11)[:2], (f"NT SERVICE\\{self.name}", "0x10"))
        # A repair (what msiexec /f asks) re-registers the service with the
        # remembered account and does not run /configure.
        account, kind, log = self.installed(v11, "REINSTALL=ALL", "REINSTALLMODE=vomus")
        self.assertEqual((account, kind), (f"NT SERVICE\\{self.name}", "0x10"))
        self.assertIn("Action start", log)
        self.assertIn(": InstallServices.", log)
        self.assertNotIn(": ConfigureService.", log)


class Configure(MsiTest):
    def test_configure_applies_the_block_to_the_installed_service(self):
        exe = self.pack({"serviceName": self.name, "executableType": 4, "eventLog": True,
                         "delayedAutoStart": True, "preshutdownTimeoutSeconds": 60,
                         "recovery": {"restartDelaySeconds": 5, "maxRestarts": 1, "resetPeriodHours": 1}})
        self.addCleanup(self.run_exe, exe, "/uninstall", cwd=harness.WORK_ROOT)
        r = self.run_exe(exe, "/configure")
        self.assertEqual((r.rc, r.out), (1, f"Could not configure service: service '{self.name}' is "
                                             "not installed.\n"), r)
        installed = self.run_exe(exe, "/install")
        self.assertEqual(installed.rc, 0, installed)
        self.run_exe("reg", "delete", EVENT_SOURCES_KEY + self.name, "/f")
        r = self.run_exe(exe, "/configure")
        self.assertEqual(r.rc, 0, r)
        lines = r.out.splitlines()
        # The same refusals as /install (Wine refuses delayed start with 124).
        self.assertEqual(lines[:-1], [l for l in installed.out.splitlines() if REFUSAL.fullmatch(l)])
        self.assertIn(("delayedAutoStart", "124"), [REFUSAL.fullmatch(l).groups() for l in lines[:-1]])
        self.assertEqual(lines[-1], f"Configured service '{self.name}'.")
        self.assertEqual(self.values(EVENT_SOURCES_KEY + self.name)["TypesSupported"], ("REG_DWORD", "0x7"))
        self.assertEqual(self.values(SERVICES_KEY + self.name)["PreshutdownTimeout"], ("REG_DWORD", "0xea60"))

    def test_configure_warns_about_its_folder_and_leaves_another_programs_event_source(self):
        exe = self.pack({"serviceName": self.name, "executableType": 4, "eventLog": True}, subdir="open")
        self.addCleanup(self.run_exe, exe, "/uninstall", cwd=harness.WORK_ROOT)
        self.assertEqual(self.run_exe(exe, "/install").rc, 0)
        other = "C:\\windows\\system32\\other.dll"
        self.run_exe("reg", "add", EVENT_SOURCES_KEY + self.name, "/v", "EventMessageFile", "/t", "REG_SZ",
                     "/d", other, "/f")
        # Wine shows the others' mode bits as Everyone's access.
        os.chmod(exe.parent, 0o777)
        r = self.run_exe(exe, "/configure")
        os.chmod(exe.parent, 0o700)
        self.assertEqual(r.rc, 0, r)
        self.assertEqual(r.out.splitlines(), [
            f"Could not register the event source of service '{self.name}' (error 183).",
            f"The event source '{self.name}' was left as it is: its message file is {other}, not this executable.",
            f"Configured service '{self.name}'."])
        self.assertRegex(r.err, r"^Warning: users other than administrators and SYSTEM can write to "
                                r"[A-Za-z]:\\.*\\open \(S-1-1-0\); [^\n]*\n$")
        self.assertEqual(self.values(EVENT_SOURCES_KEY + self.name)["EventMessageFile"], ("REG_SZ", other))


class Refusals(MsiTest):
    def test_bad_input_and_missing_tools_leave_nothing(self):
        (self.app / "app.jar").write_text("")
        cases = [
            ({}, "1.0", 2, "is not a product version major.minor.build"),
            ({}, "256.0.0", 2, "major and minor 0 to 255"),
            ({"package": {"upgradeCode": "not-a-guid"}}, "1.0.0", 2, "is not a GUID"),
            ({"package": {"files": ["missing.txt"]}}, "1.0.0", 2, "missing.txt: not found"),
            ({"package": {"files": ["../outside"]}}, "1.0.0", 2, "must stay below the description's directory"),
            ({"package": {"vendor": "x"}}, "1.0.0", 2, "unknown member"),
            # The remembered settings' registry key is formatted text.
            ({"package": {"manufacturer": "Example [EU]"}}, "1.0.0", 2, "holds '[', ']', '{', '}' or a backslash"),
        ]
        out = self.dir / "out.msi"
        for keys, version, rc, text in cases:
            with self.subTest(keys=keys, version=version):
                self.describe(**keys)
                got, err = self.pack_msi(version, out, upgrade_code="upgradeCode" not in keys.get("package", {}))
                self.assertEqual(got, rc, err)
                self.assertIn(text, err)
                self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["app"])
        # Without wixl on PATH: the packages to install are named.
        self.describe()
        got, err = self.pack_msi("1.0.0", out, env=dict(os.environ, PATH=str(self.dir / "none")))
        self.assertEqual(got, 1, err)
        self.assertIn("install the Debian packages wixl and msitools", err)
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["app"])
        # --wxs alone writes the source and the files it names.
        wxs = self.dir / "svc.wxs"
        got, err = self.pack_msi("1.0.0", None, "--wxs", str(wxs))
        self.assertEqual(got, 0, err)
        self.assertIn(f'Source="svc.files/{self.name}.exe"', wxs.read_text())
        self.assertTrue((self.dir / "svc.files" / "app.jar").is_file())

    def test_planted_work_folders_are_refused_or_left_alone(self):
        """Another user's folder (tests run as root: a folder of another uid),
        a link in the place of the --wxs files folder, a link inside one:
        refused with nothing built from them. The old fixed work name beside
        -o is not used at all."""
        def give_away(path):
            """Gives `path` to another user; False where no other user exists
            (a user namespace that maps root alone refuses with EINVAL)."""
            try:
                os.chown(path, 4242, 4242)
                return True
            except OSError:
                return False

        (self.app / "app.jar").write_text("")
        self.describe()
        theirs = self.dir / "theirs"
        theirs.mkdir()
        (theirs / "app.jar").write_text("theirs")
        files = self.dir / "svc.files"

        def other_owner():
            files.mkdir(mode=0o777)
            if not give_away(files):
                files.rmdir()
                self.skipTest("no other user here (the x86 route's namespace maps root alone)")

        def inner_link():
            files.mkdir()
            (files / "jre").symlink_to(theirs)

        cases = [(other_owner, "belongs to another user or others may write to it"),
                 (lambda: files.symlink_to(theirs), "is a symbolic link or not a folder"),
                 (inner_link, "svc.files/jre: is a symbolic link")]
        for plant, why in cases:
            with self.subTest(why=why):
                plant()
                got, err = self.pack_msi("1.0.0", None, "--wxs", str(self.dir / "svc.wxs"))
                self.assertEqual(got, 1, err)
                self.assertIn("is not a folder of your own without links", err)
                self.assertIn(why, err)
                self.assertFalse((self.dir / "svc.wxs").exists())
                self.assertEqual(sorted(p.name for p in theirs.iterdir()), ["app.jar"])
                (files.unlink if files.is_symlink() else lambda: shutil.rmtree(files))()
        planted = self.dir / "out.msi.work.tmp"
        planted.mkdir(mode=0o777)
        give_away(planted)
        got, err = self.pack_msi("1.0.0", self.dir / "out.msi")
        self.assertEqual(got, 0, err)
        self.assertEqual(list(planted.iterdir()), [])

    def test_the_signing_key_is_never_shipped(self):
        if not (shutil.which("openssl") and shutil.which("osslsigncode")):
            self.skipTest("needs openssl and osslsigncode")
        (self.app / "app.jar").write_text("")
        cert, key = self.app / "keys" / "cert.pem", self.app / "keys" / "key.pem"
        key.parent.mkdir()
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key), "-out",
                        str(cert), "-days", "2", "-subj", "/CN=kerno msi test"], check=True, capture_output=True)
        for files in (["keys/key.pem"], ["keys"]):
            with self.subTest(files=files):
                self.describe(package={"files": files})
                got, err = self.pack_msi("1.0.0", self.dir / "out.msi", "--sign-with", str(cert), str(key))
                self.assertEqual(got, 2, err)
                self.assertIn("is a file given to --sign-with", err)
                self.assertFalse((self.dir / "out.msi").exists())


if __name__ == "__main__":
    unittest.main()
