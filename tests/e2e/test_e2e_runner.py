"""Tests of the end-to-end runner's own logic and of the case table; no Wine needed."""

import contextlib
import dataclasses
import hashlib
import io
import os
import re
import shutil
import sys
import tempfile
import unittest
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))
import cases  # noqa: E402
import e2e  # noqa: E402


class ProbeOutputTest(unittest.TestCase):
    def test_unescape(self):
        table = [
            ("plain", "plain"),
            ("", ""),
            ("a\\\\b", "a\\b"),
            ("c:\\\\boot\\\\bcd", "c:\\boot\\bcd"),
            ("one\\rtwo\\nthree\\tfour", "one\rtwo\nthree\tfour"),
            ("\\x01\\x1f", "\x01\x1f"),
            ("trailing\\", "trailing\\"),
            ("\\\\r", "\\r"),
            ("未检测出\\r点“是”", "未检测出\r点“是”"),
        ]
        for raw, want in table:
            with self.subTest(raw=raw):
                self.assertEqual(e2e.unescape(raw), want)

    def test_parse_state_keeps_lines_in_order_with_empty_ones(self):
        state = e2e.parse_state(
            "running=1\nstart.visible=0\nprogress.line=first\nprogress.line=\nprogress.line=last\n"
            "partition.text=d:\n")
        self.assertTrue(state.running)
        self.assertEqual(state.log, ["first", "", "last"])
        self.assertEqual(state.get("start.visible"), "0")
        self.assertEqual(state.get("partition.text"), "d:")
        self.assertEqual(state.get("partition.entry"), [])
        self.assertEqual(state.boxes, [])

    def test_parse_state_groups_message_box_fields(self):
        state = e2e.parse_state(
            "running=1\nmsgbox=one\\rtwo\nmsgbox.hwnd=10\nmsgbox.buttons=6,7,2\n"
            "msgbox.icon=none\nmsgbox=second=with equals\nmsgbox.buttons=1\n")
        self.assertEqual(state.boxes, [
            {"text": "one\rtwo", "hwnd": "10", "buttons": "6,7,2", "icon": "none"},
            {"text": "second=with equals", "buttons": "1"},
        ])

    def test_parse_state_flags(self):
        table = [
            ("running=0\n", False, False),
            ("running=1\nbusy=1\n", True, True),
            ("", False, False),
            ("garbage line\nrunning=1\n", True, False),
        ]
        for raw, running, busy in table:
            with self.subTest(raw=raw):
                state = e2e.parse_state(raw)
                self.assertEqual(state.running, running)
                self.assertEqual(state.busy, busy)

    def test_button_names(self):
        table = [("6,7,2", ("yes", "no", "cancel")), ("1", ("ok",)), ("", ()),
                 ("1, 99", ("ok", "99"))]
        for raw, want in table:
            with self.subTest(raw=raw):
                self.assertEqual(e2e.button_names(raw), want)


class FileTest(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="e2e-selftest-"))
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def test_read_journal(self):
        table = [
            (None, []),
            (b"", []),
            (b"bootsect.exe /nt60 d:\r\n", ["bootsect.exe /nt60 d:"]),
            (b"a\r\nb\r\n", ["a", "b"]),
            (b"a\r\nno end", ["a", "no end"]),
            (b"x.exe  spaced  \r\n", ["x.exe  spaced  "]),
            ("dsptw 0 中\r\n".encode(), ["dsptw 0 中"]),
        ]
        for raw, want in table:
            with self.subTest(raw=raw):
                path = self.tmp / "journal.txt"
                if path.exists():
                    path.unlink()
                if raw is not None:
                    path.write_bytes(raw)
                self.assertEqual(e2e.read_journal(path), want)

    def test_content_bytes(self):
        table = [(0, b""), (5, b"kkkkk"), ("中", "中".encode()), (b"\x00\x01", b"\x00\x01"),
                 (lambda: "made", b"made")]
        for contents, want in table:
            with self.subTest(contents=contents):
                self.assertEqual(e2e.content_bytes(contents), want)
        for bad in (True, None, 1.5):
            with self.subTest(bad=bad), self.assertRaises(TypeError):
                e2e.content_bytes(bad)

    def test_split_drive_path(self):
        table = [
            ("d:/boot/bcd", ("d", "boot/bcd")),
            ("D:\\ntldr", ("d", "ntldr")),
            ("e:", ("e", "")),
            ("c:/kestrix/dinf.txt", ("c", "kestrix/dinf.txt")),
        ]
        for key, want in table:
            with self.subTest(key=key):
                self.assertEqual(e2e.split_drive_path(key), want)
        for bad in ("boot/bcd", "", "1:/x", "d"):
            with self.subTest(bad=bad), self.assertRaises(ValueError):
                e2e.split_drive_path(bad)

    def test_drive_letters(self):
        case = cases.Case(name="x", files={"d:/a": 1, "c:/kestrix/b": 1},
                          files_after={"F:/c": None}, drives=("E",))
        self.assertEqual(e2e.drive_letters(case), ["d", "e", "f"])

    def test_lay_out_and_check_files(self):
        prefix = self.tmp / "prefix"
        drives = {"d": self.tmp / "drive_d"}
        e2e.lay_out(prefix, drives, {"d:/boot/bcd": 100, "d:/ntldr": "text",
                                     "c:/kestrix/dsptw-0.txt": b"raw"})
        self.assertEqual((self.tmp / "drive_d/boot/bcd").stat().st_size, 100)
        self.assertEqual((prefix / "drive_c/kestrix/dsptw-0.txt").read_bytes(), b"raw")
        table = [
            ({"d:/boot/bcd": True}, []),
            ({"d:/boot/bcd": 100}, []),
            ({"d:/ntldr": "text"}, []),
            ({"d:/missing": None}, []),
            ({"d:/boot/bcd": 5}, ["d:/boot/bcd: size 100, expected 5"]),
            ({"d:/ntldr": None}, ["d:/ntldr: should not exist"]),
            ({"d:/missing": True}, ["d:/missing: missing"]),
            ({"d:/boot": True}, ["d:/boot: missing"]),
            ({"d:/ntldr": b"other"}, ["d:/ntldr: content b'text', expected b'other'"]),
        ]
        for expected, problems in table:
            with self.subTest(expected=expected):
                self.assertEqual(e2e.check_files(prefix, drives, expected), problems)

    def test_copy_prefix_links_system_folders_and_drops_z(self):
        template = self.tmp / "template"
        for rel in ("drive_c/windows/system32/a.dll", "drive_c/windows/syswow64/b.dll",
                    "drive_c/windows/winsxs/m/c.manifest", "drive_c/windows/win.ini",
                    "system.reg"):
            (template / rel).parent.mkdir(parents=True, exist_ok=True)
            (template / rel).write_text(rel)
        (template / "dosdevices").mkdir()
        os.symlink("../drive_c", template / "dosdevices/c:")
        os.symlink("/", template / "dosdevices/z:")
        (template / e2e.TEMPLATE_MARK).write_text("wine-8.0")

        dest = self.tmp / "copy"
        e2e.copy_prefix(template, dest)

        def same_file(rel):
            return (template / rel).stat().st_ino == (dest / rel).stat().st_ino

        for rel in ("drive_c/windows/system32/a.dll", "drive_c/windows/syswow64/b.dll",
                    "drive_c/windows/winsxs/m/c.manifest"):
            with self.subTest(linked=rel):
                self.assertTrue(same_file(rel))
        for rel in ("system.reg", "drive_c/windows/win.ini"):
            with self.subTest(copied=rel):
                self.assertFalse(same_file(rel))
                self.assertEqual((dest / rel).read_text(), rel)
        self.assertEqual(os.readlink(dest / "dosdevices/c:"), "../drive_c")
        self.assertFalse(os.path.lexists(dest / "dosdevices/z:"))
        self.assertFalse((dest / e2e.TEMPLATE_MARK).exists())


