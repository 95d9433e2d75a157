"""Included files end to end: configured executables carrying files, run under
Wine as a person would. What only a whole process shows: the files come out
and are listed for deletion in the registry when the process ends, the next
service start deletes them, and a failed extraction ends the process with
its message. The extraction's own cases are the glue tier's, and so is a
file held open at the sweep (deleted_files_test_win).

Every service start sweeps the deletion lists of the whole prefix, so a
service test running beside this module in the shared prefix could delete
files here before they are compared. This module therefore runs in a Wine
prefix of its own (on the 32-bit route, which names its own loader, in that
route's prefix)."""

import json
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import unittest
import uuid

import harness
from harness import (ERROR_SERVICE_NEVER_STARTED, STOPPED, LauncherTest, block_offset, wait_until, windows_path,
                     windows_to_unix)

ARCH = os.environ.get("KERNO_ARCH", "x64")
OWN_PREFIX = harness.WORK_ROOT / f"files-{ARCH}" / "wineprefix"
WINE_RUN = os.environ.get("KERNO_WINE_RUN", "")
USE_OWN_PREFIX = bool(WINE_RUN) and not os.environ.get("KERNO_WINE_CMD")

BASE = {"serviceName": "KernoFiles", "executableType": 3}
INTERNAL_16 = "An internal error occurred (error code: 16)"
LIST_KEY = "HKCU\\SOFTWARE\\quarrow\\kerno\\temp"
# Runs a command and appends its peak resident size (KiB) to its standard output.
PEAK_RSS_SCRIPT = ("import resource, subprocess, sys; p = subprocess.run(sys.argv[1:]); "
                   "sys.stdout.write('\\n%d\\n' % resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss); "
                   "sys.exit(p.returncode)")
TEMP_DIR_SHAPE = re.compile(r"^(?P<temp>[A-Za-z]:\\.*\\)krn_[0-9a-f]{32}$")


def setUpModule():
    if not (harness.PACKER and harness.TEMPLATE and harness.PREFIX):
        return  # the tests skip themselves
    if USE_OWN_PREFIX:
        subprocess.run([WINE_RUN, "--prefix", str(OWN_PREFIX), "--setup"], check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=600)
        harness.WINE = [WINE_RUN, "--prefix", str(OWN_PREFIX)]
        harness.PREFIX = str(OWN_PREFIX)
    warm_up_service_control()


def warm_up_service_control():
    """Starts one service in the new prefix. Until a service has been
    started there, the dispatcher call of a launcher run from the console
    (which is no service) waits ten seconds before it fails, instead of
    failing at once."""
    work = OWN_PREFIX.parent
    work.mkdir(parents=True, exist_ok=True)
    description = work / "warm-up.json"
    description.write_text('{"serviceName": "KrnFilesWarmUp"}', encoding="utf-8")
    exe = work / "warm-up.exe"
    subprocess.run([harness.PACKER, "build", str(description), "--launcher", harness.TEMPLATE, "-o", str(exe)],
                   check=True, capture_output=True, timeout=60)

    def sc(*args):
        return subprocess.run(harness.WINE + ["sc", *args], capture_output=True, stdin=subprocess.DEVNULL,
                              timeout=120).stdout.decode("cp1252", "replace")
    sc("create", "KrnFilesWarmUp", "binPath=", windows_path(exe))
    sc("start", "KrnFilesWarmUp")
    wait_until(lambda: "STOPPED" in sc("query", "KrnFilesWarmUp"), "the warm-up service to stop")
    sc("delete", "KrnFilesWarmUp")


def tearDownModule():
    if USE_OWN_PREFIX and harness.PREFIX == str(OWN_PREFIX):
        subprocess.run([WINE_RUN, "--prefix", str(OWN_PREFIX), "--teardown"],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=600)
    shutil.rmtree(OWN_PREFIX.parent, ignore_errors=True)


def content(size, seed):
    return random.Random(seed).randbytes(size)


