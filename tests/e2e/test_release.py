"""The release bundle as a Windows team gets it: kerno-VERSION-windows.zip
unpacked into a fresh directory of the Wine prefix and used with nothing
else. Its kernopack.exe packs the example service with the template of this
pass (x64 or x86) found beside itself, byte for byte as the Linux kernopack
of the tarball does, and dumps the same description. The result is signed
with a throw-away certificate (openssl) and verified (osslsigncode); a
signed executable still reads its configuration block: run from the
console with the stand-in runtime, it hands the example's class path and
main class to the VM (the service commands and the whole service run are
test_service_commands' and test_service_run's). A copy with one byte of the
block changed fails verification.

The bundles come from the `package` target (build/all/package)."""

import json
import os
import shutil
import subprocess
import tarfile
import unittest
import uuid
import zipfile
from pathlib import Path

import harness
from harness import LauncherTest, block_offset
from service_support import ARCH, STANDINS, fake_runtime

PACKAGE_DIR = Path(os.environ.get("KERNO_PACKAGE_DIR", ""))
SERVICE = "KernoDemo"


def the_one(pattern):
    found = sorted(PACKAGE_DIR.glob(pattern))
    if len(found) != 1:
        raise AssertionError(f"expected one {pattern} in {PACKAGE_DIR}, found {found}")
    return found[0]


def windows(path):
    """A path inside the prefix's drive C: as a Windows program sees it."""
    relative = Path(path).relative_to(Path(harness.PREFIX) / "drive_c")
    return "C:\\" + str(relative).replace("/", "\\")


def setUpModule():
    if not (harness.PREFIX and os.environ.get("KERNO_PACKAGE_DIR") and (STANDINS / "jvm.dll").exists()):
        raise unittest.SkipTest("needs KERNO_PACKAGE_DIR, a Wine prefix and the stand-ins")
    for tool in ("openssl", "osslsigncode"):
        if not shutil.which(tool):
            raise AssertionError(f"{tool} is missing: run scripts/setup.sh")


