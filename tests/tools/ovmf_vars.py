#!/usr/bin/env python3
"""Reads and rewrites db and dbx in an OVMF variable store file (OVMF_VARS_4M.ms.fd).

The file begins with a firmware volume (EFI_FIRMWARE_VOLUME_HEADER, signature "_FVH") whose body
is an authenticated-variable store: a VARIABLE_STORE_HEADER (the authenticated-variable GUID, its
size, format 0x5A, state 0xFE), then one AUTHENTICATED_VARIABLE_HEADER after another, each at a
4-byte boundary and followed by its UCS-2 name and its data, until a header whose StartId is not
0x55AA; the rest of the store is erased flash (0xFF).

A variable is changed the way the firmware itself changes one: the old copy is marked deleted in
place and the new copy is added after the last variable. Nothing else in the file moves.

  ovmf_vars.py read  VARS.fd NAME OUT      (NAME db or dbx; exits 3 when there is none)
  ovmf_vars.py write VARS.fd OUT [--db FILE|-] [--dbx FILE|-]   ("-" removes the variable)
"""

import argparse
import struct
import sys
import uuid
from dataclasses import dataclass
from pathlib import Path

AUTHENTICATED_VARIABLE_GUID = uuid.UUID("aaf32c78-947b-439a-a180-2e144ec37792")
IMAGE_SECURITY_DATABASE_GUID = uuid.UUID("d719b2cb-3d3a-4596-a3bc-dad00e67656f")
STORE_HEADER = struct.Struct("<16sIBBHI")
STORE_FORMATTED = 0x5A
STORE_HEALTHY = 0xFE
# StartId, State, Reserved, Attributes, MonotonicCount, TimeStamp, PubKeyIndex, NameSize,
# DataSize, VendorGuid.
VARIABLE_HEADER = struct.Struct("<HBBIQ16sIII16s")
START_ID = 0x55AA
VAR_ADDED = 0x3F
VAR_IN_DELETED_TRANSITION = 0xFE
VAR_DELETED = 0xFD
# Non-volatile, boot-service and runtime access, time-based authenticated writes.
SECURITY_DATABASE_ATTRIBUTES = 0x27


class StoreError(ValueError):
    pass


@dataclass(frozen=True)
class Variable:
    offset: int  # of its header in the file
    state: int
    attributes: int
    name: str
    guid: uuid.UUID
    data: bytes
    end: int  # one past its data

    @property
    def live(self):
        return self.state in (VAR_ADDED, VAR_ADDED & VAR_IN_DELETED_TRANSITION)


def _align4(offset):
    return (offset + 3) & ~3


def store_bounds(image):
    """(offset of the first variable, end of the store) of an OVMF variable file."""
    if len(image) < 56 or image[40:44] != b"_FVH":
        raise StoreError("no firmware volume header at the start of the file")
    (volume_length,) = struct.unpack_from("<Q", image, 32)
    (header_length,) = struct.unpack_from("<H", image, 48)
    if volume_length > len(image) or header_length + STORE_HEADER.size > volume_length:
        raise StoreError("firmware volume header does not fit the file")
    guid, size, fmt, state, _, _ = STORE_HEADER.unpack_from(image, header_length)
    if uuid.UUID(bytes_le=guid) != AUTHENTICATED_VARIABLE_GUID:
        raise StoreError("the volume holds no authenticated-variable store")
    if fmt != STORE_FORMATTED or state != STORE_HEALTHY:
        raise StoreError(f"variable store format {fmt:#x} state {state:#x}")
    if header_length + size > volume_length:
        raise StoreError("variable store larger than its volume")
    return _align4(header_length + STORE_HEADER.size), header_length + size


def variables(image):
    """Every variable in the store, deleted ones included, in file order."""
    offset, end = store_bounds(image)
    found = []
    while offset + VARIABLE_HEADER.size <= end:
        (start_id, state, _, attributes, _, _, _, name_size, data_size,
         guid) = VARIABLE_HEADER.unpack_from(image, offset)
        if start_id != START_ID:
            break
        name_at = offset + VARIABLE_HEADER.size
        data_at = name_at + name_size
        data_end = data_at + data_size
        if data_end > end:
            raise StoreError(f"variable at {offset:#x} runs past the store")
        name = image[name_at:data_at].decode("utf-16-le").rstrip("\0")
        found.append(Variable(offset, state, attributes, name, uuid.UUID(bytes_le=guid),
                              bytes(image[data_at:data_end]), data_end))
        offset = _align4(data_end)
    return found


def read_variable(image, name, guid=IMAGE_SECURITY_DATABASE_GUID):
    """The data of the live variable of that name, or None."""
    live = [v for v in variables(image) if v.live and v.name == name and v.guid == guid]
    if len(live) > 1:
        raise StoreError(f"{name} is in the store {len(live)} times")
    return live[0].data if live else None


def _header_for(old, name, data):
    """A new header for name with data: the old copy's attributes, count, time stamp and key
    index, or those the firmware gives a security database set for the first time."""
    if old is None:
        attributes, count, stamp, key = SECURITY_DATABASE_ATTRIBUTES, 0, bytes(16), 0
    else:
        _, _, _, attributes, count, stamp, key, _, _, _ = VARIABLE_HEADER.unpack_from(
            old, 0)
    encoded = (name + "\0").encode("utf-16-le")
    return VARIABLE_HEADER.pack(START_ID, VAR_ADDED, 0, attributes, count, stamp, key,
                                len(encoded), len(data),
                                IMAGE_SECURITY_DATABASE_GUID.bytes_le) + encoded


def rewrite(image, changes):
    """A copy of image with each {name: data or None} of the image security database set
    (None deletes it)."""
    image = bytearray(image)
    first, end = store_bounds(image)
    every = variables(image)
    free = _align4(every[-1].end) if every else first
    for name, data in changes.items():
        old_header = None
        for v in every:
            if v.live and v.name == name and v.guid == IMAGE_SECURITY_DATABASE_GUID:
                old_header = bytes(image[v.offset:v.offset + VARIABLE_HEADER.size])
                image[v.offset + 2] = v.state & VAR_DELETED
        if data is None:
            continue
        record = _header_for(old_header, name, data) + data
        if free + len(record) > end:
            raise StoreError(f"{name} ({len(data)} bytes) does not fit the store")
        image[free:free + len(record)] = record
        free = _align4(free + len(record))
    return bytes(image)


def _data_argument(value):
    return None if value == "-" else Path(value).read_bytes()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    read = commands.add_parser("read")
    read.add_argument("store")
    read.add_argument("name", choices=("db", "dbx"))
    read.add_argument("out")
    write = commands.add_parser("write")
    write.add_argument("store")
    write.add_argument("out")
    write.add_argument("--db")
    write.add_argument("--dbx")
    args = parser.parse_args(argv)
    image = Path(args.store).read_bytes()
    try:
        if args.command == "read":
            data = read_variable(image, args.name)
            if data is None:
                print(f"{args.store} holds no {args.name}", file=sys.stderr)
                return 3
            Path(args.out).write_bytes(data)
        else:
            changes = {name: _data_argument(value)
                       for name, value in (("db", args.db), ("dbx", args.dbx))
                       if value is not None}
            Path(args.out).write_bytes(rewrite(image, changes))
    except StoreError as error:
        print(f"{args.store}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
