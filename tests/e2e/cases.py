"""The end-to-end cases, one table.

An "app" case starts kestrix.exe with an exact command-line tail, drives it through its steps and
compares what it logged, which tools it ran, which message boxes it showed and how it ended.
A "tool" case runs the stand-in tools directly, to prove the test's own tooling before it is
trusted with the program, or the product's own dsptw.exe on disk images.

Files are laid out as {"d:/path": size-or-content}: an int is a size (filler bytes), str is
UTF-8 text, bytes are written as they are. Drive letters other than c: become folders mapped
into the Wine prefix; c:/kestrix is the program's folder.
"""

import struct
from dataclasses import dataclass, field
from pathlib import Path

DONE = "纯引导修复完成！请关闭。"
BCD_FOUND = "先检测出BCD，正在建立Win6.x引导..."
NTLDR_FOUND = "检测出ntldr，正在建立Win5.x引导..."
CHOSE_6 = "正在建立Win6.x引导..."
CHOSE_5 = "正在建立Win5.x引导..."
# The program joins the question's lines with CR alone.
QUESTION = ("未检测出有效的引导文件，请手工选择引导方案：\r"
            "点“是”建立Win6.x引导。\r"
            "点“否”建立Win5.x引导。")
BAD_VOLUME = "卷标非法！"

NT60_LOG = [BCD_FOUND, "", DONE]


def ntfs_boot_sector(sectors):
    """An NTFS boot sector for a volume of that many 512-byte sectors, with no boot code: its BPB
    counts one sector less (the boot sector's copy lies after them), one sector a cluster, the
    master file table at cluster 16 and its mirror in the middle."""
    sector = bytearray(512)
    sector[0:11] = b"\xebR\x90NTFS    "
    struct.pack_into("<HB", sector, 0x0B, 512, 1)
    sector[0x15] = 0xF8
    struct.pack_into("<I", sector, 0x24, 0x800080)
    # Sectors, the file table's cluster and its mirror's; file records of 2^10 bytes, index
    # buffers of one cluster; the serial number.
    struct.pack_into("<QQQbxxxbxxxQ", sector, 0x28, sectors - 1, 16, sectors // 2, -10, 1,
                     0x1A2B3C4D5E6F7081)
    sector[510:512] = b"\x55\xaa"
    return bytes(sector)


# What \\.\X: reads as when a case says nothing else: the NTFS boot sector of a 64 KiB volume,
# then filler.
STANDARD_VOLUME = ntfs_boot_sector(128) + bytes(range(256)) * 254


@dataclass(frozen=True)
class Step:
    kind: str
    arg: object = None


# What a step may be; the runner refuses any other kind.
STEP_KINDS = {
    "wait_log",      # a line appears in progress (fails at once if a message box is open instead)
    "wait_state",    # every given probe value matches (polled)
    "wait_msgbox",   # a message box is open and painted
    "wait_exit",     # the process ends by itself
    "answer",        # click ok|yes|no|cancel in the open message box; waits for it to close
    "press",         # startbutton|confirm
    "close",         # start|repair
    "click",         # keepopen
    "settext",       # (control, text): puts text in a control as if typed (partition)
    "wait_journal",  # a stand-in has recorded this line (it runs, or has run)
    "settle",        # wait this many seconds; the process must still be running
    "snap",          # where --screenshot takes its picture
    "query_end",     # Windows asks whether its session may end; the answer must be this bool
    "end_session",   # the session ends (WM_ENDSESSION with TRUE) whatever was answered
    "squeeze",       # the program's free address space is taken: its next large allocation fails
}


def wait_log(line):
    return Step("wait_log", line)


def wait_state(**values):
    # Probe keys have dots (start.visible); keyword names use underscores instead.
    return Step("wait_state", {k.replace("_", "."): _probe_value(v) for k, v in values.items()})


def wait_msgbox():
    return Step("wait_msgbox")


def wait_exit():
    return Step("wait_exit")


def answer(button):
    return Step("answer", button)


def press(button):
    return Step("press", button)


def close(window):
    return Step("close", window)


def click(label):
    return Step("click", label)


def settext(control, text):
    return Step("settext", (control, text))


def wait_journal(line):
    return Step("wait_journal", line)


def settle(seconds):
    return Step("settle", seconds)


def snap():
    return Step("snap")


def query_end(allowed):
    return Step("query_end", allowed)


def end_session():
    return Step("end_session")


def _probe_value(value):
    if isinstance(value, list):
        return [str(v) for v in value]
    if isinstance(value, bool):
        return "1" if value else "0"
    return str(value)


@dataclass(frozen=True)
class Box:
    """A message box that must have been shown; icon None leaves the icon unchecked."""
    text: str
    buttons: tuple
    icon: object = None


@dataclass(frozen=True)
class Run:
    """One direct start of a stand-in (tool cases). exe is a Windows path or a bare name in
    C:\\kestrix; folder is the current folder (default: the exe's)."""
    exe: str
    tail: str
    exit_code: int = 0
    folder: object = None


@dataclass(frozen=True)
class DiskImage:
    """A raw disk image made as the case is laid out: a sparse file of size_mib MiB that
    sfdisk partitions from its input (script) or sgdisk from its arguments (script, split as a
    shell would). The bytes at the offsets in flip are then inverted, to damage what it wrote."""
    size_mib: int
    tool: str
    script: str
    flip: tuple = ()


@dataclass(frozen=True)
class FormattedVolume:
    """A raw volume made as the case is laid out: a sparse file of size_mib MiB that the command
    (mkfs.fat or mkntfs with its options) formats."""
    size_mib: int
    command: str