class AccountTest(unittest.TestCase):
    def test_wine_never_runs_as_root(self):
        account = e2e.wine_account()
        self.assertNotEqual(account.uid, 0)
        if os.geteuid() == 0:
            self.assertEqual(account.process_options()["user"], account.uid)
        with self.assertRaisesRegex(e2e.CaseFailure, "root"):
            e2e.Account("root", 0, 0, "/root").process_options()


class ServerFolderTest(unittest.TestCase):
    # An account whose own Wine folder in /tmp does not exist.
    ACCOUNT = e2e.Account("nobody-here", 2**31 - 7, 2**31 - 7, "/nonexistent")

    def test_removes_only_the_prefix_own_socket_folder(self):
        wine_tmp = Path(tempfile.mkdtemp(prefix="e2e-selftest-wine-", dir="/tmp"))
        self.addCleanup(shutil.rmtree, wine_tmp, True)
        prefix = wine_tmp / "prefix"
        prefix.mkdir()
        (prefix / "wineserver").write_text(wine_tmp.name)
        info = prefix.stat()
        own = wine_tmp / f"server-{info.st_dev:x}-{info.st_ino:x}"
        other = wine_tmp / "server-1-2"
        for folder in (own, other):
            folder.mkdir()
            (folder / "lock").write_text("")
        e2e.remove_server_folder(prefix, self.ACCOUNT)
        self.assertFalse(own.exists())
        self.assertTrue(other.exists())

    def test_ignores_a_missing_or_odd_pointer(self):
        prefix = Path(tempfile.mkdtemp(prefix="e2e-selftest-"))
        self.addCleanup(shutil.rmtree, prefix, True)
        e2e.remove_server_folder(prefix, self.ACCOUNT)
        (prefix / "wineserver").write_text("../etc")
        e2e.remove_server_folder(prefix, self.ACCOUNT)
        self.assertTrue(prefix.exists())


def digest(data):
    return hashlib.sha256(data).hexdigest()