class Release(LauncherTest):
    def setUp(self):
        if not (harness.PREFIX and os.environ.get("KERNO_PACKAGE_DIR")):
            self.skipTest("needs KERNO_PACKAGE_DIR and a Wine prefix")
        super().setUp()
        archive = the_one("kerno-*-windows.zip")
        self.version = archive.name[len("kerno-"):-len("-windows.zip")]
        # A fresh directory on drive C: of the prefix, removed afterwards.
        self.root = Path(harness.PREFIX) / "drive_c" / f"release-{ARCH}-{uuid.uuid4().hex[:8]}"
        self.root.mkdir()
        self.addCleanup(shutil.rmtree, self.root, True)
        with zipfile.ZipFile(archive) as z:
            z.extractall(self.root)
        self.bundle = self.root / f"kerno-{self.version}-windows"
        with tarfile.open(the_one("kerno-*-linux-x86_64.tar.gz")) as t:
            t.extractall(self.dir, filter="tar")
        self.linux_packer = self.dir / f"kerno-{self.version}-linux-x86_64" / "kernopack"

    def packer_exe(self, *args):
        """kernopack.exe of the bundle under Wine: (exit code, stdout bytes, stderr)."""
        env = dict(os.environ, WINEDEBUG="-all")
        proc = subprocess.run(harness.WINE + [windows(self.bundle / "kernopack.exe"), *args],
                              capture_output=True, env=env, cwd=self.bundle, stdin=subprocess.DEVNULL,
                              timeout=120)
        return proc.returncode, proc.stdout, harness.Result(proc).err

    def linux_packer_run(self, *args, env=None):
        proc = subprocess.run([str(self.linux_packer), *args], capture_output=True, timeout=120,
                              env=env)
        return proc.returncode, proc.stdout, proc.stderr.decode(errors="replace")

    def sign(self, exe, signed):
        r = subprocess.run(["osslsigncode", "sign", "-certs", self.cert, "-key", self.key, "-h", "sha256",
                            "-in", exe, "-out", signed], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def verify(self, exe):
        r = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", exe],
                           capture_output=True, text=True)
        return r.returncode, r.stdout + r.stderr

    def test_the_bundle_packs_signs_and_runs_the_example(self):
        # The bundle holds what its SHA256SUMS lists, and the packer says
        # which release it is.
        r = subprocess.run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=self.bundle,
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        for name in ("kernopack.exe", "kernosvc-x64.exe", "kernosvc-x86.exe", "kerno-runtime.jar",
                     "docs/signing.md", "examples/service.json"):
            self.assertIn(f"  {name}\n", (self.bundle / "SHA256SUMS").read_text())
        rc, out, err = self.packer_exe("--version")
        self.assertEqual((rc, out.decode().strip()), (0, f"kernopack {self.version}"), err)

        # kernopack.exe packs the example with the template beside it, as
        # the Linux packer does.
        app = self.root / "app"
        app.mkdir()
        exe = app / "KernoDemo.exe"
        rc, _, err = self.packer_exe("build", "examples\\service.json", "--launcher", ARCH,
                                     "-o", windows(exe))
        self.assertEqual(rc, 0, err)
        linux_exe = self.dir / "linux.exe"
        rc, _, err = self.linux_packer_run("build", str(self.bundle / "examples" / "service.json"),
                                           "--launcher", ARCH, "-o", str(linux_exe))
        self.assertEqual(rc, 0, err)
        self.assertEqual(exe.read_bytes(), linux_exe.read_bytes())

        # dump gives the same JSON on both, naming the template and release.
        rc, dumped, err = self.packer_exe("dump", windows(exe))
        self.assertEqual(rc, 0, err)
        rc, linux_dumped, err = self.linux_packer_run("dump", str(linux_exe))
        self.assertEqual((rc, dumped), (0, linux_dumped), err)
        self.assertEqual(json.loads(dumped)["madeFrom"], f"kernosvc-{ARCH}.exe {self.version}")
        # The example says nothing of recovery: the packer's default.
        self.assertEqual(json.loads(dumped)["recovery"],
                         {"restartDelaySeconds": 10, "maxRestarts": 3, "resetPeriodHours": 24})

        # A throw-away certificate; signed afterwards, and by the packer.
        self.cert, self.key = str(self.dir / "cert.pem"), str(self.dir / "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self.key,
                        "-out", self.cert, "-days", "2", "-subj", "/CN=kerno release test"],
                       check=True, capture_output=True)
        signed = app / "Signed.exe"
        self.sign(exe, signed)
        rc, text = self.verify(signed)
        self.assertEqual(rc, 0, text)
        by_packer = self.dir / "by-packer.exe"
        rc, _, err = self.linux_packer_run("build", str(self.bundle / "examples" / "service.json"),
                                           "--launcher", ARCH, "--sign-with", self.cert, self.key,
                                           "-o", str(by_packer))
        self.assertEqual(rc, 0, err)
        rc, text = self.verify(by_packer)
        self.assertEqual(rc, 0, text)
        # The signature comes after the block: the signed file still dumps.
        rc, signed_dump, err = self.linux_packer_run("dump", str(by_packer))
        self.assertEqual((rc, signed_dump), (0, linux_dumped), err)
        # Without osslsigncode on PATH the packer says so and writes nothing.
        rc, _, err = self.linux_packer_run("build", str(self.bundle / "examples" / "service.json"),
                                           "--sign-with", self.cert, self.key, "-o", str(self.dir / "no.exe"),
                                           env={"PATH": str(self.dir)})
        self.assertEqual(rc, 1)
        self.assertIn("cannot run osslsigncode: not found on PATH", err)
        self.assertEqual(sorted(p.name for p in self.dir.glob("no.exe*")), [])

        # One changed byte of the configuration block fails verification.
        data = bytearray(signed.read_bytes())
        at = data.index(SERVICE.encode(), block_offset(data))
        data[at] ^= 0x20
        tampered = self.dir / "tampered.exe"
        tampered.write_bytes(bytes(data))
        rc, text = self.verify(tampered)
        self.assertNotEqual(rc, 0, text)

        # The signed executable reads its block: the example's class path
        # and main class reach the VM (its default search finds .\jre).
        shutil.copy(self.bundle / "kerno-runtime.jar", app)
        (app / "kerno-demo.jar").write_bytes(b"")
        vm_dir = fake_runtime(app / "jre", "main=exit 0", banner="17.0.2")
        shutil.move(signed, exe)
        r = self.run_exe(exe, "/console", cwd=exe.parent)
        self.assertEqual(r.rc, 0, r)
        calls = (vm_dir / "jvm-standin.calls").read_text()
        self.assertIn("kerno-runtime.jar", calls)
        self.assertIn("com.example.demo.DemoService", calls)
        self.assertNotIn("ERROR", calls)


if __name__ == "__main__":
    unittest.main()
