#!/usr/bin/env python3
"""Makes the release bundles: kerno-VERSION-windows.zip (kernopack.exe) and
kerno-VERSION-linux-x86_64.tar.gz (the Linux kernopack), each with both
launcher templates beside the packer, the runtime jar, the user documents
(not those for the project's own developers, DEVELOPER_DOCS), the example
service with its application's jar and source, and a SHA256SUMS file. The
zip also carries the smoke check smoke.cmd (with CRLF line ends) and the
example as Windows Installer packages, two versions for each template
(examples/msi, made by the Linux kernopack, which needs wixl and msitools).

The archives are reproducible: the same inputs give the same bytes. Every
entry has the same time (SOURCE_DATE_EPOCH, else the time of the source
tree's last commit, else 1980-01-01), fixed permissions and no owner; entries
are sorted; the runtime jar is rewritten the same way.

  make-bundle.py --version V --source DIR --out DIR --windows-packer EXE
                 --linux-packer FILE --x64 EXE --x86 EXE --jar JAR --demo-jar JAR
"""

import argparse
import gzip
import hashlib
import io
import json
import os
import subprocess
import sys
import tarfile
import tempfile
import time
import zipfile
from pathlib import Path

# The documents under docs/ that are for the project's own developers, not
# for users: every other docs/*.md is shipped.
DEVELOPER_DOCS = {"architecture.md", "testing.md", "unit-tier-results.md", "x86-route.md"}
# The example: its description, its explanation, the application's source.
EXAMPLE_FILES = ("service.json", "README.md", "demo/com/example/demo/DemoService.java")

# The example's packages: all versions share the upgrade code; the smoke
# check installs the first and upgrades to the second.
DEMO_UPGRADE_CODE = "6B1D4C2E-8F3A-4E57-9A10-3C5D7E9F2B84"
DEMO_VERSIONS = ("1.0.0", "1.0.1")

# The earliest time a zip entry can hold.
ZIP_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC


def source_epoch(source):
    """SOURCE_DATE_EPOCH, else the commit time of the source tree's HEAD."""
    given = os.environ.get("SOURCE_DATE_EPOCH")
    if given:
        return int(given)
    try:
        out = subprocess.run(["git", "-C", str(source), "log", "-1", "--format=%ct"],
                             capture_output=True, text=True, check=True).stdout.strip()
        return int(out)
    except (OSError, subprocess.CalledProcessError, ValueError):
        return ZIP_EPOCH


