"""-r: a run's backups put back by the program itself, on the drives as the repair left them."""

import os
import pwd
import socket

from cases import (
    Again, BUILD_BOOT_INI, Case, DONE, FormattedVolume, Step, LOADER_FILES, MENU_DONE, NTLDR_FOUND,
    SCAN5, SCAN6, SEVEN, STANDARD_VOLUME, XP, found5, found6, menu_store_commands, unchecked, on, press, store,
    volume, wait_exit, wait_log, wait_state)
from fault_cases import BOOTSECT_60, NEW_STORE, OLD_STORE, SEVEN_ON_E, bcdboot, rewritten

RESTORING = "正在撤销修复，按 {} ..."
VOLUME_BACK = "  已恢复：d: 卷的前 8192 字节"


def restored(count):
    return f"撤销完成！已恢复 {count} 项。请关闭。"


def created(path):
    return f"  修复时新建，未删除：{path}"


def silent_restore(log, exit_code=0, before=None):
    """-f -r: the newest run folder, no question; the program closes itself."""
    return Again("-f -r", (wait_log(log[-1]), wait_exit()), tuple(log), exit_code, before)


def damage_volume(letter):
    """Overwrites the NTFS boot code (after the BPB in the first sector, and the 15 sectors after
    it) as a boot-sector virus or a wrong boot-sector tool would; the BPB stays."""
    def damage(ws):
        image = ws.images[letter]
        data = bytearray(image.read_bytes())
        data[0x54:510] = b"\xde" * (510 - 0x54)
        data[512:8192] = b"\xde\xad" * 3840
        image.write_bytes(bytes(data))
    return damage


# A file written to a FAT16 volume: its first cluster's entry in the first FAT, in sector 1, now
# marks the end of a chain.
FAT_ENTRY = 512 + 2 * 2


def write_fat_entry(letter):
    def write(ws):
        image = ws.images[letter]
        data = bytearray(image.read_bytes())
        data[FAT_ENTRY:FAT_ENTRY + 2] = b"\xff\xff"
        image.write_bytes(bytes(data))
    return write


def alter_backup(name):
    """Flips a byte of a copy in the first run's folder: same length, other bytes."""
    def alter(ws):
        copy = ws.run_folders[0] / name
        data = bytearray(copy.read_bytes())
        data[0] ^= 1
        copy.write_bytes(bytes(data))
    return alter


def formatted_again(volume):
    """Another file system of the same size: the serial number a format gives (NTFS keeps it at
    0x48) is new."""
    return volume[:0x48] + b"\x11\x22\x33\x44\x55\x66\x77\x88" + volume[0x50:]


def format_again(letter):
    def format_volume(ws):
        image = ws.images[letter]
        image.write_bytes(formatted_again(image.read_bytes()))
    return format_volume


REPAIR_STEPS = (wait_log(MENU_DONE), wait_exit())
SEVEN_LOG = [SCAN6, found6("e:"), unchecked("e:"), SCAN5, "", MENU_DONE]
# d:'s volume as Windows knows it under Wine, which reports no partitions: its size, and the
# serial number of the file system on it.
THIS_VOLUME = "大小 65536 字节的卷（卷序列号 5E6F-7081）"
OTHER_VOLUME = "大小 65536 字节的卷（卷序列号 4433-2211）"
SEVEN_JOURNAL = [bcdboot("e:"), store("d:", "/timeout 7"), BOOTSECT_60]
OLD_BOOT_MANAGER = b"old boot manager on d:\r\n"
OLD_NTLDR = b"old NTLDR on d:, read-only hidden system\r\n"
CREATED_LOADER_FILES = ("d:/boot.ini", "d:/BOOTFONT.BIN", "d:/NTDETECT.COM")

def seven_repaired(name, files=SEVEN_ON_E, **more):
    """Windows 7 on e:, its boot menu rebuilt on d: by a silent repair; then what the case does."""
    return Case(name=name, tail="-f -d d:", files=files, steps=REPAIR_STEPS, log=SEVEN_LOG,
                journal=SEVEN_JOURNAL, boxes=[], **more)


def link_in_place(letter, name, to):
    """Puts a symbolic link in the place of a file or folder of the drive (any case of its name),
    leading to another of the drive (in a real attack, in System32): Wine shows it as a reparse
    point by its path."""
    def link(ws):
        drive = ws.drives[letter]
        found = next(p for p in drive.iterdir() if p.name.lower() == name.lower())
        if found.is_dir():
            for child in found.iterdir():
                child.unlink()
            found.rmdir()
        else:
            found.unlink()
        found.symlink_to(drive / to)
    return link


