#!/usr/bin/env python3
"""Runs the embedding examples and checks what they print.

Usage: run_examples.py SANDBOX CALLBACK SCHEDULER EXAMPLES_DIR
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


def scheduler_problems(stdout):
    """What the scheduler's report gets wrong: every script's ending and every result."""
    problems = []
    lines = stdout.splitlines()
    outputs = {}  # script -> its lines, in the order the scripts finished
    finish_order = []
    for line in lines:
        m = re.fullmatch(r"\[script (\d+)\] (.*)", line)
        if m:
            k = int(m.group(1))
            if k not in outputs:
                finish_order.append(k)
            outputs.setdefault(k, []).append(m.group(2))
        elif not line.startswith("scheduler: "):
            problems.append(f"unexpected line {line!r}")

    # Scripts 2..998 but 500 add up 1..n; every tenth is long.
    def n_of(k):
        return 10000 + 10 * k if k % 10 == 0 else 1 + k % 50
    for k in range(1000):
        if k in (1, 500, 999):
            continue
        n = n_of(k)
        if outputs.get(k) != [f"sum 1..{n} = {n * (n + 1) // 2}"]:
            problems.append(f"script {k} printed {outputs.get(k)!r}")
    for k in (500, 999):
        if k in outputs:
            problems.append(f"script {k} printed {outputs[k]!r}, yet it never ends")
    # Round-robin: every short script finishes before any long one.
    short = [i for i, k in enumerate(finish_order) if k % 10 and k != 1]
    long_ = [i for i, k in enumerate(finish_order) if k % 10 == 0]
    if short and long_ and max(short) > min(long_):
        problems.append("a long script finished before a short one")

    table = [f"squares 1..{100 * k} = {sum(i * i for i in range(1, 100 * k + 1))}" for k in range(1, 11)]
    if outputs.get(1) != table:
        problems.append(f"script 1 printed {outputs.get(1)!r}")

    expected = [
        r"scheduler: script 500 overran its 50 ms and was stopped after (\d+\.\d) ms at line 5: "
        r"If wait \"1 == 1\"",
        r"scheduler: script 1 saved after 3 turns at line \d+, 3 calls deep \(\d+ bytes\), "
        r"its machine freed, restored into a new one",
        r"scheduler: script 1, moved to a new machine midway, printed exactly what it prints run whole "
        rf"\({sum(len(t) + 1 for t in table)} bytes\)",
        r"scheduler: script 999 halted by its instruction cap at line \d after 100 turns",
        r"scheduler: 1000 scripts in 100 rounds of turns of 1000 instructions: 998 finished, "
        r"1 halted, 1 stopped by the watchdog, 0 failed",
    ]
    reports = [line for line in lines if line.startswith("scheduler: ")]
    if len(reports) != len(expected):
        problems.append(f"{len(reports)} reports, not {len(expected)}")
    for pattern in expected:
        found = [m for m in (re.fullmatch(pattern, r) for r in reports) if m]
        if not found:
            problems.append(f"no report matches {pattern!r}")
        elif pattern.startswith("scheduler: script 500") and float(found[0].group(1)) < 50:
            problems.append("the watchdog stopped script 500 before its 50 ms")
    if lines and lines[-1] != reports[-1]:
        problems.append("the summary is not the last line")
    return problems


def check_scheduler(scheduler):
    r = subprocess.run([scheduler], capture_output=True, timeout=120)
    problems = [] if r.returncode == 0 else [f"exit status {r.returncode}"]
    if r.stderr:
        problems.append(f"stderr: {r.stderr!r}")
    problems += scheduler_problems(r.stdout.decode(errors="replace"))
    name = "scheduler: 1,000 scripts in turns, a watchdog, a script moved to a new machine"
    print(("FAIL " if problems else "ok   ") + name)
    for p in problems:
        print("  " + p)
    return not problems


def main():
    sandbox, callback, scheduler, examples = sys.argv[1:5]
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
    ok &= check_scheduler(scheduler)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
