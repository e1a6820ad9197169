"""The failure cases: every way a repair step can fail, and what the program must then show,
return, save and leave alone.

Besides progress, the journal and the exit code, the program cases check the backup folder (one
kestrix-* folder holding exactly the saved items with their bytes from before the run, and
kestrix.log, UTF-8 with its byte order mark, recording exactly the progress lines and ending with the
exit code) and that no file or volume on any drive changed except those the case names.
"""

from cases import (
    BAD_VOLUME, BCD_FOUND, BUILD_BOOT_INI, Box, Case, DONE, GENERIC_BOOT_INI, KEEP_BOOT_INI,
    LOADER_FILES, MENU_DONE, NTLDR_FOUND, Run, SCAN5, SCAN6, SEVEN, STANDARD_VOLUME, Step, XP,
    answer, close, end_session, found5, found6, unchecked, held, LISTING_RUN, listings, menu_store_commands,
    on, press, query_end, settext, standin_boot_record, store, volume, wait_exit, wait_journal,
    wait_log, wait_msgbox, wait_state)

SECTOR = "纯引导修复"
MENU = "引导菜单修复"
# Wine's Chinese texts for the errors the program reports.
NOT_FOUND_TEXT = "找不到文件。"
DENIED_TEXT = "访问被拒绝。"
# What the stand-ins return when they cannot write (tests/tools/standin.cpp).
WORK_FAILED = 1
OLD_STORE = b"old boot store, before the repair\r\n"
# The store the stand-in bcdboot writes, a hive file: its base block and one bin of 4 KiB.
NEW_STORE = 8192
BOOTSECT_60 = "bootsect.exe /nt60 d:"
BOOTSECT_52 = "bootsect.exe /nt52 d:"


def failed(kind, count):
    return f"{kind}结束，但有 {count} 个步骤失败！请查看上面的记录。"


def returned(command, code):
    return f"  失败：{command} 返回 {code}"


def not_found(command):
    tool = command.split()[0]
    return f"  失败：无法启动 {command}（程序目录和系统目录中都没有 {tool}）"


def no_loader(path, generation):
    return f"  失败：d: 上没有 {path}，未写入{generation}引导扇区"


NO_BOOTMGR = no_loader("\\bootmgr", "Win6.x")


def bcdboot(drive):
    return f"bcdboot.exe {drive}\\windows /l zh-cn /s d:"


def rewritten(generation):
    """The standard volume after bootsect: the stand-in's sector, the rest as it was."""
    return standin_boot_record(generation) + STANDARD_VOLUME[512:]


def held_case(name, tail, closing, **more):
    """Held open by a click once the closing line is shown, then closed: exit code by the close."""
    return Case(name=name, tail=tail, steps=(*held(closing), close("repair"), wait_exit()),
                boxes=[], **more)


# The stand-ins' own failures, before they are trusted with the program: fail-when picks runs,
# and without an exit code file each fails only where the real tool could not work.
STAND_INS = [
    Case(
        name="tools_fail_when_and_raw_volume",
        files={"d:/boot/bcd": OLD_STORE},
        drives=("e",),
        # e: has no volume; f:'s holds no file system that bootsect knows.
        volumes={"e": None, "f": 8192},
        program_files={"bcdedit.exitcode": "4", "bcdedit.fail-when": "/set {ntldr}"},
        runs=(Run("bcdedit.exe", "/store d:\\boot\\bcd /set {ntldr} path \\ntldr", 4),
              Run("bcdedit.exe", "/store d:\\boot\\bcd /timeout 7"),
              Run("bcdedit.exe", "/store e:\\boot\\bcd /timeout 7", WORK_FAILED),
              Run("bootsect.exe", "/nt52 d:"),
              Run("bootsect.exe", "/NT60 e:", WORK_FAILED),
              Run("bootsect.exe", "/nt60 f:", WORK_FAILED),
              Run("bootsect.exe", "/mbr d:", 87)),
        journal=["bcdedit.exe /store d:\\boot\\bcd /set {ntldr} path \\ntldr",
                 "bcdedit.exe /store d:\\boot\\bcd /timeout 7",
                 "bcdedit.exe /store e:\\boot\\bcd /timeout 7",
                 "bootsect.exe /nt52 d:", "bootsect.exe /NT60 e:", "bootsect.exe /nt60 f:",
                 "bootsect.exe /mbr d:"],
        # bcdedit leaves the store's bytes alone; only bootsect's one volume is written.
        volumes_after={"d": rewritten("NT52")},
        changes=(volume("d"),)),
]