class DriveCheckTest(unittest.TestCase):
    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="e2e-selftest-"))
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def test_allowed_paths(self):
        patterns = ["d:/boot/bcd", "D:/NTLDR", "volume:d", "c:/kestrix/kestrix-1/",
                    "c:/kestrix/kestrix-report-*.txt"]
        table = [
            ("d:/boot/bcd", True),
            ("d:/boot", True),            # a folder on the way to an allowed file
            ("d:/boot/bcd/x", True),      # under it
            ("d:/boot/bcd.old", False),
            ("d:/bootx", False),
            ("d:/ntldr", True),
            ("d:/boot.ini", False),
            ("volume:d", True),
            ("volume:e", False),
            ("c:/kestrix/kestrix-1/d/boot/bcd", True),
            ("c:/kestrix", True),
            ("c:/kestrix/journal.txt", False),
            ("c:/kestrix/kestrix-report-20261208-041059.txt", True),
            ("c:/kestrix/kestrix-report-20261208-041059.log", False),
        ]
        for key, want in table:
            with self.subTest(key=key):
                self.assertEqual(e2e.allowed(key, patterns), want)

    def test_report_lines_in_order(self):
        report = [["== 本机 ==", "x", "== 卷 ==", "y"]]
        self.assertEqual(e2e.report_problems(["== 本机 ==", "y"], report), [])
        self.assertEqual(len(e2e.report_problems(["y", "== 本机 =="], report)), 1)
        self.assertEqual(len(e2e.report_problems(["z"], report)), 1)
        self.assertEqual(e2e.report_problems([], []),
                         ["0 kestrix-report-*.txt in the program's folder, expected one"])

    def test_unexpected_changes(self):
        before = {"d:/a": ("file", "1"), "d:/b": ("file", "2"), "d:/gone": ("file", "3"),
                  "d:/dir": ("dir",), "volume:d": ("file", "v")}
        after = {"d:/a": ("file", "1"), "d:/b": ("file", "X"), "d:/new": ("file", "4"),
                 "d:/dir": ("dir",), "d:/dir/made": ("dir",), "volume:d": ("file", "w")}
        problems = e2e.unexpected_changes(before, after, [])
        self.assertEqual([p.split(",")[0] for p in problems],
                         ["d:/b: changed", "d:/dir/made: created", "d:/gone: removed",
                          "d:/new: created", "volume:d: changed"])
        allowing = ["d:/b", "d:/dir/made", "d:/gone", "d:/new", "volume:d"]
        self.assertEqual(e2e.unexpected_changes(before, after, allowing), [])

    def test_snapshot_hashes_files_and_fingerprints_shared_ones(self):
        drive = self.tmp / "drive"
        (drive / "boot").mkdir(parents=True)
        (drive / "boot/bcd").write_bytes(b"store")
        template = self.tmp / "template.dll"
        template.write_bytes(b"system file")
        os.link(template, drive / "shared.dll")
        entries = e2e.snapshot_folder(drive, "d")
        self.assertEqual(entries["d:/boot"], ("dir",))
        self.assertEqual(entries["d:/boot/bcd"], ("file", digest(b"store")))
        self.assertEqual(entries["d:/shared.dll"][0], "linked")
        # A write through the shared file changes its times; a replacement its inode.
        os.utime(drive / "shared.dll", ns=(1, 1))
        self.assertNotEqual(e2e.snapshot_folder(drive, "d")["d:/shared.dll"],
                            entries["d:/shared.dll"])
        (drive / "shared.dll").unlink()
        (drive / "shared.dll").write_bytes(b"system file")
        self.assertEqual(e2e.snapshot_folder(drive, "d")["d:/shared.dll"][0], "file")
        (drive / "boot/bcd").write_bytes(b"other")
        self.assertEqual(e2e.snapshot_folder(drive, "d")["d:/boot/bcd"],
                         ("file", digest(b"other")))

    def test_backup_names(self):
        table = [("volume:d", "volume-d-first8k.bin"), ("d:/boot/bcd", "d/boot/bcd"),
                 ("D:/NTLDR", "d/NTLDR"), ("e:/boot.ini", "e/boot.ini")]
        for item, want in table:
            with self.subTest(item=item):
                self.assertEqual(e2e.backup_name(item), want)

    def test_find_backup_folder(self):
        table = [
            ([], None, "0 kestrix-* folders in c:/kestrix"),
            (["kestrix-20260102-030405"], "kestrix-20260102-030405", None),
            (["kestrix-20260102-030405-2"], "kestrix-20260102-030405-2", None),
            (["kestrix-20260102-030405", "kestrix-20260102-030406"], None, "2 kestrix-*"),
            (["kestrix-2026-01-02"], None, "backup folder 'kestrix-2026-01-02' is not named"),
        ]
        for names, want, problem in table:
            with self.subTest(names=names):
                parent = Path(tempfile.mkdtemp(dir=self.tmp))
                (parent / "kestrix.exe").write_bytes(b"")
                for name in names:
                    (parent / name).mkdir()
                folder, got = e2e.find_backup_folder(parent, "c:/kestrix")
                self.assertEqual(folder.name if folder else None, want)
                if problem is None:
                    self.assertIsNone(got)
                else:
                    self.assertTrue(got.startswith(problem), got)

    def test_backup_problems(self):
        volume = bytes(range(256)) * 40
        before = {"d:/boot/bcd": ("file", digest(b"old store")),
                  "d:/NTLDR": ("file", digest(b"old loader"))}
        starts = {"d": volume[:e2e.VOLUME_START]}
        items = ("volume:d", "d:/boot/bcd", "d:/ntldr")
        good = {"kestrix.log": b"\xef\xbb\xbf", "volume-d-first8k.bin": volume[:8192],
                "d/boot/bcd": b"old store", "d/ntldr": b"old loader"}
        table = [
            ("all there", {}, []),
            ("whole volume saved", {"volume-d-first8k.bin": volume},
             ["backup volume-d-first8k.bin: not the bytes of volume:d"]),
            ("new bytes", {"d/boot/bcd": b"new store"},
             ["backup d/boot/bcd: not the bytes of d:/boot/bcd"]),
            ("missing", {"d/ntldr": None}, ["backup folder lacks ['d/ntldr']"]),
            ("extra", {"d/boot.ini": b"x"},
             ["backup folder holds ['d/boot.ini'], which the case does not expect"]),
        ]
        for title, change, want in table:
            with self.subTest(title):
                folder = Path(tempfile.mkdtemp(dir=self.tmp))
                for name, data in {**good, **change}.items():
                    if data is not None:
                        (folder / name).parent.mkdir(parents=True, exist_ok=True)
                        (folder / name).write_bytes(data)
                problems = e2e.backup_problems(folder, items, before, starts)
                self.assertEqual(len(problems), len(want), problems)
                for problem, start in zip(problems, want):
                    self.assertTrue(problem.startswith(start), problem)
        folder = Path(tempfile.mkdtemp(dir=self.tmp))
        (folder / "e").mkdir()
        (folder / "e/x").write_bytes(b"")
        [problem] = e2e.backup_problems(folder, ("e:/x",), before, starts)
        self.assertIn("did not exist before", problem)

    def test_read_program_log(self):
        stamp = "2026-01-02 03:04:05.678  "
        good = ("\ufeff" + stamp + "记录：a\r\n" + stamp + "记录：\r\n").encode()
        table = [
            ("good", good, ["记录：a", "记录："], []),
            ("no mark", good[3:], ["记录：a", "记录："], ["does not start with the UTF-8"]),
            ("not UTF-8", b"\xef\xbb\xbf\xb6\xaa", [], ["is not UTF-8"]),
            ("no stamp", "\ufeffplain\r\n".encode(), [], ["line without a timestamp"]),
            ("short stamp", ("\ufeff2026-01-02 03:04:05  x\r\n").encode(), [],
             ["line without a timestamp"]),
            ("missing", None, [], ["kestrix.log is missing"]),
        ]
        for title, raw, entries, starts in table:
            with self.subTest(title):
                path = self.tmp / "kestrix.log"
                path.unlink(missing_ok=True)
                if raw is not None:
                    path.write_bytes(raw)
                got, problems = e2e.read_program_log(path)
                self.assertEqual(got, entries)
                self.assertEqual(len(problems), len(starts), problems)
                for problem, start in zip(problems, starts):
                    self.assertIn(start, problem)

    def test_program_log_problems(self):
        entries = ["开始修复 d:", "记录：a", "备份：x", "记录：", "记录：done", "程序结束，退出码 1"]
        table = [
            ("as shown", dict(progress=["a", "", "done"]), []),
            ("a line not logged", dict(progress=["a", "", "x", "done"]),
             ["progress lines in kestrix.log differs"]),
            ("logged beyond progress", dict(progress=["a"], logged=["a", "", "done"]), []),
            ("progress not a beginning", dict(progress=["", "done"], logged=["a", "", "done"]),
             ["progress as last read"]),
            ("notes in order", dict(progress=["a", "", "done"], notes=("开始修复 d:", "备份：x")), []),
            ("notes out of order", dict(progress=["a", "", "done"], notes=("备份：x", "开始修复 d:")),
             ["kestrix.log lacks '开始修复 d:'"]),
            ("other exit code", dict(progress=["a", "", "done"], exit_code=0),
             ["kestrix.log ends with '程序结束，退出码 1', expected '程序结束，退出码 0'"]),
        ]
        for title, args, starts in table:
            with self.subTest(title):
                problems = e2e.program_log_problems(
                    entries, args["progress"], args.get("logged"), args.get("notes", ()),
                    args.get("exit_code", 1))
                self.assertEqual(len(problems), len(starts), problems)
                for problem, start in zip(problems, starts):
                    self.assertTrue(problem.startswith(start), problem)

    def test_a_read_only_drive_that_cannot_be_made_fails_the_case(self):
        problem = e2e.set_immutable([self.tmp / "missing"], True)
        self.assertRegex(problem or "", r"^(chattr -R \+i|chmod -R a-w)")
        self.addCleanup(setattr, e2e, "set_immutable", e2e.set_immutable)
        e2e.set_immutable = lambda paths, on: "chattr +i failed (1): Operation not supported"
        case = cases.Case(name="t", read_only=("d",))
        ws = e2e.Workspace.__new__(e2e.Workspace)
        ws.case, ws.drives, ws.images, ws.immutable = case, {"d": self.tmp}, {}, []
        with self.assertRaisesRegex(e2e.CaseFailure, "cannot make d read-only: chattr"):
            ws.make_read_only()
        # Whatever was tried is undone by the cleanup.
        self.assertEqual(ws.immutable, [self.tmp])
        # A flag that does not stop root is no read-only drive either.
        e2e.set_immutable = lambda paths, on: None
        with self.assertRaisesRegex(e2e.CaseFailure, "still writable"):
            ws.make_read_only()


