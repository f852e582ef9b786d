#!/usr/bin/env python3
"""Builds the seed corpora of the snapshot harnesses from the end-to-end case scripts.

api_snapshot: a spread of the case scripts of each program, each behind eight bytes of
settings (kind, slice size, pauses, changes and their seed; see fuzz/api_snapshot.cpp),
drawn from the script's SHA-1 so that the corpus is the same on every run.
api_restore: real snapshots, taken through the shared library with ctypes from a spread of
the same scripts, paused at a few points and at their end, each behind the byte that names
its kind (fuzz/api_restore.cpp).

Usage: make_snapshot_corpus.py LIBZANDLE_SO   (it rewrites both corpora)
"""

import ctypes
import hashlib
import sys

from make_corpus import ROOT, scripts, write_corpus

PER_PROGRAM = 40
PAUSED = 9


def spread(texts, n):
    texts = sorted(texts, key=lambda t: hashlib.sha1(t).digest())
    return texts[:n]


def settings(kind_bit, text):
    h = hashlib.sha1(text).digest()
    changes = h[0] % 5  # 0 to 4 changes; 0 restores the snapshot as it was taken
    slice_size = 1 + h[1] % 8
    return bytes([kind_bit | (changes << 2), slice_size - 1, 0, h[2] % 3]) + h[4:8]


class Zandle:
    def __init__(self, path):
        c = ctypes
        self.lib = lib = c.CDLL(path)
        self.WRITE = c.CFUNCTYPE(c.c_int, c.c_void_p, c.POINTER(c.c_char), c.c_size_t)
        self.READ = c.CFUNCTYPE(c.c_long, c.c_void_p, c.POINTER(c.c_char), c.c_size_t)

        class Options(c.Structure):
            _fields_ = [("struct_size", c.c_size_t), ("output", self.WRITE), ("output_user", c.c_void_p),
                        ("input", self.READ), ("input_user", c.c_void_p),
                        ("instruction_cap", c.c_uint64), ("memory_cap", c.c_size_t),
                        ("alloc", c.c_void_p), ("alloc_user", c.c_void_p), ("escapes", c.c_char_p)]

        self.Options = Options
        lib.zandle_options_init.argtypes = [c.POINTER(Options)]
        lib.zandle_new.argtypes = [c.c_int, c.POINTER(Options), c.POINTER(c.c_void_p)]
        lib.zandle_run.argtypes = [c.c_void_p, c.c_char_p, c.c_size_t, c.c_char_p, c.c_size_t]
        lib.zandle_set_slice.argtypes = [c.c_void_p, c.c_uint64]
        lib.zandle_resume.argtypes = [c.c_void_p]
        lib.zandle_snapshot.argtypes = [c.c_void_p, c.POINTER(c.c_void_p), c.POINTER(c.c_size_t)]
        lib.zandle_free.argtypes = [c.c_void_p]
        self.write = self.WRITE(lambda user, data, size: 0)
        self.read = self.READ(lambda user, buffer, capacity: 0)

    def snapshots(self, kind, text):
        """Snapshots of `text` run in slices: at its first pauses, half way, and at its end."""
        c = ctypes
        lib = self.lib
        o = self.Options()
        lib.zandle_options_init(c.byref(o))
        o.output = self.write
        o.input = self.read
        o.instruction_cap = 10000
        o.memory_cap = 1 << 20
        o.escapes = b"pure"
        m = c.c_void_p()
        if lib.zandle_new(kind, c.byref(o), c.byref(m)) != 0:
            sys.exit("no machine")
        lib.zandle_set_slice(m, 7)
        taken = []
        status = lib.zandle_run(m, text, len(text), b"seed.znd", 8)
        pauses = 0
        while True:
            if pauses in (1, 3, 12) or status != PAUSED:
                data = c.c_void_p()
                size = c.c_size_t()
                if lib.zandle_snapshot(m, c.byref(data), c.byref(size)) == 0:
                    taken.append(c.string_at(data, size.value))
            if status != PAUSED or pauses > 12:
                break
            status = lib.zandle_resume(m)
            pauses += 1
        lib.zandle_free(m)
        return taken


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    zandle = Zandle(sys.argv[1])
    restore, snapshot = [], []
    for kind, kind_bit, program in ((1, 1, "vm"), (2, 0, "zndvm")):
        for text in spread(scripts(program), PER_PROGRAM):
            snapshot.append(settings(kind_bit, text) + text)
            restore.extend(bytes([kind_bit]) + s for s in zandle.snapshots(kind, text) if len(s) < 8192)
    write_corpus("api_snapshot", snapshot)
    write_corpus("api_restore", restore)


if __name__ == "__main__":
    main()
