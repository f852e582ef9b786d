#!/usr/bin/env python3
"""How zndvm's costs grow, beside Lua 5.4's: time per iteration and peak memory as the
number of live variables, of defined functions, the call depth and the length of a string
being built grow from 10 to 1,000,000.

- live variables: N variables are made, then a counting loop runs (2,000,000 times, or 10 N
  when that is more); time per iteration of the loop. (Lua's counter is a global too,
  looked up in the table that holds the N.)
- defined functions: N functions are defined, then a loop calls the last one (as often);
  time per iteration.
- call depth: a function recurses N deep (not a tail call) and unwinds, repeated so that
  there are 2,000,000 calls in all; time per call.
- string length: a string is built by N appends of one byte, repeated so that there are
  2,000,000 appends in all; time per append. (Lua copies the string on every append.)

A time per iteration is the difference between the program with its loop and the same
program without it (or an empty program), over the iterations; every program runs
--rounds times, interleaved, and the medians are used. Peak memory is that of the whole
program. A program that takes longer than --give-up seconds is the last of its kind for
that language: the larger sizes are not run.

Usage: bench/scaling.py [--build DIR] [--rounds N] [--only DIMENSION] [--max N]
Needs lua5.4 (apt-get install lua5.4).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = [10, 100, 1_000, 10_000, 100_000, 1_000_000]
LOOP = 2_000_000  # iterations (or calls, or appends) timed at every size (--loop)
PRINT = "New __Escape_std.io.print_ARG0 'i'\nEscape std.io.print\n"


# ---------------------------------------------------------------------------------------
# Programs: each returns (zndvm text, lua text) for size n, with the timed work or without.

def variables(n, work, loop):
    zndvm = ("New k '0'\nFunc make\nNew name \"v s++ k\"\nNew <name> '0'\nNew k \"k + 1\"\n"
             f"If make \"k < {n}\"\nEnd\nCall make\nNew i '0'\n")
    lua = f"for k = 0, {n - 1} do _G['v' .. k] = 0 end\ni = 0\n"
    if work:
        zndvm += f"Func loop\nNew i \"i + 1\"\nIf loop \"i < {loop}\"\nEnd\nCall loop\n"
        lua += f"while i < {loop} do\n  i = i + 1\nend\n"
    return zndvm + PRINT, lua + "print(i)\n"


def functions(n, work, loop):
    zndvm = "".join(f"Func f{k}\nEnd\n" for k in range(n)) + "New i '0'\n"
    # A Lua function may hold at most 2^17 - 1 functions, so they are made in groups.
    group = 100_000
    lua = []
    for start in range(0, n, group):
        lua.append(";(function()")
        lua += [f"function f{k}() end" for k in range(start, min(n, start + group))]
        lua.append("end)()")
    lua = "\n".join(lua) + "\nlocal i = 0\n"
    if work:
        zndvm += (f"Func loop\nCall f{n - 1}\nNew i \"i + 1\"\nIf loop \"i < {loop}\"\nEnd\n"
                  "Call loop\n")
        lua += f"while i < {loop} do\n  f{n - 1}()\n  i = i + 1\nend\n"
    return zndvm + PRINT, lua + "print(i)\n"


def depth(n, work, loop):
    if not work:
        return "", ""
    rounds = loop // n
    zndvm = ("New i '0'\nFunc down\nNew d \"d + 1\"\n"
             f"If down \"d < {n}\"\nNew d \"d - 1\"\nEnd\n"
             "Func again\nNew d '0'\nCall down\nNew i \"i + 1\"\n"
             f"If again \"i < {rounds}\"\nEnd\nCall again\n")
    lua = ("local d, i = 0, 0\n"
           f"local function down()\n  d = d + 1\n  if d < {n} then down() end\n  d = d - 1\nend\n"
           f"while i < {rounds} do\n  d = 0\n  down()\n  i = i + 1\nend\n")
    return zndvm + PRINT, lua + "print(i)\n"


def strings(n, work, loop):
    if not work:
        return "", ""
    rounds = loop // n
    zndvm = ("New x 'x'\nNew i '0'\nFunc build\nNew s \"s s++ x\"\nNew j \"j + 1\"\n"
             f"If build \"j < {n}\"\nEnd\n"
             "Func again\nNew s ''\nNew j '0'\nCall build\nNew i \"i + 1\"\n"
             f"If again \"i < {rounds}\"\nEnd\nCall again\n")
    lua = ("local x, i = 'x', 0\n"
           f"while i < {rounds} do\n  local s = ''\n  for j = 1, {n} do s = s .. x end\n"
           "  i = i + 1\nend\n")
    return zndvm + PRINT, lua + "print(i)\n"


# name, generator, iterations timed at size n: the loops after a setup of n things run at
# least 10 n times, so that the setup's own variation stays small beside them.
DIMENSIONS = [
    ("live variables", variables, lambda n: max(LOOP, 10 * n)),
    ("defined functions", functions, lambda n: max(LOOP, 10 * n)),
    ("call depth", depth, lambda n: LOOP),
    ("string length", strings, lambda n: LOOP),
]


# ---------------------------------------------------------------------------------------

def build_peak_rss(work):
    path = os.path.join(work, "peak_rss")
    subprocess.run(["cc", "-O2", "-static", "-o", path, os.path.join(HERE, "peak_rss.c")],
                   check=True)
    return path


def run(peak_rss, cmd, timeout):
    """Wall time in seconds and peak resident set in KiB of one run; None when it failed or
    took longer than `timeout`. The launcher's own start adds about a millisecond to every
    run alike, which the differences cancel."""
    start = time.perf_counter()
    try:
        r = subprocess.run([peak_rss] + cmd, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None
    elapsed = time.perf_counter() - start
    fields = dict(f.split("=") for f in r.stderr.decode().split()[-2:])
    if fields.get("status") != "0":
        return None
    return elapsed, int(fields["peak_rss_kib"])


def main():
    global LOOP
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--only", default="", help="run dimensions whose name contains this")
    parser.add_argument("--max", type=int, default=SIZES[-1], help="largest size")
    parser.add_argument("--loop", type=int, default=LOOP,
                        help="iterations timed at every size (at least the largest size)")
    parser.add_argument("--give-up", type=float, default=20.0,
                        help="seconds after which larger sizes are not run")
    opts = parser.parse_args()
    LOOP = max(opts.loop, min(opts.max, SIZES[-1]))
    lua = shutil.which("lua5.4")
    if not lua:
        print("lua5.4 is missing (apt-get install lua5.4)", file=sys.stderr)
        return 1
    zndvm = os.path.join(os.path.abspath(opts.build), "zndvm")
    if not os.path.exists(zndvm):
        print(f"{zndvm} is missing (make build)", file=sys.stderr)
        return 1
    commands = {"zndvm": [zndvm], "lua": [lua]}
    print(f"{'dimension':18} {'N':>9} | {'zndvm ns/it':>11} {'peak KB':>9} | "
          f"{'lua ns/it':>11} {'peak KB':>9}")
    with tempfile.TemporaryDirectory(prefix="zandle-scaling-") as work:
        peak_rss = build_peak_rss(work)
        for dim_name, generate, iterations in DIMENSIONS:
            if opts.only and opts.only not in dim_name:
                continue
            stopped = {lang: False for lang in commands}
            for n in SIZES:
                if n > opts.max:
                    break
                cells = {}
                loop = iterations(n)
                for lang_index, lang in enumerate(commands):
                    if stopped[lang]:
                        cells[lang] = "not run"
                        continue
                    paths = {}
                    for work_flag in (False, True):
                        text = generate(n, work_flag, loop)[lang_index]
                        path = os.path.join(work, f"{lang}-{work_flag}.{'znd' if lang == 'zndvm' else 'lua'}")
                        with open(path, "w") as f:
                            f.write(text)
                        paths[work_flag] = path
                    runs = {False: [], True: []}
                    failed = False
                    for _ in range(opts.rounds):
                        for work_flag in (False, True):
                            r = run(peak_rss, commands[lang] + [paths[work_flag]],
                                    timeout=10 * opts.give_up)
                            if r is None:
                                failed = True
                                break
                            runs[work_flag].append(r)
                        if failed:
                            break
                        if runs[True][-1][0] > opts.give_up:
                            stopped[lang] = True
                            break
                    if failed:
                        cells[lang] = "failed"
                        stopped[lang] = True
                        continue
                    t_with = statistics.median(t for t, _ in runs[True])
                    t_without = statistics.median(t for t, _ in runs[False])
                    peak = statistics.median(m for _, m in runs[True])
                    if t_with > t_without:
                        per_iteration = f"{(t_with - t_without) / loop * 1e9:11.1f}"
                    else:
                        # The setup varied by more than the loop took: no figure to give.
                        per_iteration = f"{'< noise':>11}"
                    cells[lang] = f"{per_iteration} {peak:9.0f}"
                row = " | ".join(f"{cells[l]:>21}" for l in commands)
                print(f"{dim_name:18} {n:>9} | {row}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