class FilesTest(LauncherTest):
    temp_windows = None

    # -- packing -----------------------------------------------------------
    def pack_files(self, files, name="svc.exe", **keys):
        """Packs the given {file name: bytes} as included files, in order."""
        source = self.dir / "in"
        source.mkdir(exist_ok=True)
        for file_name, data in files.items():
            (source / file_name).write_bytes(data)
        description = dict(BASE, includedFiles=[f"in/{n}" for n in files], **keys)
        return self.pack(description, name=name)

    def patch(self, exe, old, new):
        """Replaces bytes of the configuration block (same length)."""
        self.assertEqual(len(old), len(new))
        data = exe.read_bytes()
        at = data.index(old, block_offset(data))
        exe.write_bytes(data[:at] + new + data[at + len(old):])

    # -- running -----------------------------------------------------------
    def temp(self):
        """The user's temporary directory (where the log goes too), as Wine shows it."""
        if FilesTest.temp_windows is None:
            r = self.run_exe("cmd", "/c", "echo %TEMP%")
            FilesTest.temp_windows = r.out.strip()
        return FilesTest.temp_windows

    def logged_run(self, exe, *args):
        """Runs with the log on; returns the result and the logged lines."""
        logs = windows_to_unix(self.temp())
        before = set(logs.glob("brd_nlog_*"))
        # A message box traced in full, should the run fail before it logs.
        r = self.run_exe(exe, *args, env={"KERNO_LOG": "yes"}, relay=True)
        mine = []
        for log in set(logs.glob("brd_nlog_*")) - before:
            lines = log.read_bytes().decode("cp1252").split("\r\n")
            if self.dir.name in lines[0]:
                mine.append((log, lines))
        self.assertEqual(len(mine), 1, f"no log of this run in {logs}: {r}")
        log, lines = mine[0]
        self.addCleanup(log.unlink, missing_ok=True)
        return r, [line for line in lines[2:] if line]

    def extraction_dir(self, lines):
        dirs = [line[len("Temp dir: "):] for line in lines if line.startswith("Temp dir: ")]
        self.assertEqual(len(dirs), 1, lines)
        m = TEMP_DIR_SHAPE.match(dirs[0])
        self.assertTrue(m, dirs[0])
        self.assertEqual(m.group("temp").lower(), self.temp().lower().rstrip("\\") + "\\")
        return dirs[0]

    def lists(self):
        """{value name: [paths]} of the deletion lists, read back with `reg export`
        (REG_SZ values show as quoted strings)."""
        target = self.dir / f"lists-{uuid.uuid4().hex[:6]}.reg"
        r = self.run_exe("reg", "export", LIST_KEY, windows_path(target), "/y")
        if r.rc != 0:
            return {}
        text = target.read_bytes().decode("utf-16")
        target.unlink()
        values = {}
        for name, value in re.findall(r'^"(delete_file|delete_dir)"="(.*)"\r?$', text, re.M):
            value = value.replace("\\\\", "\\")
            self.assertTrue(value == "" or value.endswith(";"), value)
            values[name] = [p for p in value.split(";") if p]
        return values


