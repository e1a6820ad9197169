#!/usr/bin/env python3
"""Kestrix benchmarks under Wine: prints figures (medians over repeated runs), checks nothing.

  python3 bench/bench.py [--runs 5] [--arch x64|x86] [--build-dir build/win64]
                         [--template build/native/wine-template] [--own-display]

Needs a Windows build (kestrix.exe, the stand-in tools, bench/bare_window.exe and
bench/listing_runs.exe):
  cmake --build build/win64 -j2        (build/win32 with --arch x86)

What it measures, on a private copy of the end-to-end prefix template (made if missing) with its
own wineserver, on DISPLAY or a private Xvfb:

(a) Repair overhead. "kestrix.exe -f -d d:" on the demo machine of the end-to-end case
    menu_xp_and_seven (Windows XP on d:, Windows 7 on e:, a full boot-menu repair running 9
    stand-in tools). From the run's kestrix.log: the repair's duration (the "开始修复" line to the
    completion line) over the sum of the tools' "用时" values, which the program measures around
    each tool's start and wait. Both come from the program's own clocks, so Wine's start-up of
    kestrix.exe itself is left out. Each is a difference of two whole-millisecond readings:
    within 1 ms, and not biased either way.
(b) Start-up. Wall time from spawning the Wine loader to the window being mapped on the X server
    (a MapNotify seen through libX11, no polling), for kestrix.exe's ch1 ("-d d:", so no
    partition scan runs) and for bare_window.exe, a plain Win32 window built the same way; the
    ratio is that of the two medians. Beside it the process's CPU time by then (schedstat), which
    other work on the machine disturbs less. Also kestrix.exe without -d, which first lists
    disks 0 to 10 with one run of the stand-in dsptw ("dsptw /all"; every disk answers, disk 0
    with one active partition), with that listing's "用时" from the log it writes when closed, and
    its start against the start with -d in the same rounds (goal: at most 1.5 times).
(c) Peak memory. VmHWM of the Linux process running the exe: kestrix.exe just after a full
    repair (before it closes itself), kestrix.exe and bare_window.exe half a second after their
    window is shown.
(d) One disk listing, disk by disk (0 to 10, the stand-in dsptw), as a lister that does not
    answer /all is asked: listing_runs.exe timing inside Wine, from the start of the process to
    the end of its output, dsptw.exe started directly with its output read from a pipe (as
    kestrix.exe does) against "cmd.exe /c dsptw N /find:all /getid>dinf.txt" with the file read
    afterwards (as it did before).

Every round runs each measurement once, interleaved; one warm-up round is not counted. A
long-lived cmd.exe keeps the prefix's wineserver and system processes up between runs, as a
running Windows would have them. Other work on the machine widens the spread of the wall times:
the load average is printed at the start and the end; run it on an otherwise idle machine, with
more --runs when it is not.
"""

import argparse
import ctypes
import datetime
import os
import re
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import unicodedata
from pathlib import Path

sys.dont_write_bytecode = True
REPO = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import cases as case_table  # noqa: E402
import e2e  # noqa: E402

DEMO_CASE = "menu_xp_and_seven"
CH1_TITLE = "KestrixV1.0   Tobrin制作"
BARE_TITLE = "Kestrix bench bare window"
COMPLETED = "记录：引导菜单修复完成！请关闭。"
# The failure ending: "……结束，但有 N 个步骤失败！".
FAILED = re.compile(r"结束，但有 \d+ 个步骤失败")
STARTED = "开始修复 "
TOOL_LINE = re.compile(r"命令：(.*) → (.*)，用时 (\d+) 毫秒$")
LOG_LINE = re.compile(r"^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3})  (.*)$")
LAST_DISK = 10
# Disk 0 has one active partition, disks 1 to 10 answer with nothing: the scan reads all eleven.
SCAN_LISTINGS = {"dsptw-0.txt": "1 D: mbr 07 NTFS - yes 1 20481 20480 MB\r\n",
                 **{f"dsptw-{n}.txt": "" for n in range(1, LAST_DISK + 1)}}
OVERHEAD_GOAL = 1.05
STARTUP_GOAL = 1.5
# Start without -d (the partition scan) against start with -d.
SCAN_START_GOAL = 1.5
SCAN_LISTING = "dsptw.exe /all"
LISTING_LINE = re.compile(r"^(direct|cmd) (\d+) ([\d.]+)$")
# Time for the shown window to be painted before its memory is read.
PAINT_SECONDS = 0.5
# A program that has just closed leaves Wine busy for a while (tens of milliseconds more for the
# next start): every timed start waits this long first, so none is timed in the wake of another.
SETTLE_SECONDS = 0.5
WAIT_SECONDS = 60
MIB = 1024 * 1024


