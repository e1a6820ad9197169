#!/usr/bin/env python3
"""End-to-end runner: runs cases from cases.py against kestrix.exe under Wine.

  e2e.py --list
  e2e.py --make-template [--template DIR]
  e2e.py --build-dir build/win64 --case bcd_nt60 [--arch x64] [--template DIR]
  e2e.py --build-dir build/win32 --arch x86 --all

Each case gets its own copy of a prepared Wine prefix, its own drive folders, its own
wineserver and (unless DISPLAY is set) its own Xvfb. kprobe.exe starts the program with the exact
command-line tail and reads its windows; the stand-in tools record every run in journal.txt.
"""

import argparse
import dataclasses
import difflib
import fcntl
import fnmatch
import hashlib
import os
import pwd
import re
import select
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

# Keeps the source tree free of __pycache__ folders.
sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))
import cases as case_table  # noqa: E402

HERE = Path(__file__).resolve().parent
REPO = HERE.parent.parent
DEFAULT_TEMPLATE = REPO / "build" / "native" / "wine-template"

# The loaders themselves: /usr/bin/wine starts 64-bit programs through start.exe, which would
# hide the program's exit code.
LOADERS = {
    "x64": os.environ.get("KESTRIX_WINE64", "/usr/lib/wine/wine64"),
    "x86": os.environ.get("KESTRIX_WINE32", "/usr/lib/wine/wine"),
}
PROGRAM_FOLDER = "C:\\kestrix"
PROGRAM_FOLDER_IN_PREFIX = "drive_c/kestrix"
TOOLS = ("bootsect.exe", "bcdboot.exe", "bcdedit.exe", "dsptw.exe", "diskpart.exe", "kprobe.exe")
# Where a case's tools_in puts the stand-ins (kprobe always stays beside the program).
TOOL_FOLDERS = {"program": PROGRAM_FOLDER_IN_PREFIX, "system32": "drive_c/windows/system32"}
ARCHES = ("x64", "x86")
# Large and never written by a run: shared with the template through hard links.
HARD_LINKED = ("drive_c/windows/system32", "drive_c/windows/syswow64", "drive_c/windows/winsxs")
TEMPLATE_MARK = "kestrix-template.ok"
# The exit code that CTest counts as a skip (SKIP_RETURN_CODE), never as a pass.
SKIPPED = 77
POLL_SECONDS = 0.15
PROBE_TIMEOUT = 20
BUTTON_NAMES = {1: "ok", 2: "cancel", 3: "abort", 4: "retry", 5: "ignore", 6: "yes", 7: "no"}
FILLER = b"k"
# Steps the runner knows beyond the table's own: "layout" checks what kprobe layout reads
# against {key: expected} (see layout_problems).
STEP_KINDS = frozenset(case_table.STEP_KINDS | {"layout"})
# What the program calls a run's backup folder, and what it writes in its log.
BACKUP_FOLDER = re.compile(r"kestrix-\d{8}-\d{6}(-\d)?")
LOG_NAME = "kestrix.log"
MANIFEST_NAME = "manifest.txt"
LOG_LINE = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  (.*)")
LOGGED_L2 = "记录："
VOLUME_START = 8192
# How changes and backups name a raw volume: volume("d") in the table.
VOLUME = case_table.volume("")
TWIPS_PER_INCH = 1440
# Twips become whole pixels: a rectangle may be off by one either way.
PIXEL_TOLERANCE = 1
# Long enough for a window that was just shown to be painted.
LAYOUT_SETTLE_SECONDS = 5.0

# Without a window manager Wine must draw captions itself, or screenshots show bare client
# areas; a crash must end the process rather than wait on a dialog nobody answers. The layout
# cases measure pixels at 96 DPI, so that is set rather than left to Wine's default.
TEMPLATE_SETTINGS = """REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Decorated"="N"
"Managed"="N"

[HKEY_CURRENT_USER\\Control Panel\\Desktop]
"LogPixels"=dword:00000060

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts]
"LogPixels"=dword:00000060

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts]
"LogPixels"=dword:00000060

[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]
"ShowCrashDialog"=dword:00000000
"""

# Wine draws the caption buttons with the Marlett symbol font. This Wine looks for its own fonts
# through drive Z: at a path where Debian's fonts-wine does not put them, and the cases' prefixes
# have no Z: at all; without Marlett the buttons come out in the locale's default font as "0",
# "1" and "r". So the template gets it in C:\windows\Fonts, where Windows keeps it too.
WINE_FONTS = Path("/usr/share/wine/fonts")
TEMPLATE_FONTS = ("marlett.ttf",)


class CaseFailure(Exception):
    pass


# ---------------------------------------------------------------------------------------------
# Probe output


def unescape(value):
    """Undoes kprobe's escapes: \\\\ \\r \\n \\t and \\xNN."""
    out = []
    i = 0
    while i < len(value):
        c = value[i]
        if c != "\\" or i + 1 >= len(value):
            out.append(c)
            i += 1
            continue
        nxt = value[i + 1]
        if nxt == "x" and i + 4 <= len(value):
            out.append(chr(int(value[i + 2:i + 4], 16)))
            i += 4
            continue
        out.append({"\\": "\\", "r": "\r", "n": "\n", "t": "\t"}.get(nxt, "\\" + nxt))
        i += 2
    return "".join(out)


LIST_KEYS = ("partition.entry", "progress.line")


@dataclass
class State:
    values: dict = field(default_factory=dict)
    lists: dict = field(default_factory=dict)
    boxes: list = field(default_factory=list)
    raw: str = ""

    @property
    def running(self):
        return self.values.get("running") == "1"

    @property
    def busy(self):
        return self.values.get("busy") == "1"

    @property
    def log(self):
        return self.lists.get("progress.line", [])

    def get(self, key):
        if key in LIST_KEYS:
            return self.lists.get(key, [])
        return self.values.get(key)


def parse_state(text):
    """kprobe state output -> State. A "msgbox" line opens a new box; its "msgbox.*" lines
    that follow belong to it."""
    state = State(raw=text)
    for line in text.splitlines():
        if "=" not in line:
            continue
        key, value = line.split("=", 1)
        value = unescape(value)
        if key == "msgbox":
            state.boxes.append({"text": value})
        elif key.startswith("msgbox.") and state.boxes:
            state.boxes[-1][key[len("msgbox."):]] = value
        elif key in LIST_KEYS:
            state.lists.setdefault(key, []).append(value)
        else:
            state.values[key] = value
    return state


def button_names(ids_text):
    names = []
    for part in ids_text.split(","):
        part = part.strip()
        if part:
            names.append(BUTTON_NAMES.get(int(part), part))
    return tuple(names)


def numbers(text):
    """"28,42,227,29" -> [28, 42, 227, 29]; anything else -> []."""
    try:
        return [int(part) for part in text.split(",")] if text else []
    except ValueError:
        return []


def to_pixels(twips, dpi):
    return round(twips * dpi / TWIPS_PER_INCH)


def centre_offset(frame, area):
    """How far (dx, dy) the centre of frame is from the centre of area; both left,top,w,h."""
    return ((2 * frame[0] + frame[2] - 2 * area[0] - area[2]) / 2,
            (2 * frame[1] + frame[3] - 2 * area[1] - area[3]) / 2)


def derived_layout(values):
    """What the runner works out from a layout reading: "<window>.centred" (on the work area
    the window's monitor reports, or on the whole screen where Wine's work area differs), with
    "<window>.offcentre" for the report, and whether progress's newest line is in view."""
    out = {}
    size = numbers(values.get("screen.size", ""))
    for window in ("start", "repair"):
        frame = numbers(values.get(f"{window}.frame", ""))
        if len(frame) != 4:
            continue
        areas = [a for a in (numbers(values.get(f"{window}.work", "")),
                             [0, 0, *size] if len(size) == 2 else []) if len(a) == 4]
        offsets = [centre_offset(frame, area) for area in areas]
        centred = any(abs(dx) <= PIXEL_TOLERANCE and abs(dy) <= PIXEL_TOLERANCE
                      for dx, dy in offsets)
        out[f"{window}.centred"] = "1" if centred else "0"
        out[f"{window}.offcentre"] = " ".join(f"{dx:g},{dy:g}" for dx, dy in offsets)
    top, count, rows = (values.get(f"repair.progress.{k}") for k in ("top", "count", "rows"))
    if None not in (top, count, rows):
        top, count, rows = int(top), int(count), int(rows)
        last = count - 1
        out["repair.progress.last_in_view"] = "1" if count == 0 or top <= last < top + rows else "0"
        out["repair.progress.scrolled"] = "1" if top > 0 else "0"
    return out