@dataclass(frozen=True)
class Again:
    """A later start of the program on the drives as the runs before left it. before(workspace),
    if given, acts on them first; "{0}" in a log line is the first run's folder as the program
    names it ("{1}" the second's)."""
    tail: str
    steps: tuple
    log: tuple
    exit_code: int = 0
    before: object = None


@dataclass(frozen=True)
class Case:
    name: str
    tail: str = ""
    files: dict = field(default_factory=dict)
    # Extra files in the program's folder: a stand-in's <stem>.exitcode, .fail-when and .delay-ms
    # (see tests/tools/standin.cpp), dsptw-N.txt.
    program_files: dict = field(default_factory=dict)
    # Drive letters to map even when no file is laid out on them.
    drives: tuple = ()
    # Raw volume contents behind \\.\X: ({"d": size-or-bytes or a FormattedVolume}); the letter
    # is mapped too. Every other mapped drive gets STANDARD_VOLUME; None leaves a drive without a
    # volume.
    volumes: dict = field(default_factory=dict)
    steps: tuple = ()
    runs: tuple = ()
    # Expectations; None leaves one unchecked (an app case must end all the same: its last
    # step is wait_exit).
    log: object = None
    journal: object = None
    boxes: object = None
    exit_code: object = 0
    # {"d:/path": None (absent) | int (size) | str/bytes (content) | True (present)}
    files_after: dict = field(default_factory=dict)
    # {"d:/path": "rhs"}: read-only, hidden, system, set after the files are laid out.
    attributes: dict = field(default_factory=dict)
    # The same flags as they must stand after the run ("" for none of them).
    attributes_after: dict = field(default_factory=dict)
    # The architectures the case makes sense for.
    arches: tuple = ("x64", "x86")
    # Where the stand-ins are: "program" (beside kestrix.exe) or "system32" (the 64-bit
    # C:\windows\system32); their journal is read there. kprobe stays beside the program.
    tools_in: str = "program"
    # Stand-ins left out, so that the program cannot find them.
    missing_tools: tuple = ()
    # Tools placed as the product builds them (beside kestrix.exe) instead of their stand-ins.
    real_tools: tuple = ()
    # {"d:/disk.img": DiskImage(...)}: made on the drive before the run.
    images: dict = field(default_factory=dict)
    # Set-up files beside the stand-ins, wherever tools_in puts them (dsptw-N.txt, <stem>.exitcode).
    tool_files: dict = field(default_factory=dict)
    # Copies of a stand-in where the program must never take a tool from, as "f:/bin/dsptw.exe":
    # one that runs writes its journal there, which the drive checks catch.
    planted: tuple = ()
    # Folders put on PATH ("f:/bin"), and the current folder the program is started in.
    path: tuple = ()
    start_in: object = None
    # What even root cannot write (chattr +i): a drive letter (its folder and raw volume) or a
    # folder ("c:/kestrix").
    read_only: tuple = ()
    # Drive letters that Windows reports as removable media (Wine's drive type "floppy").
    removable: tuple = ()
    # Drive letters whose files cannot be read at all, as on a locked encrypted volume: the
    # letter leads to the raw volume image instead of a folder.
    unreadable: tuple = ()
    # What the run may change, as "d:/path" (that file or folder and what is under it) or
    # volume("d"); everything else on every drive, c: included, must be as it was. The journal
    # and, when backups are checked, the run's backup folder are allowed besides. None: unchecked.
    changes: object = None
    # What the run's one backup folder (kestrix-*) in backup_in must hold besides kestrix.log, as
    # volume("d") (its first 8 KiB) or "d:/path", each with the bytes from before the run; the
    # log's progress lines, notes and closing exit code are checked with it. None: unchecked.
    backups: object = None
    backup_in: str = "c:/kestrix"
    # The progress lines kestrix.log must record, when the program ends before progress can be read whole.
    logged: object = None
    # Entries (without the timestamp) kestrix.log must have, in this order.
    log_notes: tuple = ()
    # {"d": bytes}: what the raw volume must hold after the run; a function gives them from the
    # volume as it was laid out.
    volumes_after: dict = field(default_factory=dict)
    # Later runs of the program (Again); the checks after the run apply after the last of them,
    # their run folders are allowed changes and each one's manifest must match its copies.
    then: tuple = ()
    # What changes counts from: "start", or "first run" (the drives as the first run left them).
    changes_from: str = "start"
    # Lines that the one diagnosis report (kestrix-report-*.txt) in the program's folder must
    # hold, in this order; None: no report is looked for.
    report: object = None

    @property
    def kind(self):
        return "tool" if self.runs else "app"

    @property
    def checks_drives(self):
        return self.changes is not None or self.backups is not None or bool(self.volumes_after)


def volume(letter):
    """The raw volume \\\\.\\X: in changes and backups."""
    return f"volume:{letter.lower()}"


def standin_boot_record(generation):
    """What the bootsect stand-in writes over STANDARD_VOLUME's first sector: a jump to the boot
    code, the name field and NTFS BPB as they were (up to byte 0x53), its tag as the boot code,
    the signature."""
    tag = f"KESTRIX-STANDIN-{generation}".encode()
    record = b"\xeb\x52\x90" + STANDARD_VOLUME[3:0x54] + tag
    return record + b"\0" * (510 - len(record)) + b"\x55\xaa"


def held(line=DONE):
    """Waits for the line, then clicks the click spot: a silent run closes itself two seconds
    after the repair unless it is clicked, and the steps after this need the window."""
    return (wait_log(line), click("keepopen"))


