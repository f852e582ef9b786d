#!/usr/bin/env python3
"""Runs end-to-end cases against a built program.

A case file holds cases one after another. Each case opens with a title line
"=== title" and consists of sections, each opened by a line "--- name [modifiers]":

  script [nonl|python]   the script, written to script.znd in the case's own temporary
                         directory (the working directory of the run)
  stdin [nonl|python]    standard input (default: empty, closed)
  args                   one line of arguments, split like a shell would; "{script}" is
                         the script's name. Default: the script's name alone
  env                    lines NAME=VALUE set in the environment; a line NAME removes it
  file NAME [nonl|python] a file created in the working directory before the run
  setup                  shell commands run in the working directory before the run
  check                  shell commands run afterwards; they must exit 0 (both see the
                         program's path as $PROGRAM)
  stdout [nonl|regex|python|subst]
  stderr [nonl|regex|python|subst|one-error]
                         the expected output (default: nothing at all); "one-error" takes
                         any output whose only report is the last line, exactly when the
                         status is 1 ("error: " and a name, or a "VM: FATAL: " line)
  status N[,N...]        the expected exit status, or any of several (default 0)
  timeout N              seconds before the run counts as hung (default 20)
  min-seconds N          the run must take at least this long (a sleep, say)
  interrupt N            after N seconds the run gets SIGINT, as from a terminal's ^C, for
                         programs that run until they are stopped; its status is then
                         -2 unless it handles the signal
  ulimit-v KB            address-space limit of the run (skipped under sanitizers)
  ulimit-f KB            file-size limit of the run
  as-nobody              run with an unprivileged user id when started as root
  no-sanitizer           skip the case in sanitizer builds
  closed-stdin           the run starts with descriptor 0 closed
  broken-stdout, broken-stderr
                         the stream is a pipe whose reading end is already closed, so
                         every write to it fails
  stderr-tty             standard error is a terminal (a pseudo-terminal that passes the
                         bytes through unchanged), as for a person running the program

Section text is the lines up to the next section, each ending in a newline (blank lines
before the next case are separators; write such output with "python"); "nonl" drops
the final newline, "python" evaluates the text as a Python expression giving bytes or str,
"regex" matches the output against the text as a regular expression (whole output), and
"subst" replaces {prog} with the program path and {dir} with the working directory.
Lines starting with "#" before the first case are comments.
"""

import argparse
import os
import pty
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time

SECTION_RE = re.compile(r"^--- (\S+)(.*)$")


class Case:
    def __init__(self, title, line):
        self.title = title
        self.line = line
        self.sections = {}
        self.files = []

    def text(self, name, default=None):
        return self.sections.get(name, (None, default))[1]

    def mods(self, name):
        return self.sections.get(name, ([], None))[0]


def finish_text(lines, mods):
    text = "".join(lines)
    if "python" in mods:
        value = eval(text, {})  # test data only: expressions written in the case files
        return value.encode("latin-1") if isinstance(value, str) else value
    if "nonl" in mods and text.endswith("\n"):
        text = text[:-1]
    return text.encode("utf-8", "surrogateescape")


def parse_cases(path):
    cases = []
    case = None
    current = None  # (kind, key, mods, lines)

    def close_section(at_case_end=False):
        nonlocal current
        if current is None:
            return
        kind, key, mods, lines = current
        if at_case_end:
            # Blank lines before the next case separate cases; they are not content.
            while lines and lines[-1] == "\n":
                lines.pop()
        if kind == "file":
            case.files.append((key, finish_text(lines, mods)))
        else:
            case.sections[key] = (mods, finish_text(lines, mods))
        current = None

    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        for number, line in enumerate(f, 1):
            if line.startswith("=== "):
                close_section(at_case_end=True)
                case = Case(line[4:].strip(), number)
                cases.append(case)
                continue
            if case is None:
                if line.strip() and not line.startswith("#"):
                    raise SystemExit(f"{path}:{number}: text before the first case")
                continue
            m = SECTION_RE.match(line.rstrip("\n"))
            if m:
                close_section()
                name, rest = m.group(1), m.group(2).split()
                if name == "status":
                    case.sections[name] = ([], [int(v) for v in rest[0].split(",")])
                elif name in ("timeout", "ulimit-v", "ulimit-f"):
                    case.sections[name] = ([], int(rest[0]))
                elif name in ("min-seconds", "interrupt"):
                    case.sections[name] = ([], float(rest[0]))
                elif name in ("as-nobody", "no-sanitizer", "broken-stdout", "broken-stderr",
                              "closed-stdin", "stderr-tty"):
                    case.sections[name] = ([], True)
                elif name == "file":
                    current = ("file", rest[0], rest[1:], [])
                else:
                    current = ("section", name, rest, [])
                continue
            if current is None:
                if line.strip():
                    raise SystemExit(f"{path}:{number}: text outside a section")
                continue
            current[3].append(line)
    close_section(at_case_end=True)
    return cases