def layout_problems(expected, values, lists):
    """Mismatch messages for a layout step. Expected values: a tuple is in twips (left, top,
    width, height or width, height; None leaves one unchecked), turned into pixels at the
    reading's screen.dpi and allowed PIXEL_TOLERANCE; a bool is a flag; a list is a list key
    (partition.entry, progress.line); for a ".font" key the name must be among the fonts kprobe
    could not tell apart; anything else must equal the reading as text."""
    problems = []
    dpi = int(values.get("screen.dpi") or 0)
    for key, want in expected.items():
        if isinstance(want, list):
            got = lists.get(key, [])
            if got != want:
                problems.append(f"{key}: {got!r}, expected {want!r}")
            continue
        got = values.get(key)
        if got is None:
            problems.append(f"{key}: not read")
            continue
        if isinstance(want, bool):
            if got != ("1" if want else "0"):
                extra = ""
                if key.endswith(".centred"):
                    extra = f" (centre off by {values.get(key[:-len('centred')] + 'offcentre')})"
                problems.append(f"{key}: {got}, expected {int(want)}{extra}")
        elif isinstance(want, tuple):
            pixels = [None if t is None else to_pixels(t, dpi) for t in want]
            have = numbers(got)
            if not dpi or len(have) != len(pixels) or any(
                    p is not None and abs(h - p) > PIXEL_TOLERANCE for h, p in zip(have, pixels)):
                shown = ",".join("*" if p is None else str(p) for p in pixels)
                problems.append(f"{key}: {got} px, expected {shown} px ({want} twips at "
                                f"{dpi} dpi)")
        elif key.endswith(".font"):
            if want not in got.split("|"):
                detail = ", ".join(f"{k.rsplit('.', 1)[1]} {values[k]}%" for k in
                                   (key + ".mismatch", key + ".next") if k in values)
                problems.append(f"{key}: {got}, expected {want}" + (f" ({detail})" if detail
                                                                       else ""))
        elif got != str(want):
            problems.append(f"{key}: {got!r}, expected {str(want)!r}")
    return problems


def capture_screen(display, path, crop=None):
    """Saves the X screen, or the (left, top, width, height) part of it, as a picture."""
    args = ["import", "-window", "root"]
    if crop:
        left, top, width, height = crop
        args += ["-crop", f"{width}x{height}+{left}+{top}", "+repage"]
    path.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(args + [str(path)], env=dict(os.environ, DISPLAY=display), check=True,
                   timeout=60)


# ---------------------------------------------------------------------------------------------
# Files


def read_journal(path):
    if not path.exists():
        return []
    text = path.read_bytes().decode("utf-8")
    lines = text.split("\r\n")
    if lines and lines[-1] == "":
        lines.pop()
    return lines


def content_bytes(contents):
    """A file's bytes as a case gives them: a size (filler), text, bytes, or a function that
    makes them when the case runs."""
    if callable(contents):
        try:
            return content_bytes(contents())
        except OSError as error:
            raise CaseFailure(f"cannot make a case's test data ({error}); "
                              "scripts/install-deps.sh installs what it needs") from None
    if isinstance(contents, int) and not isinstance(contents, bool):
        return FILLER * contents
    if isinstance(contents, str):
        return contents.encode("utf-8")
    if isinstance(contents, bytes):
        return contents
    raise TypeError(f"unsupported file content: {contents!r}")


def split_drive_path(key):
    """"d:/boot/bcd" -> ("d", "boot/bcd")."""
    if len(key) < 2 or key[1] != ":" or not key[0].isalpha():
        raise ValueError(f"not a drive path: {key!r}")
    return key[0].lower(), key[2:].lstrip("/\\").replace("\\", "/")


def drive_letters(case):
    letters = {split_drive_path(k)[0] for k in
               [*case.files, *case.files_after, *case.images, *case.planted, *case.path,
                *([case.start_in] if case.start_in else [])]}
    letters.update(d.lower() for d in case.drives)
    letters.update(v.lower() for v in case.volumes)
    letters.discard("c")
    return sorted(letters)


def volume_images(case):
    """{letter: contents} of the raw volumes to map: every mapped drive's unless the case says
    otherwise."""
    wanted = {letter: case_table.STANDARD_VOLUME for letter in drive_letters(case)}
    for letter, contents in case.volumes.items():
        wanted[letter.lower()] = contents
    return {letter: contents for letter, contents in sorted(wanted.items()) if contents is not None}


def windows_path(key):
    """"e:/bin" -> "E:\\bin"."""
    letter, rest = split_drive_path(key)
    return f"{letter.upper()}:\\" + rest.replace("/", "\\")


def host_path(prefix, drives, key):
    letter, rest = split_drive_path(key)
    base = prefix / "drive_c" if letter == "c" else drives[letter]
    return base / rest if rest else base


def lay_out(prefix, drives, files):
    for key, contents in files.items():
        path = host_path(prefix, drives, key)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content_bytes(contents))


