#!/usr/bin/python3
"""Writes boot stores that no real store shows, with hivex (an independent writer of hive files),
into a folder: make_stores.py TEMPLATE FOLDER [WINDOWS10]. TEMPLATE is a real store whose objects are
replaced (hivex edits hives, it does not make them).

- mbr.bcd: a BIOS store whose boot manager and Windows 7 loader name MBR partitions;
- missing.bcd: a UEFI store whose loader names a GPT partition no disk has, whose default names
  no object and whose display order is empty;
- dirty.bcd: mbr.bcd with its base block's sequence numbers apart (not cleanly written);
- without-recovery.bcd: the real Windows 10 store (the template named by its third argument)
  with its Windows loader's Windows RE entry (recoverysequence) deleted, as bcdboot /bootex
  leaves it;
- indexes.bcd: mbr.bcd with subkey indexes of the kinds hivex does not write ("ri" over "li"
  and "lf") and a big value split into "db" segments (hive version 1.5), and a big value in one
  cell. These are laid out in a hive bin added at the end, as Windows adds bins; hivexml reads
  the result independently.
"""
import os
import shutil
import struct
import sys
import uuid

import hivex

BOOTMGR = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}"
LOADER = "{e2a1b3c4-0000-4000-8000-000000000001}"
NOWHERE = "{e2a1b3c4-0000-4000-8000-00000000dead}"
MBR_SIGNATURE = 0x1A2B3C4D
GPT_DISK = "{11111111-2222-3333-4444-555555555555}"
ESP = "{66666666-7777-8888-9999-aaaaaaaaaaaa}"
GONE = "{bbbbbbbb-cccc-dddd-eeee-ffffffffffff}"


def text(value):
    return (1, (value + "\0").encode("utf-16-le"))


def objects(ids):
    return (7, b"".join((i + "\0").encode("utf-16-le") for i in ids) + b"\0\0")


def integer(value):
    return (3, struct.pack("<Q", value))


def partition(body):
    return (3, bytes(16) + struct.pack("<IIII", 6, 0, 0x48, 0) + body)


def mbr_partition(offset):
    # The offset in a 16-byte field, 4 bytes of nothing, the style (1, MBR) at 20, then the disk's
    # signature at 24, as Windows writes a partition on an MBR disk.
    return partition(struct.pack("<QQII", offset, 0, 0, 1) + struct.pack("<I", MBR_SIGNATURE)
                     + bytes(28))


def gpt_partition(part):
    return partition(uuid.UUID(part).bytes_le + struct.pack("<II", 0, 0)
                     + uuid.UUID(GPT_DISK).bytes_le + bytes(16))


def write_store(template, path, entries):
    shutil.copyfile(template, path)
    os.chmod(path, 0o644)
    h = hivex.Hivex(path, write=True)
    folder = h.node_get_child(h.root(), "Objects")
    for child in h.node_children(folder):
        h.node_delete_child(child)
    for object_id, object_type, elements in entries:
        node = h.node_add_child(folder, object_id)
        description = h.node_add_child(node, "Description")
        h.node_set_value(description, {"key": "Type", "t": 4, "value": struct.pack("<I", object_type)})
        element_keys = h.node_add_child(node, "Elements")
        for number, (value_type, value) in elements:
            key = h.node_add_child(element_keys, "%08X" % number)
            h.node_set_value(key, {"key": "Element", "t": value_type, "value": value})
    h.commit(None)


def checksum(hive):
    total = 0
    for i in range(127):
        total ^= struct.unpack_from("<I", hive, i * 4)[0]
    struct.pack_into("<I", hive, 508, total)


class Bins:
    """The hive's cells, and a bin added at its end for new ones."""

    def __init__(self, hive):
        self.hive = hive
        self.length = struct.unpack_from("<I", hive, 40)[0]
        self.added = bytearray()

    def cell(self, offset):
        size = -struct.unpack_from("<i", self.hive, 4096 + offset)[0]
        return self.hive[4096 + offset + 4:4096 + offset + size]

    def add(self, data):
        if not self.added:
            self.added = bytearray(32)
        size = (len(data) + 4 + 7) & ~7
        offset = self.length + len(self.added)
        self.added += struct.pack("<i", -size) + data + bytes(size - 4 - len(data))
        return offset

    def close(self):
        size = (len(self.added) + 4095) & ~4095
        self.added += struct.pack("<i", size - len(self.added)) + bytes(size - len(self.added) - 4)
        struct.pack_into("<4sII", self.added, 0, b"hbin", self.length, size)
        self.hive[4096 + self.length:] = self.added
        struct.pack_into("<I", self.hive, 40, self.length + size)
        checksum(self.hive)


def key_offset(bins, parent, name):
    """The key node named under the key node at parent, found through its subkey index."""
    index = bins.cell(struct.unpack_from("<I", bins.cell(parent), 0x1C)[0])
    step = 8 if index[:2] in (b"lf", b"lh") else 4
    for i in range(struct.unpack_from("<H", index, 2)[0]):
        child = struct.unpack_from("<I", index, 4 + i * step)[0]
        node = bins.cell(child)
        length = struct.unpack_from("<H", node, 0x48)[0]
        if node[0x4C:0x4C + length].decode("latin-1").lower() == name.lower():
            return child
    raise KeyError(name)