class BenchFailure(Exception):
    pass


# ---------------------------------------------------------------------------------------------
# X server: when a top-level window is mapped


class XEventBuffer(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("pad", ctypes.c_long * 24)]


class XMapEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("event", ctypes.c_ulong),
                ("window", ctypes.c_ulong), ("override_redirect", ctypes.c_int)]


MAP_NOTIFY = 19
X_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19


class MapWatch:
    """Wine's unmanaged windows are children of the root window: selecting the root's
    substructure events reports each one's mapping the moment the X server makes it."""

    def __init__(self, display_name):
        x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        for name in ("XConnectionNumber", "XPending", "XFlush", "XCloseDisplay"):
            getattr(x, name).argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        x.XInternAtom.restype = ctypes.c_ulong
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        ulong_p = ctypes.POINTER(ctypes.c_ulong)
        x.XGetWindowProperty.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long,
            ctypes.c_int, ctypes.c_ulong, ulong_p, ctypes.POINTER(ctypes.c_int), ulong_p, ulong_p,
            ctypes.POINTER(ctypes.c_void_p)]
        x.XFree.argtypes = [ctypes.c_void_p]
        # A window may be gone by the time its title is asked for; Xlib's own handler would end
        # this process, and the prefix with it would be left behind.
        self.ignore_errors = X_ERROR_HANDLER(lambda display, error: 0)
        x.XSetErrorHandler.argtypes = [X_ERROR_HANDLER]
        x.XSetErrorHandler(self.ignore_errors)
        self.x = x
        self.dpy = x.XOpenDisplay(display_name.encode())
        if not self.dpy:
            raise BenchFailure(f"cannot open X display {display_name}")
        x.XSelectInput(self.dpy, x.XDefaultRootWindow(self.dpy), SUBSTRUCTURE_NOTIFY_MASK)
        x.XFlush(self.dpy)
        self.fd = x.XConnectionNumber(self.dpy)
        self.net_wm_name = x.XInternAtom(self.dpy, b"_NET_WM_NAME", 0)

    def title(self, window):
        kind, unit, count, after = (ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(),
                                    ctypes.c_ulong())
        data = ctypes.c_void_p()
        if self.x.XGetWindowProperty(self.dpy, window, self.net_wm_name, 0, 4096, 0, 0,
                                     ctypes.byref(kind), ctypes.byref(unit), ctypes.byref(count),
                                     ctypes.byref(after), ctypes.byref(data)) != 0 or not data:
            return None
        raw = ctypes.string_at(data.value, count.value * unit.value // 8)
        self.x.XFree(data)
        return raw.decode("utf-8", "replace")

    def _mapped_titles(self):
        event = XEventBuffer()
        titles = []
        while self.x.XPending(self.dpy):
            self.x.XNextEvent(self.dpy, ctypes.byref(event))
            if event.type == MAP_NOTIFY:
                titles.append(self.title(XMapEvent.from_buffer(event).window))
        return titles

    def drain(self):
        self._mapped_titles()

    def wait_for(self, title, process, timeout=WAIT_SECONDS):
        """monotonic() when a window with this title is mapped; fails if the process ends."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if title in self._mapped_titles():
                return time.monotonic()
            if process.poll() is not None:
                raise BenchFailure(f"the process ended ({process.returncode}) before {title!r} "
                                   "was shown")
            select.select([self.fd], [], [], 0.2)
        raise BenchFailure(f"{title!r} was not shown within {timeout} s")

    def close(self):
        self.x.XCloseDisplay(self.dpy)


# ---------------------------------------------------------------------------------------------
# The simulated machine


class Machine:
    """The demo machine in a private prefix: drives, raw volumes, kestrix.exe with the stand-ins
    in C:\\kestrix, and bare_window.exe beside them. Wine runs as the end-to-end tests run it: as
    the caller, or run as root as their ordinary account, which owns the prefix and the drives."""

    def __init__(self, options, display):
        self.options = options
        self.case = case_table.find(DEMO_CASE)
        self.root = Path(tempfile.mkdtemp(prefix="kestrix-bench-"))
        self.prefix = self.root / "prefix"
        self.program = self.prefix / e2e.PROGRAM_FOLDER_IN_PREFIX
        self.account = e2e.wine_account()
        self.as_account = self.account.process_options()
        self.env = e2e.wine_env(self.prefix, display, self.account)
        self.drives = {}
        self.keeper = None

    def prepare(self):
        e2e.copy_prefix(self.options.template, self.prefix)
        for letter in e2e.drive_letters(self.case):
            folder = self.root / f"drive_{letter}"
            self.drives[letter] = folder
            link = self.prefix / "dosdevices" / f"{letter}:"
            if link.is_symlink() or link.exists():
                link.unlink()
            link.symlink_to(folder)
        for letter in e2e.volume_images(self.case):
            # Wine opens \\.\X: through dosdevices/x:: when that link exists.
            (self.prefix / "dosdevices" / f"{letter}::").symlink_to(self.volume_image(letter))
        # A fresh prefix's regedit.exe would make c: look like an XP installation.
        for folder in ("windows", "windows/syswow64"):
            (self.prefix / "drive_c" / folder / "regedit.exe").unlink(missing_ok=True)
        self.program.mkdir(parents=True)
        shutil.copy2(self.options.kestrix, self.program / "kestrix.exe")
        shutil.copy2(self.options.kestrix.parent / "boot.ini", self.program / "boot.ini")
        shutil.copy2(self.options.bare, self.program / "bare_window.exe")
        shutil.copy2(self.options.listing_runs, self.program / "listing_runs.exe")
        for tool in ("bootsect.exe", "bcdboot.exe", "bcdedit.exe", "dsptw.exe"):
            shutil.copy2(self.options.tools_dir / tool, self.program / tool)
        for name, contents in {**self.case.program_files, **SCAN_LISTINGS}.items():
            (self.program / name).write_bytes(e2e.content_bytes(contents))
        self.reset()

    def reset(self):
        """Back to the machine as it was before any repair: drives, volumes, no run folders."""
        for folder in self.drives.values():
            shutil.rmtree(folder, ignore_errors=True)
            folder.mkdir()
        e2e.lay_out(self.prefix, self.drives, self.case.files)
        for letter, contents in e2e.volume_images(self.case).items():
            self.volume_image(letter).write_bytes(e2e.content_bytes(contents))
        for path in self.program.glob("kestrix-*"):
            shutil.rmtree(path)
        for name in ("journal.txt", "dinf.txt"):
            (self.program / name).unlink(missing_ok=True)
        e2e.give_to(self.account, self.root)

    def volume_image(self, letter):
        return self.root / f"volume_{letter}.img"

    def wine(self, *args, **kwargs):
        return subprocess.Popen([e2e.LOADERS[self.options.arch], *args], env=self.env,
                                cwd=self.prefix / "drive_c", stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, **self.as_account, **kwargs)

    def start_keeper(self):
        # cmd.exe waits on its standard input for as long as the pipe stays open.
        self.keeper = self.wine("C:\\windows\\system32\\cmd.exe", stdin=subprocess.PIPE)

    def start(self, exe, *args):
        return self.wine(e2e.PROGRAM_FOLDER + "\\" + exe, *args, stdin=subprocess.DEVNULL)

    def close_windows(self, process, exe):
        """Asks the program to close, as the window's close box would; kills it if it will not."""
        self.wine("taskkill", "/im", exe, stdin=subprocess.DEVNULL).wait(WAIT_SECONDS)
        try:
            return process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            return None

    def log_entries(self):
        logs = sorted(self.program.glob("kestrix-*/kestrix.log"))
        if not logs:
            return []
        return parse_log(logs[-1].read_bytes().decode("utf-8-sig", "replace"))

    def journal(self):
        return e2e.read_journal(self.program / "journal.txt")

    def cleanup(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60, **self.as_account,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.keeper is not None:
            self.keeper.stdin.close()
            try:
                self.keeper.wait(10)
            except subprocess.TimeoutExpired:
                self.keeper.kill()
                self.keeper.wait()
        e2e.remove_server_folder(self.prefix, self.account)
        shutil.rmtree(self.root, ignore_errors=True)


def parse_log(text):
    """[(milliseconds since midnight, text)] of kestrix.log; a run never spans midnight here."""
    entries = []
    for line in text.split("\r\n"):
        match = LOG_LINE.match(line)
        if match:
            h, m, s, ms = (int(g) for g in match.groups()[3:7])
            entries.append((((h * 60 + m) * 60 + s) * 1000 + ms, match.group(8)))
    return entries


def tool_times(entries):
    return [(m.group(1), int(m.group(3))) for _, text in entries
            for m in [TOOL_LINE.match(text)] if m]


def cpu_seconds(pid):
    """On-CPU time of the process's live threads (schedstat, nanoseconds): unlike wall time it
    leaves out the waits for a core that other work on the machine causes."""
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            total += int((task / "schedstat").read_text().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return total / 1e9


def peak_memory(pid):
    """VmHWM of a live process (its resident set at its largest), in bytes."""
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, rest = line.partition(":")
            if key == "VmHWM":
                return int(rest.split()[0]) * 1024
    raise BenchFailure(f"no VmHWM for process {pid}")


# ---------------------------------------------------------------------------------------------
# The measurements, one run each


def run_repair(machine):
    machine.reset()
    process = machine.start("kestrix.exe", *machine.case.tail.split())
    deadline = time.monotonic() + WAIT_SECONDS
    entries = []
    # The host reads the log file: nothing runs inside Wine to watch the repair.
    while not any(text == COMPLETED or FAILED.search(text) for _, text in entries):
        if process.poll() is not None or time.monotonic() > deadline:
            raise BenchFailure(f"the repair did not complete (exit {process.poll()})")
        time.sleep(0.02)
        entries = machine.log_entries()
    peak = peak_memory(process.pid)
    code = process.wait(WAIT_SECONDS)
    journal = machine.journal()
    if code != 0 or not any(text == COMPLETED for _, text in entries):
        raise BenchFailure(f"the repair failed (exit {code}):\n" +
                           "\n".join(text for _, text in entries))
    if journal != list(machine.case.journal):
        raise BenchFailure(f"the tools that ran differ from the case's: {journal}")
    start = next(t for t, text in entries if text.startswith(STARTED))
    end = next(t for t, text in entries if text == COMPLETED)
    tools = tool_times(entries)
    return {"repair_ms": end - start, "tools_ms": sum(ms for _, ms in tools),
            "tools": len(tools), "repair_peak": peak}


def run_shown(machine, watch, exe, title, *args):
    """Milliseconds from spawning the loader to the window being mapped, the process's CPU time
    by then, its peak memory once it is painted, and its log's tool lines once it is closed."""
    machine.reset()
    time.sleep(SETTLE_SECONDS)
    watch.drain()
    started = time.monotonic()
    process = machine.start(exe, *args)
    try:
        shown = watch.wait_for(title, process)
        cpu = cpu_seconds(process.pid)
        time.sleep(PAINT_SECONDS)
        peak = peak_memory(process.pid)
    finally:
        machine.close_windows(process, exe)
    return {"shown_ms": (shown - started) * 1000, "cpu_ms": cpu * 1000, "peak": peak,
            "tools": tool_times(machine.log_entries())}


def run_listings(machine):
    """{"direct": [ms of disk 0, ...], "cmd": [...]} as listing_runs.exe timed them."""
    machine.reset()
    process = subprocess.Popen(
        [e2e.LOADERS[machine.options.arch], e2e.PROGRAM_FOLDER + "\\listing_runs.exe",
         e2e.PROGRAM_FOLDER, str(LAST_DISK)],
        env=machine.env, cwd=machine.prefix / "drive_c", stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, **machine.as_account)
    out, _ = process.communicate(timeout=WAIT_SECONDS)
    times = {"direct": [None] * (LAST_DISK + 1), "cmd": [None] * (LAST_DISK + 1)}
    for line in out.splitlines():
        match = LISTING_LINE.match(line.strip())
        if match:
            times[match.group(1)][int(match.group(2))] = float(match.group(3))
    if process.returncode != 0 or None in times["direct"] + times["cmd"]:
        raise BenchFailure(f"listing_runs.exe failed (exit {process.returncode}):\n{out}")
    return times


def run_round(machine, watch):
    bare = run_shown(machine, watch, "bare_window.exe", BARE_TITLE)
    direct = run_shown(machine, watch, "kestrix.exe", CH1_TITLE, "-d", "d:")
    scan = run_shown(machine, watch, "kestrix.exe", CH1_TITLE)
    if [command for command, _ in scan["tools"]] != [SCAN_LISTING]:
        raise BenchFailure(f"the scan ran {scan['tools']}, expected one {SCAN_LISTING}")
    # The listings start many processes; the repair after them ends with two quiet seconds before
    # the next round's start-up is timed.
    listings = run_listings(machine)
    return {"bare": bare, "direct": direct, "scan": scan, "listings": listings,
            "repair": run_repair(machine)}


# ---------------------------------------------------------------------------------------------
# Report


def machine_facts(options):
    model = "unknown"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    commit = subprocess.run(["git", "-C", str(REPO), "describe", "--always", "--dirty"],
                            capture_output=True, text=True).stdout.strip() or "unknown"
    return [("CPU", model),
            ("cores", f"{os.cpu_count()} (usable {len(os.sched_getaffinity(0))})"),
            ("Wine", e2e.wine_version(e2e.wine_account()) + f", {options.arch} loader {e2e.LOADERS[options.arch]}"),
            ("date", datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z")),
            ("load", f"{load_average()} (1, 5, 15 min) at the start"),
            ("source", commit),
            ("exes", f"kestrix.exe {options.kestrix.stat().st_size} bytes, bare_window.exe "
                     f"{options.bare.stat().st_size} bytes ({options.kestrix.parent})")]


def spread(values, fmt, unit=""):
    middle = fmt.format(statistics.median(values)) + (" " + unit if unit else "")
    return f"{middle:>10}  ({fmt.format(min(values))} to {fmt.format(max(values))})"


def report(facts, rounds, took):
    def pick(kind, key):
        return [r[kind][key] for r in rounds]

    def row(label, values, fmt, unit="", goal=None):
        text = f"  {pad(label, 40)}{spread(values, fmt, unit)}"
        return text + goal_text(statistics.median(values), goal)

    def ratio_row(label, numerators, denominators, goal=None):
        # Separate processes at separate moments: their medians are compared, not run by run.
        ratio = statistics.median(numerators) / statistics.median(denominators)
        return f"  {pad(label, 40)}{ratio:>10.2f}  (of the medians)" + goal_text(ratio, goal)

    repair, tools = pick("repair", "repair_ms"), pick("repair", "tools_ms")
    bare, direct = pick("bare", "shown_ms"), pick("direct", "shown_ms")
    bare_cpu, direct_cpu = pick("bare", "cpu_ms"), pick("direct", "cpu_ms")
    scan, scan_cpu = pick("scan", "shown_ms"), pick("scan", "cpu_ms")
    listing = [r["scan"]["tools"][0][1] for r in rounds]
    scan_ratio = statistics.median(scan) / statistics.median(direct)
    paired = [s / d for s, d in zip(scan, direct)]
    repair_peak = [p / MIB for p in pick("repair", "repair_peak")]
    shown_peak = [p / MIB for p in pick("direct", "peak")]
    bare_peak = [p / MIB for p in pick("bare", "peak")]
    own_memory = statistics.median(repair_peak) - statistics.median(bare_peak)
    rows = [f"Kestrix benchmarks under Wine: median (min to max) of {len(rounds)} runs"]
    rows += [f"  {name:<8} {value}" for name, value in facts]
    rows += ["", f"(a) boot-menu repair on the demo machine ({DEMO_CASE}, "
                 f"kestrix.exe {case_table.find(DEMO_CASE).tail})",
             row("repair, 开始修复 to completion line", repair, "{:.0f}", "ms"),
             row(f"{rounds[0]['repair']['tools']} tools' own run times (用时 sum)", tools,
                 "{:.0f}", "ms"),
             row("program's own time (difference)",
                 [r - t for r, t in zip(repair, tools)], "{:.0f}", "ms"),
             row("overhead ratio (repair / tools)",
                 [r / t for r, t in zip(repair, tools)], "{:.3f}", goal=OVERHEAD_GOAL),
             "", "(b) start to window shown (loader spawned to X window mapped)",
             row("bare_window.exe", bare, "{:.0f}", "ms"),
             row("kestrix.exe -d d: (ch1)", direct, "{:.0f}", "ms"),
             ratio_row("ratio kestrix / bare", direct, bare, STARTUP_GOAL),
             row("CPU time by then, bare_window.exe", bare_cpu, "{:.0f}", "ms"),
             row("CPU time by then, kestrix.exe", direct_cpu, "{:.0f}", "ms"),
             ratio_row("CPU ratio kestrix / bare", direct_cpu, bare_cpu),
             row("kestrix.exe without -d (dsptw /all)", scan, "{:.0f}", "ms"),
             row("  of which the listing (用时)", listing, "{:.0f}", "ms"),
             row("CPU time by then, without -d", scan_cpu, "{:.0f}", "ms"),
             f"  start ratio without -d / with -d: {scan_ratio:.2f}  (of the medians; per round "
             f"{min(paired):.2f} to {max(paired):.2f})" + goal_text(scan_ratio, SCAN_START_GOAL),
             "", "(c) peak memory (VmHWM of the Linux process)",
             row("kestrix.exe after a full repair", repair_peak, "{:.1f}", "MiB"),
             row("kestrix.exe, ch1 shown (-d d:)", shown_peak, "{:.1f}", "MiB"),
             row("bare_window.exe shown", bare_peak, "{:.1f}", "MiB"),
             f"  {'own share (repair - bare, medians)':<40}{f'{own_memory:.1f} MiB':>10}",
             "", "(d) one disk listing, disk by disk (the stand-in dsptw.exe), medians per disk",
             f"  {'disk':<6}{'direct, pipe':>16}{'cmd.exe, file':>16}{'cmd / direct':>14}",
             *listing_rows(rounds),
             "", f"load average at the end: {load_average()}; took {took:.0f} s"]
    print("\n".join(rows), flush=True)


def listing_rows(rounds):
    def median_of(kind, disk):
        return statistics.median(r["listings"][kind][disk] for r in rounds)

    rows = [listing_row(str(disk), median_of("direct", disk), median_of("cmd", disk))
            for disk in range(LAST_DISK + 1)]
    every = [r["listings"] for r in rounds]
    direct = statistics.median(t for r in every for t in r["direct"])
    cmd = statistics.median(t for r in every for t in r["cmd"])
    rows.append(listing_row("all", direct, cmd))
    return rows


def listing_row(disk, direct, cmd):
    return f"  {disk:<6}{f'{direct:.1f} ms':>16}{f'{cmd:.1f} ms':>16}{cmd / direct:>14.2f}"


def goal_text(value, goal):
    if goal is None:
        return ""
    return f"   goal <= {goal}: " + ("met" if value <= goal else "NOT met")


def pad(text, width):
    """Left-aligns text in a terminal, where CJK characters take two columns."""
    columns = sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)
    return text + " " * max(0, width - columns)


def load_average():
    try:
        return " ".join(Path("/proc/loadavg").read_text().split()[:3])
    except OSError:
        return "unknown"


# ---------------------------------------------------------------------------------------------


def resolve(args):
    build = Path(args.build_dir or ("build/win64" if args.arch == "x64" else "build/win32"))
    build = (build if build.is_absolute() else REPO / build).resolve()
    args.kestrix = build / "kestrix.exe"
    args.tools_dir = build / "tests" / "tools"
    args.bare = build / "bench" / "bare_window.exe"
    args.listing_runs = build / "bench" / "listing_runs.exe"
    args.template = Path(args.template or e2e.DEFAULT_TEMPLATE).resolve()
    missing = [str(p) for p in (args.kestrix, args.bare, args.listing_runs,
                                args.tools_dir / "bcdedit.exe",
                                Path(e2e.LOADERS[args.arch])) if not p.exists()]
    if missing:
        sys.exit("missing " + ", ".join(missing) + f"; build first: cmake --build {build} -j2")
    return args


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=5, help="counted runs of each measurement")
    parser.add_argument("--arch", choices=("x64", "x86"), default="x64")
    parser.add_argument("--build-dir", help="Windows build folder (default build/win64 or "
                        "build/win32 for x86)")
    parser.add_argument("--template", help=f"prefix template (default {e2e.DEFAULT_TEMPLATE})")
    parser.add_argument("--own-display", action="store_true",
                        help="start a private Xvfb even when DISPLAY is set")
    options = resolve(parser.parse_args(argv))
    if options.runs < 1:
        parser.error("--runs must be at least 1")
    began = time.monotonic()
    e2e.ensure_template(options.template)
    facts = machine_facts(options)
    # The interrupted run's folders go too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    with e2e.Display(options.own_display) as display:
        machine = Machine(options, display.name)
        watch = None
        try:
            machine.prepare()
            watch = MapWatch(display.name)
            machine.start_keeper()
            run_round(machine, watch)
            rounds = []
            for n in range(options.runs):
                rounds.append(run_round(machine, watch))
                print(f"run {n + 1}/{options.runs} done", file=sys.stderr, flush=True)
        except BenchFailure as failure:
            sys.exit(f"benchmark failed: {failure}")
        finally:
            if watch is not None:
                watch.close()
            machine.cleanup()
    report(facts, rounds, time.monotonic() - began)
    return 0


if __name__ == "__main__":
    sys.exit(main())
