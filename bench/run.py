#!/usr/bin/env python3
"""Times the Zandle programs against Lua 5.4 and Python 3 on the same work.

Every benchmark is a set of equivalent programs, one per language. They run interleaved,
round after round, in one process of this script, so that a slow moment of the machine
hits all of them alike; the table gives medians of wall time and of peak resident memory,
and the ratio of each program to Lua's figure from the same run. Lua runs each program
twice: as "lua" with global variables (the ratios are to this one) and as "lua-local"
with local variables, the style Lua code is usually written in.

The recorded-code benchmark also prints bytes of peak memory per recorded line: its peak
less an empty program's, over the lines recorded. Lua's 400,000 appends copy the whole
string each time and take minutes, so they run once (RUN_ONCE) and are marked so.

With --baseline DIR the programs of another build (an earlier commit's, say) run too, as
vm@base and zndvm@base, interleaved with the others: a change's effect in one run.

Usage: bench/run.py [--build DIR] [--baseline DIR] [--rounds N] [--only SUBSTRING]
                    [--without PROGRAM] [--list]
Needs lua5.4 (apt-get install lua5.4) for the reference figures.
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


# ---------------------------------------------------------------------------------------
# Benchmark programs. Each function returns {language: (file suffix, program text)}.

def vm_million_lines():
    """1,000,000 lines within the vm budgets: 9,990 additions, the rest no-ops."""
    total, adds = 1_000_000, 9_990
    head_vm = ["New x '0'"]
    tail_vm = ["New ARG1 'x'", "Escape Print"]
    fillers = total - adds - len(head_vm) - len(tail_vm)
    # Spread the additions evenly among no-op lines (unknown keywords and stray Ends).
    vm, lua, py = list(head_vm), ["x = 0"], ["x = 0"]
    every = (fillers + adds) // adds
    made_adds = 0
    for i in range(fillers + adds):
        if i % every == 0 and made_adds < adds:
            vm.append('New x "x + 1"')
            lua.append("x = x + 1")
            py.append("x = x + 1")
            made_adds += 1
        else:
            vm.append("End" if i % 2 else "Nop x")
            lua.append("do end")
            py.append("pass")
    assert made_adds == adds
    vm += tail_vm
    lua.append('io.stderr:write(x, "\\n")')
    py.append("import sys; sys.stderr.write(str(x) + '\\n')")
    assert len(vm) == total
    return {"vm": (".znd", "\n".join(vm) + "\n"), "lua": (".lua", "\n".join(lua) + "\n"),
            "python": (".py", "\n".join(py) + "\n")}


def counting_loop():
    """10,000,000 iterations of a counter, the loop a tail self-call."""
    zndvm = ("New i '0'\nFunc loop\nNew i \"i + 1\"\nIf loop \"i < 10000000\"\nEnd\n"
             "Call loop\nNew __Escape_std.io.print_ARG0 'i'\nEscape std.io.print\n")
    lua = "i = 0\nwhile i < 10000000 do\n  i = i + 1\nend\nprint(i)\n"
    py = "i = 0\nwhile i < 10000000:\n    i = i + 1\nprint(i)\n"
    return {"zndvm": (".znd", zndvm), "lua": (".lua", lua), "lua-local": (".lua", localized(lua)),
            "python": (".py", py)}


def function_calls():
    """1,000,000 calls of a function that increments a global."""
    zndvm = ("New n '0'\nNew i '0'\nFunc inc\nNew n \"n + 1\"\nEnd\n"
             "Func loop\nCall inc\nNew i \"i + 1\"\nIf loop \"i < 1000000\"\nEnd\n"
             "Call loop\nNew __Escape_std.io.print_ARG0 'n'\nEscape std.io.print\n")
    lua = ("n = 0\ni = 0\nfunction inc()\n  n = n + 1\nend\n"
           "while i < 1000000 do\n  inc()\n  i = i + 1\nend\nprint(n)\n")
    lua_local = ("local n = 0\nlocal i = 0\nlocal function inc()\n  n = n + 1\nend\n"
                 "while i < 1000000 do\n  inc()\n  i = i + 1\nend\nprint(n)\n")
    py = ("n = 0\ni = 0\ndef inc():\n    global n\n    n = n + 1\n"
          "while i < 1000000:\n    inc()\n    i = i + 1\nprint(n)\n")
    return {"zndvm": (".znd", zndvm), "lua": (".lua", lua), "lua-local": (".lua", lua_local),
            "python": (".py", py)}


def concatenation():
    """200,000 iterations of joining two variables and testing a prefix."""
    zndvm = ("New a 'hello'\nNew b 'world'\nNew i '0'\nFunc loop\nNew s \"a s++ b\"\n"
             "New t \"s s?= a\"\nNew i \"i + 1\"\nIf loop \"i < 200000\"\nEnd\nCall loop\n"
             "New __Escape_std.io.print_ARG0 's'\nEscape std.io.print\n")
    lua = ("a = 'hello'\nb = 'world'\ni = 0\nwhile i < 200000 do\n  s = a .. b\n"
           "  t = string.sub(s, 1, #a) == a\n  i = i + 1\nend\nprint(s)\n")
    lua_local = "local s, t\n" + localized(lua)
    py = ("a = 'hello'\nb = 'world'\ni = 0\nwhile i < 200000:\n    s = a + b\n"
          "    t = s.startswith(a)\n    i = i + 1\nprint(s)\n")
    return {"zndvm": (".znd", zndvm), "lua": (".lua", lua), "lua-local": (".lua", lua_local),
            "python": (".py", py)}


def straight_line():
    """1,000,000 lines alternating two additions: each line compiled and run once."""
    zndvm = ["New x '0'", "New y '0'"]
    lua = ["x = 0", "y = 0"]
    for k in range(1_000_000):
        v = "x" if k % 2 == 0 else "y"
        zndvm.append(f'New {v} "{v} + 1"')
        lua.append(f"{v} = {v} + 1")
    zndvm += ["New __Escape_std.io.print_ARG0 'x'", "Escape std.io.print"]
    lua.append("print(x)")
    lua_text = "\n".join(lua) + "\n"
    return {"zndvm": (".znd", "\n".join(zndvm) + "\n"), "lua": (".lua", lua_text),
            "lua-local": (".lua", localized(lua_text)),
            "python": (".py", "\n".join(lua[:-1]) + "\nprint(x)\n")}


def substring_worst_case():
    """One contains test of 2^21 bytes of a against the needle a^(2^20) b, which never occurs.

    Comparing the needle again at each offset costs about 2^40 byte comparisons here. Lua's
    plain string.find works that way (memchr for the first byte, then memcmp), so its figure
    is tens of seconds."""
    build = (["New h 'a'"] + ['New h "h s++ h"'] * 21 + ["New p 'a'"]
             + ['New p "p s++ p"'] * 20 + ['New p "p s++ b"'])
    vm = build + ["New ARG1 'r'", 'New r "h -?= p"', "Escape Print"]
    zndvm = build + ["New __Escape_std.io.print_ARG0 'r'", 'New r "h -?= p"',
                     "Escape std.io.print"]
    lua = ('local h = string.rep("a", 1 << 21)\n'
           'local p = string.rep("a", 1 << 20) .. "b"\n'
           'print(string.find(h, p, 1, true) and 0 or 1)\n')
    return {"vm": (".znd", "\n".join(vm) + "\n"), "zndvm": (".znd", "\n".join(zndvm) + "\n"),
            "lua": (".lua", lua)}


def appending():
    """400,000 appends of one byte to the variable that is also the left operand."""
    zndvm = ("New s ''\nNew x 'x'\nNew i '0'\nFunc loop\nNew s \"s s++ x\"\nNew i \"i + 1\"\n"
             "If loop \"i < 400000\"\nEnd\nCall loop\n"
             "New __Escape_std.io.print_ARG0 's'\nEscape std.io.print\n")
    lua = ("s = ''\nx = 'x'\ni = 0\nwhile i < 400000 do\n  s = s .. x\n  i = i + 1\nend\n"
           "print(s)\n")
    return {"zndvm": (".znd", zndvm), "lua": (".lua", lua), "lua-local": (".lua", localized(lua))}


def appending_word():
    """400,000 appends of a word that names no variable, so that it stands for itself."""
    zndvm = ("New s ''\nNew i '0'\nFunc loop\nNew s \"s s++ x\"\nNew i \"i + 1\"\n"
             "If loop \"i < 400000\"\nEnd\nCall loop\n"
             "New __Escape_std.io.print_ARG0 's'\nEscape std.io.print\n")
    lua = ("s = ''\ni = 0\nwhile i < 400000 do\n  s = s .. 'x'\n  i = i + 1\nend\nprint(s)\n")
    return {"zndvm": (".znd", zndvm), "lua": (".lua", lua), "lua-local": (".lua", localized(lua))}


RECORDED_FUNCTIONS = 100_000


def recorded_code():
    """100,000 three-line functions, recorded and never called."""
    zndvm, lua = [], []
    for k in range(RECORDED_FUNCTIONS):
        zndvm += [f"Func f{k}", 'New x "x + 1"', "End"]
        lua += [f"function f{k}()", "  x = x + 1", "end"]
    return {"zndvm": (".znd", "\n".join(zndvm) + "\n"), "lua": (".lua", "\n".join(lua) + "\n")}


def empty_program():
    return {"vm": (".znd", ""), "zndvm": (".znd", ""), "lua": (".lua", ""),
            "python": (".py", "")}


def localized(lua):
    """The same Lua program with its variables local: each top-level assignment of a
    variable not yet declared becomes a declaration."""
    declared, out = set(), []
    for line in lua.split("\n"):
        name = line.split(" = ", 1)[0] if " = " in line and not line.startswith(" ") else ""
        if name.isidentifier() and name not in declared:
            declared.add(name)
            line = "local " + line
        out.append(line)
    return "\n".join(out)


BENCHMARKS = [
    # name, generator, languages, rounds (default)
    ("vm: 1,000,000-line script", vm_million_lines, ["vm", "lua", "python"], 15),
    ("zndvm: counting loop 10M", counting_loop, ["zndvm", "lua", "lua-local", "python"], 7),
    ("zndvm: 1M function calls", function_calls, ["zndvm", "lua", "lua-local", "python"], 11),
    ("zndvm: 200k concatenations", concatenation, ["zndvm", "lua", "lua-local", "python"], 21),
    ("zndvm: 1,000,000-line program", straight_line, ["zndvm", "lua", "lua-local", "python"], 7),
    ("zndvm: 400k appends", appending, ["zndvm", "lua", "lua-local"], 5),
    ("zndvm: 400k appends of a word", appending_word, ["zndvm", "lua", "lua-local"], 5),
    ("zndvm: 100k recorded functions", recorded_code, ["zndvm", "lua"], 7),
    ("substring worst case", substring_worst_case, ["vm", "zndvm", "lua"], 3),
    ("start-up: empty program", empty_program, ["vm", "zndvm", "lua", "python"], 200),
]

# Programs that run once, with neither warm-up nor rounds, time and memory from the one run:
# Lua's appends copy the whole string each time and take minutes.
RUN_ONCE = {("zndvm: 400k appends", "lua"), ("zndvm: 400k appends", "lua-local"),
            ("zndvm: 400k appends of a word", "lua"), ("zndvm: 400k appends of a word", "lua-local")}

# Benchmarks whose memory is also given per line: name -> lines of the program that stay.
PER_LINE = {"zndvm: 100k recorded functions": 3 * RECORDED_FUNCTIONS}


# ---------------------------------------------------------------------------------------

def command(language, path, build, baseline=None):
    if language.endswith("@base"):
        return command(language[:-len("@base")], path, baseline)
    if language == "vm":
        return [os.path.join(build, "vm"), path]
    if language == "zndvm":
        return [os.path.join(build, "zndvm"), path]
    if language in ("lua", "lua-local"):
        return [shutil.which("lua5.4") or "lua5.4", path]
    if language == "python":
        return [sys.executable, path]
    raise ValueError(language)


def run_once(cmd, measure_rss):
    """Wall time in seconds of one run, and its peak resident set in KiB when asked.

    Time is measured on a direct child; memory through the small peak_rss launcher, whose
    own fork adds only a few pages where this runner's fork would add all of its memory."""
    with open(os.devnull, "wb") as null:
        if measure_rss:
            # The launcher's own start adds about a millisecond: this time is only used
            # for programs that run once for many seconds.
            start = time.perf_counter()
            r = subprocess.run([PEAK_RSS] + cmd, stdin=subprocess.DEVNULL, stdout=null,
                               stderr=subprocess.PIPE)
            elapsed = time.perf_counter() - start
            fields = dict(f.split("=") for f in r.stderr.decode().split()[-2:])
            if fields.get("status") != "0":
                raise SystemExit(f"benchmark command failed: {' '.join(cmd)}")
            return elapsed, int(fields["peak_rss_kib"])
        start = time.perf_counter()
        proc = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=null, stderr=null)
        elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        raise SystemExit(f"benchmark command failed ({proc.returncode}): {' '.join(cmd)}")
    return elapsed, None