def case_with(**changes):
    base = cases.Case(name="t", log=["a"], journal=["bootsect.exe /nt60 d:"],
                      boxes=[cases.Box("q", ("yes", "no"), "exclamation")], exit_code=0)
    return dataclasses.replace(base, **changes)


def outcome_with(**changes):
    base = e2e.Outcome(log=["a"], journal=["bootsect.exe /nt60 d:"],
                       boxes=[cases.Box("q", ("no", "yes"), "exclamation")], exit_code=0)
    return dataclasses.replace(base, **changes)


class CompareTest(unittest.TestCase):
    def test_compare(self):
        table = [
            ("all equal", case_with(), outcome_with(), []),
            ("log", case_with(), outcome_with(log=["b"]), ["log (progress) differs:"]),
            ("empty log line counts", case_with(log=["a", ""]), outcome_with(),
             ["log (progress) differs:"]),
            ("unchecked log", case_with(log=None), outcome_with(log=["b"]), []),
            ("journal", case_with(), outcome_with(journal=[]), ["journal differs:"]),
            ("trailing space", case_with(), outcome_with(journal=["bootsect.exe /nt60 d: "]),
             ["journal differs:"]),
            ("box text", case_with(), outcome_with(boxes=[cases.Box("r", ("yes", "no"))]),
             ["message boxes differs:"]),
            ("box missing", case_with(), outcome_with(boxes=[]), ["message boxes differs:"]),
            ("box buttons", case_with(), outcome_with(boxes=[cases.Box("q", ("ok",))]),
             ["message boxes differs:"]),
            ("icon", case_with(),
             outcome_with(boxes=[cases.Box("q", ("yes", "no"), "none")]),
             ["message box 'q': icon 'none', expected 'exclamation'"]),
            ("icon unchecked", case_with(boxes=[cases.Box("q", ("yes", "no"))]),
             outcome_with(boxes=[cases.Box("q", ("yes", "no"), "hand")]), []),
            ("exit code", case_with(), outcome_with(exit_code=1), ["exit code 1, expected 0"]),
            ("still running", case_with(), outcome_with(exit_code=None),
             ["the program did not end"]),
            ("any exit code", case_with(exit_code=None), outcome_with(exit_code=3), []),
            ("must end even with any exit code", case_with(exit_code=None),
             outcome_with(exit_code=None), ["the program did not end"]),
            ("negative exit code wraps", case_with(exit_code=-2), outcome_with(exit_code=254),
             []),
            ("files", case_with(), outcome_with(file_problems=["d:/x: missing"]),
             ["file d:/x: missing"]),
        ]
        for title, case, outcome, starts in table:
            with self.subTest(title):
                problems = e2e.compare(case, outcome)
                self.assertEqual(len(problems), len(starts), problems)
                for problem, start in zip(problems, starts):
                    self.assertTrue(problem.startswith(start), problem)

    def test_tool_case_exit_codes(self):
        case = cases.Case(name="t", runs=(cases.Run("a.exe", "", 0), cases.Run("b.exe", "", -2)))
        self.assertEqual(e2e.compare(case, e2e.Outcome(run_exit_codes=[0, 254])), [])
        [problem] = e2e.compare(case, e2e.Outcome(run_exit_codes=[0, 2]))
        self.assertTrue(problem.startswith("tool exit codes differs:"), problem)

    def test_diff_shows_invisible_differences(self):
        [text] = e2e.diff_lines("journal", ["x d:"], ["x d: "])
        self.assertIn("\n    -'x d:'\n", text)
        self.assertTrue(text.endswith("\n    +'x d: '"), text)
        self.assertEqual(e2e.diff_lines("journal", ["a"], ["a"]), [])

    def test_only_an_unexpected_wine_start_failure_is_run_again(self):
        failed = "出错了！无法运行分区列表工具 dsptw.exe：错误 1359：内部错误。"
        table = [
            ("in a box", case_with(), outcome_with(boxes=[cases.Box(failed, ("ok",))]), True),
            ("in the log", case_with(), outcome_with(log=["  " + failed]), True),
            ("in the program's own log", case_with(),
             outcome_with(program_logs={"r/kestrix.log": "命令：bcdedit.exe → 无法启动（"
                                                         "错误 1359：内部错误。）"}), True),
            ("expected by the case", case_with(boxes=[cases.Box(failed, ("ok",))]),
             outcome_with(boxes=[cases.Box(failed, ("ok",))]), False),
            ("another error", case_with(),
             outcome_with(boxes=[cases.Box("错误 2：系统找不到指定的文件。", ("ok",))]), False),
        ]
        for title, case, outcome, want in table:
            with self.subTest(title):
                self.assertEqual(e2e.wine_failed_to_start_a_tool(case, outcome), want)

    def test_a_program_that_ended_unseen_is_run_again(self):
        unseen = dict(log=[], boxes=[], exit_code=1)
        table = [
            ("nothing seen", case_with(), outcome_with(**unseen), True),
            ("it wrote its log", case_with(),
             outcome_with(**unseen, program_logs={"r/kestrix.log": "开始修复 d:"}), False),
            ("it showed a line", case_with(), outcome_with(**{**unseen, "log": ["a"]}), False),
            ("the case expects no line", case_with(log=[]), outcome_with(**unseen), False),
            ("it ended with 0", case_with(), outcome_with(**{**unseen, "exit_code": 0}), False),
        ]
        for title, case, outcome, want in table:
            with self.subTest(title):
                self.assertEqual(e2e.wine_failed_to_start_the_program(case, outcome), want)

    def test_unix_exit_code(self):
        for code, want in [(0, 0), (1, 1), (255, 255), (256, 0), (-1, 255), (0xC0000005, 5)]:
            with self.subTest(code=code):
                self.assertEqual(e2e.unix_exit_code(code), want)