def _question_case(name, button, log, journal):
    return Case(
        name=name,
        tail="-f -n -d d:",
        drives=("d",),
        steps=(wait_msgbox(), snap(), answer(button), *held(), close("repair"), wait_exit()),
        log=log,
        journal=journal,
        boxes=[Box(QUESTION, ("yes", "no", "cancel"))],
    )


CASES = [
    Case(
        name="bcd_nt60",
        tail="-f -n -d d:",
        files={"d:/boot/bcd": 100},
        steps=(*held(),
               wait_state(start_visible=False, repair_visible=True, bootonly=1, partition_text="d:"),
               snap(), close("repair"), wait_exit()),
        log=NT60_LOG,
        journal=["bootsect.exe /nt60 d:"],
        boxes=[],
    ),
    Case(
        name="ntldr_nt52",
        tail="-f -n -d d:",
        files={"d:/ntldr": 100},
        steps=(*held(), wait_state(start_visible=False, repair_visible=True), snap(),
               close("repair"), wait_exit()),
        log=[NTLDR_FOUND, "", DONE],
        journal=["bootsect.exe /nt52 d:"],
        boxes=[],
    ),
    Case(
        # Five bytes is not enough for a boot store: the loader file decides.
        name="short_bcd_ntldr_nt52",
        tail="-f -n -d d:",
        files={"d:/boot/bcd": 5, "d:/ntldr": 100},
        steps=(*held(), snap(), close("repair"), wait_exit()),
        log=[NTLDR_FOUND, "", DONE],
        journal=["bootsect.exe /nt52 d:"],
        boxes=[],
    ),
    Case(
        name="six_byte_bcd_nt60",
        tail="-f -n -d d:",
        files={"d:/boot/bcd": 6, "d:/ntldr": 100},
        steps=(*held(), close("repair"), wait_exit()),
        log=NT60_LOG,
        journal=["bootsect.exe /nt60 d:"],
        boxes=[],
    ),
    _question_case("ask_yes_nt60", "yes", [CHOSE_6, "", DONE], ["bootsect.exe /nt60 d:"]),
    _question_case("ask_no_nt52", "no", [CHOSE_5, "", DONE], ["bootsect.exe /nt52 d:"]),
    Case(
        name="ask_cancel_ends",
        tail="-f -n -d d:",
        drives=("d",),
        steps=(wait_msgbox(), snap(), answer("cancel"), wait_exit()),
        log=[],
        journal=[],
        boxes=[Box(QUESTION, ("yes", "no", "cancel"))],
        # Nothing was repaired.
        exit_code=2,
    ),
    Case(
        # "c" has no colon: the volume is refused and the window stays for another try.
        name="bad_volume_refused",
        tail="-f -d c -d e:",
        drives=("e",),
        steps=(wait_msgbox(), snap(), answer("ok"), settle(1.5),
               wait_state(repair_visible=True, progress_visible=False), close("repair"), wait_exit()),
        log=[],
        journal=[],
        boxes=[Box(BAD_VOLUME, ("ok",), "exclamation")],
        exit_code=2,
    ),
    Case(
        name="messy_tail_upper_case",
        tail="  -F   -N  -D D:  ",
        files={"d:/boot/bcd": 100},
        steps=(*held(), wait_state(start_visible=False, repair_visible=True, partition_text="d:"),
               close("repair"), wait_exit()),
        log=NT60_LOG,
        journal=["bootsect.exe /nt60 d:"],
        boxes=[],
    ),
    Case(
        name="interactive_startbutton",
        tail="-n -d d:",
        files={"d:/boot/bcd": 100},
        steps=(wait_state(start_visible=True, repair_visible=False, bootonly=1), snap(),
               settle(0.5), wait_state(progress_visible=False),
               press("startbutton"), wait_log(DONE), wait_state(start_visible=False, repair_visible=True),
               close("repair"), wait_exit()),
        log=NT60_LOG,
        journal=["bootsect.exe /nt60 d:"],
        boxes=[],
    ),
    Case(
        # A second press after the repair ends the program instead of repairing again.
        name="confirm_after_repair_ends",
        tail="-f -n -d d:",
        files={"d:/boot/bcd": 100},
        steps=(*held(), press("confirm"), wait_exit()),
        log=NT60_LOG,
        journal=["bootsect.exe /nt60 d:"],
        boxes=[],
    ),
    Case(
        name="silent_closes_itself",
        tail="-f -n -d d:",
        files={"d:/boot/bcd": 100},
        steps=(wait_log(DONE), wait_exit()),
        log=NT60_LOG,
        journal=["bootsect.exe /nt60 d:"],
        boxes=[],
    ),
    Case(
        # Well past the two seconds after which an unclicked silent run closes itself.
        name="click_spot_keeps_window_open",
        tail="-f -n -d d:",
        files={"d:/boot/bcd": 100},
        steps=(*held(), settle(3.5), close("repair"), wait_exit()),
        log=NT60_LOG,
        journal=["bootsect.exe /nt60 d:"],
        boxes=[],
    ),
    Case(
        name="close_start_ends",
        tail="-n -d d:",
        files={"d:/boot/bcd": 100},
        steps=(wait_state(start_visible=True), close("start"), wait_exit()),
        log=[],
        journal=[],
        boxes=[],
        exit_code=2,
    ),
    Case(
        # A failing tool is run once, not retried, and asks nothing; the empty line comes
        # before the closing line whatever that says.
        name="bootsect_failure_runs_once",
        tail="-f -n -d d:",
        files={"d:/boot/bcd": 100},
        program_files={"bootsect.exitcode": "5"},
        steps=(*held("纯引导修复结束，但有 1 个步骤失败！请查看上面的记录。"), settle(0.5),
               close("repair"), wait_exit()),
        log=[BCD_FOUND, "  失败：bootsect.exe /nt60 d: 返回 5", "",
             "纯引导修复结束，但有 1 个步骤失败！请查看上面的记录。"],
        journal=["bootsect.exe /nt60 d:"],
        boxes=[],
        exit_code=1,
    ),

    # The stand-ins themselves.
    Case(
        name="tools_journal_and_exit_codes",
        program_files={"bcdedit.exitcode": "3\r\n", "bootsect.exitcode": "-2"},
        runs=(Run("bootsect.exe", "/nt60 d:", exit_code=-2),
              Run("bcdedit.exe", '/store d:\\boot\\bcd /create {bootmgr} /d "Windows Boot Manager"',
                  exit_code=3),
              Run("bcdboot.exe", "\t  d:\\windows  /l zh-cn /s e:"),
              Run("bcdboot.exe", "")),
        drives=("d", "e"),
        journal=["bootsect.exe /nt60 d:",
                 'bcdedit.exe /store d:\\boot\\bcd /create {bootmgr} /d "Windows Boot Manager"',
                 "bcdboot.exe d:\\windows  /l zh-cn /s e:",
                 "bcdboot.exe"],
        files_after={"e:/boot/bcd": True, "d:/boot/bcd": None},
    ),
    Case(
        name="tools_bcdboot_failure_leaves_no_store",
        program_files={"bcdboot.exitcode": "1", "bootsect.exitcode": "seven"},
        runs=(Run("bcdboot.exe", "c:\\windows /s d:", exit_code=1),
              Run("bootsect.exe", "/nt52 d:", exit_code=255)),
        drives=("d",),
        journal=["bcdboot.exe c:\\windows /s d:", "bootsect.exe /nt52 d:"],
        files_after={"d:/boot/bcd": None},
    ),
    Case(
        # A disk with a listing ends with 0; past the last disk the marker comes with 1.
        name="tools_dsptw_exit_codes",
        program_files={"dsptw-0.txt": b"disk 0\r\n  volume 1 id=07\r\n"},
        runs=(Run("dsptw.exe", "0 /find:all /getid"),
              Run("dsptw.exe", "1 /find:all /getid", exit_code=1)),
        journal=["dsptw 0 /find:all /getid", "dsptw 1 /find:all /getid"],
    ),
]