SEVEN_ON_E = {**on("e:", SEVEN), "d:/boot/bcd": OLD_STORE}
# XP on e: with its boot.ini kept on d:, Windows 7 on f:: the whole boot menu is assembled.
BOTH_GENERATIONS = {"d:/boot.ini": b"[boot loader]\r\n", **on("e:", XP), **on("f:", SEVEN)}
BOTH_LOG_HEAD = [SCAN6, found6("f:"), unchecked("f:"), SCAN5, found5("e:"), KEEP_BOOT_INI]
BOTH_JOURNAL = [bcdboot("f:"), *menu_store_commands("d:"), BOOTSECT_60]

# Each tool failing in turn: the failure is logged once where it happened, the repair goes on,
# and the closing line counts it.
TOOL_FAILURES = [
    held_case(
        "fail_bootsect_boot_sector_only", "-f -n -d d:", failed(SECTOR, 1),
        files={"d:/boot/bcd": 100}, program_files={"bootsect.exitcode": "5"},
        log=[BCD_FOUND, returned(BOOTSECT_60, 5), "", failed(SECTOR, 1)],
        journal=[BOOTSECT_60], exit_code=1,
        changes=(), backups=(volume("d"),)),
    held_case(
        "fail_bootsect_boot_menu", "-f -d d:", failed(MENU, 1),
        files=SEVEN_ON_E, program_files={"bootsect.exitcode": "5"},
        log=[SCAN6, found6("e:"), unchecked("e:"), SCAN5, returned(BOOTSECT_60, 5), "", failed(MENU, 1)],
        journal=[bcdboot("e:"), store("d:", "/timeout 7"), BOOTSECT_60], exit_code=1,
        files_after={"d:/boot/bcd": NEW_STORE},
        changes=("d:/boot/bcd", "d:/bootmgr"), backups=("d:/boot/bcd", volume("d"))),
    held_case(
        "fail_bcdboot", "-f -d d:", failed(MENU, 2),
        files=SEVEN_ON_E, program_files={"bcdboot.exitcode": "1"},
        # No boot manager on d: for the boot code to start: the boot sector is left alone.
        log=[SCAN6, found6("e:"), returned(bcdboot("e:"), 1), SCAN5, NO_BOOTMGR, "",
             failed(MENU, 2)],
        journal=[bcdboot("e:"), store("d:", "/timeout 7")], exit_code=1,
        changes=(), backups=("d:/boot/bcd",)),
    # The log has each tool's start by full path and what it wrote to standard output and,
    # failing, to standard error.
    held_case(
        "fail_bcdedit_one_set", "-f -d d:", failed(MENU, 1),
        files=BOTH_GENERATIONS,
        program_files={"bcdedit.exitcode": "4", "bcdedit.fail-when": "/set {ntldr} device"},
        log=[*BOTH_LOG_HEAD, returned(store("d:", "/set {ntldr} device partition=d:"), 4), "",
             failed(MENU, 1)],
        journal=BOTH_JOURNAL, exit_code=1,
        # No store before the run: the one bcdboot makes is not backed up.
        changes=("d:/boot/bcd", "d:/bootmgr", volume("d")), backups=(volume("d"),),
        log_notes=(f"启动：C:\\kestrix\\{bcdboot('f:')}",
                   f"输出：bcdboot.exe 替身已运行：{bcdboot('f:')[len('bcdboot.exe '):]}",
                   "输出：bcdedit.exe 替身已运行：/store d:\\boot\\bcd /set {ntldr} device "
                   "partition=d:",
                   "输出：bcdedit.exe 替身失败，退出码 4")),
    # The two creations fail whenever bcdboot has made the objects already: not a failure.
    held_case(
        "fail_bcdedit_creates_alone_still_succeeds", "-f -d d:", MENU_DONE,
        files=BOTH_GENERATIONS,
        program_files={"bcdedit.exitcode": "1", "bcdedit.fail-when": "/create"},
        log=[*BOTH_LOG_HEAD, "", MENU_DONE], journal=BOTH_JOURNAL, exit_code=0,
        changes=("d:/boot/bcd", "d:/bootmgr", volume("d")), backups=(volume("d"),)),
]

