#!/usr/bin/env python3
"""Runs the firmware cases (firmware_cases.py): boots each case's EFI file under OVMF with its
db and dbx and checks what the firmware did; given a Windows build, also asks the program for its
verdict on the same file and the same db and dbx (read back out of the store the firmware booted
with), through kprobe verdict under Wine, and checks that the two agree.

  firmware.py --list
  firmware.py --case shim_altered [--case ...] | --all
  firmware.py --all --build-dir build/win64 [--template DIR]     (the program's verdicts too)
"""

import argparse
import sys
import time
from pathlib import Path

sys.dont_write_bytecode = True
HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "e2e"))
import e2e  # noqa: E402
import firmware_cases  # noqa: E402
from cases import Case, Run  # noqa: E402
from firmware_boot import BootError, boot, store_with  # noqa: E402
from verdict_cases import verdict_inputs  # noqa: E402
from ovmf_vars import read_variable  # noqa: E402

# The program's verdict that each of the firmware's matches.
AGREES = {"started": "allowed", "refused": "refused"}


class ProbeError(RuntimeError):
    pass


def program_verdict(efi, db, dbx, options):
    """{"verdict": …, "reason": …} as kprobe verdict prints them for these inputs, under Wine as
    the end-to-end cases run it."""
    files, arguments = verdict_inputs(efi, db, dbx)
    # A tool case: kprobe is all it runs.
    case = Case(name="firmware-verdict", files=files,
                runs=(Run("kprobe.exe", "verdict " + " ".join(arguments)),))
    try:
        with e2e.Display(options.own_display) as display:
            workspace = e2e.Workspace(case, options, display.name)
            try:
                workspace.prepare()
                code, out, err = workspace.probe("verdict", *arguments)
            finally:
                workspace.cleanup()
    except e2e.CaseFailure as failure:
        raise ProbeError(f"kprobe verdict under Wine: {failure}") from None
    if code != 0:
        raise ProbeError(f"kprobe verdict {' '.join(arguments)} failed ({code}): "
                         f"{(err or out).strip()}")
    return dict(line.strip().split("=", 1) for line in out.splitlines() if "=" in line)


def run(case, options):
    """Problems of one case (empty when it passed), and what it saw."""
    efi, db, dbx = case.make()
    store = store_with(db, dbx)
    result = boot(efi, store)
    seen = [f"firmware {result.verdict} after {result.seconds:.1f} s: {result.line}"]
    problems = []
    if result.verdict != case.firmware:
        problems.append(f"the firmware {result.verdict} the file; the case expects "
                        f"{case.firmware}")
    if options is None:
        return problems, seen
    try:
        program = program_verdict(efi, read_variable(store, "db"), read_variable(store, "dbx"),
                                  options)
    except ProbeError as error:
        return problems + [str(error)], seen
    seen.append(f"program verdict={program.get('verdict')} reason={program.get('reason')}")
    if program.get("verdict") != AGREES[result.verdict]:
        problems.append(f"the firmware {result.verdict} the file, the program's verdict is "
                        f"{program.get('verdict')} ({program.get('reason')})")
    return problems, seen


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true", help="print the case names and stop")
    parser.add_argument("--case", action="append", default=[], help="case to run (repeatable)")
    parser.add_argument("--all", action="store_true", help="run every case")
    parser.add_argument("--build-dir", help="x64 Windows build whose kprobe.exe gives the "
                        "program's verdicts to compare")
    parser.add_argument("--template", help="Wine prefix template (as e2e.py's)")
    parser.add_argument("--own-display", action="store_true",
                        help="start a private Xvfb for Wine even when DISPLAY is set")
    args = parser.parse_args(argv)
    if args.list:
        print("\n".join(case.name for case in firmware_cases.CASES))
        return 0
    try:
        selected = (firmware_cases.CASES if args.all
                    else [firmware_cases.find(name) for name in args.case])
    except KeyError as unknown:
        parser.error(f"unknown case {unknown}")
    if not selected:
        parser.error("give --case NAME, --all or --list")
    options = None
    if args.build_dir:
        options = e2e.resolve_options(argparse.Namespace(
            arch="x64", timeout=60.0, keep=False, screenshot=None, window_only=False, artifacts=None,
            own_display=args.own_display, verbose=False, print_log=False,
            build_dir=args.build_dir, kestrix=None, tools_dir=None, template=args.template))
        kprobe = options.tools_dir / "kprobe.exe"
        if not kprobe.is_file():
            parser.error(f"{kprobe} is missing; build the x64 Windows tree first")
        e2e.ensure_template(options.template)
    failed = 0
    for case in selected:
        started = time.monotonic()
        try:
            problems, seen = run(case, options)
        except (BootError, OSError) as error:
            problems, seen = [str(error)], []
        took = time.monotonic() - started
        print(f"{'FAIL' if problems else 'PASS'} {case.name} ({took:.1f} s)")
        for line in seen + problems:
            print("    " + line)
        failed += bool(problems)
    if len(selected) > 1:
        print(f"{len(selected) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
