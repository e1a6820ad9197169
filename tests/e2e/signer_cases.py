"""The signature reader on real EFI binaries: kprobe signers reads a PE file's certificate table
with the program's decoder and each signature with its crypt32 reader, under Wine, and prints who
signed under which CA."""

import functools
import hashlib
import sys
from pathlib import Path

from cases import Case, Run

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools"))
from efi_signing import signed_by_test_ca  # noqa: E402

# Debian's shim carries two Microsoft signatures, one entry of the certificate table each;
# Debian's GRUB one signature by Debian's own CA.
SHIM = Path("/usr/lib/shim/shimx64.efi.signed")
GRUB = Path("/usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed")


def installed(path):
    """The bytes of a file that scripts/install-deps.sh installs, read when the case runs."""
    return path.read_bytes


@functools.cache
def nested_grub():
    """GRUB with a second signature nested in Debian's, by a signer and CA made for the run:
    (the file's bytes, the CA certificate's SHA-1 in hex)."""
    nested, ca = signed_by_test_ca(GRUB, "/CN=Kestrix Test CA", "/CN=Kestrix Test Signer",
                                   nest=True)
    return nested, hashlib.sha1(ca).hexdigest().upper()


def signers_run(efi, out):
    return Run("C:\\windows\\system32\\cmd.exe", f"/c kprobe signers {efi}>{out}", 0, "C:\\kestrix")


def signer(number, subject, issuer, thumbprint, ca):
    return (f"signer.{number}.subject={subject}\nsigner.{number}.issuer={issuer}\n"
            f"signer.{number}.thumbprint={thumbprint}\nsigner.{number}.ca={ca}\n")


DEBIAN_GRUB = signer(1, "Debian Secure Boot Signer 2022 - grub2", "Debian Secure Boot CA", "",
                     "other")

SIGNER_CASES = [
    Case(
        name="signers_of_shim_and_grub",
        files={"d:/shimx64.efi": installed(SHIM), "d:/grubx64.efi": installed(GRUB)},
        runs=(signers_run("d:\\shimx64.efi", "shim.txt"),
              signers_run("d:\\grubx64.efi", "grub.txt")),
        files_after={
            "c:/kestrix/shim.txt": signer(
                1, "Microsoft Windows UEFI Driver Publisher", "Microsoft Corporation UEFI CA 2011",
                "46DEF63B5CE61CF8BA0DE2E6639C1019D0ED14F3", "microsoft-uefi-ca-2011") + signer(
                2, "Microsoft UEFI CA 2023 signer", "Microsoft UEFI CA 2023",
                "B5EEB4A6706048073F0ED296E7F580A790B59EAA", "microsoft-uefi-ca-2023"),
            "c:/kestrix/grub.txt": DEBIAN_GRUB,
        },
    ),
    Case(
        name="signers_nested",
        files={"d:/nested.efi": lambda: nested_grub()[0]},
        runs=(signers_run("d:\\nested.efi", "nested.txt"),),
        files_after={"c:/kestrix/nested.txt": lambda: DEBIAN_GRUB + signer(
            2, "Kestrix Test Signer", "Kestrix Test CA", nested_grub()[1], "other")},
    ),
]