class LayoutTest(unittest.TestCase):
    READING = {"screen.dpi": "96", "start.client": "251,167", "start.bootonly.rect": "28,42,227,29",
               "start.topmost": "0", "start.title": "K 制作", "start.centred": "0",
               "start.offcentre": "3,0 3,0", "start.title.font": "message|song-9",
               "start.title.font.mismatch": "0", "start.title.font.next": "80"}
    LISTS = {"partition.entry": ["c:", "d: [X]"]}

    def test_layout_problems(self):
        table = [
            ({"start.client": (3765, 2505)}, []),
            # One pixel either way is rounding.
            ({"start.client": (3765, 2520)}, []),
            ({"start.client": (3765, 2535)},
             ["start.client: 251,167 px, expected 251,169 px ((3765, 2535) twips at 96 dpi)"]),
            ({"start.bootonly.rect": (420, 630, 3405, None)}, []),
            ({"start.bootonly.rect": (420, 630, 3405, 9999)}, ["start.bootonly.rect: 28,42,227,29 px"]),
            ({"start.bootonly.rect": (420, 630, 3405)}, ["start.bootonly.rect: 28,42,227,29 px"]),
            ({"start.topmost": False, "screen.dpi": 96, "start.title": "K 制作"}, []),
            ({"start.topmost": True}, ["start.topmost: 0, expected 1"]),
            ({"start.title": "K"}, ["start.title: 'K 制作', expected 'K'"]),
            ({"start.centred": True}, ["start.centred: 0, expected 1 (centre off by 3,0 3,0)"]),
            # Fonts that draw the text alike cannot be told apart: either name is right.
            ({"start.title.font": "song-9"}, []),
            ({"start.title.font": "message"}, []),
            ({"start.title.font": "song-9-bold"},
             ["start.title.font: message|song-9, expected song-9-bold (mismatch 0%, next 80%)"]),
            ({"partition.entry": ["c:", "d: [X]"]}, []),
            ({"partition.entry": ["c:"]}, ["partition.entry: ['c:', 'd: [X]'], expected ['c:']"]),
            ({"progress.line": []}, []),
            ({"repair.frame": (1, 2, 3, 4)}, ["repair.frame: not read"]),
        ]
        for expected, starts in table:
            with self.subTest(expected=expected):
                problems = e2e.layout_problems(expected, self.READING, self.LISTS)
                self.assertEqual(len(problems), len(starts), problems)
                for problem, start in zip(problems, starts):
                    self.assertTrue(problem.startswith(start), problem)

    def test_twips_follow_the_screen_dpi(self):
        reading = dict(self.READING, **{"screen.dpi": "144", "start.client": "377,251"})
        self.assertEqual(e2e.layout_problems({"start.client": (3765, 2505)}, reading, {}), [])
        without = {k: v for k, v in reading.items() if k != "screen.dpi"}
        self.assertEqual(len(e2e.layout_problems({"start.client": (3765, 2505)}, without, {})), 1)

    def test_centred_on_the_work_area_or_the_screen(self):
        screen = {"screen.size": "1280,1024"}
        table = [
            ({"start.frame": "511,416,257,192", "start.work": "0,0,1280,1024"}, "1"),
            ({"start.frame": "511,416,257,192"}, "1"),
            ({"start.frame": "513,416,257,192", "start.work": "0,0,1280,1024"}, "0"),
            ({"start.frame": "511,414,257,192", "start.work": "0,0,1280,1024"}, "0"),
            # A panel at the top: centred on what is left, or on the whole screen.
            ({"start.frame": "511,431,257,192", "start.work": "0,30,1280,994"}, "1"),
            ({"start.frame": "511,416,257,192", "start.work": "0,30,1280,994"}, "1"),
            ({"start.frame": "511,424,257,192", "start.work": "0,30,1280,994"}, "0"),
        ]
        for values, centred in table:
            with self.subTest(values=values):
                derived = e2e.derived_layout(dict(screen, **values))
                self.assertEqual(derived["start.centred"], centred, derived)
        self.assertNotIn("repair.centred", e2e.derived_layout(screen))

    def test_newest_log_line_in_view(self):
        table = [
            # top, count, rows -> last line in view, scrolled
            ((0, 0, 9), "1", "0"),
            ((0, 3, 9), "1", "0"),
            ((0, 9, 9), "1", "0"),
            ((0, 10, 9), "0", "0"),
            ((1, 10, 9), "1", "1"),
            ((3, 12, 9), "1", "1"),
            ((2, 12, 9), "0", "1"),
            ((12, 12, 9), "0", "1"),
        ]
        for (top, count, rows), in_view, scrolled in table:
            with self.subTest(top=top, count=count, rows=rows):
                derived = e2e.derived_layout(
                    {"repair.progress.top": str(top), "repair.progress.count": str(count), "repair.progress.rows": str(rows)})
                self.assertEqual((derived["repair.progress.last_in_view"], derived["repair.progress.scrolled"]),
                                 (in_view, scrolled))
        self.assertNotIn("repair.progress.last_in_view", e2e.derived_layout({"repair.progress.top": "0"}))


