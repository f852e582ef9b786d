#!/usr/bin/env python3
"""Builds the seed corpora under fuzz/corpus/ from the end-to-end case scripts.

Every "--- script" section of tests/cases/<program>/*.cases (and the built-in programs)
becomes a seed of <program>_script; their distinct lines seed the tokenizer and compiler
harnesses, and their number-like words the value harness. Seeds are named by their SHA-1,
as libFuzzer names what it adds. Run it again after adding cases; it rewrites the corpora.
"""

import hashlib
import os
import re
import shutil
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "cases"))
from run_cases import parse_cases  # noqa: E402

# libFuzzer's default longest input; longer seeds would only slow every run.
MAX_SEED = 4096
MAX_LINES = 400

BUILTIN = {
    "vm": ["src/vm/texts/tests.znd"],
    "zndvm": ["src/zndvm/texts/tests.znd", "src/zndvm/texts/dance.znd", "src/zndvm/texts/psh.znd"],
}

NUMBER_SEEDS = [
    b"0", b"-0", b"+0", b"1_000", b"1__0", b"_1", b"1_", b"18446744073709551615",
    b"18446744073709551616", b"-9223372036854775808", b"-9223372036854775809", b"1.50",
    b"0.1", b".5", b"5.", b"1e3", b"1E-7", b"0x10", b"0x1.8p1", b"0X.8P-3", b"inf",
    b"-Infinity", b"NaN", b"-nan", b"4.9e-324", b"2.2250738585072011e-308", b"1e23",
    b"9007199254740993", b"0.30000000000000004", b"1.7976931348623157e308", b"1e400",
    b"0." + b"0" * 400 + b"1e401", b"1" * 900 + b"e-900",
]


def scripts(program):
    found = []
    for name in sorted(os.listdir(os.path.join(ROOT, "tests", "cases", program))):
        if name.endswith(".cases"):
            for case in parse_cases(os.path.join(ROOT, "tests", "cases", program, name)):
                text = case.text("script")
                if text:
                    found.append(text)
    for path in BUILTIN[program]:
        with open(os.path.join(ROOT, path), "rb") as f:
            found.append(f.read())
    return [s for s in found if len(s) <= MAX_SEED]


def write_corpus(name, seeds):
    directory = os.path.join(ROOT, "fuzz", "corpus", name)
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    unique = {hashlib.sha1(s).hexdigest(): s for s in seeds}
    for digest, seed in unique.items():
        with open(os.path.join(directory, digest), "wb") as f:
            f.write(seed)
    print(f"{name}: {len(unique)} seeds")


def distinct_lines(texts):
    lines = []
    seen = set()
    for text in texts:
        for line in text.split(b"\n"):
            if line.strip() and line not in seen:
                seen.add(line)
                lines.append(line)
    return lines[:MAX_LINES]


def main():
    vm = scripts("vm")
    zndvm = scripts("zndvm")
    write_corpus("vm_script", vm)
    write_corpus("zndvm_script", zndvm)
    write_corpus("vm_tokenize", distinct_lines(vm))
    write_corpus("zndvm_compile", distinct_lines(zndvm))
    words = set()
    for line in distinct_lines(zndvm):
        words.update(w for w in re.split(rb"[ '\"{}<>]", line) if re.search(rb"[0-9]", w))
    write_corpus("zndvm_value", NUMBER_SEEDS + sorted(words)[:200])


if __name__ == "__main__":
    main()
