#!/usr/bin/env python3
"""Drives the shared library from Python through ctypes, as any foreign-function interface
would: create a machine, register a host escape written in Python, run a script, read a
variable and a failure's report. Also checks that the library exports only the C interface.

Usage: test_ctypes.py LIBZANDLE_SO
"""

import ctypes
import os
import re
import subprocess
import sys

failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


def main():
    path = sys.argv[1]
    lib = ctypes.CDLL(path)
    c = ctypes
    WRITE = c.CFUNCTYPE(c.c_int, c.c_void_p, c.POINTER(c.c_char), c.c_size_t)
    ESCAPE = c.CFUNCTYPE(c.c_int, c.c_void_p, c.c_void_p)

    class Options(c.Structure):
        _fields_ = [("struct_size", c.c_size_t), ("output", WRITE), ("output_user", c.c_void_p),
                    ("input", c.c_void_p), ("input_user", c.c_void_p),
                    ("instruction_cap", c.c_uint64), ("memory_cap", c.c_size_t),
                    ("alloc", c.c_void_p), ("alloc_user", c.c_void_p), ("escapes", c.c_char_p)]

    class Place(c.Structure):
        _fields_ = [("source", c.POINTER(c.c_char)), ("source_len", c.c_size_t), ("line", c.c_uint32),
                    ("text", c.POINTER(c.c_char)), ("text_len", c.c_size_t)]

    lib.zandle_options_init.argtypes = [c.POINTER(Options)]
    lib.zandle_new.argtypes = [c.c_int, c.POINTER(Options), c.POINTER(c.c_void_p)]
    lib.zandle_run.argtypes = [c.c_void_p, c.c_char_p, c.c_size_t, c.c_char_p, c.c_size_t]
    lib.zandle_register_escape.argtypes = [c.c_void_p, c.c_char_p, c.c_size_t, ESCAPE, c.c_void_p]
    lib.zandle_escape_arg.argtypes = [c.c_void_p, c.c_uint, c.POINTER(c.POINTER(c.c_char)), c.POINTER(c.c_size_t)]
    lib.zandle_escape_result.argtypes = [c.c_void_p, c.c_uint, c.c_char_p, c.c_size_t]
    lib.zandle_escape_fail.argtypes = [c.c_void_p, c.c_char_p, c.c_size_t]
    lib.zandle_get_text.argtypes = [c.c_void_p, c.c_char_p, c.c_size_t, c.POINTER(c.POINTER(c.c_char)),
                                    c.POINTER(c.c_size_t)]
    lib.zandle_get_float.argtypes = [c.c_void_p, c.c_char_p, c.c_size_t, c.POINTER(c.c_double)]
    lib.zandle_error_name.argtypes = [c.c_void_p]
    lib.zandle_error_name.restype = c.c_char_p
    lib.zandle_where.argtypes = [c.c_void_p, c.POINTER(Place)]
    lib.zandle_free.argtypes = [c.c_void_p]
    lib.zandle_version.restype = c.c_char_p

    printed = []

    @WRITE
    def write(user, data, size):
        printed.append(c.string_at(data, size))
        return 0

    calls = []

    @ESCAPE
    def shout(machine, user):
        text = c.POINTER(c.c_char)()
        size = c.c_size_t()
        if lib.zandle_escape_arg(machine, 0, c.byref(text), c.byref(size)) != 0:
            return lib.zandle_escape_fail(machine, b"NoArgument", 10)
        word = c.string_at(text, size.value)
        calls.append(word)
        if word == b"boom":
            return lib.zandle_escape_fail(machine, b"PythonSaysNo", 12)
        loud = word.upper()
        return lib.zandle_escape_result(machine, 0, loud, len(loud))

    options = Options()
    lib.zandle_options_init(c.byref(options))
    options.output = write
    options.escapes = b"sandbox"
    machine = c.c_void_p()
    check(lib.zandle_new(2, c.byref(options), c.byref(machine)) == 0, "a zndvm machine is created")
    check(lib.zandle_register_escape(machine, b"py.shout", 8, shout, None) == 0, "a Python escape is registered")

    script = (b"New w 'hello'\nNew __Escape_py.shout_ARG0 <w>\nEscape py.shout\n"
              b"New __Escape_std.io.print_ARG0 '__Escape_py.shout_RET0'\nEscape std.io.print\n"
              b"New half \"7 / 2\"\n")
    check(lib.zandle_run(machine, script, len(script), b"py.znd", 6) == 0, "the script runs")
    check(calls == [b"hello"], "the escape was called once with the argument")
    check(b"".join(printed) == b"HELLO\n", "the script printed the escape's result")
    half = c.c_double()
    check(lib.zandle_get_float(machine, b"half", 4, c.byref(half)) == 0 and half.value == 3.5,
          "a typed variable reads back")
    text = c.POINTER(c.c_char)()
    size = c.c_size_t()
    check(lib.zandle_get_text(machine, b"w", 1, c.byref(text), c.byref(size)) == 0 and
          c.string_at(text, size.value) == b"hello", "a variable reads back as text")

    failing = b"New w 'boom'\nEscape py.shout\n"
    check(lib.zandle_run(machine, failing, len(failing), b"py.znd", 6) == 1, "a failing escape fails the run")
    check(lib.zandle_error_name(machine) == b"PythonSaysNo", "under the escape's own name")
    place = Place()
    lib.zandle_where(machine, c.byref(place))
    check(place.line == 2 and c.string_at(place.text, place.text_len) == b"Escape py.shout",
          "at its line and text")
    withheld = b"Escape std.fs.file.read\n"
    check(lib.zandle_run(machine, withheld, len(withheld), None, 0) == 1 and
          lib.zandle_error_name(machine) == b"UnknownEscape", "the sandbox withholds files")
    check(lib.zandle_run(None, b"x", 1, None, 0) == 4, "a null machine is an invalid argument")
    lib.zandle_free(machine)
    header = open(os.path.join(os.path.dirname(__file__), "..", "..", "include", "zandle", "zandle.h")).read()
    version = ".".join(re.search(r"#define ZANDLE_VERSION_%s (\d+)" % part, header).group(1)
                       for part in ("MAJOR", "MINOR", "PATCH"))
    check(lib.zandle_version() == version.encode(), "the version the header gives")

    try:
        out = subprocess.run(["nm", "-D", "--defined-only", path], capture_output=True, text=True, check=True).stdout
        exported = [line.split()[-1] for line in out.splitlines() if line.strip()]
        check(exported and all(name.startswith("zandle_") for name in exported),
              f"only the C interface is exported ({len(exported)} symbols)")
    except (OSError, subprocess.CalledProcessError):
        print("skip the exported-symbol check: nm is not available")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
