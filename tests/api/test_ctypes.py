#!/usr/bin/env python3
"""Drives the shared library from Python through ctypes, as any foreign-function interface
would: create a machine, register a host escape written in Python, run a script, read a
variable and a failure's report; run in slices, move a paused run to another machine through
a snapshot, interrupt an endless loop from a Python thread. Also checks that the library
exports only the C interface.

Usage: test_ctypes.py LIBZANDLE_SO
"""

import ctypes
import os
import re
import subprocess
import sys
import threading
import time

failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


PAUSED, INVALID_SNAPSHOT = 9, 10


def control(lib, Options, WRITE):
    """Slices, a snapshot moved to another machine, an interrupt from a thread."""
    c = ctypes
    printed = []

    @WRITE
    def write(user, data, size):
        printed.append(c.string_at(data, size))
        return 0

    options = Options()
    lib.zandle_options_init(c.byref(options))
    options.output = write
    machines = [c.c_void_p() for _ in range(3)]
    for m in machines:
        check(lib.zandle_new(2, c.byref(options), c.byref(m)) == 0, "a machine for control")
    m, moved, looping = machines
    script = (b"New n '0'\nFunc inc\nNew n \"n + 1\"\nEnd\nCall inc\nCall inc\nCall inc\n"
              b"New __Escape_std.io.print_ARG0 'n'\nEscape std.io.print\n")
    lib.zandle_set_slice(m, 3)
    status = lib.zandle_run(m, script, len(script), b"slices.znd", 10)
    check(status == PAUSED and lib.zandle_paused(m) == 1, "a run paused after its first slice")
    pauses = 0
    while status == PAUSED and pauses < 1000:
        pauses += 1
        if pauses == 2:
            data = c.c_void_p()
            size = c.c_size_t()
            check(lib.zandle_snapshot(m, c.byref(data), c.byref(size)) == 0, "a snapshot of a paused run")
            saved = c.string_at(data, size.value)
            check(lib.zandle_restore(moved, saved, len(saved)) == 0, "restored onto another machine")
            check(lib.zandle_restore(moved, saved[:-1], len(saved) - 1) == INVALID_SNAPSHOT,
                  "a truncated snapshot is refused")
            check(lib.zandle_restore(moved, b"not a snapshot", 14) == INVALID_SNAPSHOT,
                  "made-up bytes are refused")
        status = lib.zandle_resume(m)
    check(status == 0 and pauses >= 2, f"the run went on in slices to its end ({pauses} pauses)")
    check(lib.zandle_paused(moved) == 1 and lib.zandle_resume(moved) == 0, "the moved run resumes to its end")
    check(printed == [b"3\n", b"3\n"], "both printed what the whole run prints")

    loop = b"New i '0'\nFunc loop\nNew i \"i + 1\"\nCall loop\nEnd\nCall loop\n"
    timer = threading.Timer(0.05, lib.zandle_interrupt, [looping])
    started = time.monotonic()
    timer.start()
    status = lib.zandle_run(looping, loop, len(loop), None, 0)
    took = time.monotonic() - started
    timer.join()
    check(status == PAUSED and took < 5, f"an endless loop paused by a Python thread ({took:.3f} s)")
    check(lib.zandle_discard(looping) == 0 and lib.zandle_paused(looping) == 0, "and discarded")
    for machine in machines:
        lib.zandle_free(machine)


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
    lib.zandle_set_slice.argtypes = [c.c_void_p, c.c_uint64]
    lib.zandle_set_deadline.argtypes = [c.c_void_p, c.c_uint64]
    lib.zandle_interrupt.argtypes = [c.c_void_p]
    lib.zandle_interrupt.restype = None
    lib.zandle_escape_pause.argtypes = [c.c_void_p]
    lib.zandle_resume.argtypes = [c.c_void_p]
    lib.zandle_discard.argtypes = [c.c_void_p]
    lib.zandle_paused.argtypes = [c.c_void_p]
    lib.zandle_snapshot.argtypes = [c.c_void_p, c.POINTER(c.c_void_p), c.POINTER(c.c_size_t)]
    lib.zandle_restore.argtypes = [c.c_void_p, c.c_char_p, c.c_size_t]

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
    control(lib, Options, WRITE)
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
