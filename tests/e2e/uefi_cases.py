"""The EFI system partition: offered by the scan (given a letter for the run when it has none),
repaired with UEFI boot files, and its fallback loader put in place."""

import struct

from cases import (
    DONE, MENU_DONE, SCAN5, SCAN6, SEVEN, XP, Box, Case, close, found6, held, unchecked,
    LISTING_RUN, end_session, listings, on, press, query_end, wait_exit, wait_journal, wait_state)
from fault_cases import held_case
from verdict_cases import SHIM, installed

# Wine cannot start through UEFI: it answers the firmware question as a BIOS PC does, and so
# it has no Secure Boot variables either.
STARTS_BIOS = "注意：本机当前以BIOS（传统）方式启动，修复的UEFI引导要在固件设置改为UEFI方式启动后才会生效。"
TRUST_UNKNOWN = ["安全启动（Secure Boot）：未知", "  固件 db：无法读取", "  固件 dbx：无法读取",
                 "正在检查启动管理器的签名..."]
VERDICT_UNKNOWN = "    固件判定：无法判断（读不到 db/dbx 或文件）"
# Debian's shim, signed by Microsoft's two third-party CAs, as the boot manager of a Windows.
SHIM_SIGNERS = ("Microsoft Windows UEFI Driver Publisher（Microsoft Corporation UEFI CA 2011 颁发）；"
                "Microsoft UEFI CA 2023 signer（Microsoft UEFI CA 2023 颁发）")


def fat32_boot_sector():
    """Enough of a FAT32 boot sector for Windows to call the volume FAT32."""
    sector = bytearray(512)
    sector[0:11] = b"\xebX\x90MSDOS5.0"
    struct.pack_into("<HBHBHHBHHHII", sector, 11, 512, 1, 32, 2, 0, 0, 0xF8, 0, 63, 255, 0,
                     204800)
    struct.pack_into("<IHHI", sector, 36, 1576, 0, 0, 2)
    sector[0x42] = 0x29
    sector[0x47:0x52] = b"NO NAME    "
    sector[0x52:0x5A] = b"FAT32   "
    sector[510:512] = b"\x55\xaa"
    return bytes(sector) + bytes(8192 - 512)