# Each tool missing beside the program and in System32: it is not started, which is a failure
# that says so.
MISSING_TOOLS = [
    # Copies where a tool must never be taken from (the folder the program was started in, the
    # Windows folder, PATH) stay unrun: one that ran would leave its journal there.
    held_case(
        "missing_bootsect_planted_copies_not_run", "-f -n -d d:", failed(SECTOR, 1),
        files={"d:/boot/bcd": 100}, missing_tools=("bootsect.exe",),
        planted=("e:/start/bootsect.exe", "c:/windows/bootsect.exe", "f:/bin/bootsect.exe"),
        path=("f:/bin",), start_in="e:/start",
        log=[BCD_FOUND, not_found(BOOTSECT_60), "", failed(SECTOR, 1)],
        journal=[], exit_code=1, changes=(), backups=(volume("d"),)),
    held_case(
        "missing_bcdboot", "-f -d d:", failed(MENU, 2),
        files=SEVEN_ON_E, missing_tools=("bcdboot.exe",),
        log=[SCAN6, found6("e:"), not_found(bcdboot("e:")), SCAN5, NO_BOOTMGR, "",
             failed(MENU, 2)],
        journal=[store("d:", "/timeout 7")], exit_code=1,
        changes=(), backups=("d:/boot/bcd",)),
    held_case(
        "missing_bcdedit", "-f -d d:", failed(MENU, 5),
        files=BOTH_GENERATIONS, missing_tools=("bcdedit.exe",),
        # The two creations are expected to fail, so only the five settings count.
        log=[*BOTH_LOG_HEAD, *(not_found(c) for c in menu_store_commands("d:")[2:]), "",
             failed(MENU, 5)],
        journal=[bcdboot("f:"), BOOTSECT_60], exit_code=1,
        changes=("d:/boot/bcd", "d:/bootmgr", volume("d")), backups=(volume("d"),)),
]

# The XP loader set: one file missing from the program folder, an old one replaced.
OLD_FONT = b"old BOOTFONT.BIN on d:\r\n"
LOADER_FAILURES = [
    held_case(
        "missing_loader_ntldr", "-f -d d:", failed(MENU, 2),
        files={**on("e:", XP), "d:/BOOTFONT.BIN": OLD_FONT},
        program_files={k: v for k, v in LOADER_FILES.items() if k != "NTLDR"},
        log=[SCAN6, SCAN5, found5("e:"), BUILD_BOOT_INI,
             "    失败：程序目录中缺少 C:\\kestrix\\NTLDR", no_loader("\\ntldr", "Win5.x"), "",
             failed(MENU, 2)],
        journal=[], exit_code=1,
        files_after={"d:/NTLDR": None, "d:/boot.ini": GENERIC_BOOT_INI,
                     "d:/BOOTFONT.BIN": LOADER_FILES["BOOTFONT.BIN"],
                     "d:/NTDETECT.COM": LOADER_FILES["NTDETECT.COM"]},
        changes=("d:/boot.ini", "d:/BOOTFONT.BIN", "d:/NTDETECT.COM"),
        backups=("d:/BOOTFONT.BIN",)),
]


