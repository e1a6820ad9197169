#!/usr/bin/env python3
"""Writes dist/kestrix-<version>-<arch>.zip from a Windows build folder. The same inputs give the
same bytes: entries in a fixed order with a fixed time stamp and fixed permissions."""

import argparse
import re
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# DOS time stamps start in 1980; any fixed moment will do.
STAMP = (2026, 1, 1, 0, 0, 0)


def version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(kestrix VERSION ([0-9.]+)", text).group(1)


def contents(build_dir):
    """(name in the zip, file) in the order they are written."""
    return [
        ("kestrix.exe", build_dir / "kestrix.exe"),
        ("dsptw.exe", build_dir / "dsptw.exe"),
        ("boot.ini", ROOT / "data" / "boot.ini"),
        ("使用说明.txt", ROOT / "docs" / "使用说明.txt"),
        ("LICENSE", ROOT / "LICENSE"),
    ]


def write_zip(target, folder, files):
    target.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(target, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for name, path in files:
            info = zipfile.ZipInfo(f"{folder}/{name}", date_time=STAMP)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            info.create_system = 0
            z.writestr(info, path.read_bytes())


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", required=True, type=Path)
    parser.add_argument("--arch", required=True, choices=("x64", "x86"))
    parser.add_argument("--dist", type=Path, default=ROOT / "dist")
    args = parser.parse_args()
    folder = f"kestrix-{version()}-{args.arch}"
    target = args.dist / f"{folder}.zip"
    write_zip(target, folder, contents(args.build_dir))
    print(target)


if __name__ == "__main__":
    main()
