"""The smoke check smoke.cmd of the release zip, run by Wine's cmd from the
unpacked bundle as a user runs it, with the stand-in runtime as the Java
home: every step that needs no real VM passes (those that do say SKIP),
the closing count, exit code 0 and nothing left registered; with a broken
step the matching FAIL line, exit code 1, and still nothing left.

The bundles come from the `package` target (build/all/package)."""

import os
import re
import shutil
import subprocess
import unittest
import uuid
import zipfile
from pathlib import Path

import harness
from harness import EVENT_SOURCES_KEY, SERVICES_KEY, LauncherTest, sends_a_control
from service_support import ARCH, STANDINS, fake_runtime
from test_release import windows

PACKAGE_DIR = Path(os.environ.get("KERNO_PACKAGE_DIR", ""))
SERVICE = "KernoDemo"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
LINE = re.compile(r"(PASS|FAIL|SKIP) ([a-z-]+): (.*)")
SUMMARY = re.compile(r"(\d+) passed, (\d+) failed, (\d+) skipped")
# Every step, in order, and what a run with the stand-in runtime gives.
STANDIN_RUN = {"pack": "PASS", "install": "PASS", "start": "PASS", "started": "SKIP", "status": "PASS",
               "threaddump": "PASS", "stop": "PASS", "shutdown": "SKIP", "uninstall": "PASS",
               "msi-install": "PASS", "msi-upgrade": "PASS", "msi-uninstall": "PASS", "cleanup": "PASS"}


def setUpModule():
    if not (harness.PREFIX and os.environ.get("KERNO_PACKAGE_DIR") and (STANDINS / "jvm.dll").exists()):
        raise unittest.SkipTest("needs KERNO_PACKAGE_DIR, a Wine prefix and the stand-ins")


class Smoke(LauncherTest):
    def setUp(self):
        super().setUp()
        zips = sorted(PACKAGE_DIR.glob("kerno-*-windows.zip"))
        self.assertEqual(len(zips), 1, f"one release zip in {PACKAGE_DIR}")
        self.root = Path(harness.PREFIX) / "drive_c" / f"smoke-{ARCH}-{uuid.uuid4().hex[:8]}"
        self.root.mkdir()
        self.addCleanup(shutil.rmtree, self.root, True)
        with zipfile.ZipFile(zips[0]) as z:
            z.extractall(self.root)
            top = z.namelist()[0].split("/")[0]
        self.bundle = self.root / top
        self.addCleanup(self.assert_nothing_left)

    def smoke(self, *vm_settings):
        """Runs smoke.cmd with a stand-in Java home whose VM does what
        `vm_settings` say: (exit code, {step: (verdict, reason)}, the
        closing counts, the whole output)."""
        jdk = self.root / f"jdk-{len(list(self.root.glob('jdk-*')))}"
        fake_runtime(jdk, *vm_settings, banner="17.0.2")
        env = dict(os.environ, WINEDEBUG="-all")
        env.pop("JAVA_HOME", None)
        proc = subprocess.run(harness.WINE + ["cmd", "/c", windows(self.bundle / "smoke.cmd"),
                                              windows(jdk), ARCH],
                              capture_output=True, env=env, cwd=self.root, stdin=subprocess.DEVNULL,
                              timeout=1200)
        out = proc.stdout.decode(harness.ENCODING, "replace").replace("\r\n", "\n")
        steps = {m[2]: (m[1], m[3]) for m in map(LINE.fullmatch, out.splitlines()) if m}
        counts = [tuple(map(int, m.groups())) for m in map(SUMMARY.fullmatch, out.splitlines()) if m]
        self.assertEqual(len(counts), 1, out)
        self.assertEqual(out.rstrip("\n").splitlines()[-1], "%d passed, %d failed, %d skipped" % counts[0])
        return proc.returncode, steps, counts[0], out

    def assert_nothing_left(self):
        for key in (SERVICES_KEY + SERVICE, EVENT_SOURCES_KEY + SERVICE, f"HKLM\\Software\\{SERVICE}"):
            self.assertNotEqual(self.run_exe("reg", "query", key, cwd=harness.WORK_ROOT).rc, 0,
                                f"{key} is left")
        products = self.run_exe("reg", "query", UNINSTALL_KEY, "/s", "/v", "DisplayName", cwd=harness.WORK_ROOT)
        self.assertNotIn(f"REG_SZ    {SERVICE}\n", products.out)
        temp = list(Path(harness.PREFIX, "drive_c", "users").glob("*/Temp/kerno-smoke-*"))
        self.assertEqual(temp, [])

    @sends_a_control
    def test_every_step_without_a_real_vm_passes_and_nothing_is_left(self):
        rc, steps, counts, out = self.smoke("main=return")
        self.assertEqual([(step, verdict) for step, (verdict, _) in steps.items()], list(STANDIN_RUN.items()), out)
        for step in ("started", "shutdown"):
            self.assertIn("is the test stand-in", steps[step][1])
        self.assertEqual((rc, counts), (0, (11, 0, 2)), out)
        self.assertIn("PASS pack", (self.root / "kerno-smoke.log").read_text(harness.ENCODING))

    @sends_a_control
    def test_a_broken_step_fails_and_still_leaves_nothing(self):
        # A VM that cannot be created: the service stops at once.
        rc, steps, counts, out = self.smoke("create=-1")
        self.assertEqual(steps["status"][0], "FAIL", out)
        self.assertIn("stopped", steps["status"][1])
        self.assertEqual(steps["uninstall"][0], "PASS", out)
        self.assertEqual(steps["cleanup"][0], "PASS", out)
        self.assertEqual(rc, 1, out)
        self.assertGreater(counts[1], 0)
        # A template the packer refuses: nothing is installed at all.
        (self.bundle / f"kernosvc-{ARCH}.exe").write_bytes(b"MZ not a launcher")
        rc, steps, counts, out = self.smoke("main=return")
        self.assertEqual(steps["pack"][0], "FAIL", out)
        self.assertEqual({v for step, (v, _) in steps.items() if step in ("install", "uninstall")}, {"SKIP"})
        self.assertEqual(rc, 1, out)


if __name__ == "__main__":
    unittest.main()