def make_formatted_volume(path, volume):
    """A sparse file formatted by dosfstools' mkfs.fat or ntfs-3g's mkntfs (from /usr/sbin)."""
    with open(path, "wb") as file:
        file.truncate(volume.size_mib << 20)
    env = dict(os.environ, PATH=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
    try:
        done = subprocess.run([*shlex.split(volume.command), str(path)], env=env, text=True,
                              capture_output=True, timeout=60)
    except FileNotFoundError:
        raise CaseFailure(f"{volume.command.split()[0]} is not installed "
                          "(scripts/install-deps.sh)") from None
    if done.returncode != 0:
        raise CaseFailure(f"{volume.command} failed ({done.returncode}) on {path.name}: "
                          f"{(done.stderr or done.stdout).strip()}")


def make_disk_image(path, image):
    """A sparse file partitioned by util-linux's sfdisk or by sgdisk (from /usr/sbin), then the
    bytes at the image's flip offsets inverted."""
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "wb") as file:
        file.truncate(image.size_mib << 20)
    if image.tool == "sfdisk":
        args = ["sfdisk", "--no-reread", "--no-tell-kernel", "--wipe", "never", "--quiet"]
        script = image.script
    elif image.tool == "sgdisk":
        args, script = ["sgdisk", *shlex.split(image.script)], None
    else:
        raise CaseFailure(f"unknown disk image tool {image.tool!r}")
    env = dict(os.environ, PATH=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
    try:
        done = subprocess.run([*args, str(path)], input=script, env=env, text=True,
                              capture_output=True, timeout=60)
    except FileNotFoundError:
        raise CaseFailure(f"{image.tool} is not installed (scripts/install-deps.sh)") from None
    if done.returncode != 0:
        raise CaseFailure(f"{image.tool} failed ({done.returncode}) on {path.name}: "
                          f"{(done.stderr or done.stdout).strip()}")
    with open(path, "r+b") as file:
        for offset in image.flip:
            file.seek(offset)
            byte = file.read(1)[0]
            file.seek(offset)
            file.write(bytes([byte ^ 0xFF]))


# Wine keeps hidden and system in this extended attribute and read-only in the write bits.
DOS_ATTRIBUTE_BITS = {"h": 0x2, "s": 0x4}


def set_attributes(prefix, drives, attributes):
    """{"d:/NTLDR": "rhs"}: read-only, hidden and system as Windows would see them."""
    for key, flags in attributes.items():
        path = host_path(prefix, drives, key)
        bits = sum(DOS_ATTRIBUTE_BITS[f] for f in flags if f in DOS_ATTRIBUTE_BITS)
        if bits:
            os.setxattr(path, "user.DOSATTRIB", f"0x{bits:x}".encode())
        if "r" in flags:
            path.chmod(0o444)


def read_attributes(path):
    """The flags of "rhs" that Windows would report for the file."""
    flags = "" if path.stat().st_mode & 0o222 else "r"
    try:
        bits = int(os.getxattr(path, "user.DOSATTRIB").split(b"\0")[0], 16)
    except OSError:
        bits = 0
    return flags + "".join(f for f, bit in DOS_ATTRIBUTE_BITS.items() if bits & bit)


def check_attributes(prefix, drives, expected):
    problems = []
    for key, want in expected.items():
        path = host_path(prefix, drives, key)
        if not path.is_file():
            problems.append(f"{key}: missing")
            continue
        got = read_attributes(path)
        if sorted(got) != sorted(want):
            problems.append(f"{key}: attributes {got!r}, expected {want!r}")
    return problems


def check_files(prefix, drives, expected):
    """Mismatch messages for files_after: None absent, True present, int size, else content."""
    problems = []
    for key, want in expected.items():
        path = host_path(prefix, drives, key)
        if want is None:
            if path.exists():
                problems.append(f"{key}: should not exist")
            continue
        if not path.is_file():
            problems.append(f"{key}: missing")
            continue
        if want is True:
            continue
        if isinstance(want, int):
            size = path.stat().st_size
            if size != want:
                problems.append(f"{key}: size {size}, expected {want}")
            continue
        got = path.read_bytes()
        if got != content_bytes(want):
            problems.append(f"{key}: content {got!r}, expected {content_bytes(want)!r}")
    return problems


# ---------------------------------------------------------------------------------------------
# What a run changed on the drives


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            digest.update(chunk)
    return digest.hexdigest()


def snapshot_folder(base, letter):
    """{"d:/path": ("dir",) | ("file", sha256) | ("linked", inode, size, mtime)} for everything
    under base. Files with other hard links are the template's system files, shared with every
    case: they are known by inode and times instead of gigabytes of hashing, which still shows a
    replacement or a write in place."""
    entries = {}
    for folder, dirs, files in os.walk(base):
        rel = os.path.relpath(folder, base)
        prefix = f"{letter}:/" if rel == "." else f"{letter}:/{rel}/"
        for name in dirs:
            entries[prefix + name] = ("dir",)
        for name in files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            if os.path.islink(path):
                entries[prefix + name] = ("symlink", os.readlink(path))
            elif info.st_nlink > 1:
                entries[prefix + name] = ("linked", info.st_ino, info.st_size, info.st_mtime_ns)
            else:
                entries[prefix + name] = ("file", file_digest(path))
    return entries


def snapshot(prefix, drives, images):
    """Every mapped drive's folders and files, c: included, and every raw volume's digest."""
    entries = snapshot_folder(prefix / "drive_c", "c")
    for letter, folder in sorted(drives.items()):
        entries.update(snapshot_folder(folder, letter))
    for letter, image in sorted(images.items()):
        entries[case_table.volume(letter)] = ("file", file_digest(image))
    return entries


def allowed(key, patterns):
    """Whether a changed entry is one the case names: the path itself (a "*" in its name matches
    any characters there), anything under it, or a folder on the way to it (bcdboot makes \\boot
    for its store)."""
    key = key.lower()
    for pattern in patterns:
        pattern = pattern.lower().rstrip("/")
        if fnmatch.fnmatchcase(key, pattern) or key == pattern or key.startswith(pattern + "/") \
                or pattern.startswith(key + "/"):
            return True
    return False


def unexpected_changes(before, after, patterns):
    problems = []
    for key in sorted(set(before) | set(after)):
        old, new = before.get(key), after.get(key)
        if old == new or allowed(key, patterns):
            continue
        what = "created" if old is None else "removed" if new is None else "changed"
        problems.append(f"{key}: {what}, but the case allows no change there")
    return problems


def backup_name(item):
    """What the program calls the backup of "volume:d" or "d:/boot/bcd" in its folder."""
    if item.startswith(VOLUME):
        return f"volume-{item[len(VOLUME):]}-first8k.bin"
    letter, rest = split_drive_path(item)
    return f"{letter}/{rest}"


def find_backup_folder(parent, shown):
    """The one kestrix-* folder a run made in parent (a Path, shown as shown), or a problem."""
    found = sorted(p for p in parent.iterdir() if p.is_dir() and p.name.startswith("kestrix-")) \
        if parent.is_dir() else []
    if len(found) != 1:
        return None, f"{len(found)} kestrix-* folders in {shown}, expected one: " \
            f"{[p.name for p in found]}"
    if not BACKUP_FOLDER.fullmatch(found[0].name):
        return None, f"backup folder {found[0].name!r} is not named kestrix-YYYYMMDD-HHMMSS"
    return found[0], None


def files_under(folder):
    return sorted(str(p.relative_to(folder)) for p in folder.rglob("*") if p.is_file())


def backup_problems(folder, items, before, volume_starts):
    """The folder holds the log and exactly the items' backups, each with the bytes from before
    the run: a volume's first 8 KiB, a file's whole content."""
    problems = []
    # Names compare as Windows compares them: d\Boot\bcd is the backup of d:/boot/bcd.
    want = {backup_name(item).lower(): item for item in items}
    actual = {name.lower(): name for name in files_under(folder)}
    have = list(actual)
    extra = sorted(set(have) - set(want) - {LOG_NAME.lower(), MANIFEST_NAME})
    missing = sorted(set(want) - set(have))
    if extra:
        problems.append(f"backup folder holds {extra}, which the case does not expect")
    if missing:
        problems.append(f"backup folder lacks {missing}")
    for name, item in sorted(want.items()):
        if name in missing:
            continue
        got = file_digest(folder / actual[name])
        if item.startswith(VOLUME):
            start = volume_starts.get(item[len(VOLUME):])
            expected = hashlib.sha256(start).hexdigest() if start is not None else None
        else:
            entry = before.get(next((k for k in before if k.lower() == item.lower()), item))
            expected = entry[1] if entry and entry[0] == "file" else None
        if expected is None:
            problems.append(f"backup {name}: the case names {item}, which did not exist before")
        elif got != expected:
            problems.append(f"backup {name}: not the bytes of {item} from before the run")
    return problems


def manifest_problems(folder, names=None):
    """The run's manifest lists every copy with its length and the SHA-256 of its bytes as they
    lie in the folder, and, when names are given, exactly those copies (with none it may be
    absent)."""
    path = folder / MANIFEST_NAME
    if not path.is_file():
        return [f"{folder.name}: {MANIFEST_NAME} is missing"] if names else []
    lines = path.read_bytes().decode("utf-8").split("\r\n")
    if lines[:1] != ["Kestrix manifest 2"] or lines[-2:] != ["end", ""]:
        return [f"{folder.name}: {MANIFEST_NAME} lacks its first or last line: {lines!r}"]
    problems = []
    listed = set()
    for line in lines[1:-2]:
        fields = line.split("\t")
        if fields[0] == "created":
            continue
        name = fields[2].replace("\\", "/")
        listed.add(name.lower())
        copy = folder / name
        data = copy.read_bytes() if copy.is_file() else None
        if data is None or len(data) != int(fields[3]) or \
                hashlib.sha256(data).hexdigest() != fields[4]:
            problems.append(f"{folder.name}: {MANIFEST_NAME} does not give {name}'s length and "
                            "SHA-256")
    if names is not None and listed != {n.lower() for n in names}:
        problems.append(f"{folder.name}: {MANIFEST_NAME} lists {sorted(listed)}, expected "
                        f"{sorted(n.lower() for n in names)}")
    return problems


def read_program_log(path):
    """kestrix.log -> (entries without their timestamps, problems)."""
    if not path.is_file():
        return [], [f"{path.name} is missing"]
    raw = path.read_bytes()
    problems = []
    if not raw.startswith(b"\xef\xbb\xbf"):
        problems.append(f"{path.name} does not start with the UTF-8 byte order mark")
    try:
        text = raw.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        return [], problems + [f"{path.name} is not UTF-8: {error}"]
    entries = []
    lines = text.split("\r\n")
    if lines and lines[-1] == "":
        lines.pop()
    for line in lines:
        match = LOG_LINE.fullmatch(line)
        if match is None:
            problems.append(f"{path.name}: line without a timestamp: {line!r}")
        else:
            entries.append(match.group(1))
    return entries, problems


def program_log_problems(entries, progress, logged, notes, exit_code):
    """The lines the log says the window showed must be progress's (or the case's logged lines, when
    the program ended before progress could be read in full), the notes must be there in order, and the
    last entry must record the exit code."""
    problems = []
    shown = [e[len(LOGGED_L2):] for e in entries if e.startswith(LOGGED_L2)]
    problems += diff_lines("progress lines in kestrix.log", list(logged if logged is not None else progress),
                           shown)
    if logged is not None and shown[:len(progress)] != list(progress):
        problems.append(f"progress as last read {progress!r} does not begin the lines in kestrix.log")
    rest = iter(entries)
    for note in notes:
        if not any(note == entry for entry in rest):
            problems.append(f"kestrix.log lacks {note!r} (or has it out of order)")
    if exit_code is not None:
        last = entries[-1] if entries else None
        want = f"程序结束，退出码 {exit_code}"
        if last != want:
            problems.append(f"kestrix.log ends with {last!r}, expected {want!r}")
    return problems


def set_immutable(paths, on):
    """A read-only drive: chattr +i / -i, which stops even root from writing, creating or
    deleting there; run as an ordinary user, whose Wine the write bits stop, chmod a-w / u+w.
    Returns an error message or None."""
    if os.geteuid() == 0:
        command = ["chattr", "-R", "+i" if on else "-i"]
    else:
        command = ["chmod", "-R", "a-w" if on else "u+w"]
    try:
        done = subprocess.run([*command, *map(str, paths)], capture_output=True, text=True,
                              timeout=60)
    except OSError as error:
        return f"{' '.join(command)}: {error}"
    if done.returncode != 0:
        return f"{' '.join(command)} failed ({done.returncode}): {done.stderr.strip()}"
    return None


def copy_prefix(template, dest):
    """A private prefix: registry and small files copied (Wine rewrites them), the big system
    folders hard-linked, and no z: drive so nothing outside the case is reachable."""
    template = Path(template)
    dest = Path(dest)
    linked = {template / rel for rel in HARD_LINKED}

    def ignore(folder, names):
        folder = Path(folder)
        return [n for n in names
                if folder / n in linked or (folder == template and n == TEMPLATE_MARK)]

    shutil.copytree(template, dest, symlinks=True, ignore=ignore)
    for rel in HARD_LINKED:
        if (template / rel).is_dir():
            shutil.copytree(template / rel, dest / rel, symlinks=True, copy_function=os.link)
    z = dest / "dosdevices" / "z:"
    if z.is_symlink() or z.exists():
        z.unlink()


# ---------------------------------------------------------------------------------------------
# Who Wine runs as

# Windows refuses an administrator what Linux lets root do: writing a read-only file, or into a
# folder without write permission. So Wine never runs as root: run as root, the runner makes this
# ordinary account once and starts every Wine process as it.
ACCOUNT_NAME = "kestrix-e2e"
ACCOUNT_HOME = Path("/var/lib") / ACCOUNT_NAME


@dataclass(frozen=True)
class Account:
    name: str
    uid: int
    gid: int
    home: str

    def process_options(self):
        """subprocess arguments that start a process as this account; none for the caller."""
        if self.uid == 0:
            raise CaseFailure("Wine would run as root, which writes what Windows refuses even "
                              "an administrator")
        if self.uid == os.geteuid():
            return {}
        return {"user": self.uid, "group": self.gid, "extra_groups": []}


def wine_account():
    """The caller when it is an ordinary user; run as root, the tests' own ordinary account."""
    if os.geteuid() != 0:
        entry = pwd.getpwuid(os.geteuid())
        return Account(entry.pw_name, entry.pw_uid, entry.pw_gid, entry.pw_dir)
    try:
        entry = pwd.getpwnam(ACCOUNT_NAME)
    except KeyError:
        done = subprocess.run(["useradd", "--system", "--user-group", "--create-home",
                               "--home-dir", str(ACCOUNT_HOME), "--shell", "/usr/sbin/nologin",
                               ACCOUNT_NAME], capture_output=True, text=True)
        # Another runner may have made it in the meantime.
        if done.returncode not in (0, 9):
            raise CaseFailure(f"useradd {ACCOUNT_NAME} failed ({done.returncode}): "
                              f"{done.stderr.strip()}")
        entry = pwd.getpwnam(ACCOUNT_NAME)
    return Account(entry.pw_name, entry.pw_uid, entry.pw_gid, entry.pw_dir)


def give_to(account, path):
    """Makes everything under path the account's, as the files of a Windows user's own drives
    are theirs to change (or refuse by attribute)."""
    if account.uid == os.geteuid():
        return
    path = Path(path)
    for folder, dirs, files in os.walk(path):
        for name in [".", *dirs, *files]:
            entry = os.path.join(folder, name)
            info = os.lstat(entry)
            if info.st_uid != account.uid or info.st_gid != account.gid:
                os.lchown(entry, account.uid, account.gid)


# ---------------------------------------------------------------------------------------------
# Wine


def wine_env(prefix, display, account, xauthority=None):
    env = dict(os.environ)
    for name in ("WINEARCH", "WINESERVER", "WINELOADER", "WINEDLLPATH", "WINEPATH", "DISPLAY",
                 "XAUTHORITY"):
        env.pop(name, None)
    env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
               LANG="zh_CN.UTF-8", LC_ALL="zh_CN.UTF-8", HOME=account.home, USER=account.name,
               LOGNAME=account.name)
    if display:
        env["DISPLAY"] = display
    if xauthority:
        env["XAUTHORITY"] = str(xauthority)
    return env