class Packer(FilesTest):
    """The packer's side, through its command line."""

    def packer(self, *args, memory=False):
        """Runs the packer; with `memory`, through a Python process of its own
        whose only child it is, so that the peak resident size is its own."""
        command = [harness.PACKER, *map(str, args)]
        if memory:
            command = [sys.executable, "-c", PEAK_RSS_SCRIPT, *command]
        proc = subprocess.run(command, capture_output=True, timeout=300, cwd=self.dir)
        return proc.returncode, proc.stdout, proc.stderr.decode(errors="replace")

    def test_a_search_sequence_with_the_search_path_is_built_with_a_warning(self):
        for sequence, warned in (("B.\\jre;S;Y", True), ("B.\\jre;Y;EJAVA_HOME", False)):
            with self.subTest(sequence=sequence):
                description = self.dir / "svc.json"
                description.write_text(json.dumps(dict(BASE, jreSearchSequence=sequence)), encoding="utf-8")
                rc, _, err = self.packer("build", description, "--launcher", harness.TEMPLATE, "-o", self.dir / "out.exe")
                self.assertEqual(rc, 0, err)
                self.assertEqual("kernopack: warning: " in err and "has an S entry" in err, warned, err)

    @unittest.skipUnless(harness.PACKER_EXE and ARCH == "x64", "needs the x64 tree's kernopack.exe")
    def test_the_windows_packer_keeps_to_the_description_and_signs_with_the_tool_on_path(self):
        """What only kernopack.exe shows: the network path refused by its
        text, a directory link (Wine shows one as a reparse point) refused,
        and an osslsigncode.exe in the current directory never run."""
        (self.dir / "d" / "lib").mkdir(parents=True)
        (self.dir / "d" / "lib" / "a.jar").write_bytes(b"jar")
        (self.dir / "d" / "mid").symlink_to(self.dir / "d" / "lib")
        # A stand-in that would end without error, were it run.
        shutil.copy(harness.PACKER_EXE, self.dir / "osslsigncode.exe")
        for name in ("cert.pem", "key.pem"):
            (self.dir / name).write_text("-")
        description = self.dir / "d" / "svc.json"

        def packer_exe(included, *args):
            description.write_text(json.dumps(dict(BASE, includedFiles=[included])), encoding="utf-8")
            return self.run_exe(harness.PACKER_EXE, "build", windows_path(description), "--launcher",
                                windows_path(harness.TEMPLATE), "-o", "out.exe", *args)

        for included, rc, message in (("\\\\kerno-nohost\\share\\a.jar", 2, "is a network (UNC) path"),
                                      ("mid/a.jar", 2, '"mid" is a link or junction'),
                                      ("lib/a.jar", 0, "")):
            with self.subTest(included=included):
                r = packer_exe(included)
                self.assertEqual(r.rc, rc, r)
                self.assertIn(message, r.err)
        r = packer_exe("lib/a.jar", "--sign-with", "cert.pem", "key.pem")
        self.assertEqual(r.rc, 1, r)
        self.assertIn("cannot run osslsigncode: not found on PATH", r.err)

    def test_large_files_are_streamed_not_held(self):
        size = 96 * 2**20
        exe = self.pack_files({"big.bin": content(size, 13)})
        rc, peak_build, err = self.packer("build", self.dir / "svc.exe.json", "--launcher", harness.TEMPLATE,
                                          "-o", self.dir / "again.exe", memory=True)
        self.assertEqual(rc, 0, err)
        rc, peak_dump, err = self.packer("dump", "--extract", self.dir / "out", exe, memory=True)
        self.assertEqual(rc, 0, err)
        self.assertEqual((self.dir / "out" / "big.bin").stat().st_size, size)
        for peak in (peak_build, peak_dump):
            self.assertLess(int(peak.split()[-1]), 64 * 1024, "peak resident size in KiB")


class Extraction(FilesTest):
    """What the extraction does is the glue tier's (included_files_test_win);
    here: how a failed one ends the process, and that a command word does
    not extract."""

    def test_a_name_that_would_leave_the_directory_is_internal_error_16(self):
        # The packer refuses such a name, so it is patched in.
        exe = self.pack_files({"abcdefg.jar": b"must not land anywhere"})
        self.patch(exe, b"abcdefg.jar", b"..\\defg.jar")
        r, lines = self.logged_run(exe)
        self.assertEqual(r.rc, 1, r)
        self.assertEqual(r.err.split("\n\nLog: ")[0], INTERNAL_16, r)
        directory = self.extraction_dir(lines)
        self.assertIn(f"ERROR: Failed to extract {directory}\\..\\defg.jar", lines)
        self.assertFalse((windows_to_unix(self.temp()) / "defg.jar").exists())
        # The message hands the directory over at the process's end.
        self.assertIn(directory, self.lists().get("delete_dir", []))

    def test_a_command_word_other_than_console_extracts_nothing(self):
        exe = self.pack_files({"a.jar": b"PK"})
        temp = windows_to_unix(self.temp())
        before = set(temp.glob("krn_*"))
        r = self.run_exe(exe, "/status")
        self.assertEqual((r.rc, r.out), (2, "Service 'KernoFiles' is not installed.\n"), r)
        self.assertEqual(set(temp.glob("krn_*")), before)

    def test_an_executable_that_ends_before_a_size_field_fails_as_the_block_reader_does(self):
        exe = self.pack_files({"a.txt": b"first", "b.txt": b"second"})
        raw = exe.read_bytes()
        entry = struct.pack("<i", 5) + bytes(c ^ 0xA7 for c in b"first")
        exe.write_bytes(raw[:raw.index(entry, block_offset(raw)) + len(entry)])
        r = self.run_exe(exe)
        self.assertEqual(r.rc, 1, r)
        self.assertRegex(r.out, r"^error \d+\n$")
        self.assertEqual(r.err, "Internal Error: readInt\n")


