#!/usr/bin/env python3
"""Runs the embedding examples and checks what they print.

Usage: run_examples.py SANDBOX CALLBACK EXAMPLES_DIR
"""

import os
import re
import subprocess
import sys


def check(name, args, stdout_re, stderr_re):
    r = subprocess.run(args, capture_output=True, timeout=60)
    problems = []
    if r.returncode != 0:
        problems.append(f"exit status {r.returncode}")
    for stream, expected, actual in (("stdout", stdout_re, r.stdout), ("stderr", stderr_re, r.stderr)):
        if re.fullmatch(expected, actual.decode(errors="replace"), re.DOTALL) is None:
            problems.append(f"{stream}: {actual!r} does not match {expected!r}")
    print(("FAIL " if problems else "ok   ") + name)
    for p in problems:
        print("  " + p)
    return not problems


def main():
    sandbox, callback, examples = sys.argv[1:4]
    ok = check("sandbox: a script logs, prints, and is stopped by the instruction cap",
               [sandbox, os.path.join(examples, "untrusted.znd")],
               r"Hello from the sandbox\n"
               r"sandbox: the script was stopped at line 1[12] \(instruction cap\)\n"
               r"sandbox: 1 lines logged, at most [0-9]+ bytes held\n",
               r"\[log 1\] starting\n")
    ok &= check("callback: the host calls a rule of its script for each order",
                [callback, os.path.join(examples, "rules.znd")],
                r"regular: 4 x 2\.50 = 9\.00\n"
                r"new: 4 x 2\.50 = 10\.00\n"
                r"regular: 1 x 10\.00 = 9\.00\n"
                r"refund: UnknownFunction\n",
                r"")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