def runs_32_bit_programs():
    """Some kernels run no 32-bit programs, and so no 32-bit Wine."""
    return subprocess.run(["bash", str(REPO / "scripts" / "runs-32-bit.sh")]).returncode == 0


def wine_version(account):
    out = subprocess.run(["wine", "--version"], capture_output=True, text=True, check=True,
                         env=dict(os.environ, HOME=account.home), **account.process_options())
    return out.stdout.strip()


def remove_server_folder(prefix, account):
    """Each prefix leaves a socket folder, named after its inode, in the account's Wine tmp
    folder (or one that the prefix's "wineserver" file names); nothing else removes it."""
    try:
        info = Path(prefix).stat()
    except OSError:
        return
    server = f"server-{info.st_dev:x}-{info.st_ino:x}"
    shutil.rmtree(Path("/tmp") / f".wine-{account.uid}" / server, ignore_errors=True)
    try:
        tmp_name = (Path(prefix) / "wineserver").read_text().strip()
    except OSError:
        return
    if not tmp_name or "/" in tmp_name:
        return
    shutil.rmtree(Path("/tmp") / tmp_name / server, ignore_errors=True)


def template_stamp(account):
    """What a template was made from: a new Wine, new settings or another account (whose
    profile folder it holds) make it stale."""
    digest = hashlib.sha256(TEMPLATE_SETTINGS.encode()).hexdigest()[:16]
    return (f"{wine_version(account)}\nsettings {digest}\nfonts {' '.join(TEMPLATE_FONTS)}\n"
            f"account {account.name}\n")