# The boot-menu repair (no -n): every drive is scanned for installed systems.
SCAN6 = "正在扫描分区中的6.x系统..."
SCAN5 = "正在扫描分区中的5.x系统..."
MENU_DONE = "引导菜单修复完成！请关闭。"
KEEP_BOOT_INI = "    存在Boot.ini保留并继续。"
BUILD_BOOT_INI = "    不存在Boot.ini正在建立通用boot.ini ..."
GENERIC_BOOT_INI = (Path(__file__).resolve().parents[2] / "data" / "boot.ini").read_bytes()
XP = {"windows/regedit.exe": 100}
SEVEN = {"windows/system32/slmgr.vbs": 100}
# Stand-ins for the XP loader files the user copies beside the exe.
LOADER_FILES = {"NTLDR": b"stand-in NTLDR\r\n", "NTDETECT.COM": b"stand-in NTDETECT\r\n",
                "BOOTFONT.BIN": b"stand-in BOOTFONT\r\n"}


def found6(drive):
    return f"  在 {drive} 发现6.x系统，修复中..."


def unchecked(windows, store="d:\\Boot\\BCD"):
    """What the repair says of the store bcdboot left for the Windows on that drive: under Wine
    no drive is a partition of a disk Windows can name, so its default entry is not checked."""
    return f"    无法判断 {windows} 是哪个分区（动态卷或映像），未核对 {store} 的默认启动项"


def found5(drive):
    return f"  在 {drive} 发现5.x系统，修复中..."


def on(drive, files):
    return {f"{drive}/{path}": contents for path, contents in files.items()}


def store(drive, tail):
    return f"bcdedit.exe /store {drive}\\boot\\bcd {tail}"


def menu_store_commands(drive):
    return [store(drive, '/create {bootmgr} /d "Windows Boot Manager"'),
            store(drive, '/create {ntldr} /d "Windows XP/2003"'),
            store(drive, f"/set {{bootmgr}} device partition={drive}"),
            store(drive, f"/set {{ntldr}} device partition={drive}"),
            store(drive, "/set {ntldr} path \\ntldr"),
            store(drive, "/displayorder {ntldr} /addlast"),
            store(drive, "/timeout 7")]


NO_SYSTEM_NO_LOADER = ("  未发现任何Windows系统，d: 上也没有引导文件（\\boot\\bcd 或 \\ntldr），"
                       "不写入任何内容。")
NO_SYSTEM_BY_NT60 = "  未发现任何Windows系统，按 d: 上已有的引导文件重写Win6.x引导扇区。"
MENU_NOTHING = "引导菜单修复结束，未做任何修改。请关闭。"


def menu_case(name, files, log, journal, **more):
    more.setdefault("steps", (*held(MENU_DONE), snap(), close("repair"), wait_exit()))
    return Case(name=name, tail="-f -d d:", files=files, drives=("d",),
                log=log, journal=journal, boxes=[], **more)