PEAK_RSS = None


def build_peak_rss(work):
    global PEAK_RSS
    PEAK_RSS = os.path.join(work, "peak_rss")
    subprocess.run(["cc", "-O2", "-static", "-o", PEAK_RSS, os.path.join(HERE, "peak_rss.c")],
                   check=True)


def stripped_size(path):
    with tempfile.TemporaryDirectory() as d:
        out = os.path.join(d, "stripped")
        subprocess.run(["strip", "-o", out, path], check=True)
        return os.path.getsize(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--baseline", default=None, help="a build to compare with, in the same run")
    parser.add_argument("--rounds", type=int, default=0, help="override rounds per benchmark")
    parser.add_argument("--only", default="", help="run benchmarks whose name contains this")
    parser.add_argument("--without", action="append", default=[],
                        help="leave out a program (python, say); repeatable")
    parser.add_argument("--list", action="store_true")
    opts = parser.parse_args()
    build = os.path.abspath(opts.build)
    baseline = os.path.abspath(opts.baseline) if opts.baseline else None
    if opts.list:
        for name, *_ in BENCHMARKS:
            print(name)
        return 0
    if not shutil.which("lua5.4"):
        print("lua5.4 is missing (apt-get install lua5.4)", file=sys.stderr)
        return 1

    print(f"{'benchmark':34} {'program':10} {'median':>10} {'ratio/lua':>9} "
          f"{'peak RSS':>10} {'ratio/lua':>9}")
    with tempfile.TemporaryDirectory(prefix="zandle-bench-") as work:
        build_peak_rss(work)
        for name, generate, languages, rounds in BENCHMARKS:
            if opts.only and opts.only not in name:
                continue
            languages = [l for l in languages
                         if (l not in ("vm", "zndvm") or os.path.exists(os.path.join(build, l)))
                         and (l == "lua" or l not in opts.without)]
            if baseline:
                languages += [l + "@base" for l in languages
                              if l in ("vm", "zndvm") and os.path.exists(os.path.join(baseline, l))]
            rounds = opts.rounds or rounds
            programs = generate()
            cmds = {}
            for lang in languages:
                suffix, text = programs[lang.replace("@base", "")]
                path = os.path.join(work, f"{name.split(':')[0]}-{lang}{suffix}".replace(" ", "_"))
                with open(path, "w") as f:
                    f.write(text)
                cmds[lang] = command(lang, path, build, baseline)
            times = {l: [] for l in languages}
            rss = {l: [] for l in languages}
            once = [l for l in languages if (name, l) in RUN_ONCE]
            for lang in once:
                t, m = run_once(cmds[lang], True)
                times[lang].append(t)
                rss[lang].append(m)
            repeated = [l for l in languages if l not in once]
            for lang in repeated:  # one warm-up run each
                run_once(cmds[lang], False)
            for r in range(rounds):
                order = repeated[r % len(repeated):] + repeated[:r % len(repeated)]
                for lang in order:
                    times[lang].append(run_once(cmds[lang], False)[0])
                    if r < 5:
                        rss[lang].append(run_once(cmds[lang], True)[1])
            lua_t = statistics.median(times["lua"])
            lua_m = statistics.median(rss["lua"])
            for lang in languages:
                t = statistics.median(times[lang])
                m = statistics.median(rss[lang])
                print(f"{name:34} {lang:10} {t * 1000:8.2f}ms {t / lua_t:9.2f} "
                      f"{m:8.0f}KB {m / lua_m:9.2f}"
                      + ("  (one run)" if lang in once else ""), flush=True)
            if name in PER_LINE:
                empty = empty_program()
                for lang in languages:
                    suffix, text = empty[lang.replace("@base", "")]
                    path = os.path.join(work, f"empty-{lang}{suffix}".replace("@", "-"))
                    with open(path, "w") as f:
                        f.write(text)
                    base = statistics.median(run_once(command(lang, path, build, baseline), True)[1]
                                             for _ in range(5))
                    per_line = (statistics.median(rss[lang]) - base) * 1024 / PER_LINE[name]
                    print(f"{name:34} {lang:10} {per_line:8.0f} bytes of peak memory per line",
                          flush=True)
    for prog in ("vm", "zndvm"):
        for where, tag in ((build, ""), (baseline, "@base")):
            path = os.path.join(where, prog) if where else ""
            if path and os.path.exists(path):
                print(f"size: {prog}{tag} stripped {stripped_size(path)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