def pe_image(machine):
    """A PE file's headers: the DOS stub's pointer, the signature and the machine type."""
    image = bytearray(1024)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x80)
    image[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<H", image, 0x84, machine)
    return bytes(image)


EFI_BOOT = "s:/EFI/Microsoft/Boot"
OLD_FALLBACK = b"old fallback loader\r\n"

UEFI_CASES = [
    # The scan offers the lettered ESP; the one candidate is repaired at once: Windows 10 gets its
    # UEFI boot files, XP beside it is named and skipped, no boot sector is written. The signers
    # of the fallback loader on the ESP and of the Windows' boot manager (Debian's shim, signed by
    # Microsoft, for both) are named; without db and dbx no verdict is known, and the ESP's boot
    # manager, not signed under Windows UEFI CA 2023, lets the plain one be installed.
    Case(
        name="uefi_esp_from_the_scan_with_xp_beside_ten",
        tail="-f",
        files={**on("e:", SEVEN), **on("f:", XP),
               "e:/windows/Boot/EFI/bootmgfw.efi": installed(SHIM),
               "s:/EFI/Boot/bootx64.efi": installed(SHIM)},
        drives=("s",),
        volumes={"s": fat32_boot_sector()},
        program_files=listings(d0="1 S: gpt efi-system FAT32 - no 1 101 100 MB\r\n",
                               d1="open disk error!\r\n"),
        steps=(*held(MENU_DONE), wait_state(partition_text="s:  容量:100MB（UEFI）"), close("repair"),
               wait_exit()),
        log=[STARTS_BIOS, *TRUST_UNKNOWN, "  s:\\EFI\\Boot\\bootx64.efi 的签名：" + SHIM_SIGNERS,
             VERDICT_UNKNOWN,
             "  安全启动状态无法读取，按 ESP 上现有的启动管理器选择：它不是 Windows UEFI CA 2023 签名的，按原方式安装。",
             "  e:\\Windows\\Boot\\EFI\\bootmgfw.efi 的签名：" + SHIM_SIGNERS, VERDICT_UNKNOWN,
             "  e: 将安装 \\Windows\\Boot\\EFI 中的启动管理器。", SCAN6, found6("e:"),
             unchecked("e:", "s:\\EFI\\Microsoft\\Boot\\BCD"), SCAN5,
             "  在 f: 发现5.x系统，5.x系统不能以UEFI方式启动，已跳过。", "", MENU_DONE],
        journal=[LISTING_RUN, "bcdboot.exe e:\\windows /l zh-cn /s s: /f UEFI",
                 "bcdedit.exe /store s:\\EFI\\Microsoft\\Boot\\BCD /timeout 7"],
        boxes=[],
        # bcdboot copied the Windows' own boot manager, as the real tool does.
        files_after={f"{EFI_BOOT}/BCD": True, f"{EFI_BOOT}/bootmgfw.efi": installed(SHIM),
                     "s:/NTLDR": None, "s:/boot.ini": None},
        changes=("s:/EFI",), backups=("s:/EFI/Boot/bootx64.efi",)),
    # An ESP without a letter gets the last free one for the run, through diskpart, and gives it
    # back when the program ends; with two candidates nothing is repaired.
    Case(
        name="uefi_unlettered_esp_lettered_for_the_run",
        tail="",
        drives=("d",),
        program_files=listings(d0="1 D: mbr 07 NTFS - yes 1 20481 20480 MB\r\n"
                                  "2 - gpt efi-system - - no 1 101 100 MB\r\n",
                               d1="open disk error!\r\n"),
        steps=(wait_state(start_visible=True), press("startbutton"),
               wait_state(repair_visible=True, partition_entry=["d:  容量:20480MB", "z:  容量:100MB（UEFI）"]),
               close("repair"), wait_exit()),
        log=[],
        journal=[LISTING_RUN,
                 "diskpart.exe | select disk 0 | select partition 2 | assign letter=Z",
                 "diskpart.exe | select disk 0 | select partition 2 | remove letter=Z"],
        boxes=[], exit_code=2, changes=(), backups=(),
        log_notes=("已为 磁盘 0 的分区 2（EFI系统分区）分配盘符 Z:，程序结束时收回", "已收回盘符 Z:")),
    # The session ends while the listing gives the ESP its letter (diskpart takes 3 s): the
    # program waits for the listing, then takes the letter back, then ends; no letter is left.
    Case(
        name="uefi_session_end_while_the_listing_gives_a_letter",
        tail="",
        drives=("d",),
        program_files={**listings(d0="1 D: mbr 07 NTFS - yes 1 20481 20480 MB\r\n"
                                     "2 - gpt efi-system - - no 1 101 100 MB\r\n",
                                  d1="open disk error!\r\n"),
                       "diskpart.delay-ms": "3000"},
        steps=(wait_state(start_visible=True),
               wait_journal("diskpart.exe | select disk 0 | select partition 2 | assign letter=Z"),
               query_end(False), end_session(), wait_exit()),
        log=[],
        journal=[LISTING_RUN,
                 "diskpart.exe | select disk 0 | select partition 2 | assign letter=Z",
                 "diskpart.exe | select disk 0 | select partition 2 | remove letter=Z"],
        boxes=[], exit_code=2, changes=(), backups=(),
        log_notes=("Windows 会话结束（注销或关机）",
                   "已为 磁盘 0 的分区 2（EFI系统分区）分配盘符 Z:，程序结束时收回", "已收回盘符 Z:")),
    # -d names the ESP (a FAT volume with \EFI, as Wine cannot tell partition types) and -n puts
    # the fallback loader for bootmgfw.efi's machine type in place, after saving the old one.
    held_case(
        "uefi_d_names_esp_boot_sector_only", "-f -n -d s:", DONE,
        files={f"{EFI_BOOT}/bootmgfw.efi": pe_image(0x8664),
               "s:/EFI/Boot/bootx64.efi": OLD_FALLBACK},
        volumes={"s": fat32_boot_sector()},
        log=[STARTS_BIOS, "检测出bootmgfw.efi，正在建立UEFI后备启动文件 \\EFI\\Boot\\bootx64.efi...",
             "", DONE],
        journal=[], exit_code=0,
        files_after={"s:/EFI/Boot/bootx64.efi": pe_image(0x8664)},
        changes=("s:/EFI/Boot/bootx64.efi",), backups=("s:/EFI/Boot/bootx64.efi",)),
]