class FakeProcess:
    def __init__(self):
        self.returncode = None

    def poll(self):
        return self.returncode


class FakeWorkspace:
    """Answers kprobe calls from a script: each "state" call takes the next reading (the
    last one repeats); "EXIT" ends the program with code 0. "layout" calls take theirs from
    layouts the same way."""

    def __init__(self, readings, layouts=("",)):
        self.readings = list(readings)
        self.layouts = list(layouts)
        self.launched = FakeProcess()
        self.calls = []
        self.display = ":0"
        self.journal_path = Path("/nonexistent/journal.txt")

    def probe(self, *args):
        self.calls.append(args)
        if args[0] == "layout":
            return 0, self.layouts.pop(0) if len(self.layouts) > 1 else self.layouts[0], ""
        if args[0] != "state":
            return 0, "", ""
        reading = self.readings.pop(0) if len(self.readings) > 1 else self.readings[0]
        if reading == "EXIT":
            self.launched.returncode = 0
            return 0, "running=0\n", ""
        return 0, reading, ""


RUNNING = "running=1\nstart.visible=0\nrepair.visible=1\n"
BOX = RUNNING + "msgbox=q\nmsgbox.hwnd=7\nmsgbox.buttons=6,7,2\nmsgbox.icon=none\n"
DONE_LOG = RUNNING + "progress.line=x\nprogress.line=\nprogress.line=done\n"