def ensure_template(path, log=print):
    """Makes the prefix template once; concurrent callers wait for the first one."""
    path = Path(path).resolve()
    path.parent.mkdir(parents=True, exist_ok=True)
    account = wine_account()
    with open(path.parent / (path.name + ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        stamp = template_stamp(account)
        mark = path / TEMPLATE_MARK
        if mark.is_file() and mark.read_text() == stamp:
            return path
        missing = [f for f in TEMPLATE_FONTS if not (WINE_FONTS / f).is_file()]
        if missing:
            raise CaseFailure(f"{', '.join(missing)} not in {WINE_FONTS}: install fonts-wine "
                              "(scripts/install-deps.sh)")
        log(f"making Wine prefix template {path} as {account.name}, about 30 s")
        started = time.monotonic()
        # Made where the account may write whatever folder the build is in, then moved.
        scratch = Path(tempfile.mkdtemp(prefix="kestrix-template-"))
        give_to(account, scratch)
        building = scratch / "prefix"
        shutil.rmtree(path, ignore_errors=True)
        # No display: wineboot would otherwise show its progress window.
        env = wine_env(building, None, account)
        as_account = account.process_options()
        try:
            subprocess.run(["wineboot", "-i"], env=env, check=True, timeout=600,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **as_account)
            settings = building / "drive_c" / "kestrix-settings.reg"
            settings.write_text(TEMPLATE_SETTINGS)
            subprocess.run([LOADERS["x64"], "regedit", "/S", "C:\\kestrix-settings.reg"],
                           env=env, cwd=building / "drive_c", check=True, timeout=120,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **as_account)
            subprocess.run(["wineserver", "-w"], env=env, timeout=120, **as_account)
            settings.unlink()
            fonts = building / "drive_c" / "windows" / "Fonts"
            fonts.mkdir(parents=True, exist_ok=True)
            for font in TEMPLATE_FONTS:
                shutil.copy2(WINE_FONTS / font, fonts / font)
            if not (building / "system.reg").is_file():
                raise CaseFailure("wineboot made no prefix")
            (building / TEMPLATE_MARK).write_text(stamp)
            give_to(account, building)
        finally:
            subprocess.run(["wineserver", "-k"], env=env, timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **as_account)
            remove_server_folder(building, account)
        shutil.move(str(building), str(path))
        shutil.rmtree(scratch, ignore_errors=True)
        log(f"template ready in {time.monotonic() - started:.1f} s")
        return path


class Display:
    """The caller's DISPLAY, or a private Xvfb picked by the X server itself."""

    def __init__(self, own):
        self.process = None
        self.name = None if own else os.environ.get("DISPLAY")

    def __enter__(self):
        if self.name:
            return self
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 15
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.5)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip():
            self.__exit__()
            raise CaseFailure("Xvfb did not start")
        self.name = ":" + number.decode().strip()
        return self

    def __exit__(self, *exc):
        if self.process is not None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
            self.process = None


# ---------------------------------------------------------------------------------------------
# One case


@dataclass
class Outcome:
    log: list = field(default_factory=list)
    journal: list = field(default_factory=list)
    boxes: list = field(default_factory=list)
    exit_code: object = None
    run_exit_codes: list = field(default_factory=list)
    file_problems: list = field(default_factory=list)
    # Changes outside what the case allows, the backup folder's and the program log's problems.
    drive_problems: list = field(default_factory=list)
    last_state: object = None
    # Any *.log the program wrote in its folder, for the failure report.
    program_logs: dict = field(default_factory=dict)
    # The progress lines and exit code of each later run, and the names of the runs' folders.
    later: list = field(default_factory=list)
    run_folder_names: list = field(default_factory=list)
    # The lines of each diagnosis report in the program's folder.
    reports: list = field(default_factory=list)


@dataclass
class Options:
    arch: str = "x64"
    kestrix: object = None
    tools_dir: object = None
    template: object = None
    timeout: float = 60.0
    keep: bool = False
    screenshot: object = None
    # The screenshot shows the program's shown window only, not the whole screen.
    window_only: bool = False
    # Where a named snap saves its picture of the program's window.
    artifacts: object = None
    own_display: bool = False
    verbose: bool = False
    print_log: bool = False


class Workspace:
    """The case's prefix, drives and program folder, and the cleanup of all of it."""

    def __init__(self, case, options, display):
        self.case = case
        self.options = options
        self.root = Path(tempfile.mkdtemp(prefix=f"kestrix-e2e-{case.name}-"))
        self.prefix = self.root / "prefix"
        self.account = wine_account()
        self.drives = {}
        self.images = {}
        self.env = None
        self.display = display
        self.launched = None
        # Made immutable for the case; always made writable again by cleanup.
        self.immutable = []
        self.before = {}
        self.volume_starts = {}
        # Whole volumes as laid out, for the volumes_after expectations made from them.
        self.laid_out = {}
        # The program's run folders (kestrix-*) in the order the runs made them, and the drives
        # as the first run left them (for cases that start the program again).
        self.run_folders = []
        self.after_first = {}
        # Each run folder's manifest, checked as the run left it.
        self.manifest_problems = []

    @property
    def tools_folder(self):
        return self.prefix / TOOL_FOLDERS[self.case.tools_in]

    @property
    def journal_path(self):
        return self.tools_folder / "journal.txt"

    def place_tools(self):
        program = self.program_folder
        shutil.copy2(Path(self.options.tools_dir) / "kprobe.exe", program / "kprobe.exe")
        for tool in TOOLS:
            if tool == "kprobe.exe" or tool in self.case.missing_tools:
                continue
            target = self.tools_folder / tool
            # The system folders are hard links to the template: a file of its own is added,
            # an existing one is never written through.
            if target.exists():
                raise CaseFailure(f"{target} exists already; the stand-in would replace it")
            built = (Path(self.options.kestrix).parent if tool in self.case.real_tools
                     else Path(self.options.tools_dir))
            shutil.copy2(built / tool, target)
        for name, contents in self.case.tool_files.items():
            (self.tools_folder / name).write_bytes(content_bytes(contents))
        for key in self.case.planted:
            target = host_path(self.prefix, self.drives, key)
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(Path(self.options.tools_dir) / target.name, target)

    def make_read_only(self):
        """read_only entries: a letter (the drive's folder and its raw volume) or a folder."""
        for entry in self.case.read_only:
            if ":" in entry:
                paths = [host_path(self.prefix, self.drives, entry)]
            else:
                paths = [self.drives[entry.lower()]]
                if entry.lower() in self.images:
                    paths.append(self.images[entry.lower()])
            self.immutable += paths
            problem = set_immutable(paths, True)
            if problem:
                raise CaseFailure(f"cannot make {entry} read-only: {problem}")
            # Root writes anywhere unless the flag took: prove that it did.
            try:
                (paths[0] / ".kestrix-write-test").write_bytes(b"")
            except PermissionError:
                continue
            raise CaseFailure(f"{entry} is still writable; this file system cannot simulate a "
                              "read-only drive")

    def take_snapshot(self):
        self.before = snapshot(self.prefix, self.drives, self.images)
        self.volume_starts = {letter: image.read_bytes()[:VOLUME_START]
                              for letter, image in self.images.items()}
        self.laid_out = {letter: self.images[letter].read_bytes()
                         for letter, want in self.case.volumes_after.items() if callable(want)}

    def prepare(self):
        copy_prefix(self.options.template, self.prefix)
        for letter in drive_letters(self.case):
            folder = self.root / f"drive_{letter}"
            folder.mkdir()
            self.drives[letter] = folder
            link = self.prefix / "dosdevices" / f"{letter}:"
            if link.is_symlink() or link.exists():
                link.unlink()
            link.symlink_to(folder)
        for letter, contents in volume_images(self.case).items():
            # Wine opens \\.\X: through dosdevices/x:: when that link exists.
            image = self.root / f"volume_{letter}.img"
            if isinstance(contents, case_table.FormattedVolume):
                make_formatted_volume(image, contents)
            else:
                image.write_bytes(content_bytes(contents))
            (self.prefix / "dosdevices" / f"{letter}::").symlink_to(image)
            self.images[letter] = image
            if letter in self.case.unreadable:
                link = self.prefix / "dosdevices" / f"{letter}:"
                link.unlink()
                link.symlink_to(image)
        if self.case.removable:
            # Read by Wine's mount manager when it starts, before the program asks.
            with open(self.prefix / "system.reg", "a", encoding="utf-8") as reg:
                reg.write("\n[Software\\\\Wine\\\\Drives] 1700000000\n")
                for letter in self.case.removable:
                    reg.write(f'"{letter}:"="floppy"\n')
        program = self.program_folder
        program.mkdir(parents=True)
        if self.case.kind == "app":
            shutil.copy2(self.options.kestrix, program / "kestrix.exe")
            # The generic boot.ini ships beside the exe.
            shipped = Path(self.options.kestrix).parent / "boot.ini"
            if shipped.is_file():
                shutil.copy2(shipped, program / "boot.ini")
            # A fresh prefix's C:\windows\regedit.exe would make c: look like an XP
            # installation: the drives hold only what the case lays out. A 32-bit program is
            # shown the SysWOW64 copy in its place (unlinking it leaves the template's alone).
            for folder in ("windows", "windows/syswow64"):
                (self.prefix / "drive_c" / folder / "regedit.exe").unlink(missing_ok=True)
        self.place_tools()
        lay_out(self.prefix, self.drives, self.case.files)
        for key, image in self.case.images.items():
            make_disk_image(host_path(self.prefix, self.drives, key), image)
        for name, contents in self.case.program_files.items():
            (program / name).write_bytes(content_bytes(contents))
        give_to(self.account, self.root)
        set_attributes(self.prefix, self.drives, self.case.attributes)
        self.make_read_only()
        self.env = wine_env(self.prefix, self.display, self.account, self.xauthority())
        if self.case.path:
            # Wine puts these in front of the prefix's PATH.
            self.env["WINEPATH"] = ";".join(windows_path(key) for key in self.case.path)
        if self.case.start_in:
            host_path(self.prefix, self.drives, self.case.start_in).mkdir(parents=True,
                                                                          exist_ok=True)
        if self.case.checks_drives:
            self.take_snapshot()

    def xauthority(self):
        """The display's cookie, where the account can read it (xvfb-run keeps it private)."""
        cookie = os.environ.get("XAUTHORITY")
        if not self.display or not cookie or not Path(cookie).is_file():
            return None
        own = self.root / "Xauthority"
        shutil.copyfile(cookie, own)
        give_to(self.account, own)
        return own

    @property
    def program_folder(self):
        return self.prefix / PROGRAM_FOLDER_IN_PREFIX

    def wine(self, *args):
        return [LOADERS[self.options.arch], *args]

    def probe(self, *args):
        # kprobe says why whenever it fails; a failure without a word is Wine that could not
        # bring the process up (its loader now and then cannot reserve the address space it
        # wants, more often on a loaded machine). Such a start is tried again.
        for attempt in range(3):
            code, out, err = self.probe_once(*args)
            if code == 0 or out or err:
                break
            time.sleep(0.5)
        return code, out, err

    def probe_once(self, *args):
        # Files, not pipes: a wineserver or helper started by this call inherits the output
        # handles and would hold a pipe open long after kprobe has ended.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            try:
                done = subprocess.run(self.wine(PROGRAM_FOLDER + "\\kprobe.exe", *args),
                                      env=self.env, cwd=self.prefix / "drive_c", stdout=out,
                                      stderr=err, stdin=subprocess.DEVNULL,
                                      timeout=PROBE_TIMEOUT, **self.account.process_options())
            except subprocess.TimeoutExpired:
                raise CaseFailure(f"kprobe {' '.join(args)} did not answer in "
                                  f"{PROBE_TIMEOUT} s") from None
            out.seek(0)
            err.seek(0)
            return (done.returncode, out.read().decode("utf-8", "replace"),
                    err.read().decode("utf-8", "replace"))

    def launch(self, exe, tail, folder=None):
        args = ["launch", exe, tail] + ([folder] if folder else [])
        with open(self.root / "launch.stderr", "ab") as err:
            self.launched = subprocess.Popen(
                self.wine(PROGRAM_FOLDER + "\\kprobe.exe", *args), env=self.env,
                cwd=self.prefix / "drive_c", stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=err, **self.account.process_options())
        return self.launched

    def note_run_folders(self):
        """Adds the run folders that the last run made in the program's folder, and checks
        their manifests before a later step can touch them."""
        found = sorted(p for p in self.program_folder.iterdir()
                       if p.is_dir() and BACKUP_FOLDER.fullmatch(p.name))
        for folder in found:
            if folder not in self.run_folders:
                self.run_folders.append(folder)
                self.manifest_problems += manifest_problems(folder)

    def drive_problems(self, exit_code, progress):
        """What the run changed outside what the case allows, and what its backup folder and
        log hold."""
        case = self.case
        journal = self.journal_path.relative_to(self.prefix / "drive_c").as_posix()
        patterns = [*(case.changes or ()), "c:/" + journal]
        problems = []
        if case.then:
            patterns += [f"c:/{PROGRAM_FOLDER_IN_PREFIX[len('drive_c/'):]}/{p.name}"
                         for p in self.run_folders]
            problems += self.manifest_problems
        if case.backups is not None:
            parent = host_path(self.prefix, self.drives, case.backup_in)
            folder, problem = find_backup_folder(parent, case.backup_in)
            if problem:
                problems.append(problem)
            else:
                patterns.append(case.backup_in.rstrip("/") + "/" + folder.name)
                problems += backup_problems(folder, case.backups, self.before,
                                            self.volume_starts)
                problems += manifest_problems(folder, [backup_name(i) for i in case.backups])
                entries, log_problems = read_program_log(folder / LOG_NAME)
                problems += log_problems
                problems += program_log_problems(entries, progress, case.logged, case.log_notes,
                                                 exit_code)
        if case.changes is not None:
            after = snapshot(self.prefix, self.drives, self.images)
            base = self.after_first if case.changes_from == "first run" else self.before
            problems += unexpected_changes(base, after, patterns)
        for letter, want in case.volumes_after.items():
            if callable(want):
                want = want(self.laid_out[letter])
            got = self.images[letter].read_bytes()
            if got != want:
                at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b),
                          min(len(got), len(want)))
                problems.append(f"volume {letter}: differs from the expected bytes from offset "
                                f"{at}: {got[at:at + 24]!r}")
        return problems

    def cleanup(self):
        if self.env is not None:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           **self.account.process_options())
        if self.launched is not None and self.launched.poll() is None:
            self.launched.kill()
            self.launched.wait()
        if self.immutable:
            problem = set_immutable(self.immutable, False)
            if problem:
                print(f"warning: {problem}; remove {self.root} by hand after chattr -R -i")
        remove_server_folder(self.prefix, self.account)
        if self.options.keep:
            print(f"kept: {self.root}")
        else:
            shutil.rmtree(self.root, ignore_errors=True)