CASES += [
    # XP with its boot.ini on d:, Windows 7 on e:.
    menu_case("menu_xp_and_seven",
              {**on("d:", XP), "d:/boot.ini": b"[boot loader]\r\n", **on("e:", SEVEN)},
              [SCAN6, found6("e:"), unchecked("e:"), SCAN5, found5("d:"), KEEP_BOOT_INI, "", MENU_DONE],
              ["bcdboot.exe e:\\windows /l zh-cn /s d:", *menu_store_commands("d:"),
               "bootsect.exe /nt60 d:"],
              files_after={"d:/boot/bcd": True, "d:/boot.ini": b"[boot loader]\r\n"}),
    menu_case("menu_only_seven", on("e:", SEVEN),
              [SCAN6, found6("e:"), unchecked("e:"), SCAN5, "", MENU_DONE],
              ["bcdboot.exe e:\\windows /l zh-cn /s d:", store("d:", "/timeout 7"),
               "bootsect.exe /nt60 d:"]),
    menu_case("menu_only_xp_gets_the_loader_set", on("e:", XP),
              [SCAN6, SCAN5, found5("e:"), BUILD_BOOT_INI, "", MENU_DONE],
              ["bootsect.exe /nt52 d:"],
              program_files=LOADER_FILES,
              files_after={"d:/boot.ini": GENERIC_BOOT_INI,
                           **{f"d:/{name}": data for name, data in LOADER_FILES.items()}}),
    # The XP loader set over protected files, each saved first (Windows copies the attributes
    # with the file, and a read-only copy cannot be flushed).
    menu_case("menu_protected_ntldr_replaced",
              {**on("e:", XP), "d:/NTLDR": b"old loader, read-only hidden system\r\n",
               "d:/NTDETECT.COM": b"old detector, read-only\r\n"},
              [SCAN6, SCAN5, found5("e:"), BUILD_BOOT_INI, "", MENU_DONE],
              ["bootsect.exe /nt52 d:"],
              program_files=LOADER_FILES, attributes={"d:/NTLDR": "rhs", "d:/NTDETECT.COM": "r"},
              files_after={"d:/NTLDR": LOADER_FILES["NTLDR"],
                           "d:/NTDETECT.COM": LOADER_FILES["NTDETECT.COM"]},
              attributes_after={"d:/NTLDR": "", "d:/NTDETECT.COM": ""},
              backups=(volume("d"), "d:/NTLDR", "d:/NTDETECT.COM")),
    # Windows keeps its boot manager read-only, hidden and system: it is saved and replaced all
    # the same.
    menu_case("menu_protected_boot_manager_and_store",
              {**on("e:", SEVEN), "d:/bootmgr": b"old boot manager\r\n",
               "d:/boot/bcd": b"old store\r\n"},
              [SCAN6, found6("e:"), unchecked("e:"), SCAN5, "", MENU_DONE],
              ["bcdboot.exe e:\\windows /l zh-cn /s d:", store("d:", "/timeout 7"),
               "bootsect.exe /nt60 d:"],
              attributes={"d:/bootmgr": "rhs", "d:/boot/bcd": "rhs"},
              attributes_after={"d:/bootmgr": "rhs"},
              backups=(volume("d"), "d:/bootmgr", "d:/boot/bcd")),
    menu_case("menu_two_xp_copy_once", {**on("e:", XP), **on("f:", XP)},
              [SCAN6, SCAN5, found5("e:"), BUILD_BOOT_INI, found5("f:"), KEEP_BOOT_INI, "",
               MENU_DONE],
              ["bootsect.exe /nt52 d:"],
              program_files=LOADER_FILES, files_after={"d:/boot.ini": GENERIC_BOOT_INI}),
    # A 5-byte slmgr.vbs beside regedit.exe makes the drive neither generation.
    # No installation found: the boot files on d: decide the boot sector, or nothing is written.
    menu_case("menu_five_byte_slmgr_is_neither",
              {"e:/windows/regedit.exe": 100, "e:/windows/system32/slmgr.vbs": 5},
              [SCAN6, SCAN5, NO_SYSTEM_NO_LOADER, "", MENU_NOTHING], [],
              steps=(*held(MENU_NOTHING), close("repair"), wait_exit()), exit_code=2, changes=(),
              backups=()),
    menu_case("menu_no_installation", {}, [SCAN6, SCAN5, NO_SYSTEM_NO_LOADER, "", MENU_NOTHING],
              [], steps=(*held(MENU_NOTHING), close("repair"), wait_exit()), exit_code=2,
              changes=(), backups=()),
    menu_case("menu_no_installation_boot_manager_there",
              {"d:/bootmgr": 100, "d:/boot/bcd": 100},
              [SCAN6, SCAN5, NO_SYSTEM_BY_NT60, "", MENU_DONE], ["bootsect.exe /nt60 d:"],
              changes=(volume("d"),), backups=(volume("d"),)),
    menu_case("menu_boot_drive_holds_seven", on("d:", SEVEN),
              [SCAN6, found6("d:"), unchecked("d:"), SCAN5, "", MENU_DONE],
              ["bcdboot.exe d:\\windows /l zh-cn /s d:", store("d:", "/timeout 7"),
               "bootsect.exe /nt60 d:"]),
]

# Finding the boot partition: without -d the program lists disks 0 to 10 with the listing tool,
# in one run.
NOT_FOUND = "出错了！没找到活动分区！"
CHATTY_LISTING = "1 D: mbr 07 NTFS - yes 1 20481 20480 MB\r\n" + ("-" * 98 + "\r\n") * 1024
LISTING_TOOL_MISSING = ("出错了！无法运行分区列表工具 dsptw.exe：程序目录和系统目录中都没有 "
                        "dsptw.exe")


LISTING_RUN = "dsptw /all"


def listing_runs(count):
    """The runs of a lister that is asked disk by disk."""
    return [f"dsptw {n} /find:all /getid" for n in range(count)]


