#!/usr/bin/env python3
"""Checks the Vim syntax of editors/vim: Vim, started headless with nothing but this
runtime directory, detects *.znd as the filetype zandle, loads the syntax file without
an error, and gives the expected syntax group at a few positions of a vm script and a
zndvm program.

Exits with 77 (ctest's SKIP_RETURN_CODE) when vim, or a vim with syntax support, is not
installed.

Usage: test_vim.py [path/to/editors/vim]
"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_RUNTIME = os.path.join(HERE, "..", "..", "editors", "vim")
SKIP = 77

SAMPLE = [
    "# a vm script",                                       # 1
    "New msg 'Hello, World!'   # greet",                   # 2
    "New ARG1 'msg'",                                      # 3
    "Escape Print",                                        # 4
    'New a "6 * 7"',                                       # 5
    'New msg "msg s++ a"',                                 # 6
    "New x {expr}",                                        # 7
    '  If count "counter > 0"',                            # 8
    "New path a/b#c",                                      # 9
    "/ a zndvm program",                                   # 10
    "New __Escape_std.io.print_ARG0 <msg>   / a name",     # 11
    "Escape std.io.print",                                 # 12
    'New c "VMARGC - 1"',                                  # 13
    "New n 1_000",                                         # 14
    "New y If",                                            # 15
    "Func count",                                          # 16
    "End",                                                 # 17
]

# (line, text in that line, syntax group of every character of the text)
EXPECT = [
    (1, "# a vm script", "zandleComment"),
    (2, "New", "zandleKeyword"),
    (2, "'Hello, World!'", "zandleTrueLiteral"),
    (2, "# greet", "zandleComment"),
    (3, "ARG1", "zandleReserved"),
    (4, "Escape", "zandleKeyword"),
    (4, "Print", "zandleEscapeName"),
    (5, '"', "zandleLiteral"),
    (5, "*", "zandleOperator"),
    (5, "7", "zandleNumberInner"),
    (6, "s++", "zandleOperator"),
    (7, "{expr}", "zandleForcedEval"),
    (8, "If", "zandleKeyword"),
    (8, ">", "zandleOperator"),
    (9, "a/b#c", "zandleWord"),           # '#' and '/' inside a bare word are no comment
    (10, "/ a zndvm program", "zandleComment"),
    (11, "__Escape_std.io.print_ARG0", "zandleReserved"),
    (11, "<msg>", "zandlePointer"),
    (11, "/ a name", "zandleComment"),
    (12, "std.io.print", "zandleEscapeName"),
    (13, "VMARGC", "zandleReservedInner"),
    (13, "-", "zandleOperator"),
    (14, "1_000", "zandleNumber"),
    (15, "If", "zandleWord"),             # a keyword only where a line starts
    (16, "Func", "zandleKeyword"),
    (17, "End", "zandleKeyword"),
]

VIM_SCRIPT = r"""
set nocompatible
let &runtimepath = '{runtime},' . &runtimepath
filetype on
syntax on
let v:errmsg = ''
edit {sample}
let s:out = ['filetype=' . &filetype]
set filetype=zandle
call add(s:out, 'syntax=' . get(b:, 'current_syntax', ''))
call add(s:out, 'errmsg=' . v:errmsg)
for s:lnum in range(1, line('$'))
  let s:names = []
  for s:col in range(1, len(getline(s:lnum)))
    call add(s:names, synIDattr(synID(s:lnum, s:col, 1), 'name'))
  endfor
  call add(s:out, join(s:names, ' '))
endfor
call writefile(s:out, '{result}')
qall!
"""


def main():
    runtime = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else DEFAULT_RUNTIME)
    vim = shutil.which("vim")
    if vim is None:
        print("SKIP: vim is not installed")
        return SKIP
    probe = subprocess.run([vim, "-Nu", "NONE", "-i", "NONE", "-es", "-c",
                            "if !has('syntax') | cquit | endif", "-c", "qall!"],
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    if probe.returncode != 0:
        print("SKIP: this vim has no syntax support")
        return SKIP

    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        sample = os.path.join(tmp, "sample.znd")
        result = os.path.join(tmp, "result.txt")
        script = os.path.join(tmp, "check.vim")
        with open(sample, "w", encoding="utf-8") as f:
            f.write("\n".join(SAMPLE) + "\n")
        with open(script, "w", encoding="utf-8") as f:
            f.write(VIM_SCRIPT.format(runtime=runtime.replace("'", "''"),
                                      sample=sample.replace(" ", "\\ "),
                                      result=result.replace("'", "''")))
        run = subprocess.run([vim, "-Nu", "NONE", "-i", "NONE", "-es", "-S", script],
                             stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             timeout=60, env=dict(os.environ, HOME=tmp))
        if not os.path.exists(result):
            print(f"FAIL: vim wrote no result (status {run.returncode}): "
                  f"{run.stdout.strip()} {run.stderr.strip()}")
            return 1
        with open(result, encoding="utf-8") as f:
            out = f.read().split("\n")

    header = dict(line.split("=", 1) for line in out[:3])
    if header.get("filetype") != "zandle":
        failures.append(f"a .znd file gets the filetype {header.get('filetype')!r}, not zandle")
    if header.get("syntax") != "zandle":
        failures.append("the syntax file did not load (b:current_syntax is not zandle)")
    if header.get("errmsg"):
        failures.append(f"vim reported an error: {header['errmsg']}")
    groups = [line.split(" ") for line in out[3:3 + len(SAMPLE)]]
    if len(groups) != len(SAMPLE):
        failures.append("vim did not report every line")
    else:
        for lnum, text, group in EXPECT:
            line = SAMPLE[lnum - 1]
            start = line.find(text)
            if start < 0:
                raise AssertionError(f"{text!r} not in {line!r}")
            for col in range(start, start + len(text)):
                got = groups[lnum - 1][col] if col < len(groups[lnum - 1]) else ""
                if got != group:
                    failures.append(f"line {lnum} {line!r}: {text!r} at column {col + 1} is "
                                    f"{got or 'no group'}, not {group}")
                    break
    for failure in failures:
        print("FAIL:", failure)
    print(f"vim: {len(EXPECT) + 3 - len(failures)} of {len(EXPECT) + 3} checks hold")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