class Driver:
    """Runs one app case's steps against the running program, polling kprobe state."""

    def __init__(self, workspace, case, options):
        self.ws = workspace
        self.case = case
        self.options = options
        self.deadline = None
        # Every message box seen, by window handle, in order of first sight.
        self.seen_boxes = {}
        self.box_order = []
        self.last_running = None
        self.last_state = None
        self.exit_code = None
        self.snaps = 0
        self.last_layout = None
        # When the last step ended: a timed wait_exit counts from there.
        self.step_ended = time.monotonic()

    def say(self, text):
        if self.options.verbose:
            print(f"  [{time.strftime('%H:%M:%S')}] {text}")

    def exited(self):
        if self.exit_code is None and self.ws.launched.poll() is not None:
            self.exit_code = self.ws.launched.returncode
        return self.exit_code is not None

    def poll(self):
        code, out, err = self.ws.probe("state")
        if code != 0:
            raise CaseFailure(f"kprobe state failed ({code}): {err.strip()}")
        state = parse_state(out)
        self.last_state = state
        if state.running and not state.busy:
            self.last_running = state
        for box in state.boxes:
            self._note_box(box)
        return state

    def _note_box(self, box):
        key = box.get("hwnd") or (box.get("text"), box.get("buttons"))
        known = self.seen_boxes.get(key)
        if known is None:
            self.seen_boxes[key] = dict(box)
            self.box_order.append(key)
            self.say(f"message box: {box.get('text')!r} buttons {box.get('buttons')} "
                     f"icon {box.get('icon')}")
            return
        icon = box.get("icon")
        if icon not in (None, "unknown") and known.get("icon") in (None, "unknown", "none"):
            known["icon"] = icon

    def remaining(self):
        return self.deadline - time.monotonic()

    def wait_until(self, what, test, fail_on_box=True):
        last = None
        while True:
            if self.exited():
                raise CaseFailure(f"the program ended (exit code {self.exit_code}) while "
                                  f"waiting for {what}")
            state = self.poll()
            last = state
            if not state.busy:
                result = test(state)
                if result:
                    return state
                if fail_on_box and state.boxes:
                    raise CaseFailure(f"a message box is open while waiting for {what}: "
                                      f"{state.boxes[0].get('text')!r}")
            if self.remaining() <= 0:
                raise CaseFailure(f"timed out waiting for {what}; last state:\n"
                                  + indent(last.raw if last else "(none)"))
            time.sleep(POLL_SECONDS)

    def run(self):
        self.deadline = time.monotonic() + self.options.timeout
        self.step_ended = time.monotonic()
        for step in self.case.steps:
            if step.kind not in STEP_KINDS:
                raise CaseFailure(f"unknown step kind {step.kind!r}")
            arg = step.arg if step.arg is not None else ""
            if isinstance(arg, dict) and step.kind == "layout":
                arg = f"({len(arg)} checks)"
            self.say(f"step {step.kind} {arg}")
            getattr(self, "step_" + step.kind)(step.arg)
            self.step_ended = time.monotonic()
        if self.case.exit_code is not None and not self.exited():
            self.step_wait_exit(None)

    def step_wait_log(self, line):
        self.wait_until(f"log line {line!r}", lambda s: s.running and line in s.log)

    def step_wait_state(self, values):
        def matches(state):
            return state.running and all(state.get(k) == v for k, v in values.items())
        try:
            self.wait_until(f"state {values}", matches)
        except CaseFailure as failure:
            got = {k: (self.last_state.get(k) if self.last_state else None) for k in values}
            raise CaseFailure(f"{failure}\nexpected {values}\nfound    {got}") from None

    def step_wait_msgbox(self, _):
        # Seen twice in a row: created, shown and painted before anyone answers it.
        seen = []

        def open_box(state):
            if not state.boxes:
                seen.clear()
                return False
            seen.append(state.boxes[0].get("hwnd") or state.boxes[0].get("text"))
            return len(seen) >= 2 and seen[-1] == seen[-2]
        self.wait_until("a message box", open_box, fail_on_box=False)

    def step_answer(self, button):
        # kprobe answers the first box it lists; the answer may well open the next one.
        before = self.last_state.boxes if self.last_state else []
        answered = before[0].get("hwnd") if before else None
        code, _, err = self.ws.probe("answer", button)
        if code != 0:
            raise CaseFailure(f"kprobe answer {button} failed ({code}): {err.strip()}")
        while not self.exited():
            state = self.poll()
            handles = [box.get("hwnd") for box in state.boxes]
            if not state.busy and (not handles or (answered and answered not in handles)):
                return
            if self.remaining() <= 0:
                raise CaseFailure(f"the message box did not close after answering {button}")
            time.sleep(POLL_SECONDS)

    def _act(self, command, arg):
        code, _, err = self.ws.probe(command, arg)
        if code != 0:
            raise CaseFailure(f"kprobe {command} {arg} failed ({code}): {err.strip()}")

    def step_press(self, button):
        self._act("press", button)

    def step_close(self, window):
        self._act("close", window)

    def step_click(self, label):
        self._act("click", label)

    def step_query_end(self, allowed):
        code, out, err = self.ws.probe("session", "query")
        if code != 0:
            raise CaseFailure(f"kprobe session query failed ({code}): {err.strip()}")
        answer = parse_state(out).get("allowed")
        if answer != ("1" if allowed else "0"):
            raise CaseFailure(f"the end of the session was {'refused' if answer == '0' else 'let'}"
                              f" (allowed={answer}), expected allowed={int(allowed)}")

    def step_end_session(self, _):
        self._act("session", "end")

    def step_squeeze(self, _):
        code, out, err = self.ws.probe("squeeze")
        if code != 0:
            raise CaseFailure(f"kprobe squeeze failed ({code}): {err.strip()}")
        self.say(out.strip())

    def step_settext(self, arg):
        control, text = arg
        code, _, err = self.ws.probe("settext", control, text)
        if code != 0:
            raise CaseFailure(f"kprobe settext {control} {text!r} failed ({code}): {err.strip()}")

    def step_wait_journal(self, line):
        """Until a stand-in has recorded the line: it is running (or has run) by then."""
        while line not in read_journal(self.ws.journal_path):
            if self.exited():
                raise CaseFailure(f"the program ended (exit code {self.exit_code}) before "
                                  f"{line!r} was run")
            if self.remaining() <= 0:
                raise CaseFailure(f"timed out waiting for {line!r} to be run; journal: "
                                  f"{read_journal(self.ws.journal_path)!r}")
            time.sleep(POLL_SECONDS)

    def step_settle(self, seconds):
        time.sleep(seconds)
        if self.exited():
            raise CaseFailure(f"the program ended (exit code {self.exit_code}) but should "
                              "still be running")
        state = self.poll()
        if not state.running:
            raise CaseFailure("the selection window is gone but should still be open")

    def step_wait_exit(self, window):
        """window: (least, most) seconds after the previous step ended, or None for any time."""
        while not self.exited():
            if self.remaining() <= 0:
                raise CaseFailure("timed out waiting for the program to end; last state:\n"
                                  + indent(self.last_state.raw if self.last_state else ""))
            state = self.poll()
            if state.boxes:
                raise CaseFailure("a message box is open while waiting for the program to "
                                  f"end: {state.boxes[0].get('text')!r}")
            time.sleep(POLL_SECONDS)
        if window is not None:
            took = time.monotonic() - self.step_ended
            least, most = window
            self.say(f"ended {took:.2f} s after the previous step")
            if not least <= took <= most:
                raise CaseFailure(f"the program ended {took:.2f} s after the previous step, "
                                  f"expected between {least} and {most} s")

    def read_layout(self):
        """One state and one layout reading merged, with the derived keys; None while the
        program is too busy to answer every question."""
        state = self.poll()
        code, out, err = self.ws.probe("layout")
        if code != 0:
            raise CaseFailure(f"kprobe layout failed ({code}): {err.strip()}")
        reading = parse_state(out)
        if state.busy or reading.busy:
            return None
        values = dict(state.values)
        values.update(reading.values)
        values.update(derived_layout(values))
        self.last_layout = values
        return values, state.lists

    def step_layout(self, expected):
        # A window that was just shown may not be painted yet, and fonts are read off the screen.
        settle = min(self.deadline, time.monotonic() + LAYOUT_SETTLE_SECONDS)
        problems = ["no complete reading"]
        while True:
            if self.exited():
                raise CaseFailure(f"the program ended (exit code {self.exit_code}) before "
                                  "its layout was read")
            read = self.read_layout()
            if read is not None:
                problems = layout_problems(expected, *read)
                if not problems:
                    return
            if time.monotonic() >= settle:
                raise CaseFailure("layout differs:\n" + indent("\n".join(problems)))
            time.sleep(POLL_SECONDS)

    def shown_window_frame(self):
        """left, top, width, height of the window the program shows (repair before start)."""
        state = self.poll()
        read = self.read_layout()
        if read is None:
            return None
        for window in ("repair", "start"):
            frame = numbers(read[0].get(f"{window}.frame", ""))
            if state.get(f"{window}.visible") == "1" and len(frame) == 4:
                return frame
        return None

    def step_snap(self, name):
        """The whole screen for --screenshot (the shown window with --window-only); a named snap also saves the shown window as
        <artifacts>/<arch>-<case>-<name>.png."""
        self.snaps += 1
        if not self.options.screenshot and not (name and self.options.artifacts):
            return
        # Give the last change time to be painted.
        time.sleep(0.5)
        if self.options.screenshot:
            path = Path(self.options.screenshot)
            if self.snaps > 1:
                path = path.with_name(f"{path.stem}-{self.snaps}{path.suffix}")
            capture_screen(self.ws.display, path,
                           self.shown_window_frame() if self.options.window_only else None)
            print(f"screenshot: {path}")
        if name and self.options.artifacts:
            path = Path(self.options.artifacts) / f"{self.options.arch}-{self.case.name}-{name}.png"
            capture_screen(self.ws.display, path, self.shown_window_frame())
            print(f"artifact: {path}")

    def boxes(self):
        found = []
        for key in self.box_order:
            box = self.seen_boxes[key]
            found.append(case_table.Box(box.get("text", ""),
                                        button_names(box.get("buttons", "")),
                                        box.get("icon")))
        return found