def drop_privileges():
    os.setgroups([])
    os.setgid(65534)
    os.setuid(65534)


_reachable = {}


def reachable_copy(program):
    """A copy of the program that an unprivileged user can run wherever the build is.

    The build may sit in a directory only its owner can enter (a home directory, a
    private temporary directory); the copy goes to a fresh world-readable one."""
    if program not in _reachable:
        directory = tempfile.mkdtemp(prefix="zandle-program-")
        os.chmod(directory, 0o755)
        copy = os.path.join(directory, os.path.basename(program))
        shutil.copy2(program, copy)
        os.chmod(copy, 0o755)
        _reachable[program] = copy
    return _reachable[program]


def remove_reachable_copies():
    for copy in _reachable.values():
        shutil.rmtree(os.path.dirname(copy), ignore_errors=True)


class TerminalStream:
    """A pseudo-terminal for one output stream, read as the program writes to it."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        attrs = termios.tcgetattr(self.slave)
        attrs[1] &= ~termios.OPOST  # no line-end translation: the bytes as written
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        self.data = b""
        self.reader = threading.Thread(target=self._read, daemon=True)

    def _read(self):
        while True:
            try:
                chunk = os.read(self.master, 4096)
            except OSError:  # EIO: every writer has closed the terminal
                break
            if not chunk:
                break
            self.data += chunk

    def started(self):
        os.close(self.slave)
        self.reader.start()

    def finish(self):
        self.reader.join()
        os.close(self.master)
        return self.data


def run_case(case, program, sanitized):
    if sanitized and (case.text("no-sanitizer") or case.text("ulimit-v")):
        return None, "skipped under sanitizers"
    if case.text("as-nobody") and os.geteuid() == 0:
        program = reachable_copy(program)
    workdir = tempfile.mkdtemp(prefix="zandle-case-")
    os.chmod(workdir, 0o777)
    try:
        script = case.text("script")
        if script is not None:
            with open(os.path.join(workdir, "script.znd"), "wb") as f:
                f.write(script)
        for name, content in case.files:
            with open(os.path.join(workdir, name), "wb") as f:
                f.write(content)
        env = dict(os.environ)
        env["PROGRAM"] = program
        env_text = case.text("env")
        if env_text:
            for line in env_text.decode().splitlines():
                if line.strip():
                    key, _, value = line.partition("=")
                    if value == "" and not _:
                        env.pop(key, None)
                    else:
                        env[key] = value
        setup = case.text("setup")
        if setup:
            r = subprocess.run(["sh", "-c", setup.decode()], cwd=workdir, env=env,
                               capture_output=True)
            if r.returncode != 0:
                return False, f"setup failed: {r.stderr.decode(errors='replace')}"
        args_text = case.text("args")
        if args_text is None:
            args = ["script.znd"]
        else:
            args = [a.replace("{script}", "script.znd")
                    for a in shlex.split(args_text.decode("utf-8", "surrogateescape"))]
        limit = case.text("ulimit-v")
        file_limit = case.text("ulimit-f")
        nobody = case.text("as-nobody") and os.geteuid() == 0
        close_stdin = case.text("closed-stdin")

        def preexec():
            signal.signal(signal.SIGPIPE, signal.SIG_DFL)
            if limit or file_limit:
                import resource
                if limit:
                    resource.setrlimit(resource.RLIMIT_AS, (limit * 1024, limit * 1024))
                if file_limit:
                    resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit * 1024, file_limit * 1024))
            if nobody:
                drop_privileges()
            if close_stdin:
                os.close(0)

        stdin = case.text("stdin", b"")
        timeout = case.text("timeout", 20)
        streams = {}
        broken = []
        terminal = TerminalStream() if case.text("stderr-tty") else None
        for stream in ("stdout", "stderr"):
            if stream == "stderr" and terminal:
                streams[stream] = terminal.slave
            elif case.text("broken-" + stream):
                read_end, write_end = os.pipe()
                os.close(read_end)
                streams[stream] = write_end
                broken.append(write_end)
            else:
                streams[stream] = subprocess.PIPE
        started = time.monotonic()
        interrupt = case.text("interrupt")
        try:
            with subprocess.Popen([program] + args, stdin=subprocess.PIPE,
                                  stdout=streams["stdout"], stderr=streams["stderr"],
                                  cwd=workdir, env=env, preexec_fn=preexec) as p:
                if terminal:
                    terminal.started()
                try:
                    if interrupt is None:
                        out, err = p.communicate(stdin, timeout=timeout)
                    else:
                        try:
                            out, err = p.communicate(stdin, timeout=interrupt)
                        except subprocess.TimeoutExpired:
                            p.send_signal(signal.SIGINT)
                            out, err = p.communicate(timeout=timeout)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.communicate()
                    return False, f"no exit within {timeout} s (hang)"
            if terminal:
                err = terminal.finish()
            r = subprocess.CompletedProcess(p.args, p.returncode, out, err)
        finally:
            for fd in broken:
                os.close(fd)
        elapsed = time.monotonic() - started
        problems = []
        min_seconds = case.text("min-seconds")
        if min_seconds and elapsed < min_seconds:
            problems.append(f"took {elapsed:.3f} s, expected at least {min_seconds} s")
        expected_status = case.text("status", [0])
        if r.returncode not in expected_status:
            problems.append(f"exit status {r.returncode}, expected "
                            + " or ".join(map(str, expected_status)))
        for stream, actual in (("stdout", r.stdout), ("stderr", r.stderr)):
            if actual is None:
                continue
            expected = case.text(stream, b"")
            mods = case.mods(stream)
            if "subst" in mods:
                expected = expected.replace(b"{prog}", program.encode()).replace(
                    b"{dir}", os.path.realpath(workdir).encode())
            if "one-error" in mods:
                ok = one_error(actual, r.returncode)
            elif "regex" in mods:
                ok = re.fullmatch(expected, actual, re.DOTALL) is not None
            else:
                ok = expected == actual
            if not ok:
                problems.append(f"{stream} differs\n  expected: {show(expected)}\n"
                                f"  actual:   {show(actual)}")
        check = case.text("check")
        if check and not problems:
            c = subprocess.run(["sh", "-c", check.decode()], cwd=workdir, env=env,
                               capture_output=True)
            if c.returncode != 0:
                problems.append("check failed: " +
                                (c.stdout + c.stderr).decode(errors="replace").strip())
        return not problems, "\n".join(problems)
    finally:
        subprocess.run(["chmod", "-R", "u+rwx", workdir], capture_output=True)
        shutil.rmtree(workdir, ignore_errors=True)


REPORT_RE = re.compile(rb"error: [A-Za-z]+|VM: FATAL: [A-Z ]+")


def one_error(output, status):
    """Whether the output holds a report exactly when the run failed, as its last line."""
    if output and not output.endswith(b"\n"):
        return False
    lines = output.split(b"\n")[:-1]
    reports = [i for i, line in enumerate(lines) if REPORT_RE.fullmatch(line)]
    if status == 0:
        return not reports
    return status == 1 and reports == [len(lines) - 1]


def show(data, limit=600):
    text = repr(data)
    return text if len(text) <= limit else text[:limit] + f"... ({len(data)} bytes)"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--sanitized", action="store_true")
    parser.add_argument("--filter", default="")
    parser.add_argument("files", nargs="+")
    opts = parser.parse_args()
    program = os.path.abspath(opts.program)
    failed = passed = skipped = 0
    for path in opts.files:
        for case in parse_cases(path):
            if opts.filter and opts.filter not in case.title:
                continue
            ok, message = run_case(case, program, opts.sanitized)
            where = f"{os.path.basename(path)}:{case.line}"
            if ok is None:
                skipped += 1
            elif ok:
                passed += 1
            else:
                failed += 1
                print(f"FAIL {where}: {case.title}\n  {message}")
    remove_reachable_copies()
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
