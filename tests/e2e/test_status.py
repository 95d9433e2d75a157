"""/status and /restart as an operator uses them, on a launcher service run
by Wine's service control manager with the fake runtime of tests/standins
(its jvm.dll lets the application's main return and waits for the stop)."""

import json
import re
import shutil
import subprocess
import unittest
import uuid

import harness
from harness import WORK_ROOT, LauncherTest, sends_a_control
from service_support import RUNNING, SERVICES_KEY, STANDINS, STOPPED, wait_until

NOT_INSTALLED, STOPPED_CODE = 2, 3


class StatusTest(LauncherTest):
    def setUp(self):
        super().setUp()
        if not (STANDINS / "jvm.dll").exists():
            self.skipTest("needs the stand-ins of tests/standins")
        self.name = f"KrnStatus{uuid.uuid4().hex[:8]}"
        self.addCleanup(self.run_exe, "sc", "delete", self.name, cwd=WORK_ROOT)
        self.addCleanup(self.run_exe, "sc", "stop", self.name, cwd=WORK_ROOT)

    def installed_service(self):
        """A launcher service with its fake runtime in .\\jre, installed."""
        bindir = self.dir / "jre" / "bin"
        (bindir / "server").mkdir(parents=True)
        shutil.copy(STANDINS / "java.exe", bindir / "java.exe")
        (bindir / "java-standin.cfg").write_text('banner=java version "1.8.0_392"\n')
        shutil.copy(STANDINS / "jvm.dll", bindir / "server" / "jvm.dll")
        (bindir / "server" / "jvm-standin.cfg").write_text("main=return\n")
        exe = self.pack({"serviceName": self.name, "jreSearchSequence": "B.\\jre",
                         "mainClass": "com.example.App", "stdoutFile": "logs\\out.log",
                         "stderrFile": "d:\\err.log",
                         "outputRotation": {"maxBytes": 1048576, "keep": 3}})
        r = self.run_exe(exe, "/install")
        self.assertEqual((r.rc, r.out), (0, f"Installed service '{self.name}'.\n"), r)
        return exe

    def state(self):
        return self.sc_status(self.name)

    def wait_running(self):
        wait_until(lambda: (self.state() or (0,))[0] == RUNNING, f"{self.name} to run",
                   processes=self.dir.name)

    def test_status_of_a_service_not_installed_stopped_and_running(self):
        exe = self.installed_service()
        r = self.run_exe(exe, "/status", "Nobody" + self.name)
        self.assertEqual((r.rc, r.out), (NOT_INSTALLED, f"Service 'Nobody{self.name}' is not installed.\n"))

        image = re.search(r"ImagePath\s+REG_\w+\s+(.*)", self.run_exe(
            "reg", "query", SERVICES_KEY + self.name, "/v", "ImagePath", cwd=WORK_ROOT).out).group(1)
        made_from = json.loads(subprocess.run([harness.PACKER, "dump", str(exe)], capture_output=True,
                                              check=True).stdout)["madeFrom"]
        home = image.rsplit("\\", 1)[0]
        rotated = ", rotated at 1048576 bytes, keeping .1 to .3"
        expected = [
            f"Service '{self.name}'",
            "  State:           stopped (exit code 1077)",
            "  Process id:      none",
            "  Start type:      on demand",
            "  Account:         LocalSystem",
            None,  # the failure actions: Wine stores none
            f"  Image path:      {image}",
            f"  Made from:       {made_from}",
            '  Diagnostic log:  off (KERNO_LOG and BRINDLE_LOG are not "yes" in the machine environment)',
            f"  Event log:       Application log, source '{self.name}'",
            f"  Standard output: {home}\\logs\\out.log{rotated}",
            f"  Standard error:  d:\\err.log{rotated}",
            "  Start cache:     on, no archive yet",  # the stand-in runtime reports 1.8
        ]
        r = self.run_exe(exe, "/status")
        lines = r.out.splitlines()
        self.assertEqual((r.rc, len(lines), r.err), (STOPPED_CODE, len(expected), ""), r)
        self.assertRegex(lines[5], r"^  Failure actions: (none|unknown \(Error \d+.*\))$")
        expected[5] = lines[5]
        self.assertEqual(lines, expected)

        self.assertEqual(self.run_exe("sc", "start", self.name, cwd=WORK_ROOT).rc, 0)
        self.wait_running()
        r = self.run_exe(exe, "/status")
        lines = r.out.splitlines()
        self.assertEqual(r.rc, 0, r)
        self.assertRegex(lines[2], r"^  Process id:      [1-9]\d*$")
        self.assertEqual(lines[:2] + lines[3:], expected[:1] + ["  State:           running"] + expected[3:])

    @sends_a_control
    def test_restart_starts_a_stopped_service_and_stops_and_starts_a_running_one(self):
        exe = self.installed_service()
        started = f"Starting service '{self.name}'.\nService started\n"
        r = self.run_exe(exe, "/restart")
        self.assertEqual((r.rc, r.out, r.err), (0, started, ""), r)
        self.assertEqual(self.state(), (RUNNING, 0))
        r = self.run_exe(exe, "/restart")
        self.assertEqual((r.rc, r.out, r.err),
                         (0, f"Stopping service '{self.name}'.\nService stopped\n" + started, ""), r)
        self.assertEqual(self.state(), (RUNNING, 0))
        r = self.run_exe(exe, "/stop")
        self.assertEqual(r.rc, 0, r)
        self.assertEqual(self.state(), (STOPPED, 0))


if __name__ == "__main__":
    unittest.main()