def restructure(path):
    hive = bytearray(open(path, "rb").read())
    struct.pack_into("<I", hive, 24, 5)
    bins = Bins(hive)
    root = struct.unpack_from("<I", hive, 36)[0]
    folder = key_offset(bins, root, "Objects")
    description = key_offset(bins, key_offset(bins, folder, LOADER), "Description")
    # The objects' index as "ri" over an "li" of the first and an "lf" of the others.
    node = bins.cell(folder)
    index = bins.cell(struct.unpack_from("<I", node, 0x1C)[0])
    count = struct.unpack_from("<H", index, 2)[0]
    step = 8 if index[:2] in (b"lf", b"lh") else 4
    children = [struct.unpack_from("<I", index, 4 + i * step)[0] for i in range(count)]
    li = bins.add(b"li" + struct.pack("<H", 1) + struct.pack("<I", children[0]))
    lf = bins.add(b"lf" + struct.pack("<H", count - 1)
                  + b"".join(struct.pack("<I4s", c, b"\0\0\0\0") for c in children[1:]))
    ri = bins.add(b"ri" + struct.pack("<HII", 2, li, lf))
    struct.pack_into("<I", hive, 4096 + folder + 4 + 0x1C, ri)
    # The loader's description as a big-data value: "db", its list, 16344-byte segments.
    values = bins.cell(struct.unpack_from("<I", bins.cell(description), 0x28)[0])
    for i in range(struct.unpack_from("<I", bins.cell(description), 0x24)[0]):
        vk_offset = struct.unpack_from("<I", values, i * 4)[0]
        vk = bins.cell(vk_offset)
        if vk[0x14:0x14 + 3] != b"Big":
            continue
        size, data_offset = struct.unpack_from("<II", vk, 4)
        data = bytes(bins.cell(data_offset)[:size])
        segments = [bins.add(data[at:at + 16344]) for at in range(0, size, 16344)]
        listing = bins.add(b"".join(struct.pack("<I", s) for s in segments))
        big = bins.add(b"db" + struct.pack("<HI", len(segments), listing))
        struct.pack_into("<I", hive, 4096 + vk_offset + 4 + 8, big)
    bins.close()
    open(path, "wb").write(hive)


def without_recovery(store, path):
    shutil.copyfile(store, path)
    os.chmod(path, 0o644)
    h = hivex.Hivex(path, write=True)
    loader = h.node_get_child(h.node_get_child(h.root(), "Objects"),
                              "{e018a2d0-b134-11ea-95b2-81f0ac71b75b}")
    elements = h.node_get_child(loader, "Elements")
    h.node_delete_child(h.node_get_child(elements, "14000008"))
    h.commit(None)


def main(template, folder, windows10=None):
    bios = [
        (BOOTMGR, 0x10100002, [(0x11000001, mbr_partition(1048576)),
                               (0x12000004, text("Windows Boot Manager")),
                               (0x23000003, text(LOADER)), (0x24000001, objects([LOADER])),
                               (0x25000004, integer(30))]),
        (LOADER, 0x10200003, [(0x11000001, mbr_partition(105906176)),
                              (0x12000002, text("\\Windows\\system32\\winload.exe")),
                              (0x12000004, text("Windows 7")),
                              (0x21000001, mbr_partition(105906176)),
                              (0x22000002, text("\\Windows"))]),
    ]
    write_store(template, os.path.join(folder, "mbr.bcd"), bios)
    write_store(template, os.path.join(folder, "missing.bcd"), [
        (BOOTMGR, 0x10100002, [(0x11000001, gpt_partition(ESP)),
                               (0x12000002, text("\\EFI\\Microsoft\\Boot\\bootmgfw.efi")),
                               (0x23000003, text(NOWHERE)), (0x24000001, objects([])),
                               (0x25000004, integer(0))]),
        (LOADER, 0x10200003, [(0x11000001, gpt_partition(GONE)),
                              (0x12000002, text("\\Windows\\system32\\winload.efi")),
                              (0x12000004, text("Windows 11")),
                              (0x21000001, gpt_partition(GONE)),
                              (0x22000002, text("\\Windows"))]),
    ])
    dirty = bytearray(open(os.path.join(folder, "mbr.bcd"), "rb").read())
    struct.pack_into("<I", dirty, 8, struct.unpack_from("<I", dirty, 4)[0] - 1)
    checksum(dirty)
    open(os.path.join(folder, "dirty.bcd"), "wb").write(dirty)
    indexes = os.path.join(folder, "indexes.bcd")
    write_store(template, indexes, bios)
    h = hivex.Hivex(indexes, write=True)
    loader = h.node_get_child(h.node_get_child(h.root(), "Objects"), LOADER)
    description = h.node_get_child(loader, "Description")
    h.node_set_value(description, {"key": "Big", "t": 3, "value": bytes(range(251)) * 160})
    h.node_set_value(description, {"key": "Large", "t": 3, "value": bytes(range(7, 256)) * 80})
    h.commit(None)
    restructure(indexes)
    if windows10:
        without_recovery(windows10, os.path.join(folder, "without-recovery.bcd"))


if __name__ == "__main__":
    main(*sys.argv[1:4])