def listings(**per_disk):
    """dsptw-N.txt for the stand-in: disk N's listing (a missing disk prints the marker)."""
    return {f"dsptw-{name[1:]}.txt": text for name, text in per_disk.items()}


CASES += [
    # One qualifying line as the tool may print it (upper case, runs of spaces), the marker on
    # the next disk: one entry, so the silent run repairs it at once.
    Case(
        name="scan_one_partition_repairs_at_once",
        tail="-f -n",
        files={"d:/boot/bcd": 100},
        program_files=listings(
            d0="  1   D:   MBR  07  NTFS   System  Disk   YES  1  20481  20480  MB  \r\n"
               "2 E: mbr 07 NTFS - no 20481 40961 20480 MB\r\n",
            d1="open disk error!\r\n"),
        steps=(*held(), wait_state(partition_text="d:  容量:20480MB"), close("repair"), wait_exit()),
        log=NT60_LOG,
        journal=[LISTING_RUN, "bootsect.exe /nt60 d:"],
        boxes=[],
    ),
    # An older lister put beside the program, which answers /all with an error (exit code 2,
    # nothing printed), is asked disk by disk as before.
    Case(
        name="scan_older_lister_asked_disk_by_disk",
        tail="-f -n",
        files={"d:/boot/bcd": 100},
        program_files={**listings(d0="1 D: mbr 07 NTFS - yes 1 20481 20480 MB\r\n"),
                       "dsptw.exitcode": "2", "dsptw.fail-when": "/all"},
        steps=(*held(), wait_state(partition_text="d:  容量:20480MB"), close("repair"), wait_exit()),
        log=NT60_LOG,
        journal=[LISTING_RUN, *listing_runs(2), "bootsect.exe /nt60 d:"],
        boxes=[],
    ),
    # Two active partitions on disks 0 and 2 and no marker: all eleven disks are listed, the
    # lower letter is selected, and nothing is repaired without the user's choice.
    Case(
        name="scan_two_partitions_wait_for_the_user",
        tail="-f",
        drives=("d", "f"),
        program_files={**{f"dsptw-{n}.txt": "" for n in range(11)},
                       **listings(d0="1 F: mbr 07 NTFS - yes 1 301 300 MB\r\n",
                                  d2="1 D: mbr 07 NTFS - yes 1 101 100 MB\r\n")},
        steps=(wait_state(repair_visible=True, partition_text="d:  容量:100MB"), settle(1.0),
               wait_state(progress_visible=False), snap(), close("repair"), wait_exit()),
        log=[],
        journal=[LISTING_RUN],
        boxes=[],
        exit_code=2,
    ),
    Case(
        name="scan_nothing_found_says_so",
        tail="-f",
        program_files=listings(d0="open disk error!\r\n"),
        steps=(wait_msgbox(), snap(), answer("ok"), wait_state(repair_visible=True, partition_text=""),
               Step("layout", {"repair.instruction.text":
                               "没找到活动分区！请手工输入，如“C:”，不清楚请关闭。"}),
               close("repair"), wait_exit()),
        log=[],
        journal=[LISTING_RUN],
        boxes=[Box(NOT_FOUND, ("ok",), "exclamation")],
        exit_code=2,
    ),
    # Read-only media (a CD, a locked stick): the listings come through a pipe, so the scan
    # still finds the partition. The stand-ins sit in System32 so that their journal can be
    # written; nothing is written beside the program, the backups go to the boot drive.
    Case(
        name="scan_from_read_only_program_folder",
        tail="-f -n",
        files={"d:/boot/bcd": 100},
        read_only=("c:/kestrix",),
        tools_in="system32",
        tool_files=listings(d0="1 D: mbr 07 NTFS - yes 1 20481 20480 MB\r\n"),
        steps=(*held(), wait_state(partition_text="d:  容量:20480MB"), close("repair"), wait_exit()),
        log=NT60_LOG,
        journal=[LISTING_RUN, "bootsect.exe /nt60 d:"],
        boxes=[],
        changes=(volume("d"),), backups=(volume("d"),), backup_in="d:",
    ),
    # A chatty tool: 100 KiB written at once, far more than a pipe holds, is read while the
    # tool runs, so neither side waits for the other; the log keeps the first 64 KiB. Kept to
    # that, the answer for all disks ends inside disk 0's, so the lister is asked disk by disk.
    Case(
        name="scan_chatty_listing_tool",
        tail="-f -n",
        files={"d:/boot/bcd": 100},
        program_files=listings(d0=CHATTY_LISTING),
        steps=(*held(), close("repair"), wait_exit()),
        log=NT60_LOG,
        journal=[LISTING_RUN, *listing_runs(2), "bootsect.exe /nt60 d:"],
        boxes=[],
        changes=(volume("d"),), backups=(volume("d"),),
        log_notes=("输出：1 D: mbr 07 NTFS - yes 1 20481 20480 MB",
                   f"输出过长，另有 {len(CHATTY_LISTING) - 64 * 1024} 字节未记录"),
    ),
    # No listing tool beside the program or in System32: the box says so instead of "nothing
    # found", and the copy on PATH is not run.
    Case(
        name="scan_listing_tool_missing_says_so",
        tail="-f",
        missing_tools=("dsptw.exe",),
        planted=("f:/bin/dsptw.exe",),
        path=("f:/bin",),
        steps=(wait_msgbox(), snap(), answer("ok"), wait_state(repair_visible=True, partition_text=""),
               Step("layout", {"repair.instruction.text": "无法运行分区列表工具 dsptw.exe！请手工输入，"
                                                  "如“C:”，不清楚请关闭。"}),
               Step("snap", "listing-tool-missing"), close("repair"), wait_exit()),
        log=[],
        journal=[],
        boxes=[Box(LISTING_TOOL_MISSING, ("ok",), "exclamation")],
        exit_code=2,
        changes=(), backups=(),
        log_notes=(f"提示：{LISTING_TOOL_MISSING} → 确定",),
    ),
]