USER_ENV = "HKCU\\Environment"


class Sweep(FilesTest):
    """The lists a service sweeps are those of its own account, written by
    runs of that account, which share its temporary directory; the sweep acts
    only inside it. Under Wine the command runs of these tests share
    HKEY_CURRENT_USER with the services but not the temporary directory, so
    for this class the user's TEMP and TMP name the services' one."""

    saved_env = {}

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not (harness.PACKER and harness.TEMPLATE and harness.PREFIX):
            return
        for name in ("TEMP", "TMP"):
            out = cls.reg("query", USER_ENV, "/v", name)
            m = re.search(rf"^\s+{name}\s+(REG_\w+)\s+(.*)$", out, re.M)
            cls.saved_env[name] = (m.group(1), m.group(2).strip()) if m else None
            cls.reg("add", USER_ENV, "/v", name, "/t", "REG_EXPAND_SZ", "/d", "%SystemRoot%\\TEMP", "/f")
        FilesTest.temp_windows = None

    @classmethod
    def tearDownClass(cls):
        for name, saved in cls.saved_env.items():
            if saved:
                cls.reg("add", USER_ENV, "/v", name, "/t", saved[0], "/d", saved[1], "/f")
            else:
                cls.reg("delete", USER_ENV, "/v", name, "/f")
        FilesTest.temp_windows = None
        super().tearDownClass()

    @staticmethod
    def reg(*args):
        return subprocess.run(harness.WINE + ["reg", *args], capture_output=True, stdin=subprocess.DEVNULL,
                              timeout=120).stdout.decode("cp1252", "replace")

    def sweep(self):
        """Registers a launcher without included files as a new service and
        runs it once: its service main routine sweeps the lists before it
        looks for Java, and the service stops (there is no Java runtime
        here)."""
        name = f"KrnFiles{uuid.uuid4().hex[:8]}"
        exe = self.pack(dict(BASE, serviceName=name), name=f"{name}.exe")
        r = self.run_exe("sc", "create", name, "binPath=", windows_path(exe))
        self.assertEqual(r.rc, 0, r)
        self.addCleanup(self.run_exe, "sc", "delete", name, cwd=harness.WORK_ROOT)
        self.assertEqual(self.sc_status(name), (STOPPED, ERROR_SERVICE_NEVER_STARTED))
        self.run_exe("sc", "start", name)
        # Stopped again, whatever its exit code: the sweep came before that.
        self.wait_status(name, lambda s: s and s[0] == STOPPED and s[1] != ERROR_SERVICE_NEVER_STARTED)

    def test_extracted_files_are_listed_and_the_next_service_start_deletes_them(self):
        files = {"empty.txt": b"", "a.jar": content(3000, 7), "b.zip": content(5 * 1024 * 1024 + 7, 8)}
        r, lines = self.logged_run(self.pack_files(files))
        self.assertEqual((r.rc, r.err), (0, ""), r)
        directory = self.extraction_dir(lines)
        unix = windows_to_unix(directory)
        for file_name, data in files.items():
            self.assertEqual((unix / file_name).read_bytes(), data, file_name)
        # The process's end listed every name once (the empty one's too) and
        # the directory last, as text values; nothing was deleted.
        lists = self.lists()
        for file_name in files:
            self.assertEqual(lists["delete_file"].count(f"{directory}\\{file_name}"), 1, lists)
        self.assertEqual(lists["delete_dir"].count(directory), 1, lists)
        self.assertEqual(lines[-1], f"schedule for deletion in delete_dir: {directory}")
        query = self.run_exe("reg", "query", LIST_KEY)
        self.assertRegex(query.out, r"(?m)^\s+delete_file\s+REG_SZ\s")
        self.assertRegex(query.out, r"(?m)^\s+delete_dir\s+REG_SZ\s")

        self.sweep()
        self.assertFalse(unix.exists())
        lists = self.lists()
        self.assertFalse(any(p.startswith(directory) for p in lists["delete_file"]), lists)
        self.assertNotIn(directory, lists["delete_dir"])


if __name__ == "__main__":
    unittest.main()
