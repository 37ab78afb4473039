#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Injects the faults of tests/mutants.txt one at a time and tells which the suite did not notice.

    tests/mutants.py                 every fault (from the project's root or anywhere in it)
    tests/mutants.py -k journal      only the faults whose name or file contains "journal"
    tests/mutants.py --count         how many faults, by section and by folder; injects nothing
    tests/mutants.py --stale         the faults whose lines no longer stand in their file
    tests/mutants.py --windows       the faults of tests/windows/mutants.txt, in the code that only
                                     the Windows program builds: cross-built by scripts/windows.sh
                                     into build-mut-win/, checked by tests/windows/run.sh under Wine

It builds in build-mut/ (RelWithDebInfo, the tests on) and runs ctest there, stopping at the first
failure. A fault that does not build counts apart. The file is put back after each fault, also on
Ctrl+C or SIGTERM, and its time stamp is moved on so that the next build sees it changed.

The list: "# " lines outside a fault begin a section; each fault is "## name", the file's path
from the root, then "<<<", the exact lines as they stand (once in the file), "===", the faulty
lines, ">>>". Exit status: 0 when every fault was caught, 1 otherwise, 2 on a broken list or build.
"""
import argparse
import collections
import os
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIST = os.path.join(ROOT, "tests", "mutants.txt")
BUILD = os.path.join(ROOT, "build-mut")
WINDOWS_LIST = os.path.join(ROOT, "tests", "windows", "mutants.txt")
WINDOWS_BUILD = os.path.join(ROOT, "build-mut-win")


def load(path):
    faults, fault, part = [], None, None
    for number, line in enumerate(open(path, encoding="utf-8").read().split("\n"), 1):
        if line.startswith("## "):
            fault = {"name": line[3:].strip(), "line": number, "old": [], "new": []}
            faults.append(fault)
            part = "file"
        elif fault is not None and part == "file":
            fault["file"] = line.strip()
            part = None
        elif fault is not None and line in ("<<<", "===", ">>>"):
            part = {"<<<": "old", "===": "new", ">>>": None}[line]
        elif part in ("old", "new"):
            fault[part].append(line)
    for f in faults:
        if "file" not in f or not f["old"]:
            sys.exit("%s:%d: fault \"%s\" has no file or no lines" % (path, f["line"], f["name"]))
        f["old"], f["new"] = "\n".join(f["old"]), "\n".join(f["new"])
    return faults


# A section is named by the first line of its heading, a run of "# " lines between faults.
def assign_sections(path, faults):
    heading, previous_comment, by_line, inside = "", False, {}, False
    for number, line in enumerate(open(path, encoding="utf-8").read().split("\n"), 1):
        inside = line != ">>>" and (inside or line == "<<<")
        is_comment = line.startswith("# ") and not inside
        if is_comment and not previous_comment:
            heading = line[2:].strip()
        previous_comment = is_comment
        by_line[number] = heading
    for f in faults:
        f["section"] = by_line[f["line"]]


def stands(fault):
    try:
        text = open(os.path.join(ROOT, fault["file"]), encoding="utf-8").read()
    except OSError:
        return False
    return text.count(fault["old"]) == 1


def run(command, timeout):
    try:
        return subprocess.run(command, cwd=ROOT, capture_output=True, text=True, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return 124


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("-k", dest="match", help="only faults whose name or file contains this")
    parser.add_argument("--count", action="store_true")
    parser.add_argument("--stale", action="store_true")
    parser.add_argument("--list")
    parser.add_argument("--windows", action="store_true")
    args = parser.parse_args()
    args.list = args.list or (WINDOWS_LIST if args.windows else LIST)
    faults = load(args.list)
    assign_sections(args.list, faults)
    if args.match:
        faults = [f for f in faults if args.match.lower() in (f["name"] + " " + f["file"]).lower()]

    if args.count:
        by_section = collections.Counter(f["section"] for f in faults)
        by_folder = collections.Counter(os.path.dirname(f["file"]) for f in faults)
        for name, n in by_section.items():
            print("%4d  %s" % (n, name))
        print()
        for folder in sorted(by_folder):
            print("%4d  %s" % (by_folder[folder], folder))
        print("%4d  in all" % len(faults))
        return 0
    stale = [f for f in faults if not stands(f)]
    if args.stale or stale:
        for f in stale:
            print("stale  %s:%d  %s (%s)" % (os.path.relpath(args.list), f["line"], f["name"], f["file"]))
        return 2 if stale else 0

    jobs = str(os.cpu_count() or 2)
    build = ["cmake", "--build", BUILD, "-j", jobs]
    test = ["ctest", "--test-dir", BUILD, "--timeout", "120", "-j", jobs, "--stop-on-failure"]
    if run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], 600) or run(build, 3600):
        sys.exit("the project does not build in build-mut/")
    if args.windows:
        # The Linux build above gives the virtual panels that read the Windows program's lines.
        os.environ["WIN_BUILD_DIR"] = WINDOWS_BUILD
        build = ["bash", os.path.join(ROOT, "scripts", "windows.sh")]
        test = ["bash", os.path.join(ROOT, "tests", "windows", "run.sh"), WINDOWS_BUILD, BUILD]
        if run(build, 3600):
            sys.exit("the Windows program does not build in build-mut-win/")
    if run(test, 1800):
        sys.exit("the suite fails with no fault injected: nothing can be learnt")

    # Put the file back whatever ends the run.
    current = {}

    def restore():
        if current:
            with open(current["path"], "w", encoding="utf-8") as f:
                f.write(current["text"])
            current.clear()

    def on_signal(number, _frame):
        restore()
        sys.exit(128 + number)

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    results = []
    for f in faults:
        path = os.path.join(ROOT, f["file"])
        text = open(path, encoding="utf-8").read()
        started = time.time()
        current.update(path=path, text=text)
        try:
            with open(path, "w", encoding="utf-8") as out:
                out.write(text.replace(f["old"], f["new"]))
            verdict = "no-build" if run(build, 1800) else ("caught" if run(test, 1800) else "MISSED")
        finally:
            restore()
        results.append((f, verdict))
        print("%-8s %4.0fs  %s" % (verdict, time.time() - started, f["name"]), flush=True)
    run(build, 1800)

    live = [(f, v) for f, v in results if v != "no-build"]
    missed = [f for f, v in live if v == "MISSED"]
    print("caught %d of %d faults; %d did not build" % (len(live) - len(missed), len(live), len(results) - len(live)))
    for f in missed:
        print("missed: %s (%s)" % (f["name"], f["file"]))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
