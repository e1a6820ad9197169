"""The diagnosis (-i): it reads the machine, plans the repair without doing any of it, and writes
nothing but its report beside the program."""

from pathlib import Path

from cases import (
    LISTING_RUN, SEVEN, XP, Case, listings, on, press, snap, wait_exit, wait_state)

REPORT = "c:/kestrix/kestrix-report-*.txt"
# An installed Windows 10's store on UEFI/GPT, as Windows wrote it (beside the checkout).
WINDOWS10_STORE = (Path(__file__).resolve().parents[3] / "shared" / "bcd"
                   / "windows10-uefi-gpt.bcd").read_bytes()


def planned(command):
    """A tool run as the plan names it: the stand-ins lie beside the program."""
    return "    → 运行：C:\\kestrix\\" + command


DIAGNOSIS_CASES = [
    # The demo's machine, unattended: XP and its boot.ini on the active d:, Windows 7 on e:. The
    # plan is the boot-menu repair step for step, the boot sector written once bcdboot would
    # have made \bootmgr; only the lister ran, and every drive and volume is as it was.
    Case(
        name="diagnosis_unattended_writes_only_its_report",
        tail="-u -i",
        files={**on("d:", XP), "d:/boot.ini": b"[boot loader]\r\ntimeout=30\r\n",
               **on("e:", SEVEN)},
        drives=("d",),
        program_files=listings(d0="1 D: mbr 07 NTFS - yes 1 20481 20480 MB\r\n",
                               d1="open disk error!\r\n"),
        steps=(wait_exit(),),
        journal=[LISTING_RUN], boxes=[], exit_code=0, changes=(REPORT,),
        report=["== 本机 ==", "启动方式：BIOS（传统）",
                "== 磁盘与分区 ==", "磁盘 0（MBR）：", "  分区 1：活动，类型 07，20480 MB，D:，NTFS",
                "== 卷 ==", "  \\boot.ini  27 字节", "    | timeout=30",
                "== 已安装的 Windows ==", "d:：Windows 5.x（XP/2003）",
                "e:：Windows 6.x（Vista 及以后）",
                "== 修复计划 ==", "修复 d:，引导菜单修复：",
                planned("bcdboot.exe e:\\windows /l zh-cn /s d:"),
                planned("bcdedit.exe /store d:\\boot\\bcd /timeout 7"),
                planned("bootsect.exe /nt60 d:"),
                "  计划结果：每一步都能进行（工具本身是否成功，要到修复时才知道）"]),
    # Named with -d and for the boot sector only, on a drive with no loader: the question the
    # repair would ask is named, not answered, and nothing runs.
    Case(
        name="diagnosis_boot_sector_question_is_named",
        tail="-u -i -n -d d:",
        drives=("d",),
        steps=(wait_exit(),),
        journal=[LISTING_RUN], boxes=[], exit_code=0, changes=(REPORT,),
        report=["== 卷 ==", "  没有引导文件", "没有发现已安装的 Windows",
                "修复 d:，只修复引导：", "  计划结果：修复要等用户回答上面的问题"]),
    # In the window: the report fills the repair window's log, and once it is saved the confirm
    # button closes the program. The store on d: is a real one whose partitions this machine does
    # not have (as after a disk was replaced): the program reads it itself, names each entry's
    # partition as missing, runs no bcdedit and changes no byte of it.
    Case(
        name="diagnosis_in_the_window",
        tail="-i -d d:",
        files={**on("e:", SEVEN), "d:/boot/bcd": WINDOWS10_STORE},
        drives=("d",),
        steps=(wait_state(repair_visible=True, progress_visible=True, confirm_enabled=True),
               snap(), press("confirm"), wait_exit()),
        journal=[LISTING_RUN], boxes=[],
        exit_code=0, changes=(REPORT,),
        report=["  \\boot\\bcd  45056 字节",
                "    {bootmgr}（Windows 启动管理器）：Windows Boot Manager",
                "      默认：{e018a2d0-b134-11ea-95b2-81f0ac71b75b}（Windows 10）",
                "    {e018a2d0-b134-11ea-95b2-81f0ac71b75b}（Windows 启动加载器）：Windows 10",
                "      device：找不到这个分区（GPT 磁盘 {5541E87D-91A5-4F2B-AD43-A0345C199E9B} 分区 "
                "{9D4A7CB0-AB9D-4D71-961F-50F1D9C9252F}）",
                "    发现：{e018a2d0-b134-11ea-95b2-81f0ac71b75b}（Windows 10）指向的分区在本机找不到："
                "硬盘可能被克隆、更换或重新分区过。引导菜单修复会重建启动项",
                "e:：Windows 6.x（Vista 及以后）", "修复 d:，引导菜单修复：",
                planned("bcdboot.exe e:\\windows /l zh-cn /s d:"),
                planned("bootsect.exe /nt60 d:")]),
    # The Windows on c: is named from the real System32's kernel, the x64 one, by the x86 build
    # too: every read under the system folder bypasses the redirection to SysWOW64 (whose
    # kernel is the x86 one), not only the length.
    Case(
        name="diagnosis_names_the_real_system32_kernel",
        tail="-u -i",
        files={"c:/windows/system32/slmgr.vbs": 100},
        steps=(wait_exit(),),
        journal=[LISTING_RUN], boxes=[], exit_code=0, changes=(REPORT,),
        report=["正在运行的 Windows：Windows 7（内部版本 7601.21863，x64）",
                "== 已安装的 Windows ==",
                "c:：Windows 6.x（Vista 及以后），Windows 7（内部版本 7601.21863，x64）"]),
]
