#!/usr/bin/env python3
"""Checks a Windows build as it would ship: kestrix.exe at most 256 KiB, both exes stripped and
importing only DLLs that Windows ships, and the zip identical when written twice."""

import argparse
import hashlib
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "scripts"))
sys.dont_write_bytecode = True
import package  # noqa: E402

LIMIT = 256 * 1024
# DLLs present on every Windows from Vista on, Windows PE included. bcrypt.dll is Windows' own
# cryptography (CNG), which hashes each backup for its manifest and checks the RSA signatures of EFI
# binaries.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "ole32.dll",
               "mpr.dll", "msvcrt.dll", "comctl32.dll", "advapi32.dll", "bcrypt.dll"}
OBJDUMP = {"x64": "x86_64-w64-mingw32-objdump", "x86": "i686-w64-mingw32-objdump"}


def imports(objdump, exe):
    out = subprocess.run([objdump, "-p", str(exe)], check=True, capture_output=True,
                         text=True).stdout
    return {line.split(":", 1)[1].strip().lower() for line in out.splitlines()
            if "DLL Name:" in line}


def has_symbols(objdump, exe):
    out = subprocess.run([objdump, "-t", str(exe)], check=True, capture_output=True,
                         text=True).stdout
    return "no symbols" not in out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True, type=Path)
    parser.add_argument("--arch", required=True, choices=sorted(OBJDUMP))
    args = parser.parse_args()
    problems = []
    kestrix = args.build_dir / "kestrix.exe"
    size = kestrix.stat().st_size
    print(f"kestrix.exe ({args.arch}): {size} bytes ({size / 1024:.1f} KiB)")
    if size > LIMIT:
        problems.append(f"kestrix.exe is {size} bytes, more than {LIMIT}")
    for exe in (kestrix, args.build_dir / "dsptw.exe"):
        foreign = imports(OBJDUMP[args.arch], exe) - SYSTEM_DLLS
        if foreign:
            problems.append(f"{exe.name} imports {sorted(foreign)}")
        if has_symbols(OBJDUMP[args.arch], exe):
            problems.append(f"{exe.name} is not stripped")
    with tempfile.TemporaryDirectory() as tmp:
        digests = []
        for attempt in ("a", "b"):
            target = Path(tmp) / attempt / "k.zip"
            package.write_zip(target, "kestrix", package.contents(args.build_dir))
            digests.append(hashlib.sha256(target.read_bytes()).hexdigest())
        if digests[0] != digests[1]:
            problems.append("the zip differs between two writes")
    for problem in problems:
        print("FAIL:", problem)
    print("package check:", "ok" if not problems else f"{len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