def copy_failed(name):
    return f"    失败：无法复制 C:\\kestrix\\{name} 到 d:\\{name}（错误 5：{DENIED_TEXT}）"


# Nothing on d: can be written, not even by root: every step that writes there fails, and the
# backups (read from d:) go beside the program.
READ_ONLY = [
    held_case(
        "read_only_boot_drive", "-f -d d:", failed(MENU, 11),
        files={"d:/boot/bcd": OLD_STORE, "d:/NTLDR": b"old NTLDR on d:\r\n", **on("e:", XP),
               **on("f:", SEVEN)},
        program_files=LOADER_FILES, read_only=("d",),
        log=[SCAN6, found6("f:"), returned(bcdboot("f:"), WORK_FAILED), SCAN5, found5("e:"),
             BUILD_BOOT_INI, copy_failed("boot.ini"), copy_failed("BOOTFONT.BIN"),
             copy_failed("NTLDR"), copy_failed("NTDETECT.COM"),
             *(returned(c, WORK_FAILED) for c in menu_store_commands("d:")[2:]),
             NO_BOOTMGR, "", failed(MENU, 11)],
        journal=BOTH_JOURNAL[:-1], exit_code=1,
        changes=(), backups=("d:/boot/bcd", "d:/NTLDR")),
    # The program's folder cannot be written: the backups and the log go to the boot drive's
    # root. The stand-ins sit in System32 so that their journal can be written.
    held_case(
        "read_only_program_folder_backs_up_on_boot_drive", "-f -n -d d:", DONE,
        files={"d:/boot/bcd": 100}, read_only=("c:/kestrix",), tools_in="system32",
        log=[BCD_FOUND, "", DONE], journal=[BOOTSECT_60],
        volumes_after={"d": rewritten("NT60")},
        changes=(volume("d"),), backups=(volume("d"),), backup_in="d:"),
    # Neither can be written: there is nowhere to save the boot sector, so it is not rewritten.
    held_case(
        "read_only_everywhere_no_backup", "-f -n -d d:", failed(SECTOR, 1),
        files={"d:/boot/bcd": 100}, read_only=("c:/kestrix", "d"), tools_in="system32",
        log=[BCD_FOUND, f"  失败：无法备份 d: 的引导扇区（没有可写的备份目录），未运行 {BOOTSECT_60}",
             "", failed(SECTOR, 1)],
        journal=[], exit_code=1, changes=()),
    # The boot drive is writable but its raw volume cannot be opened: no backup, no boot code.
    held_case(
        "volume_unreadable_no_backup", "-f -n -d d:", failed(SECTOR, 1),
        files={"d:/boot/bcd": 100}, volumes={"d": None},
        log=[BCD_FOUND, f"  失败：无法备份 d: 的引导扇区（错误 1：无效的函数。），未运行 {BOOTSECT_60}",
             "", failed(SECTOR, 1)],
        journal=[], exit_code=1, changes=(), backups=()),
]

