#!/usr/bin/env python3
"""Asks the firmware itself whether it starts an EFI file: Debian's OVMF built with Secure Boot
and Microsoft's keys, under qemu (TCG, no KVM needed), boots a FAT image holding the file as
\\EFI\\BOOT\\BOOTX64.EFI and nothing else, with a copy of the variable store whose db and dbx a
test chose.

The verdict is read from the serial console, and qemu is killed as soon as it is there:
"started" when the file ran, which the file under test shows by a line of its own (shim looks for
the \\EFI\\BOOT\\grubx64.efi it is to start next and prints that it failed to open it);
"refused" when the firmware's boot manager reports that loading the disk's boot option was
denied. Anything else (qemu ending, another load error, no verdict within the time) is an error.

  firmware_boot.py FILE.efi [--db FILE|-] [--dbx FILE|-] [--timeout S]   (started or refused)
"""

import argparse
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))
import ovmf_vars  # noqa: E402

CODE = Path("/usr/share/OVMF/OVMF_CODE_4M.ms.fd")
VARS = Path("/usr/share/OVMF/OVMF_VARS_4M.ms.fd")
ESP_SECTORS = 8192
TIMEOUT_SECONDS = 90.0
STARTED = re.compile(r"^Failed to open \\EFI\\BOOT\\grubx64\.efi")
# The boot option OVMF makes for the image is the first hard disk's.
DISK_OPTION = r' Boot[0-9A-F]{4} "UEFI QEMU HARDDISK[^"]*" from .*: '
REFUSED = re.compile(r"^BdsDxe: failed to load" + DISK_OPTION + r"Access Denied$")
OTHER_FAILURE = re.compile(r"^BdsDxe: failed to (load|start)" + DISK_OPTION)
ESCAPE = re.compile(r"\x1b(\[[0-9;?=]*[A-Za-z]|[()][0-9A-Za-z]|[=>])")


class BootError(RuntimeError):
    pass


@dataclass(frozen=True)
class Boot:
    verdict: str  # "started" or "refused"
    line: str  # the console line that told it
    seconds: float  # from qemu's start to that line
    console: list


def clean(raw_line):
    return ESCAPE.sub("", raw_line.decode("latin-1")).replace("\r", "").strip()


def verdict_of(line):
    if STARTED.match(line):
        return "started"
    if REFUSED.match(line):
        return "refused"
    if OTHER_FAILURE.match(line):
        raise BootError(f"the firmware failed on the disk otherwise: {line}")
    return None


def make_esp(path, efi):
    """A FAT image with efi as \\EFI\\BOOT\\BOOTX64.EFI, made with mtools."""
    source = path.with_name("BOOTX64.EFI")
    source.write_bytes(efi)
    for command in (["mformat", "-i", str(path), "-C", "-T", str(ESP_SECTORS), "-h", "2",
                     "-s", "32", "-v", "ESP", "::"],
                    ["mmd", "-i", str(path), "::/EFI", "::/EFI/BOOT"],
                    ["mcopy", "-i", str(path), str(source), "::/EFI/BOOT/BOOTX64.EFI"]):
        done = subprocess.run(command, capture_output=True, text=True)
        if done.returncode != 0:
            raise BootError(f"{' '.join(command)} failed: {done.stderr.strip()}")


def qemu_command(vars_path, esp_path):
    return ["qemu-system-x86_64", "-machine", "q35,smm=on,accel=tcg", "-m", "256",
            "-nodefaults", "-display", "none", "-no-reboot", "-net", "none",
            "-global", "driver=cfi.pflash01,property=secure,value=on",
            "-drive", f"if=pflash,format=raw,unit=0,readonly=on,file={CODE}",
            "-drive", f"if=pflash,format=raw,unit=1,file={vars_path}",
            "-drive", f"if=none,id=esp,format=raw,file={esp_path}",
            "-device", "ide-hd,drive=esp,bus=ide.0",
            "-serial", "stdio", "-monitor", "none"]


def watch(process, timeout, console, errors):
    """Reads the console until a line gives the verdict; returns (verdict, line)."""
    deadline = time.monotonic() + timeout
    pending = b""
    out = process.stdout.fileno()
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            raise BootError(f"no verdict within {timeout:.0f} s")
        ready, _, _ = select.select([out], [], [], min(left, 1.0))
        if not ready:
            continue
        chunk = os.read(out, 65536)
        if not chunk:
            process.wait()
            raise BootError(f"qemu ended ({process.returncode}) before a verdict: "
                            f"{errors.read_text(errors='replace').strip()}")
        pending += chunk
        *lines, pending = pending.split(b"\n")
        for raw in lines:
            line = clean(raw)
            console.append(line)
            verdict = verdict_of(line)
            if verdict:
                return verdict, line


def boot(efi, store, timeout=TIMEOUT_SECONDS):
    """Boots efi (bytes) with the variable store image store (bytes); returns a Boot."""
    for needed in (CODE, shutil.which("qemu-system-x86_64"), shutil.which("mformat")):
        if not needed or not Path(needed).exists():
            raise BootError(f"{needed or 'qemu or mtools'} is missing; "
                            "scripts/install-deps.sh installs ovmf, qemu-system-x86 and mtools")
    with tempfile.TemporaryDirectory(prefix="kestrix-firmware-") as folder:
        folder = Path(folder)
        vars_path, esp_path = folder / "vars.fd", folder / "esp.img"
        vars_path.write_bytes(store)
        make_esp(esp_path, efi)
        console = []
        started = time.monotonic()
        errors = folder / "qemu.stderr"
        with open(errors, "wb") as stderr:
            process = subprocess.Popen(qemu_command(vars_path, esp_path),
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                       stderr=stderr)
        try:
            verdict, line = watch(process, timeout, console, errors)
        except BootError as error:
            tail = "\n".join("    " + x for x in console[-15:])
            raise BootError(f"{error}\n  console's last lines:\n{tail}") from None
        finally:
            if process.poll() is None:
                process.kill()
            process.wait()
            process.stdout.close()
        return Boot(verdict, line, time.monotonic() - started, console)


def store_with(db, dbx):
    """OVMF's Microsoft-keyed store with db and dbx set to these signature lists (None: none)."""
    return ovmf_vars.rewrite(VARS.read_bytes(), {"db": db, "dbx": dbx})


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("efi")
    parser.add_argument("--db", help="signature lists for db, or - for none (default: OVMF's)")
    parser.add_argument("--dbx", help="signature lists for dbx, or - for none (default: OVMF's)")
    parser.add_argument("--timeout", type=float, default=TIMEOUT_SECONDS,
                        help="seconds to wait for the verdict")
    args = parser.parse_args(argv)
    changes = {name: None if value == "-" else Path(value).read_bytes()
               for name, value in (("db", args.db), ("dbx", args.dbx)) if value is not None}
    try:
        result = boot(Path(args.efi).read_bytes(),
                      ovmf_vars.rewrite(VARS.read_bytes(), changes), args.timeout)
    except BootError as error:
        print(f"error: {error}", file=sys.stderr)
        return 2
    print(f"{result.verdict} ({result.seconds:.1f} s): {result.line}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
