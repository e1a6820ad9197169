"""The firmware cases, one table: each names an EFI file, the db and dbx the firmware is given
(made from OVMF's own, the Microsoft-keyed store's), and what the firmware does with the file.
Everything is made afresh when a case runs: Debian's shim as installed, test certificates and
signatures from openssl and osslsigncode."""

import functools
import subprocess
import sys
import uuid
from dataclasses import dataclass
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools"))
import authenticode  # noqa: E402
import firmware_boot  # noqa: E402
import ovmf_vars  # noqa: E402
from efi_signing import signed_by_test_ca  # noqa: E402

SIGNED_SHIM = Path("/usr/lib/shim/shimx64.efi.signed")
# The same shim before Microsoft signed it: no certificate table.
UNSIGNED_SHIM = Path("/usr/lib/shim/shimx64.efi")
X509 = uuid.UUID("a5c059a1-94e4-4aa7-87b5-ab155c2bf072")
SHA256 = uuid.UUID("c1c41626-504c-4092-aca9-41f936934328")
OWNER = uuid.UUID("6b657374-7269-7820-7465-737420737472")
# The CAs of the shim's two signatures: OVMF's db holds the first, not the second.
SHIM_CA = "CN = Microsoft Corporation UEFI CA 2011"
SECOND_CA = (Path(__file__).resolve().parents[2].parent / "shared" / "secureboot"
             / "certificates" / "microsoft_uefi_ca_2023.der")
PCA_2011 = ("/C=US/ST=Washington/L=Redmond/O=Microsoft Corporation"
            "/CN=Microsoft Windows Production PCA 2011")


@dataclass(frozen=True)
class FirmwareCase:
    name: str
    # () -> (EFI file, db, dbx): bytes each, or None for a variable the store does not hold.
    make: object
    firmware: str  # "started" or "refused"


def signature_list(kind, entries):
    """One EFI_SIGNATURE_LIST of equally sized entries, each with our owner GUID."""
    size = 16 + len(entries[0])
    body = b"".join(OWNER.bytes_le + entry for entry in entries)
    return (kind.bytes_le + (28 + len(body)).to_bytes(4, "little") + bytes(4)
            + size.to_bytes(4, "little") + body)


def split_lists(data):
    """[(type, whole list bytes)] of a variable's signature lists."""
    lists = []
    while data:
        size = int.from_bytes(data[16:20], "little")
        lists.append((uuid.UUID(bytes_le=data[:16]), data[:size]))
        data = data[size:]
    return lists


def certificate_subject(der):
    done = subprocess.run(["openssl", "x509", "-inform", "DER", "-noout", "-subject"],
                          input=der, capture_output=True, check=True)
    return done.stdout.decode()


def ovmf_keys():
    store = firmware_boot.VARS.read_bytes()
    return ovmf_vars.read_variable(store, "db"), ovmf_vars.read_variable(store, "dbx")


@functools.cache
def test_signed():
    """The unsigned shim signed by a test signer whose CA a test made under the name and subject
    of Microsoft's Windows Production PCA 2011: (the file, the CA certificate in DER)."""
    return signed_by_test_ca(UNSIGNED_SHIM, PCA_2011, "/CN=Kestrix Firmware Test Signer")


def shim_with_ovmf_keys():
    return (SIGNED_SHIM.read_bytes(), *ovmf_keys())


def shim_altered():
    shim = bytearray(SIGNED_SHIM.read_bytes())
    offset, size = authenticode.section_data(shim, 0)
    shim[offset + size // 2] ^= 0x01
    return (bytes(shim), *ovmf_keys())


def shim_digest_in_dbx():
    shim = SIGNED_SHIM.read_bytes()
    db, dbx = ovmf_keys()
    return shim, db, dbx + signature_list(SHA256, [authenticode.digest(shim)])


def ovmf_db_without_shim_ca():
    """OVMF's db without the shim's first CA, and that CA's signature list."""
    db, _ = ovmf_keys()
    kept, taken = [], []
    for kind, data in split_lists(db):
        shim_ca = kind == X509 and SHIM_CA in certificate_subject(data[28 + 16:])
        (taken if shim_ca else kept).append(data)
    if len(taken) != 1:
        raise OSError(f"OVMF's db does not hold {SHIM_CA} once")
    return b"".join(kept), taken[0]


def shim_without_its_ca():
    return SIGNED_SHIM.read_bytes(), ovmf_db_without_shim_ca()[0], ovmf_keys()[1]


def shim_second_signature():
    db, _ = ovmf_db_without_shim_ca()
    return (SIGNED_SHIM.read_bytes(), db + signature_list(X509, [SECOND_CA.read_bytes()]),
            ovmf_keys()[1])


def shim_one_signer_revoked():
    db, dbx = ovmf_keys()
    return (SIGNED_SHIM.read_bytes(), db + signature_list(X509, [SECOND_CA.read_bytes()]),
            dbx + ovmf_db_without_shim_ca()[1])


def unsigned_shim_digest_in_db():
    shim = UNSIGNED_SHIM.read_bytes()
    db, dbx = ovmf_keys()
    return shim, db + signature_list(SHA256, [authenticode.digest(shim)]), dbx


def fake_pca_signed():
    return (test_signed()[0], *ovmf_keys())


def fake_pca_in_db():
    signed, ca = test_signed()
    db, dbx = ovmf_keys()
    return signed, db + signature_list(X509, [ca]), None


CASES = [
    # The store written back with OVMF's own db and dbx as new copies: the firmware boots from a
    # rewritten store and starts Microsoft-signed shim.
    FirmwareCase("shim_with_ovmf_keys", shim_with_ovmf_keys, "started"),
    FirmwareCase("shim_altered", shim_altered, "refused"),
    FirmwareCase("shim_digest_in_dbx", shim_digest_in_dbx, "refused"),
    FirmwareCase("shim_without_its_ca", shim_without_its_ca, "refused"),
    # Either signature may allow the file; one whose CA dbx revokes refuses it whole.
    FirmwareCase("shim_second_signature", shim_second_signature, "started"),
    FirmwareCase("shim_one_signer_revoked", shim_one_signer_revoked, "refused"),
    FirmwareCase("unsigned_shim_digest_in_db", unsigned_shim_digest_in_db, "started"),
    # A CA bearing PCA 2011's name is not PCA 2011; with its own certificate in db it is trusted.
    FirmwareCase("fake_pca_signed", fake_pca_signed, "refused"),
    FirmwareCase("fake_pca_in_db", fake_pca_in_db, "started"),
]


def find(name):
    for case in CASES:
        if case.name == name:
            return case
    raise KeyError(name)