class DriverTest(unittest.TestCase):
    def setUp(self):
        self.poll = e2e.POLL_SECONDS
        e2e.POLL_SECONDS = 0
        self.addCleanup(setattr, e2e, "POLL_SECONDS", self.poll)

    def drive(self, readings, steps, exit_code=0, timeout=5.0, layouts=("",), **options):
        ws = FakeWorkspace(readings, layouts)
        case = cases.Case(name="t", steps=tuple(steps), exit_code=exit_code)
        driver = e2e.Driver(ws, case, e2e.Options(timeout=timeout, **options))
        return ws, driver

    def test_wait_log_then_close_and_exit(self):
        ws, driver = self.drive([RUNNING, DONE_LOG, DONE_LOG, "EXIT"],
                                [cases.wait_log("done"), cases.close("repair"), cases.wait_exit()])
        driver.run()
        self.assertEqual(driver.exit_code, 0)
        self.assertEqual(driver.last_running.log, ["x", "", "done"])
        self.assertIn(("close", "repair"), ws.calls)

    def test_wait_log_fails_fast_on_an_unexpected_box(self):
        _, driver = self.drive([RUNNING, BOX], [cases.wait_log("done")], timeout=30)
        with self.assertRaisesRegex(e2e.CaseFailure, "message box is open"):
            driver.run()

    def test_wait_log_fails_when_the_program_ends(self):
        _, driver = self.drive([RUNNING, "EXIT"], [cases.wait_log("done")])
        with self.assertRaisesRegex(e2e.CaseFailure, "the program ended"):
            driver.run()

    def test_wait_msgbox_needs_two_sightings_of_the_same_box(self):
        ws, driver = self.drive([RUNNING, BOX, RUNNING, BOX, BOX, RUNNING],
                                [cases.wait_msgbox()], exit_code=None)
        driver.run()
        self.assertEqual(len(ws.calls), 5)

    def test_answer_waits_for_the_box_to_close(self):
        ws, driver = self.drive([BOX, BOX, BOX, DONE_LOG],
                                [cases.answer("yes"), cases.wait_log("done")], exit_code=None)
        driver.run()
        self.assertEqual(ws.calls[0], ("answer", "yes"))
        self.assertEqual([b.text for b in driver.boxes()], ["q"])
        self.assertEqual(driver.boxes()[0].buttons, ("yes", "no", "cancel"))

    def test_an_answer_that_opens_the_next_box_is_done(self):
        second = RUNNING + "msgbox=r\nmsgbox.hwnd=8\nmsgbox.buttons=1\n"
        ws, driver = self.drive([BOX, BOX, BOX, second, second, second, RUNNING],
                                [cases.wait_msgbox(), cases.answer("yes"), cases.wait_msgbox(),
                                 cases.answer("ok")], exit_code=None, timeout=2)
        driver.run()
        self.assertEqual(ws.readings, [RUNNING])
        self.assertEqual([b.text for b in driver.boxes()], ["q", "r"])

    def test_box_icon_reading_is_upgraded_once_painted(self):
        painted = BOX.replace("msgbox.icon=none", "msgbox.icon=exclamation")
        _, driver = self.drive([BOX, painted, painted], [cases.wait_msgbox()], exit_code=None)
        driver.run()
        self.assertEqual(driver.boxes()[0].icon, "exclamation")

    def test_wait_state_reports_what_differs(self):
        _, driver = self.drive([RUNNING], [cases.wait_state(start_visible=True)], timeout=0.2)
        with self.assertRaisesRegex(e2e.CaseFailure, r"found    \{'start.visible': '0'\}"):
            driver.run()

    def test_busy_readings_are_not_taken_as_the_log(self):
        busy = RUNNING + "progress.line=partial\nbusy=1\n"
        _, driver = self.drive([busy, DONE_LOG], [cases.wait_log("done")], exit_code=None)
        driver.run()
        self.assertEqual(driver.last_running.log, ["x", "", "done"])

    def test_settle_fails_when_the_program_ended(self):
        _, driver = self.drive([RUNNING, "EXIT"], [cases.settle(0)], exit_code=None)
        driver.poll()
        driver.poll()
        with self.assertRaisesRegex(e2e.CaseFailure, "should still be running"):
            driver.run()

    def test_an_expected_exit_is_awaited_after_the_steps(self):
        _, driver = self.drive([RUNNING, "EXIT"], [], exit_code=0)
        driver.run()
        self.assertEqual(driver.exit_code, 0)

    def test_layout_waits_for_a_complete_reading(self):
        complete = "screen.dpi=96\nstart.client=251,167\n"
        ws, driver = self.drive([RUNNING], [cases.Step("layout", {"start.client": (3765, 2505)})],
                                exit_code=None, layouts=["busy=1\n", complete])
        driver.run()
        self.assertEqual(ws.calls.count(("layout",)), 2)

    def test_layout_reports_every_difference_once_settled(self):
        self.addCleanup(setattr, e2e, "LAYOUT_SETTLE_SECONDS", e2e.LAYOUT_SETTLE_SECONDS)
        e2e.LAYOUT_SETTLE_SECONDS = 0.05
        step = cases.Step("layout", {"start.client": (3765, 2505), "start.topmost": False,
                                     "repair.visible": True})
        _, driver = self.drive([RUNNING], [step], exit_code=None,
                               layouts=["screen.dpi=96\nstart.client=250,160\nstart.topmost=1\n"])
        with self.assertRaises(e2e.CaseFailure) as caught:
            driver.run()
        text = str(caught.exception)
        self.assertIn("start.client: 250,160 px", text)
        self.assertIn("start.topmost: 1, expected 0", text)
        self.assertNotIn("repair.visible", text)

    def test_timed_exit(self):
        _, driver = self.drive([RUNNING, "EXIT"], [cases.Step("wait_exit", (0, 5))])
        driver.run()
        _, driver = self.drive([RUNNING, "EXIT"], [cases.Step("wait_exit", (1.5, 5))])
        with self.assertRaisesRegex(e2e.CaseFailure, r"ended 0\.\d\d s after the previous "
                                    r"step, expected between 1\.5 and 5 s"):
            driver.run()

    def test_unknown_step_kind_is_refused(self):
        _, driver = self.drive([RUNNING], [cases.Step("wait_forever")], exit_code=None)
        with self.assertRaisesRegex(e2e.CaseFailure, "unknown step kind 'wait_forever'"):
            driver.run()

    def test_named_snap_saves_the_shown_window(self):
        shots = []
        self.addCleanup(setattr, e2e, "capture_screen", e2e.capture_screen)
        e2e.capture_screen = lambda display, path, crop=None: shots.append((path, crop))
        frames = "screen.dpi=96\nstart.frame=1,2,3,4\nrepair.frame=486,427,307,170\n"
        folder = Path("/nowhere/artifacts")
        _, driver = self.drive([RUNNING], [cases.snap(), cases.Step("snap", "selection")],
                               exit_code=None, layouts=[frames], artifacts=folder, arch="x86")
        with contextlib.redirect_stdout(io.StringIO()):
            driver.run()
        self.assertEqual(shots, [(folder / "x86-t-selection.png", [486, 427, 307, 170])])
        # No folder for them: nothing is saved.
        shots.clear()
        _, driver = self.drive([RUNNING], [cases.Step("snap", "selection")], exit_code=None,
                               layouts=[frames])
        driver.run()
        self.assertEqual(shots, [])

    def test_settext_names_control_and_text(self):
        ws, driver = self.drive([RUNNING], [cases.settext("partition", "d:")], exit_code=None)
        driver.run()
        self.assertEqual(ws.calls, [("settext", "partition", "d:")])

    def test_wait_journal(self):
        folder = Path(tempfile.mkdtemp(prefix="e2e-selftest-"))
        self.addCleanup(shutil.rmtree, folder, True)
        ws, driver = self.drive([RUNNING], [cases.wait_journal("bcdboot.exe x")],
                                exit_code=None, timeout=0.2)
        ws.journal_path = folder / "journal.txt"
        with self.assertRaisesRegex(e2e.CaseFailure, "timed out waiting for 'bcdboot.exe x'"):
            driver.run()
        ws.journal_path.write_bytes(b"bootsect.exe y\r\nbcdboot.exe x\r\n")
        ws, driver = self.drive([RUNNING], [cases.wait_journal("bcdboot.exe x")],
                                exit_code=None)
        ws.journal_path = folder / "journal.txt"
        driver.run()
        _, driver = self.drive([RUNNING], [cases.wait_journal("never")], exit_code=None)
        driver.ws.launched.returncode = 1
        with self.assertRaisesRegex(e2e.CaseFailure, "ended .* before 'never' was run"):
            driver.run()

    def test_a_program_that_never_ends_times_out(self):
        _, driver = self.drive([RUNNING], [cases.wait_exit()], timeout=0.2)
        with self.assertRaisesRegex(e2e.CaseFailure, "timed out waiting for the program to end"):
            driver.run()


