#!/usr/bin/env python3
"""Runs an allocation-failure sweep program over case files and scripts.

Usage: run.py SWEEP_PROGRAM [--slices] FILE...

A FILE ending in .cases gives its plain cases: those that run a script with nothing around
it (no arguments, files, set-up, environment or checks, no script or input computed by
Python, no expected sleep), each with its standard input. Any other FILE is a script swept
whole. The sweep program gets each script as "--name NAME [--stdin PATH] PATH". With
--slices it runs each in slices of every size instead of failing its allocations.
"""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "cases"))
from run_cases import parse_cases  # noqa: E402

PLAIN_SECTIONS = {"script", "stdin", "stdout", "stderr", "status", "timeout"}
# The input is written into a pipe before the run; it must fit (see pipe_input.hpp).
PIPE_INPUT_MAX = 60000


def plain(case):
    if case.files or not set(case.sections) <= PLAIN_SECTIONS or "script" not in case.sections:
        return False
    if any("python" in case.mods(name) for name in ("script", "stdin")):
        return False
    return len(case.text("stdin", b"")) <= PIPE_INPUT_MAX


def main():
    program, paths = sys.argv[1], sys.argv[2:]
    options = [p for p in paths if p.startswith("--")]
    paths = [p for p in paths if not p.startswith("--")]
    with tempfile.TemporaryDirectory(prefix="zandle-sweep-") as work:
        args = [program] + options
        for path in paths:
            if not path.endswith(".cases"):
                args += ["--name", path, path]
                continue
            base = os.path.basename(path)
            for number, case in enumerate(parse_cases(path)):
                if not plain(case):
                    continue
                stem = os.path.join(work, f"{base}.{number}")
                with open(stem + ".znd", "wb") as f:
                    f.write(case.text("script"))
                args += ["--name", f"{base}: {case.title}"]
                stdin = case.text("stdin")
                if stdin:
                    with open(stem + ".stdin", "wb") as f:
                        f.write(stdin)
                    args += ["--stdin", stem + ".stdin"]
                args.append(stem + ".znd")
        return subprocess.run(args).returncode


if __name__ == "__main__":
    sys.exit(main())