def wine_owner():
    """The owner Wine names for every file: the computer (the host's name, as NetBIOS shortens
    it) and the account Wine runs as (the tests' own when the runner is root)."""
    account = "kestrix-e2e" if os.geteuid() == 0 else pwd.getpwuid(os.geteuid()).pw_name
    return socket.gethostname().split(".")[0].upper()[:15] + "\\" + account


PLANTED = "d:\\kestrix-20200101-080000"
PLANTED_MANIFEST = "Kestrix manifest 2\r\nend\r\n"
NOTHING_RESTORED = "撤销结束，未恢复任何内容！请查看上面的记录。"


def menu_repair_then_undo(before, more_files=None):
    """Windows 7 on e:, XP on f: the whole boot menu rebuilt on d:, then an undo after before has
    acted on the drives, which puts back the boot area and every replaced file."""
    return dict(
        tail="-f -d d:",
        files={**on("e:", SEVEN), **on("f:", XP), "d:/bootmgr": OLD_BOOT_MANAGER,
               "d:/boot/bcd": OLD_STORE, "d:/NTLDR": OLD_NTLDR, **(more_files or {})},
        attributes={"d:/NTLDR": "rhs", "d:/bootmgr": "rhs"},
        program_files=LOADER_FILES,
        steps=REPAIR_STEPS,
        log=[SCAN6, found6("e:"), unchecked("e:"), SCAN5, found5("f:"), BUILD_BOOT_INI, "",
             MENU_DONE],
        journal=[bcdboot("e:"), *menu_store_commands("d:"), BOOTSECT_60],
        boxes=[],
        then=(silent_restore(
            [RESTORING.format("{0}"), "  已恢复：d:\\bootmgr", "  已恢复：d:\\Boot\\bcd",
             "  已恢复：d:\\NTLDR", VOLUME_BACK, created("d:\\boot.ini"),
             created("d:\\BOOTFONT.BIN"), created("d:\\NTDETECT.COM"), "", restored(4)],
            before=before),),
    )