# The real listing program on raw disk images, run as the program runs it (through cmd, its
# output redirected beside it): the same lines as for a physical disk, with no drive, file
# system or label since an image has no volumes.
def image_listing(image, out, exit_code=0, errors=None):
    to_errors = f" 2>{errors}" if errors else ""
    return Run("C:\\windows\\system32\\cmd.exe",
               f"/c dsptw /image:{image} /find:all /getid>{out}{to_errors}", exit_code,
               "C:\\kestrix")


def lines(*text):
    return "".join(line + "\r\n" for line in text).encode()


CASES += [
    # An active primary, another primary, then an extended partition holding two logicals,
    # numbered after the primaries; a file that is not there is an error.
    Case(
        name="image_mbr_active_and_logicals",
        real_tools=("dsptw.exe",),
        images={"d:/mbr.img": DiskImage(64, "sfdisk", (
            "label: dos\n"
            "start=2048, size=32768, type=7, bootable\n"
            "start=34816, size=16384, type=83\n"
            "start=51200, size=79872, type=f\n"
            "start=53248, size=16384, type=b\n"
            "start=71680, size=20480, type=7\n"))},
        runs=(image_listing("d:\\mbr.img", "dinf.txt"),
              image_listing("d:\\none.img", "none.txt", exit_code=1)),
        files_after={"c:/kestrix/dinf.txt": lines("1 - mbr 07 - - yes 1 17 16 MB",
                                                  "2 - mbr 83 - - no 17 25 8 MB",
                                                  "3 - mbr 0b - - no 26 34 8 MB",
                                                  "4 - mbr 07 - - no 35 45 10 MB"),
                     "c:/kestrix/none.txt": lines("open image error!")},
    ),
    # GPT as Windows lays it out: EFI system, reserved, basic data to the last usable sector.
    Case(
        name="image_gpt_efi_system",
        real_tools=("dsptw.exe",),
        images={"d:/gpt.img": DiskImage(
            64, "sgdisk", "-n 1:2048:+20M -t 1:ef00 -c '1:EFI system partition' "
                          "-n 2:0:+16M -t 2:0c01 -n 3:0:0 -t 3:0700")},
        runs=(image_listing("d:\\gpt.img", "dinf.txt"),),
        files_after={"c:/kestrix/dinf.txt": lines("1 - gpt efi-system - - no 1 21 20 MB",
                                                  "2 - gpt msr - - no 21 37 16 MB",
                                                  "3 - gpt basic-data - - no 37 63 26 MB")},
    ),
    # The primary GPT header damaged (a byte of its disk GUID inverted): the same lines, from the
    # backup at the disk's end, and a word of it on standard error in the ANSI code page.
    Case(
        name="image_gpt_primary_damaged",
        real_tools=("dsptw.exe",),
        images={"d:/gpt.img": DiskImage(
            64, "sgdisk", "-n 1:2048:+20M -t 1:ef00 -n 2:0:0 -t 2:0700", flip=(512 + 56,))},
        runs=(image_listing("d:\\gpt.img", "dinf.txt", errors="derr.txt"),),
        files_after={"c:/kestrix/dinf.txt": lines("1 - gpt efi-system - - no 1 21 20 MB",
                                                  "2 - gpt basic-data - - no 21 63 42 MB"),
                     "c:/kestrix/derr.txt": "主GPT已损坏，已按磁盘末尾的备份GPT列出分区\r\n"
                                            .encode("gbk")},
    ),
]