# Closed while bcdboot runs (it waits 4 s before writing). The window answers all the while: its
# log can be read and its confirm button rests. The close asks first: Yes ends the program once
# bcdboot has ended, with code 1, and nothing after it runs; No lets the repair finish.
CLOSE_QUESTION = "修复正在进行，现在退出可能使系统无法启动。仍要退出吗？"
CLOSED_MID_REPAIR = [
    Case(
        name="closed_while_bcdboot_runs",
        tail="-f -d d:",
        files={**SEVEN_ON_E, **on("f:", SEVEN)},
        program_files={"bcdboot.delay-ms": "4000"},
        steps=(wait_journal(bcdboot("e:")), wait_log(found6("e:")),
               wait_state(confirm_enabled=False), close("repair"), wait_msgbox(), answer("yes"),
               wait_exit()),
        logged=[SCAN6, found6("e:")],
        journal=[bcdboot("e:")],
        boxes=[Box(CLOSE_QUESTION, ("yes", "no"))],
        exit_code=1,
        log_notes=(f"提示：{CLOSE_QUESTION} → 是",
                   "修复被中止：窗口在修复进行中关闭，当前步骤结束后未再执行其他步骤"),
        files_after={"d:/boot/bcd": NEW_STORE},
        changes=("d:/boot/bcd", "d:/bootmgr"), backups=("d:/boot/bcd",)),
    Case(
        name="closed_while_bcdboot_runs_then_kept",
        tail="-d d:",
        files=SEVEN_ON_E,
        program_files={"bcdboot.delay-ms": "2000"},
        steps=(wait_state(start_visible=True), query_end(True), press("startbutton"),
               wait_journal(bcdboot("e:")), query_end(False), close("repair"), wait_msgbox(),
               answer("no"), wait_log(MENU_DONE), wait_state(confirm_enabled=True),
               query_end(True), close("repair"), wait_exit()),
        log=[SCAN6, found6("e:"), unchecked("e:"), SCAN5, "", MENU_DONE],
        journal=[bcdboot("e:"), store("d:", "/timeout 7"), BOOTSECT_60],
        boxes=[Box(CLOSE_QUESTION, ("yes", "no"))],
        exit_code=0,
        changes=("d:/boot/bcd", "d:/bootmgr", volume("d")), backups=("d:/boot/bcd", volume("d"))),
    Case(
        # A forced shutdown while bcdboot writes: no box, no further tool, the reason logged; the
        # program ends once bcdboot has (its output is logged after the end of the session).
        name="session_end_while_bcdboot_runs",
        tail="-f -d d:",
        files={**SEVEN_ON_E, **on("f:", SEVEN)},
        program_files={"bcdboot.delay-ms": "4000"},
        steps=(wait_journal(bcdboot("e:")), wait_log(found6("e:")), query_end(False),
               end_session(), wait_exit()),
        logged=[SCAN6, found6("e:")],
        journal=[bcdboot("e:")],
        boxes=[],
        exit_code=1,
        log_notes=("Windows 会话结束（注销或关机），当前步骤结束后中止修复",
                   r"输出：bcdboot.exe 替身已运行：e:\windows /l zh-cn /s d:"),
        files_after={"d:/boot/bcd": NEW_STORE},
        changes=("d:/boot/bcd", "d:/bootmgr"), backups=("d:/boot/bcd",)),
    Case(
        # Memory runs out (the runner's probe takes the program's free address space, then the
        # undo reads a 32 MiB manifest whole): the program ends with code 4, and no box, not the
        # C runtime's either, waits for a person. x86 only: Wine marks every page it reserves,
        # which for a 64-bit process's 128 TiB would take hours.
        name="out_of_memory_ends_without_a_box",
        arches=("x86",),
        tail=r"-r d:\runs\kestrix-20261201-000000",
        files={"d:/runs/kestrix-20261201-000000/manifest.txt":
               b"Kestrix manifest 2\r\n" + b"#" * (32 << 20)},
        steps=(wait_state(repair_visible=True), Step("squeeze"), press("confirm"), wait_exit()),
        journal=[],
        boxes=[],
        exit_code=4,
        log_notes=("内存不足，程序立即结束",),
        changes=(), backups=()),
]


def rejected(name, tail, shown):
    """A -d value whose second character is not a colon: refused with a box, back to the
    selection view with the value in partition, nothing repaired."""
    return Case(
        name=name, tail=tail, drives=("d",),
        steps=(wait_msgbox(), answer("ok"),
               wait_state(repair_visible=True, progress_visible=False, partition_text=shown),
               close("repair"), wait_exit()),
        log=[], journal=[], boxes=[Box(BAD_VOLUME, ("ok",), "exclamation")], exit_code=2,
        changes=(), backups=(),
        log_notes=(f"分区 “{shown}” 被拒绝：卷标非法", f"提示：{BAD_VOLUME} → 确定"))