UNDO_CASES = [
    # Windows 7 on e:, XP on f: the whole boot menu is rebuilt on d:. The boot area is damaged
    # after the repair; the restore puts back the boot area and every replaced file as they were
    # before the repair, the protected loader with its attributes. The loader files that the repair
    # copied where there were none are named and stay.
    Case(
        name="undo_puts_back_boot_area_and_files",
        **menu_repair_then_undo(damage_volume("d")),
        attributes_after={"d:/NTLDR": "rhs", "d:/bootmgr": "rhs"},
        changes=CREATED_LOADER_FILES),
    # A copy altered after the run is refused and its file left as it is; the rest goes back.
    seven_repaired(
        "undo_refuses_altered_backup",
        then=(silent_restore(
            [RESTORING.format("{0}"),
             "  失败：备份 {0}\\d\\Boot\\bcd 与清单记录的长度或 SHA-256 不符，未恢复 d:\\Boot\\bcd",
             VOLUME_BACK, created("d:\\bootmgr"), "",
             "撤销结束，但有 1 项未能恢复！请查看上面的记录。"],
            exit_code=1, before=alter_backup("d/Boot/bcd")),),
        files_after={"d:/boot/bcd": NEW_STORE},
        volumes_after={"d": STANDARD_VOLUME},
        changes=("d:/boot/bcd", "d:/bootmgr")),
    # Another volume has the letter now (a run folder carried to another PC, or letters that
    # differ between Windows PE and Windows): every item is refused and nothing is written.
    seven_repaired(
        "undo_refuses_another_volume_under_the_letter",
        then=(silent_restore(
            [RESTORING.format("{0}"),
             f"  失败：d: 现在是另一个卷（{OTHER_VOLUME}，备份时是{THIS_VOLUME}），未恢复 d:\\Boot\\bcd",
             f"  失败：d: 现在是另一个卷（{OTHER_VOLUME}，备份时是{THIS_VOLUME}），未恢复 "
             "d: 卷的前 8192 字节",
             created("d:\\bootmgr"), "", "撤销结束，未恢复任何内容！请查看上面的记录。"],
            exit_code=2, before=format_again("d")),),
        # Not a byte written: the volume as the repair and the format left it.
        volumes_after={"d": formatted_again(rewritten("NT60"))},
        changes=(volume("d"),), changes_from="first run"),
    # The restore saved what it overwrote: a second -r, confirmed in the window, undoes the
    # first and leaves the drives as the repair did.
    seven_repaired(
        "undo_twice_gives_back_the_repair",
        then=(silent_restore([RESTORING.format("{0}"), "  已恢复：d:\\Boot\\bcd", VOLUME_BACK,
                              created("d:\\bootmgr"), "", restored(2)]),
              Again("-r", (wait_state(start_visible=False, repair_visible=True, progress_visible=False),
                           Step("snap", "restore-confirm"), press("confirm"), wait_log(restored(2)), press("confirm"), wait_exit()),
                    (RESTORING.format("{1}"), "  已恢复：d:\\Boot\\bcd", VOLUME_BACK, "",
                     restored(2)))),
        files_after={"d:/boot/bcd": NEW_STORE},
        changes=(), changes_from="first run"),
    # FAT16 keeps one reserved sector; its first FAT follows. The boot sector that the repair
    # rewrote goes back, the FAT entry of a file written since stays.
    Case(
        name="undo_fat16_puts_back_the_boot_sector_only",
        tail="-f -n -d d:",
        files={"d:/ntldr": 100},
        volumes={"d": FormattedVolume(10, "mkfs.fat --invariant -a -F 16")},
        steps=(wait_log(DONE), wait_exit()),
        log=[NTLDR_FOUND, "", DONE],
        journal=["bootsect.exe /nt52 d:"],
        boxes=[],
        then=(silent_restore(
            [RESTORING.format("{0}"),
             "  已恢复：d: 卷的前 512 字节（引导区；备份中其后的 7680 字节属于文件系统，未写回）",
             "", restored(1)],
            before=write_fat_entry("d")),),
        volumes_after={"d": lambda before: (before[:FAT_ENTRY] + b"\xff\xff"
                                            + before[FAT_ENTRY + 2:])},
        changes=(volume("d"),)),
    # A run folder any user could make in a drive's root is not used. Under Wine every file is
    # owned by the account Wine runs as, which is no administrator's group, so any folder found
    # there is refused: this shows the owner read and the refusal, not an administrator's folder
    # told from a planted one (the unit tests do that). A name for a time still to come is passed
    # over before it.
    Case(
        name="undo_refuses_planted_run_folder",
        tail="-f -r",
        files={f"{PLANTED[:2]}/{PLANTED[3:]}/manifest.txt": PLANTED_MANIFEST,
               "e:/kestrix-99991231-235959/manifest.txt": PLANTED_MANIFEST},
        steps=(wait_log(NOTHING_RESTORED), wait_exit()),
        log=[RESTORING.format(PLANTED),
             f"  失败：运行目录 {PLANTED} 不是管理员创建的（所有者 {wine_owner()}），不使用", "",
             NOTHING_RESTORED],
        journal=[], boxes=[], exit_code=2,
        changes=("c:/kestrix/kestrix-2*",)),
    # A link that leads the boot folder elsewhere is not written through: the store is refused,
    # the folder the link leads to stays as it is, and the boot area, reached through no link,
    # goes back.
    seven_repaired(
        "undo_writes_nothing_through_a_link",
        files={**SEVEN_ON_E, "d:/elsewhere/bcd": NEW_STORE},
        then=(silent_restore(
            [RESTORING.format("{0}"),
             "  失败：无法写回 d:\\Boot\\bcd（d:\\Boot 是联接点、符号链接或其他重解析点，不经由它写入）",
             VOLUME_BACK, created("d:\\bootmgr"), "",
             "撤销结束，但有 1 项未能恢复！请查看上面的记录。"],
            exit_code=1, before=link_in_place("d", "boot", "elsewhere")),),
        files_after={"d:/elsewhere/bcd": NEW_STORE},
        volumes_after={"d": STANDARD_VOLUME},
        changes=("d:/boot", volume("d")), changes_from="first run"),
    # The protected loader itself replaced by a link to a file. Wine shows a Unix link to a file as
    # a plain file, so it is not refused here (the unit tests refuse it); but the loader goes back
    # by a move that replaces the link itself, and what the link leads to is not written.
    Case(
        name="undo_replaces_a_linked_loader_without_writing_through_it",
        **menu_repair_then_undo(link_in_place("d", "NTLDR", "elsewhere/NTLDR"),
                                {"d:/elsewhere/NTLDR": LOADER_FILES["NTLDR"]}),
        files_after={"d:/NTLDR": OLD_NTLDR, "d:/elsewhere/NTLDR": LOADER_FILES["NTLDR"]},
        attributes_after={"d:/NTLDR": "rhs"},
        changes=("d:/NTLDR", "d:/bootmgr", "d:/boot", volume("d")), changes_from="first run"),
]
