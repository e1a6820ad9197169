"""A PE file's Authenticode digest, as a firmware computes it to look the file up in db and dbx:
the headers without the checksum field and the certificate table's directory entry, the
sections in file order, then whatever follows them up to the certificate table."""

import hashlib
import struct

CERTIFICATE_TABLE = 4


class PeError(ValueError):
    pass


def layout(pe):
    """(offset of the checksum, of the certificate table's directory entry, size of the
    headers, [(file offset, size) of each section's raw data], certificate table's size)."""
    if pe[:2] != b"MZ":
        raise PeError("no MZ header")
    header = struct.unpack_from("<I", pe, 0x3C)[0]
    if pe[header:header + 4] != b"PE\0\0":
        raise PeError("no PE header")
    sections, optional_size = struct.unpack_from("<H12xH", pe, header + 6)
    optional = header + 24
    magic = struct.unpack_from("<H", pe, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}[magic]
    entry = directories + 8 * CERTIFICATE_TABLE
    headers_size = struct.unpack_from("<I", pe, optional + 60)[0]
    table_size = struct.unpack_from("<I", pe, entry + 4)[0]
    table = optional + optional_size
    raw = []
    for index in range(sections):
        size, offset = struct.unpack_from("<II", pe, table + 40 * index + 16)
        if size:
            raw.append((offset, size))
    return optional + 64, entry, headers_size, sorted(raw), table_size


def digest(pe, algorithm="sha256"):
    checksum, entry, headers_size, raw, table_size = layout(pe)
    hasher = hashlib.new(algorithm)
    hasher.update(pe[:checksum])
    hasher.update(pe[checksum + 4:entry])
    hasher.update(pe[entry + 8:headers_size])
    hashed = headers_size
    for offset, size in raw:
        hasher.update(pe[offset:offset + size])
        hashed += size
    if len(pe) > hashed + table_size:
        hasher.update(pe[hashed:len(pe) - table_size])
    return hasher.digest()


def section_data(pe, index):
    """(file offset, size) of the raw data of the section at that place in file order."""
    return layout(pe)[3][index]