def indent(text, by="    "):
    return "\n".join(by + line for line in text.splitlines())


def program_logs(folder, limit=8000):
    logs = {}
    for path in sorted(Path(folder).rglob("*.log")):
        text = path.read_bytes()[:limit].decode("utf-8-sig", "replace")
        logs[str(path.relative_to(folder))] = text
    return logs


def run_tool_case(ws, case):
    codes = []
    for run in case.runs:
        exe = run.exe if "\\" in run.exe else PROGRAM_FOLDER + "\\" + run.exe
        process = ws.launch(exe, run.tail, run.folder)
        try:
            codes.append(process.wait(timeout=60))
        except subprocess.TimeoutExpired:
            raise CaseFailure(f"{run.exe} {run.tail!r} did not end") from None
    return codes


def run_again(ws, case, options, outcome):
    """Starts the program again for each of the case's later runs, on the drives as the runs
    before left them; returns the first failure's text, or None."""
    ws.note_run_folders()
    if case.checks_drives:
        ws.after_first = snapshot(ws.prefix, ws.drives, ws.images)
    for number, again in enumerate(case.then, 1):
        if again.before is not None:
            again.before(ws)
            give_to(ws.account, ws.root)
        ws.launch(PROGRAM_FOLDER + "\\kestrix.exe", again.tail)
        driver = Driver(ws, dataclasses.replace(case, tail=again.tail, steps=again.steps,
                                                exit_code=again.exit_code), options)
        try:
            driver.run()
        except CaseFailure as failure:
            return f"run {number + 1} ({again.tail}): {failure}"
        finally:
            running = driver.last_running
            outcome.later.append((running.log if running else [], driver.exit_code))
            ws.note_run_folders()
    return None


def run_case(case, options):
    """Runs one case; returns (Outcome, error text or None)."""
    with Display(options.own_display) as display:
        ws = Workspace(case, options, display.name)
        outcome = Outcome()
        error = None
        try:
            ws.prepare()
            if case.kind == "tool":
                outcome.run_exit_codes = run_tool_case(ws, case)
            else:
                ws.launch(PROGRAM_FOLDER + "\\kestrix.exe", case.tail,
                          windows_path(case.start_in) if case.start_in else None)
                driver = Driver(ws, case, options)
                try:
                    driver.run()
                except CaseFailure as failure:
                    error = str(failure)
                finally:
                    running = driver.last_running
                    outcome.log = running.log if running else []
                    outcome.boxes = driver.boxes()
                    outcome.exit_code = driver.exit_code
                    outcome.last_state = driver.last_state
                if case.then and error is None:
                    error = run_again(ws, case, options, outcome)
            outcome.journal = read_journal(ws.journal_path)
            outcome.program_logs = program_logs(ws.program_folder)
            outcome.reports = [path.read_bytes().decode("utf-8-sig").split("\r\n")
                               for path in sorted(ws.program_folder.glob("kestrix-report-*.txt"))]
            outcome.file_problems = (
                check_files(ws.prefix, ws.drives, case.files_after)
                + check_attributes(ws.prefix, ws.drives, case.attributes_after))
            if case.checks_drives:
                outcome.drive_problems = ws.drive_problems(outcome.exit_code, outcome.log)
            outcome.run_folder_names = [p.name for p in ws.run_folders]
        except CaseFailure as failure:
            error = str(failure)
        finally:
            launch_errors = ""
            if (ws.root / "launch.stderr").exists():
                launch_errors = (ws.root / "launch.stderr").read_text("utf-8", "replace")
            ws.cleanup()
        if error and launch_errors.strip():
            error += "\nlauncher stderr:\n" + indent(launch_errors)
        return outcome, error


# ---------------------------------------------------------------------------------------------
# Comparison


def diff_lines(title, expected, actual):
    if expected == actual:
        return []
    # repr() makes trailing spaces, CRs and empty lines visible.
    lines = difflib.unified_diff([repr(x) for x in expected], [repr(x) for x in actual],
                                 "expected", "actual", lineterm="", n=10)
    return ["\n".join([f"{title} differs:"] + ["    " + line for line in lines])]


def unix_exit_code(code):
    """Wine hands a Windows exit code to Unix, which keeps its low 8 bits."""
    return code & 0xFF


def compare(case, outcome):
    problems = []
    if case.log is not None:
        problems += diff_lines("log (progress)", list(case.log), outcome.log)
    if case.journal is not None:
        problems += diff_lines("journal", list(case.journal), outcome.journal)
    if case.boxes is not None:
        want = [(b.text, tuple(sorted(b.buttons))) for b in case.boxes]
        got = [(b.text, tuple(sorted(b.buttons))) for b in outcome.boxes]
        box_problems = diff_lines("message boxes", want, got)
        problems += box_problems
        for want_box, got_box in zip(case.boxes, outcome.boxes if not box_problems else []):
            if want_box.icon is not None and want_box.icon != got_box.icon:
                problems.append(f"message box {want_box.text!r}: icon {got_box.icon!r}, "
                                f"expected {want_box.icon!r}")
    if case.kind == "app":
        if outcome.exit_code is None:
            problems.append("the program did not end")
        elif case.exit_code is not None and unix_exit_code(case.exit_code) != outcome.exit_code:
            problems.append(f"exit code {outcome.exit_code}, expected {case.exit_code}")
    if case.kind == "tool":
        want = [unix_exit_code(r.exit_code) for r in case.runs]
        problems += diff_lines("tool exit codes", want, outcome.run_exit_codes)
    for number, (again, (log, code)) in enumerate(zip(case.then, outcome.later), 2):
        # "{0}" in a line is the first run's folder, "{1}" the second's, as the program names them.
        folders = [PROGRAM_FOLDER + "\\" + name for name in outcome.run_folder_names]
        problems += diff_lines(f"log (progress) of run {number}",
                               [line.format(*folders) for line in again.log], log)
        if unix_exit_code(again.exit_code) != code:
            problems.append(f"run {number}: exit code {code}, expected {again.exit_code}")
    if case.report is not None:
        problems += report_problems(case.report, outcome.reports)
    problems += [f"file {p}" for p in outcome.file_problems]
    problems += outcome.drive_problems
    return problems


