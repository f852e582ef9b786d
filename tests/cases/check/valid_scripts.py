#!/usr/bin/env python3
"""zandle-check never says a valid program will fail.

Every script of the case suite that runs to its end with status 0 (with its arguments
naming the script, so that the script is what runs) is checked in its own dialect; none
may get a finding that says "the run stops with", the checker's word for a failure it is
certain of. Findings of the other kind (what runs but is almost surely a mistake) are
allowed: the suite's scripts test such corners on purpose.

Usage: valid_scripts.py CHECKER CASES_DIR
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import run_cases  # noqa: E402


def main():
    checker, cases_dir = sys.argv[1:3]
    checked = wrong = 0
    with tempfile.TemporaryDirectory() as tmp:
        script_path = os.path.join(tmp, "script.znd")
        for program in ("vm", "zndvm"):
            directory = os.path.join(cases_dir, program)
            for name in sorted(os.listdir(directory)):
                for case in run_cases.parse_cases(os.path.join(directory, name)):
                    script = case.text("script")
                    args = case.text("args")
                    if script is None or case.text("status", [0]) != [0]:
                        continue
                    if args is not None and b"{script}" not in args and b"script.znd" not in args:
                        continue
                    with open(script_path, "wb") as f:
                        f.write(script)
                    r = subprocess.run([checker, "--" + program, script_path], capture_output=True, text=True,
                                       errors="replace")
                    checked += 1
                    certain = [line for line in r.stdout.splitlines() if ": the run stops with" in line]
                    if certain:
                        wrong += 1
                        print(f"FAIL {program}/{name}:{case.line}: {case.title}")
                        for line in certain:
                            print("  " + line.replace(script_path, "script.znd"))
    print(f"{checked - wrong} passed, {wrong} failed")
    return 1 if wrong or checked < 100 else 0


if __name__ == "__main__":
    sys.exit(main())