# What the windows look like at 96 DPI, read by kprobe layout: rectangles in twips as designed
# (the runner turns them into pixels), flags, texts, and fonts as the screen shows them.
CASES += [
    Case(
        name="layout_main_window",
        tail="-n -d d:",
        files={"d:/boot/bcd": 100},
        steps=(wait_state(start_visible=True),
               Step("layout", {
                   "screen.dpi": 96,
                   "start.title": "KestrixV1.0   Tobrin制作",
                   "start.client": (3765, 2505), "start.centred": True, "start.topmost": False,
                   "start.bootonly.rect": (420, 630, 3405, 435), "start.bootonly.text": "只修复引导",
                   "start.bootonly.visible": True, "start.bootonly.enabled": True,
                   "start.startbutton.rect": (210, 1140, 3345, 525),
                   "start.startbutton.text": "自动修复Windows引导",
                   "start.startbutton.visible": True, "start.startbutton.enabled": True,
                   "start.notice.rect": (270, 1860, 3375, 525), "start.notice.ink": "ff0000",
                   "start.title.rect": (840, 210, 2355, 375), "start.title.text": "Kestrix",
                   "start.title.font": "song-12-bold",
                   # Placed and made topmost at the start, long before it is shown.
                   "repair.client": (4515, 2175), "repair.centred": True, "repair.topmost": True,
               }),
               Step("snap", "main"), close("start"), wait_exit()),
        log=[],
        journal=[],
        boxes=[],
        exit_code=2,
    ),
    # Two active partitions found by the scan: the choice is the user's, then the log covers it.
    Case(
        name="layout_selection_then_progress",
        tail="-n",
        files={"c:/boot/bcd": 100},
        volumes={"c": STANDARD_VOLUME},
        program_files=listings(d0="1 C: mbr 07 NTFS - yes 1 101 100 MB\r\n"
                                  "2 D: mbr 07 NTFS - yes 101 201 100 MB\r\n",
                               d1="open disk error!\r\n"),
        drives=("d",),
        steps=(wait_state(start_visible=True), press("startbutton"),
               wait_state(start_visible=False, repair_visible=True),
               Step("layout", {
                   "screen.dpi": 96,
                   "repair.title": "引导修复  By Tobrin",
                   "repair.client": (4515, 2175), "repair.centred": True, "repair.topmost": True,
                   "start.topmost": False,
                   "partition.entry": ["c:  容量:100MB", "d:  容量:100MB"],
                   "repair.progress.rect": (60, 90, 4395, 2010),
                   "repair.progress.visible": False, "repair.progress.enabled": False,
                   "repair.confirm.rect": (1200, 1260, 1995, 525), "repair.confirm.text": "确定",
                   "repair.confirm.font": "song-10.5-bold",
                   # A drop-down combo box is as tall as its font makes the field.
                   "repair.partition.rect": (300, 720, 3855, None), "repair.partition.text": "c:  容量:100MB",
                   "repair.partition.font": "song-10.5",
                   "repair.keepopen.rect": (4050, 600, 375, 615), "repair.keepopen.text": "",
                   "repair.keepopen.visible": True,
                   "repair.instruction.rect": (240, 120, 4065, 525), "repair.instruction.ink": "ff0000",
               }),
               Step("snap", "selection"), press("confirm"), wait_log(DONE),
               Step("layout", {
                   "repair.progress.rect": (60, 90, 4395, 2010),
                   "repair.progress.visible": True, "repair.progress.enabled": False,
                   "repair.progress.last_in_view": True, "repair.topmost": True,
               }),
               Step("snap", "progress"), close("repair"), wait_exit()),
        log=NT60_LOG,
        journal=[LISTING_RUN, "bootsect.exe /nt60 c:"],
        boxes=[],
    ),
    # More lines than progress shows: the newest one is scrolled into view.
    Case(
        name="layout_long_log_shows_newest_line",
        tail="-f -d d:",
        files={k: v for x in "efghijkl" for k, v in on(f"{x}:", SEVEN).items()},
        drives=("d",),
        steps=(*held(MENU_DONE),
               Step("layout", {"repair.progress.visible": True, "repair.progress.scrolled": True,
                               "repair.progress.last_in_view": True}),
               Step("snap", "long-log"), close("repair"), wait_exit()),
        log=[SCAN6, *(line for x in "efghijkl" for line in (found6(f"{x}:"), unchecked(f"{x}:"))),
             SCAN5, "", MENU_DONE],
        journal=[*(f"bcdboot.exe {x}:\\windows /l zh-cn /s d:" for x in "efghijkl"),
                 store("d:", "/timeout 7"), "bootsect.exe /nt60 d:"],
        boxes=[],
    ),
    # One entry per mapped drive in letter order, lower case, with the volume label if any.
    # Wine reads the label of a folder drive from its .windows-label file, but from the raw
    # volume instead when the drive has one (d: here, whose NTFS-like volume it cannot read).
    Case(
        name="drive_list_letters_and_labels",
        tail="-f -n -d d:",
        files={"c:/.windows-label": "SYS", "d:/.windows-label": "IGNORED",
               "e:/.windows-label": "数据盘", "g:/.windows-label": "BACKUP\n",
               "d:/boot/bcd": 100},
        drives=("f",),
        volumes={"e": None, "f": None, "g": None},
        steps=(*held(DONE), close("repair"), wait_exit()),
        log=NT60_LOG,
        journal=["bootsect.exe /nt60 d:"],
        boxes=[],
        log_notes=("驱动器：c: [SYS]、d:、e: [数据盘]、f:、g: [BACKUP]",),
    ),
    # Without -f the timer still fires after the repair, and does nothing.
    Case(
        name="timer_without_f_leaves_window_open",
        tail="-n -d d:",
        files={"d:/boot/bcd": 100},
        steps=(wait_state(start_visible=True), press("startbutton"), wait_log(DONE), settle(3.5),
               wait_state(repair_visible=True, progress_visible=True), close("repair"), wait_exit()),
        log=NT60_LOG,
        journal=["bootsect.exe /nt60 d:"],
        boxes=[],
    ),
    # The silent run's timer: two seconds after the repair, not at once and not much later.
    Case(
        name="silent_closes_two_seconds_after",
        tail="-f -n -d d:",
        files={"d:/boot/bcd": 100},
        steps=(wait_log(DONE), Step("wait_exit", (1.4, 3.5))),
        log=NT60_LOG,
        journal=["bootsect.exe /nt60 d:"],
        boxes=[],
    ),
]

# The failure cases: tools that fail or are missing, read-only drives, interrupted repairs, bad
# partition names; they also check backups and that nothing else on any drive changed.
from fault_cases import FAULT_CASES  # noqa: E402

CASES += FAULT_CASES

# The EFI system partition of a UEFI PC.
from uefi_cases import UEFI_CASES  # noqa: E402

CASES += UEFI_CASES

# -r after a repair: what goes back, what is refused, and an undo undone.
from undo_cases import UNDO_CASES  # noqa: E402

CASES += UNDO_CASES

# The Secure Boot verdict on EFI binaries, reached as the exe reaches it.
from verdict_cases import VERDICT_CASES  # noqa: E402

CASES += VERDICT_CASES

# -i: the diagnosis, which writes nothing but its report.
from diagnosis_cases import DIAGNOSIS_CASES  # noqa: E402

CASES += DIAGNOSIS_CASES


def find(name):
    for case in CASES:
        if case.name == name:
            return case
    raise KeyError(name)
