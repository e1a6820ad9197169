"""The Secure Boot verdict as the exe reaches it: kprobe verdict runs the program's own verdict
code over its CNG signature checks, under Wine, on real signed EFI binaries against a firmware's
db and dbx given as files (a variable's data as Windows returns it; "-" for one that does not
exist), and prints verdict= and reason=. One case per reason."""

import functools
import hashlib
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

from cases import Case, Run

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools"))
from efi_signing import signed_by_test_ca  # noqa: E402

# Debian's shim carries two Microsoft signatures (UEFI CA 2011, then UEFI CA 2023); Debian's GRUB
# one by Debian's own CA; the unsigned shim none.
SHIM = Path("/usr/lib/shim/shimx64.efi.signed")
GRUB = Path("/usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed")
UNSIGNED_SHIM = Path("/usr/lib/shim/shimx64.efi")
OVMF_VARS = Path("/usr/share/OVMF/OVMF_VARS_4M.ms.fd")
SECURE_BOOT = Path(__file__).resolve().parents[3] / "shared" / "secureboot"

X509 = bytes.fromhex("a159c0a5e494a74a87b5ab155c2bf072")
SHA256 = bytes.fromhex("2616c4c14c509240aca941f936934328")
SECURITY_DATABASE = bytes.fromhex("cbb219d73a3d9645a3bcdad00e67656f")


def installed(path):
    """The bytes of a file that scripts/install-deps.sh installs, read when the case runs."""
    return path.read_bytes


def signature_list(kind, entries):
    """One EFI_SIGNATURE_LIST of equal-sized entries, each behind an owner GUID."""
    body = b"".join(b"\x77" * 16 + entry for entry in entries)
    return kind + struct.pack("<III", 28 + len(body), 0, 16 + len(entries[0])) + body


@functools.cache
def ovmf_db():
    """OVMF's db as shipped (PCA 2011 and UEFI CA 2011): the last added copy in its store."""
    store = OVMF_VARS.read_bytes()
    name = "db\0".encode("utf-16-le")
    found = None
    at = struct.unpack_from("<H", store, 0x30)[0] + 28
    while at + 60 <= len(store) and struct.unpack_from("<H", store, at)[0] == 0x55AA:
        name_size, data_size = struct.unpack_from("<II", store, at + 36)
        if (store[at + 2] == 0x3F and store[at + 44:at + 60] == SECURITY_DATABASE
                and store[at + 60:at + 60 + name_size] == name):
            found = store[at + 60 + name_size:at + 60 + name_size + data_size]
        at = (at + 60 + name_size + data_size + 3) & ~3
    return found


def update_lists(name):
    """What a signed variable update leaves in the variable: its lists, after the time stamp and
    the authentication descriptor whose length it records."""
    update = (SECURE_BOOT / "updates" / name).read_bytes()
    return update[16 + struct.unpack_from("<I", update, 16)[0]:]


def certificate(name):
    return (SECURE_BOOT / "certificates" / name).read_bytes()


UEFI_CA_2011 = "MicCorUEFCA2011_2011-06-27.der"


def altered(path):
    """The file with one byte of its code changed."""
    def make():
        data = bytearray(path.read_bytes())
        data[0x1000] ^= 1
        return bytes(data)
    return make


def unsigned():
    """The unsigned shim, padded to 8 bytes as a signing tool pads it before its certificate
    table."""
    data = UNSIGNED_SHIM.read_bytes()
    return data + bytes(-len(data) % 8)


@functools.cache
def unsigned_digest():
    """The padded unsigned shim's Authenticode SHA-256, as osslsigncode signs it."""
    with tempfile.TemporaryDirectory() as folder:
        source = Path(folder) / "unsigned.efi"
        source.write_bytes(unsigned())
        signed = Path(folder) / "signed.efi"
        signed.write_bytes(signed_by_test_ca(source, "/CN=Kestrix Test CA", "/CN=Kestrix Test")[0])
        out = subprocess.run(["osslsigncode", "verify", "-in", signed], capture_output=True,
                             text=True).stdout
    line = next(l for l in out.splitlines() if l.startswith("Calculated message digest"))
    return bytes.fromhex(line.split(":", 1)[1].strip())


def verdict_inputs(efi, db, dbx):
    """The files that kprobe verdict reads for d:/file.efi against db and dbx (bytes, a maker of
    them, or None for a variable that does not exist), and its arguments after "verdict"."""
    files = {"d:/file.efi": efi}
    arguments = ["d:\\file.efi"]
    for label, content in (("db", db), ("dbx", dbx)):
        if content is None:
            arguments.append("-")
        else:
            files[f"d:/{label}.bin"] = content
            arguments.append(f"d:\\{label}.bin")
    return files, arguments


def verdict_case(name, efi, db, dbx, verdict, reason):
    """kprobe verdict on d:/file.efi against db and dbx, its answer written to a file."""
    files, arguments = verdict_inputs(efi, db, dbx)
    return Case(
        name=name, files=files,
        runs=(Run("C:\\windows\\system32\\cmd.exe",
                  f"/c kprobe verdict {' '.join(arguments)}>verdict.txt", 0, "C:\\kestrix"),),
        files_after={"c:/kestrix/verdict.txt": f"verdict={verdict}\nreason={reason}\n"})


VERDICT_CASES = [
    verdict_case("verdict_shim_allowed_by_ovmf_db", installed(SHIM), ovmf_db, None, "allowed",
                 "db-certificate"),
    # The full x64 dbx revokes hundreds of loaders by hash, not this one.
    verdict_case("verdict_shim_under_the_full_dbx", installed(SHIM), ovmf_db,
                 lambda: update_lists("DBXUpdate-amd64.bin"), "allowed", "db-certificate"),
    verdict_case("verdict_unsigned_allowed_by_its_hash_in_db", unsigned,
                 lambda: signature_list(SHA256, [unsigned_digest()]), None, "allowed", "db-hash"),
    verdict_case("verdict_unsigned_refused_by_its_hash_in_dbx", unsigned,
                 ovmf_db, lambda: signature_list(SHA256, [unsigned_digest()]), "refused",
                 "dbx-hash"),
    # Either signature could allow it; the revoked one refuses it whole.
    verdict_case("verdict_shim_refused_by_a_revoked_ca", installed(SHIM),
                 lambda: update_lists("DBUpdate3P2023.bin"),
                 lambda: signature_list(X509, [certificate(UEFI_CA_2011)]), "refused",
                 "dbx-certificate"),
    verdict_case("verdict_shim_refused_by_windows_only_db", installed(SHIM),
                 lambda: signature_list(X509, [certificate("MicWinProPCA2011_2011-10-19.der")]),
                 None, "refused", "signer-not-in-db"),
    verdict_case("verdict_grub_refused_signer_not_in_db", installed(GRUB), ovmf_db, None,
                 "refused", "signer-not-in-db"),
    verdict_case("verdict_shim_one_byte_altered", altered(SHIM), ovmf_db, None, "refused",
                 "invalid-signature"),
    verdict_case("verdict_unsigned", installed(UNSIGNED_SHIM), ovmf_db, None, "refused",
                 "unsigned"),
    verdict_case("verdict_db_unreadable", installed(SHIM), b"not a signature list", None,
                 "unknown", "unreadable"),
]
