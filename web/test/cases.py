#!/usr/bin/env python3
"""Runs the end-to-end cases against the WebAssembly build: the same scripts, input and
expected output as for the programs, through a command line over the web package (cli.mjs).

Usage: cases.py PACKAGE_DIR CASES_FILE...

Only plain cases run (a script and its input, nothing around it: the same choice as the
allocation-failure sweep), and of those only the ones that need nothing the web build
leaves out (the escapes that use files and processes). Exits 77 when the package is not
built.
"""

import os
import re
import stat
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "cases"))
from run_cases import parse_cases, run_case  # noqa: E402

PLAIN_SECTIONS = {"script", "stdin", "stdout", "stderr", "status", "timeout"}
# Escapes of the programs that the web build does not have.
SYSTEM_ESCAPES = re.compile(
    rb"\b(std\.fs\.|std\.proc\.|Fread|Fwrite|Fbwrite|ListDir|Gcwd|Chcwd|SpawnProc|WaitPid|Exit)")


def runnable(case):
    if case.files or not set(case.sections) <= PLAIN_SECTIONS or "script" not in case.sections:
        return False
    if any("python" in case.mods(name) for name in ("script", "stdin")):
        return False
    return SYSTEM_ESCAPES.search(case.text("script")) is None


def main():
    package, paths = os.path.abspath(sys.argv[1]), sys.argv[2:]
    if not os.path.exists(os.path.join(package, "zandle.js")):
        print(f"skipped: no web build at {package} (make web)")
        return 77
    passed = failed = skipped = 0
    with tempfile.TemporaryDirectory(prefix="zandle-web-cases-") as work:
        os.environ["ZANDLE_WEB_PACKAGE"] = package
        for path in paths:
            kind = os.path.basename(os.path.dirname(path))
            program = os.path.join(work, kind)
            if not os.path.exists(program):
                with open(program, "w") as f:
                    f.write(f'#!/bin/sh\nexec node "{HERE}/cli.mjs" {kind} "$0" "$@"\n')
                os.chmod(program, os.stat(program).st_mode | stat.S_IXUSR)
            for case in parse_cases(path):
                if not runnable(case):
                    skipped += 1
                    continue
                ok, message = run_case(case, program, False)
                if ok:
                    passed += 1
                else:
                    failed += 1
                    print(f"FAIL {os.path.basename(path)}: {case.title}\n  {message}")
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