BAD_PARTITIONS = [
    rejected("bad_d_without_colon", "-f -d c", "c"),
    # Quotes keep the space in the value.
    rejected("bad_d_quoted_space", '-f -d " c:"', " c"),
    rejected("bad_d_option_as_value", "-f -d -n", "-n"),
    rejected("bad_d_colon_first", "-f -d :x", ":x"),
    # A drive is a letter: anything else before the colon is refused the same way.
    rejected("bad_d_lone_colon", "-f -n -d :", ":"),
    rejected("bad_d_digit", "-f -d 1:", "1:"),
    rejected("bad_d_symbol", "-f -d &:", "&:"),
    # Refused, then corrected in partition and confirmed: the same run repairs d:.
    Case(
        name="bad_d_corrected_in_the_same_run",
        tail="-d c",
        files=SEVEN_ON_E,
        steps=(wait_state(start_visible=True), press("startbutton"), wait_msgbox(), answer("ok"),
               wait_state(repair_visible=True, progress_visible=False, partition_text="c"),
               settext("partition", "d:"), wait_state(partition_text="d:"), press("confirm"), wait_log(MENU_DONE),
               close("repair"), wait_exit()),
        log=[SCAN6, found6("e:"), unchecked("e:"), SCAN5, "", MENU_DONE],
        journal=[bcdboot("e:"), store("d:", "/timeout 7"), BOOTSECT_60],
        boxes=[Box(BAD_VOLUME, ("ok",), "exclamation")],
        files_after={"d:/boot/bcd": NEW_STORE},
        changes=("d:/boot/bcd", "d:/bootmgr", volume("d")), backups=("d:/boot/bcd", volume("d")),
        log_notes=("分区 “c” 被拒绝：卷标非法", f"提示：{BAD_VOLUME} → 确定")),
]

# The raw volume: bootsect's sector lands on it, and the backup holds the sectors from before.
RAW_VOLUME = [
    held_case(f"raw_volume_{generation.lower()}_record", "-f -n -d d:", DONE,
              files={marker: 100}, log=[found, "", DONE], journal=[command],
              volumes_after={"d": rewritten(generation)},
              changes=(volume("d"),), backups=(volume("d"),))
    for generation, marker, found, command in (
        ("NT60", "d:/boot/bcd", BCD_FOUND, BOOTSECT_60),
        ("NT52", "d:/ntldr", NTLDR_FOUND, BOOTSECT_52))
]

# The 32-bit program on 64-bit Windows, the tools only in the 64-bit System32: it must reach
# them there (through Sysnative), where a 32-bit search would look in SysWOW64 and fail.
WOW64 = [
    held_case(
        "wow64_tools_only_in_native_system32", "-f -d d:", MENU_DONE,
        arches=("x86",), tools_in="system32", files=SEVEN_ON_E,
        log=[SCAN6, found6("e:"), unchecked("e:"), SCAN5, "", MENU_DONE],
        journal=[bcdboot("e:"), store("d:", "/timeout 7"), BOOTSECT_60],
        files_after={"d:/boot/bcd": NEW_STORE},
        changes=("d:/boot/bcd", "d:/bootmgr", volume("d")), backups=("d:/boot/bcd", volume("d"))),
]

# Nobody clicks: the silent run closes itself two seconds after the repair, and its exit code
# tells the script how it went.
SELF_CLOSING = [
    Case(
        name="silent_failure_closes_itself_with_1",
        tail="-f -n -d d:",
        files={"d:/boot/bcd": 100},
        program_files={"bootsect.exitcode": "5"},
        steps=(wait_log(failed(SECTOR, 1)), Step("wait_exit", (1.4, 3.5))),
        log=[BCD_FOUND, returned(BOOTSECT_60, 5), "", failed(SECTOR, 1)],
        journal=[BOOTSECT_60], boxes=[], exit_code=1,
        changes=(), backups=(volume("d"),)),
    Case(
        name="silent_success_closes_itself_with_0",
        tail="-f -d d:",
        files=SEVEN_ON_E,
        steps=(wait_log(MENU_DONE), Step("wait_exit", (1.4, 3.5))),
        log=[SCAN6, found6("e:"), unchecked("e:"), SCAN5, "", MENU_DONE],
        journal=[bcdboot("e:"), store("d:", "/timeout 7"), BOOTSECT_60], boxes=[], exit_code=0,
        files_after={"d:/boot/bcd": NEW_STORE},
        changes=("d:/boot/bcd", "d:/bootmgr", volume("d")), backups=("d:/boot/bcd", volume("d"))),
]