def zip_info(name, epoch, mode):
    info = zipfile.ZipInfo(name, time.gmtime(max(epoch, ZIP_EPOCH))[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3  # Unix: the permissions below are meaningful
    info.external_attr = (mode | (0o040000 if name.endswith("/") else 0o100000)) << 16
    return info


def normalized_jar(data, epoch):
    """The jar with every entry's time and permissions fixed, in its order."""
    out = io.BytesIO()
    with zipfile.ZipFile(io.BytesIO(data)) as src, zipfile.ZipFile(out, "w") as dst:
        for entry in src.infolist():
            dst.writestr(zip_info(entry.filename, epoch, 0o755 if entry.is_dir() else 0o644),
                         src.read(entry), compresslevel=9)
    return out.getvalue()


def sha256sums(files):
    lines = [f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, (data, _) in sorted(files.items())]
    return "".join(lines).encode("ascii")


def write_atomically(path, data):
    temp = path.with_name(path.name + ".tmp")
    temp.write_bytes(data)
    os.replace(temp, path)


def write_zip(path, top, files, epoch):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for name in sorted(files):
            data, mode = files[name]
            z.writestr(zip_info(f"{top}/{name}", epoch, mode), data, compresslevel=9)
    write_atomically(path, out.getvalue())


def write_tar(path, top, files, epoch):
    raw = io.BytesIO()
    # No file name and a fixed time in the gzip header.
    with gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=epoch, compresslevel=9) as gz:
        with tarfile.open(fileobj=gz, mode="w", format=tarfile.USTAR_FORMAT) as tar:
            dirs = {top} | {f"{top}/{d}" for name in files for d in parents(name)}
            entries = [(d, None, 0o755) for d in dirs] + [
                (f"{top}/{name}", data, mode) for name, (data, mode) in files.items()]
            for name, data, mode in sorted(entries):
                info = tarfile.TarInfo(name)
                info.mtime, info.mode = epoch, mode
                info.uid = info.gid = 0
                info.uname = info.gname = ""
                if data is None:
                    info.type = tarfile.DIRTYPE
                    tar.addfile(info)
                else:
                    info.size = len(data)
                    tar.addfile(info, io.BytesIO(data))
    write_atomically(path, raw.getvalue())


def parents(name):
    parts = name.split("/")[:-1]
    return ["/".join(parts[:i + 1]) for i in range(len(parts))]


def demo_packages(files):
    """{examples/msi/KernoDemo-ARCH-VERSION.msi: (bytes, mode)}: the example
    packed by `kernopack msi` for each template and version, run as a user of
    the Linux bundle runs it: `files` (that bundle's, its packer included)
    written to a folder, the packer finding the templates beside itself."""
    out = {}
    name = json.loads(files["examples/service.json"][0])["serviceName"]
    with tempfile.TemporaryDirectory(prefix="kerno-bundle-msi-") as tmp:
        stage = Path(tmp)
        for path, (data, mode) in files.items():
            (stage / path).parent.mkdir(parents=True, exist_ok=True)
            (stage / path).write_bytes(data)
            (stage / path).chmod(mode)
        for arch in ("x64", "x86"):
            for version in DEMO_VERSIONS:
                msi = stage / f"{name}-{arch}-{version}.msi"
                run = subprocess.run([str(stage / "kernopack"), "msi", str(stage / "examples" / "service.json"),
                                      "--launcher", arch, "--product-version", version,
                                      "--upgrade-code", DEMO_UPGRADE_CODE, "-o", str(msi)],
                                     capture_output=True, text=True)
                if run.returncode != 0:
                    sys.exit(f"make-bundle.py: kernopack msi for {msi.name} failed "
                             f"(exit code {run.returncode}):\n{run.stderr}")
                out[f"examples/msi/{msi.name}"] = (msi.read_bytes(), 0o644)
    return out


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--version", required=True)
    p.add_argument("--source", required=True, type=Path)
    p.add_argument("--out", required=True, type=Path)
    p.add_argument("--windows-packer", required=True, type=Path)
    p.add_argument("--linux-packer", required=True, type=Path)
    p.add_argument("--x64", required=True, type=Path)
    p.add_argument("--x86", required=True, type=Path)
    p.add_argument("--x64-action", required=True, type=Path)
    p.add_argument("--x86-action", required=True, type=Path)
    p.add_argument("--jar", required=True, type=Path)
    p.add_argument("--demo-jar", required=True, type=Path)
    a = p.parse_args()

    epoch = source_epoch(a.source)
    common = {
        "kernosvc-x64.exe": (a.x64.read_bytes(), 0o755),
        "kernosvc-x86.exe": (a.x86.read_bytes(), 0o755),
        "kernoaction-x64.dll": (a.x64_action.read_bytes(), 0o644),
        "kernoaction-x86.dll": (a.x86_action.read_bytes(), 0o644),
        "kerno-runtime.jar": (normalized_jar(a.jar.read_bytes(), epoch), 0o644),
        "README.md": ((a.source / "docs" / "bundle.md").read_bytes(), 0o644),
    }
    for doc in sorted((a.source / "docs").glob("*.md")):
        if doc.name not in DEVELOPER_DOCS:
            common[f"docs/{doc.name}"] = (doc.read_bytes(), 0o644)
    for name in EXAMPLE_FILES:
        common[f"examples/{name}"] = ((a.source / "examples" / name).read_bytes(), 0o644)
    common["examples/kerno-demo.jar"] = (normalized_jar(a.demo_jar.read_bytes(), epoch), 0o644)

    windows_only = demo_packages(dict(common, kernopack=(a.linux_packer.read_bytes(), 0o755)))
    smoke = (a.source / "bundle" / "smoke.cmd").read_bytes().replace(b"\r\n", b"\n")
    windows_only["smoke.cmd"] = (smoke.replace(b"\n", b"\r\n"), 0o755)

    a.out.mkdir(parents=True, exist_ok=True)
    for system, packer, name, writer, suffix in (
            ("windows", a.windows_packer, "kernopack.exe", write_zip, "zip"),
            ("linux-x86_64", a.linux_packer, "kernopack", write_tar, "tar.gz")):
        files = dict(common)
        if system == "windows":
            files.update(windows_only)
        files[name] = (packer.read_bytes(), 0o755)
        files["SHA256SUMS"] = (sha256sums(files), 0o644)
        top = f"kerno-{a.version}-{system}"
        writer(a.out / f"{top}.{suffix}", top, files, epoch)
        print(f"-- {a.out / f'{top}.{suffix}'}")


if __name__ == "__main__":
    sys.exit(main())