def report_problems(expected, reports):
    """The one report must hold the expected lines in their order, others between them."""
    if len(reports) != 1:
        return [f"{len(reports)} kestrix-report-*.txt in the program's folder, expected one"]
    lines = iter(reports[0])
    missing = [line for line in expected if not any(line == got for got in lines)]
    if missing:
        return [f"report: {missing[0]!r} is missing or out of order; the report:\n"
                + indent("\n".join(reports[0]))]
    return []


# ---------------------------------------------------------------------------------------------
# Command line


def find_kestrix(build_dir):
    direct = build_dir / "kestrix.exe"
    if direct.is_file():
        return direct
    for path in sorted(build_dir.rglob("kestrix.exe")):
        if "CMakeFiles" not in path.parts:
            return path
    return direct


def resolve_options(args):
    options = Options(arch=args.arch, timeout=args.timeout, keep=args.keep,
                      screenshot=args.screenshot, window_only=args.window_only,
                      artifacts=args.artifacts,
                      own_display=args.own_display, verbose=args.verbose,
                      print_log=args.print_log)
    options.keep = options.keep or os.environ.get("KESTRIX_E2E_KEEP", "") not in ("", "0")
    build = Path(args.build_dir).resolve() if args.build_dir else None
    options.kestrix = Path(args.kestrix) if args.kestrix else (
        find_kestrix(build) if build else None)
    options.tools_dir = Path(args.tools_dir) if args.tools_dir else (
        build / "tests" / "tools" if build else None)
    options.template = Path(args.template or os.environ.get("KESTRIX_E2E_TEMPLATE")
                            or DEFAULT_TEMPLATE)
    if options.screenshot:
        options.screenshot = Path(options.screenshot).resolve()
    # Beside the template, which is in the build folder: CTest's runs leave them there too.
    options.artifacts = Path(options.artifacts or options.template.parent / "e2e-artifacts")
    return options


def missing_inputs(case, options):
    missing = []
    if case.kind == "app" and (options.kestrix is None or not options.kestrix.is_file()):
        missing.append(f"kestrix.exe ({options.kestrix}); build the Windows tree first")
    # The product's other programs are built beside kestrix.exe.
    for tool in case.real_tools:
        if options.kestrix is None or not (options.kestrix.parent / tool).is_file():
            missing.append(f"{tool} beside kestrix.exe ({options.kestrix})")
    if options.tools_dir is None:
        missing.append("--build-dir or --tools-dir")
    else:
        missing += [str(options.tools_dir / t) for t in TOOLS
                    if not (options.tools_dir / t).is_file()]
    if not Path(LOADERS[options.arch]).exists():
        missing.append(LOADERS[options.arch])
    return missing


# What the program shows when Wine's CreateProcessW fails with ERROR_INTERNAL_ERROR: the new
# process died while Wine was still setting it up, a fault of a loaded host (seen once in hundreds
# of runs) with no counterpart on Windows.
WINE_START_FAILURE = "错误 1359："


def wine_failed_to_start_a_tool(case, outcome):
    """True when the run showed Wine's start failure, in the window or in the program's own log
    (a tool whose failure the program expects is named there only), and the case expects no
    such thing."""
    shown = ([box.text for box in outcome.boxes] + list(outcome.log)
             + list(outcome.program_logs.values()))
    expected = [box.text for box in case.boxes or ()] + list(case.log or ())
    return (any(WINE_START_FAILURE in text for text in shown)
            and not any(WINE_START_FAILURE in text for text in expected))


def wine_failed_to_start_the_program(case, outcome):
    """True when the program ended with a failure before anything of it was seen (no line in
    its window, no box, no log of its own), where the case expects lines: the way a process
    ends that Wine could not bring up. Every run of the program leaves its log."""
    return (bool(case.log) and not outcome.log and not outcome.boxes
            and not outcome.program_logs and outcome.exit_code not in (None, 0))


def wine_start_failure(case, outcome):
    """What a failed run showed of Wine's failure to start a process, or None."""
    if wine_failed_to_start_a_tool(case, outcome):
        return "Wine could not start a tool (error 1359)"
    if wine_failed_to_start_the_program(case, outcome):
        return (f"the program ended (exit code {outcome.exit_code}) before it showed or logged "
                "anything, as a process that Wine could not bring up does")
    return None


def run_named(case, options):
    label = f"{options.arch} {case.name}"
    missing = missing_inputs(case, options)
    if missing:
        print(f"FAIL {label}: missing " + ", ".join(missing))
        return False
    started = time.monotonic()
    outcome, error = run_case(case, options)
    problems = ([error] if error else []) + compare(case, outcome)
    reason = wine_start_failure(case, outcome) if problems else None
    if reason:
        print(f"RETRY {label}: {reason}; the case runs once more")
        outcome, error = run_case(case, options)
        problems = ([error] if error else []) + compare(case, outcome)
    took = time.monotonic() - started
    if options.print_log:
        print(f"progress of {case.name}:")
        for line in outcome.log:
            print("    " + line)
    if not problems:
        print(f"PASS {label} ({took:.1f} s)")
        return True
    print(f"FAIL {label} ({took:.1f} s)")
    for problem in problems:
        print(indent(problem, "  "))
    if error and outcome.last_state is not None and outcome.last_state.raw not in error:
        print("  last probe state:")
        print(indent(outcome.last_state.raw, "    "))
    for name, text in outcome.program_logs.items():
        print(f"  program's {name}:")
        print(indent(text, "    "))
    return False


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true", help="print the case names and stop")
    parser.add_argument("--make-template", action="store_true",
                        help="make the Wine prefix template if needed and stop")
    parser.add_argument("--template", help="prefix template folder "
                        f"(default $KESTRIX_E2E_TEMPLATE or {DEFAULT_TEMPLATE})")
    parser.add_argument("--build-dir", "--exe-dir", dest="build_dir",
                        help="a Windows build folder (build/win64): kestrix.exe and "
                        "tests/tools/*.exe are taken from it")
    parser.add_argument("--kestrix", help="kestrix.exe to test (overrides --build-dir)")
    parser.add_argument("--tools-dir", help="folder of the stand-ins and kprobe.exe")
    parser.add_argument("--arch", choices=ARCHES,
                        help="x64 (default) or x86; with --list, only that one's cases")
    parser.add_argument("--case", action="append", default=[], help="case to run (repeatable)")
    parser.add_argument("--all", action="store_true", help="run every case")
    parser.add_argument("--timeout", type=float, default=60.0, help="seconds per case")
    parser.add_argument("--keep", action="store_true",
                        help="keep the case's folders (also KESTRIX_E2E_KEEP=1)")
    parser.add_argument("--screenshot", help="save a screenshot at the case's snap point")
    parser.add_argument("--window-only", action="store_true",
                        help="the screenshot shows the program's shown window, not the screen")
    parser.add_argument("--artifacts", help="folder for the window pictures of named snaps "
                        "(default: e2e-artifacts beside the template)")
    parser.add_argument("--print-log", action="store_true", help="print the progress lines")
    parser.add_argument("--own-display", action="store_true",
                        help="start a private Xvfb even when DISPLAY is set")
    parser.add_argument("--verbose", "-v", action="store_true", help="narrate each step")
    args = parser.parse_args(argv)

    if args.list:
        for case in case_table.CASES:
            if args.arch is None or args.arch in case.arches:
                print(case.name)
        return 0
    args.arch = args.arch or "x64"
    options = resolve_options(args)
    if args.make_template:
        ensure_template(options.template)
        return 0
    names = ([c.name for c in case_table.CASES if options.arch in c.arches] if args.all
             else args.case)
    if not names:
        parser.error("give --case NAME, --all or --list")
    try:
        selected = [case_table.find(name) for name in names]
    except KeyError as unknown:
        parser.error(f"unknown case {unknown}")
    for case in selected:
        if options.arch not in case.arches:
            parser.error(f"case {case.name} runs on {', '.join(case.arches)} only")
    if options.arch == "x86" and not runs_32_bit_programs():
        for case in selected:
            print(f"SKIP x86 {case.name}: this kernel runs no 32-bit programs "
                  "(ia32 emulation is off), so the 32-bit Wine cannot start")
        return SKIPPED
    ensure_template(options.template)
    results = []
    for case in selected:
        case_options = options
        if options.screenshot and len(selected) > 1:
            shot = options.screenshot
            case_options = dataclasses.replace(
                options, screenshot=shot.with_name(f"{shot.stem}-{case.name}{shot.suffix}"))
        results.append(run_named(case, case_options))
    passed = sum(results)
    if len(results) > 1:
        print(f"{passed} passed, {len(results) - passed} failed")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
