#!/usr/bin/env python3
"""Checks the release bundles: the bundling command run again into a second
directory gives byte-identical archives; each archive's SHA256SUMS matches
its files; no file names a build path (as UTF-8 or UTF-16); every Windows
executable has a zero link time in its PE header; the file list is the
bundle's: the user documents and no developer's, and the example with every
jar its class path names and its main class inside one of them.

  check_bundle.py --bundles DIR --again DIR [--forbid TEXT]... -- COMMAND...
"""

import argparse
import hashlib
import io
import json
import shutil
import struct
import subprocess
import sys
import tarfile
import zipfile
from pathlib import Path


def members(archive):
    """{path inside the bundle: bytes} of a zip or tar.gz, without its top folder."""
    out = {}
    if archive.name.endswith(".zip"):
        with zipfile.ZipFile(archive) as z:
            for info in z.infolist():
                if not info.is_dir():
                    out[info.filename.split("/", 1)[1]] = z.read(info)
    else:
        with tarfile.open(archive) as t:
            for info in t.getmembers():
                if info.isfile():
                    out[info.name.split("/", 1)[1]] = t.extractfile(info).read()
    return out


# Besides docs/: what only the archive of one system carries (its packer;
# for Windows the smoke check and the example's packages), then what both carry.
SYSTEM_FILES = {"zip": {"kernopack.exe", "smoke.cmd"} | {f"examples/msi/KernoDemo-{arch}-{version}.msi"
                                                   for arch in ("x64", "x86") for version in ("1.0.0", "1.0.1")},
           "tar.gz": {"kernopack"}}
FILES = {"README.md", "SHA256SUMS", "kernosvc-x64.exe", "kernosvc-x86.exe", "kernoaction-x64.dll",
         "kernoaction-x86.dll", "kerno-runtime.jar",
         "examples/README.md", "examples/service.json", "examples/kerno-demo.jar",
         "examples/demo/com/example/demo/DemoService.java"}
USER_DOCS = {"packer", "operations", "troubleshooting", "signing", "security", "service-commands",
             "java-side", "java-search", "formats", "launcher", "windows-check"}
DEVELOPER_DOCS = {"testing", "unit-tier-results", "x86-route", "architecture"}


def list_problems(files, packer):
    """What is missing from, or has no place in, a bundle's file list."""
    problems = []
    docs = {n[len("docs/"):-len(".md")] for n in files if n.startswith("docs/") and n.endswith(".md")}
    others = {n for n in files if not n.startswith("docs/")}
    wanted = FILES | packer
    if others != wanted:
        problems.append(f"files beside docs/: missing {sorted(wanted - others)}, "
                        f"unexpected {sorted(others - wanted)}")
    if USER_DOCS - docs:
        problems.append(f"user documents missing: {sorted(USER_DOCS - docs)}")
    if DEVELOPER_DOCS & docs:
        problems.append(f"developer documents shipped: {sorted(DEVELOPER_DOCS & docs)}")
    # The example runs as its README says: every jar of its class path is in
    # the bundle, and one of them holds its main class.
    example = json.loads(files.get("examples/service.json", b"{}"))
    jars = {n.rsplit("/", 1)[-1]: data for n, data in files.items() if n.endswith(".jar")}
    classes = set()
    for entry in example.get("classPath", []):
        name = entry[2:]
        if name not in jars:
            problems.append(f"the example's class path names {name}, which the bundle lacks")
            continue
        with zipfile.ZipFile(io.BytesIO(jars[name])) as jar:
            classes.update(jar.namelist())
    main = example.get("mainClass", "").replace(".", "/") + ".class"
    if main not in classes:
        problems.append(f"the example's main class {main} is in none of its jars")
    # smoke.cmd is for cmd: CRLF line ends only.
    smoke = files.get("smoke.cmd")
    if smoke is not None and smoke.replace(b"\r\n", b"").count(b"\n"):
        problems.append("smoke.cmd has line ends without CR")
    return problems


def pe_link_time(data):
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<I", data, pe + 8)[0] if data[pe:pe + 4] == b"PE\0\0" else None


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--bundles", type=Path, required=True)
    p.add_argument("--again", type=Path, required=True)
    p.add_argument("--forbid", action="append", default=[])
    p.add_argument("command", nargs="+")
    a = p.parse_args()

    problems = []
    archives = sorted(a.bundles.glob("kerno-*"))
    if len(archives) != 2:
        sys.exit(f"expected a zip and a tarball in {a.bundles}, found {[x.name for x in archives]}")

    shutil.rmtree(a.again, ignore_errors=True)
    subprocess.run(a.command + ["--out", str(a.again)], check=True, stdout=subprocess.DEVNULL)
    for archive in archives:
        again = a.again / archive.name
        if subprocess.run(["cmp", str(archive), str(again)]).returncode != 0:
            problems.append(f"{archive.name}: a second bundling differs")

        files = members(archive)
        packer = SYSTEM_FILES["zip" if archive.name.endswith(".zip") else "tar.gz"]
        problems += [f"{archive.name}: {p}" for p in list_problems(files, packer)]
        sums = {}
        for line in files.pop("SHA256SUMS").decode().splitlines():
            digest, name = line.split("  ", 1)
            sums[name] = digest
        if sorted(sums) != sorted(files):
            problems.append(f"{archive.name}: SHA256SUMS lists {sorted(sums)}, the bundle has {sorted(files)}")
        for name, data in sorted(files.items()):
            if sums.get(name) != hashlib.sha256(data).hexdigest():
                problems.append(f"{archive.name}: {name}: checksum differs from SHA256SUMS")
            for text in a.forbid:
                for encoded in (text.encode(), text.encode("utf-16-le")):
                    if encoded in data:
                        problems.append(f"{archive.name}: {name} holds the build path {text!r}")
            stamp = pe_link_time(data)
            if stamp:
                problems.append(f"{archive.name}: {name}: link time {stamp} in the PE header")
        print(f"{archive.name}: {len(files)} files checked")

    for problem in problems:
        print("FAIL:", problem)
    shutil.rmtree(a.again, ignore_errors=True)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