# What a technician must never lose to a guess: the rescue stick, or a locked system volume.
BITLOCKER_SECTOR = b"\xebX\x90-FVE-FS-" + b"\0" * 8181
GUARDS = [
    # Two active partitions, one on removable media: only the fixed one is offered, so the
    # silent run repairs it at once; the stick is named in the log.
    Case(
        name="scan_removable_active_left_out",
        tail="-f -n",
        files={"d:/boot/bcd": 100},
        drives=("e",),
        removable=("e",),
        program_files=listings(
            d0="1 D: mbr 07 NTFS - yes 1 20481 20480 MB\r\n"
               "1 E: mbr 0c FAT32 STICK yes 1 7681 7680 MB\r\n",
            d1="open disk error!\r\n"),
        steps=(*held(), wait_state(partition_text="d:  容量:20480MB"), close("repair"), wait_exit()),
        log=[BCD_FOUND, "", DONE],
        journal=[LISTING_RUN, BOOTSECT_60],
        boxes=[],
        log_notes=("跳过 e:：位于可移动介质上，不作为候选分区（确需修复时请用 -d e: 指定）",)),
    # The Windows volume is locked: the scan says so, and the boot manager on d: decides.
    held_case(
        "bitlocker_locked_volume_named", "-f -d d:", MENU_DONE,
        files={"d:/bootmgr": 100, "d:/boot/bcd": 100},
        volumes={"e": BITLOCKER_SECTOR}, unreadable=("e",),
        log=[SCAN6, "  e: 是BitLocker加密卷（已锁定），无法检查其中的系统。", SCAN5,
             "  未发现任何Windows系统，按 d: 上已有的引导文件重写Win6.x引导扇区。", "", MENU_DONE],
        journal=[BOOTSECT_60], exit_code=0,
        changes=(volume("d"),), backups=(volume("d"),)),
]

# Unattended: nobody answers, so no box is shown and the program ends by itself.
UNATTENDED = [
    Case(
        name="unattended_question_takes_cancel",
        tail="-u -n -d d:",
        steps=(wait_exit(),),
        logged=[], journal=[], boxes=[], exit_code=2, changes=(), backups=(),
        log_notes=("提示（无人值守，未显示）：未检测出有效的引导文件，请手工选择引导方案：\r"
                   "点“是”建立Win6.x引导。\r点“否”建立Win5.x引导。 → 取消",)),
    Case(
        name="unattended_two_candidates_repair_nothing",
        tail="-u",
        drives=("d", "e"),
        program_files=listings(
            d0="1 D: mbr 07 NTFS - yes 1 20481 20480 MB\r\n"
               "1 E: mbr 07 NTFS - yes 1 20481 20480 MB\r\n",
            d1="open disk error!\r\n"),
        steps=(wait_exit(),),
        logged=[], journal=[LISTING_RUN], boxes=[], exit_code=2, changes=(), backups=(),
        log_notes=("无人值守：有 2 个候选分区，需要人来选择，不做修复",)),
]

FAULT_CASES = [*STAND_INS, *TOOL_FAILURES, *MISSING_TOOLS, *LOADER_FAILURES, *READ_ONLY,
               *CLOSED_MID_REPAIR, *BAD_PARTITIONS, *RAW_VOLUME, *WOW64, *SELF_CLOSING, *GUARDS,
               *UNATTENDED]