class CaseTableTest(unittest.TestCase):
    def test_names_are_unique_and_fit_a_test_name(self):
        names = [c.name for c in cases.CASES]
        self.assertEqual(len(names), len(set(names)))
        for name in names:
            with self.subTest(name=name):
                self.assertRegex(name, r"^[a-z0-9_]+$")

    def test_every_step_kind_is_known_and_handled(self):
        self.assertLessEqual(cases.STEP_KINDS, e2e.STEP_KINDS)
        for kind in e2e.STEP_KINDS:
            with self.subTest(kind=kind):
                self.assertTrue(callable(getattr(e2e.Driver, "step_" + kind, None)))
        for case in cases.CASES:
            for step in case.steps:
                with self.subTest(case=case.name, step=step):
                    self.assertIn(step.kind, e2e.STEP_KINDS)

    def test_layout_and_timed_exit_arguments_are_well_formed(self):
        # The font names kprobe can report, read from its own table.
        probe = (Path(__file__).resolve().parents[1] / "tools" / "probe.cpp").read_text()
        fonts = set(re.findall(r'\{L"([a-z0-9.-]+)", \d+, FW_', probe))
        self.assertIn("song-12-bold", fonts)
        sizes = {".rect": 4, ".field": 4, ".client": 2}
        for case in cases.CASES:
            for step in case.steps:
                if step.kind == "wait_exit" and step.arg is not None:
                    with self.subTest(case=case.name, step=step):
                        least, most = step.arg
                        self.assertLess(least, most)
                if step.kind != "layout":
                    continue
                for key, want in step.arg.items():
                    with self.subTest(case=case.name, key=key):
                        if isinstance(want, tuple):
                            suffix = "." + key.rsplit(".", 1)[1]
                            self.assertEqual(len(want), sizes.get(suffix), "twips")
                        elif isinstance(want, list):
                            self.assertIn(key, e2e.LIST_KEYS)
                        elif key.endswith(".font"):
                            self.assertIn(want, fonts)

    def test_step_arguments_are_ones_kprobe_takes(self):
        allowed = {"answer": {"ok", "yes", "no", "cancel"}, "press": {"startbutton", "confirm"},
                   "close": {"start", "repair"}, "click": {"keepopen"}}
        for case in cases.CASES:
            for step in case.steps:
                if step.kind in allowed:
                    with self.subTest(case=case.name, step=step):
                        self.assertIn(step.arg, allowed[step.kind])
                if step.kind == "settext":
                    with self.subTest(case=case.name, step=step):
                        self.assertEqual(step.arg[0], "partition")

    def test_drive_checks_are_well_formed(self):
        """Names in changes, backups and read_only must be ones the runner can find, or the
        check they feed would pass for nothing."""
        for case in cases.CASES:
            with self.subTest(case=case.name):
                letters = set(e2e.drive_letters(case)) | {"c"}
                self.assertLessEqual(set(case.arches), set(e2e.ARCHES))
                self.assertIn(case.tools_in, e2e.TOOL_FOLDERS)
                self.assertLessEqual(set(case.missing_tools), set(e2e.TOOLS) - {"kprobe.exe"})
                for item in (*(case.changes or ()), *(case.backups or ())):
                    if item.startswith("volume:"):
                        self.assertIn(item[len("volume:"):], letters, item)
                    else:
                        self.assertIn(e2e.split_drive_path(item)[0], letters, item)
                for entry in case.read_only:
                    letter = e2e.split_drive_path(entry)[0] if ":" in entry else entry
                    self.assertIn(letter, letters, entry)
                if case.backups is not None:
                    self.assertIsNotNone(case.exit_code)
                    self.assertIn(e2e.split_drive_path(case.backup_in)[0], letters)
                for letter in case.volumes_after:
                    self.assertIn(letter, e2e.volume_images(case))

    def test_the_stand_in_boot_record_keeps_the_bpb(self):
        for generation in ("NT52", "NT60"):
            record = cases.standin_boot_record(generation)
            with self.subTest(generation=generation):
                self.assertEqual(len(record), 512)
                self.assertEqual(record[:0x54], cases.STANDARD_VOLUME[:0x54])
                self.assertEqual(record[0x54:0x54 + 20], f"KESTRIX-STANDIN-{generation}".encode())
                self.assertEqual(record[-2:], b"\x55\xaa")

    def test_app_cases_end_the_program(self):
        for case in cases.CASES:
            if case.kind != "app":
                continue
            with self.subTest(case=case.name):
                self.assertTrue(case.steps)
                self.assertEqual(case.steps[-1].kind, "wait_exit")

    def test_tool_cases_drive_no_windows(self):
        for case in cases.CASES:
            if case.kind == "tool":
                with self.subTest(case=case.name):
                    self.assertEqual(case.steps, ())
                    self.assertEqual(case.tail, "")

    def test_journal_lines_name_a_stand_in(self):
        tools = ("bootsect.exe", "bcdboot.exe", "bcdedit.exe", "dsptw", "diskpart.exe")
        for case in cases.CASES:
            for line in case.journal or []:
                with self.subTest(case=case.name, line=line):
                    self.assertTrue(line.split(" ")[0] in tools, line)

    def test_question_lines_are_joined_by_cr_alone(self):
        self.assertNotIn("\n", cases.QUESTION)
        self.assertEqual(cases.QUESTION.count("\r"), 2)

    def test_list_prints_every_case(self):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            self.assertEqual(e2e.main(["--list"]), 0)
        self.assertEqual(out.getvalue().split(), [c.name for c in cases.CASES])

    def test_list_for_one_architecture(self):
        for arch in e2e.ARCHES:
            out = io.StringIO()
            with contextlib.redirect_stdout(out):
                self.assertEqual(e2e.main(["--list", "--arch", arch]), 0)
            with self.subTest(arch=arch):
                self.assertEqual(out.getvalue().split(),
                                 [c.name for c in cases.CASES if arch in c.arches])
        self.assertTrue(any(c.arches == ("x86",) for c in cases.CASES))

    def test_a_case_for_the_other_architecture_is_refused(self):
        x86_only = next(c for c in cases.CASES if c.arches == ("x86",))
        err = io.StringIO()
        with contextlib.redirect_stderr(err), self.assertRaises(SystemExit):
            e2e.main(["--case", x86_only.name, "--arch", "x64", "--template", "/nonexistent"])
        self.assertIn("runs on x86 only", err.getvalue())


if __name__ == "__main__":
    unittest.main()
