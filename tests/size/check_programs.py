#!/usr/bin/env python3
"""Checks what the release programs promise: each links only the C library (and the dynamic
loader), and each stays under 100,000 bytes once stripped. Prints the figures.

Usage: check_programs.py --strip STRIP --readelf READELF PROGRAM...
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

LIMIT = 100_000
# The C library and the loader, as the platforms name them.
ALLOWED = re.compile(r"^(libc\.so(\.[0-9.]+)?|ld-[-a-z0-9_.]*\.so(\.[0-9.]+)?|libc\.so\.[0-9]+)$")


def needed(readelf, program):
    out = subprocess.run([readelf, "-d", program], capture_output=True, text=True, check=True).stdout
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", out)


def stripped_size(strip, program):
    with tempfile.TemporaryDirectory() as work:
        copy = os.path.join(work, "stripped")
        subprocess.run([strip, "-o", copy, program], check=True)
        return os.path.getsize(copy)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--strip", required=True)
    parser.add_argument("--readelf", required=True)
    parser.add_argument("programs", nargs="+")
    opts = parser.parse_args()
    failed = False
    for program in opts.programs:
        name = os.path.basename(program)
        size = stripped_size(opts.strip, program)
        libraries = needed(opts.readelf, program)
        extra = [lib for lib in libraries if not ALLOWED.match(lib)]
        print(f"{name}: {size:,} bytes stripped (limit {LIMIT:,}); needs {', '.join(libraries) or 'nothing'}")
        if size >= LIMIT:
            print(f"FAIL {name}: {size:,} bytes is not below {LIMIT:,}")
            failed = True
        if extra:
            print(f"FAIL {name}: needs {', '.join(extra)} besides the C library")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
