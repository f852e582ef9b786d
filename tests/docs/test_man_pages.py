#!/usr/bin/env python3
"""Checks the manual pages man/vm.1, man/zndvm.1 and man/zandle-check.1.

- `groff -man -ww -z PAGE` prints nothing (no warning of any kind) and succeeds;
- `man -l PAGE` renders it (MANWIDTH=80) with the expected section headings, no line
  wider than 80 columns, and the messages the programs really print;
- given the built programs (--vm, --zndvm, --zandle-check), every example program of a
  page runs with status 0 (the checker's page shows mistakes, which are checked through
  its transcripts alone), and where a page shows a shell transcript after an example,
  running the command gives the output the page shows.

Exits with 77 (ctest's SKIP_RETURN_CODE) when `man` or `groff` is not installed.

Usage: test_man_pages.py [--vm PATH] [--zndvm PATH] [--zandle-check PATH] [page ...]
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
MAN_DIR = os.path.normpath(os.path.join(HERE, "..", "..", "man"))
SKIP = 77

COMMON_SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "MODES", "ARGUMENTS", "EXIT STATUS",
                   "ENVIRONMENT", "EXAMPLES", "SEE ALSO"]
# Per page: the headings it must have, and texts its rendering must contain.
PAGES = {
    "vm.1": {
        "sections": COMMON_SECTIONS[:7] + ["LIMITS"] + COMMON_SECTIONS[7:],
        "texts": ["VM: FATAL: INSTRUCTION LIMIT REACHED", "ZANDLE_TRACE", "VMARGC", "VMARG0",
                  "vm docs", "vm version", "vm test", "1,000,001", "10,001", "zndvm(1)",
                  "standard error", "SpawnProc", "PATH", "TZ"],
    },
    "zndvm.1": {
        "sections": COMMON_SECTIONS[:4] + ["ESCAPES"] + COMMON_SECTIONS[4:],
        "texts": ["VM: FATAL: CALL STACK OVERFLOW", "ZANDLE_TRACE", "VMARGC", "VMARG0",
                  "zndvm version", "zndvm docs", "zndvm test", "zndvm dance", "zndvm psh",
                  "vm(1)", "standard output", "PATH", "TZ", "std.proc", "std.fs",
                  "std.term", "std.str", "VariableNotFound", "Goodbye!"],
    },
    "zandle-check.1": {
        "sections": ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "CHECKS", "EXIT STATUS",
                     "EXAMPLES", "SEE ALSO"],
        "texts": ["--vm", "--zndvm", "--help", "the run stops with", "zandle-check: host",
                  "MissingOperand", "UnterminatedString", "UnknownFunction", "InvalidPointer",
                  "NotNumeric", "_ARGO", "INSTRUCTION LIMIT REACHED", "first line", "vm(1)",
                  "zndvm(1)"],
    },
}

failures = []


def fail(message):
    failures.append(message)


def plain(text):
    """Rendered man output without overstrike or SGR formatting."""
    text = re.sub(r".\x08", "", text)
    return re.sub(r"\x1b\[[0-9;]*m", "", text)


def check_groff(groff, page):
    run = subprocess.run([groff, "-man", "-ww", "-z", page], capture_output=True, text=True,
                         stdin=subprocess.DEVNULL, timeout=60)
    output = (run.stdout + run.stderr).strip()
    if run.returncode != 0 or output:
        fail(f"groff -man -ww -z {os.path.basename(page)} (status {run.returncode}): {output}")


def check_man(man, page, expected_page):
    env = dict(os.environ, MANWIDTH="80", MANPAGER="cat", PAGER="cat", LC_ALL="C.UTF-8")
    env.pop("MAN_KEEP_FORMATTING", None)
    run = subprocess.run([man, "-l", page], capture_output=True, text=True, env=env,
                         stdin=subprocess.DEVNULL, timeout=60)
    name = os.path.basename(page)
    if run.returncode != 0 or not run.stdout.strip():
        fail(f"man -l {name} (status {run.returncode}) rendered nothing: {run.stderr.strip()}")
        return
    text = plain(run.stdout)
    headings = [line.strip() for line in text.splitlines()
                if line and not line[0].isspace() and line.strip().isupper()]
    for section in expected_page["sections"]:
        if section not in headings:
            fail(f"man -l {name}: no section {section} (headings: {headings})")
    order = [h for h in headings if h in expected_page["sections"]]
    if order != expected_page["sections"]:
        fail(f"man -l {name}: sections in the order {order}, not {expected_page['sections']}")
    flat = re.sub(r"\s+", " ", re.sub(r"\u2010\n\s*", "", text))
    for expected in expected_page["texts"]:
        if expected not in flat:
            fail(f"man -l {name}: the text {expected!r} is missing")
    for number, line in enumerate(text.splitlines(), 1):
        if len(line) > 80:
            fail(f"man -l {name}: line {number} is {len(line)} columns wide: {line!r}")


# --- the examples ----------------------------------------------------------------------

def unescape(line):
    line = line.replace(r"\(aq", "'").replace(r"\(dq", '"').replace(r"\-", "-")
    line = line.replace(r"\e", "\\").replace(r"\&", "")
    return line


def example_blocks(page):
    """The .EX/.EE blocks of a page, each a list of lines, in order."""
    blocks, current = [], None
    with open(page, encoding="utf-8") as f:
        for raw in f.read().splitlines():
            if raw.startswith(".EX"):
                current = []
            elif raw.startswith(".EE"):
                blocks.append(current)
                current = None
            elif current is not None:
                current.append(unescape(raw))
    return blocks


def check_examples(page, program_name, program_path):
    name = os.path.basename(page)
    blocks = example_blocks(page)
    if not blocks:
        fail(f"{name}: no example")
        return
    with tempfile.TemporaryDirectory() as tmp:
        previous_program = None
        for block in blocks:
            if block and block[0].startswith("$ "):
                if previous_program is None:
                    fail(f"{name}: a transcript with no example before it: {block}")
                    continue
                check_transcript(name, block, previous_program, program_name, program_path,
                                 tmp)
                continue
            if program_name == "zandle-check":
                previous_program = block
                continue
            script = os.path.join(tmp, "example.znd")
            with open(script, "w", encoding="utf-8") as f:
                f.write("\n".join(block) + "\n")
            run = subprocess.run([program_path, script], capture_output=True,
                                 stdin=subprocess.DEVNULL, timeout=60)
            if run.returncode != 0:
                fail(f"{name}: the example {block} ends with status {run.returncode}: "
                     f"{run.stderr.decode(errors='replace').strip()}")
            previous_program = block


def check_transcript(name, block, program, program_name, program_path, tmp):
    """Runs each `$ command` of a transcript block against the example before it, saved
    under the file name the command uses, and compares what it prints."""
    i = 0
    while i < len(block):
        command = block[i][2:]
        i += 1
        expected = []
        while i < len(block) and not block[i].startswith("$ "):
            expected.append(block[i])
            i += 1
        words = shlex.split(command, comments=True)
        if not words or words[0] != program_name:
            fail(f"{name}: the transcript command {command!r} does not run {program_name}")
            continue
        script = next((w for w in words[1:] if w.endswith(".znd")), None)
        if script is None:
            fail(f"{name}: the transcript command {command!r} names no .znd file")
            continue
        with open(os.path.join(tmp, script), "w", encoding="utf-8") as f:
            f.write("\n".join(program) + "\n")
        shell = " ".join([shlex.quote(program_path)] + [shlex.quote(w) if ">" not in w else w
                                                         for w in words[1:]])
        run = subprocess.run(["sh", "-c", shell], cwd=tmp, capture_output=True, text=True,
                             stdin=subprocess.DEVNULL, timeout=60)
        # What a reader sees on the terminal: both streams (vm prints on standard error).
        seen = (run.stdout + run.stderr).splitlines()
        if seen != expected:
            fail(f"{name}: `{command}` prints {seen}, the page shows {expected}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--vm")
    parser.add_argument("--zndvm")
    parser.add_argument("--zandle-check")
    parser.add_argument("pages", nargs="*")
    args = parser.parse_args()
    pages = args.pages or [os.path.join(MAN_DIR, p) for p in PAGES]

    man, groff = shutil.which("man"), shutil.which("groff")
    if man is None or groff is None:
        print("SKIP: man or groff is not installed (apt-get install man-db)")
        return SKIP

    for page in pages:
        expected_page = PAGES[os.path.basename(page)]
        check_groff(groff, page)
        check_man(man, page, expected_page)
        program_name = os.path.basename(page)[:-2]
        program_path = getattr(args, program_name.replace("-", "_"))
        program_path = os.path.abspath(program_path) if program_path else None
        if program_path:
            check_examples(page, program_name, program_path)
    for failure in failures:
        print("FAIL:", failure)
    print(f"man pages: {len(pages)} checked, {len(failures)} problem(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
