#!/usr/bin/env python3
"""Checks the TextMate grammar of editors/textmate/zandle.tmLanguage.json.

The grammar must be JSON with the expected top-level keys, every regular expression in it
must compile, and a small tokenizer that applies its rules the way TextMate editors do
(at each position the rule whose match starts first wins, ties going to the rule listed
first; a begin/end rule scopes everything up to its end) must give the expected scope to
the expected spans of a few sample lines of vm and zndvm, so a broken pattern fails here.

Usage: test_textmate.py [path/to/zandle.tmLanguage.json]
"""
import json
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_GRAMMAR = os.path.join(HERE, "..", "..", "editors", "textmate", "zandle.tmLanguage.json")

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


# --- structure -------------------------------------------------------------------------

def check_structure(grammar):
    for key in ("name", "scopeName", "fileTypes", "patterns", "repository"):
        check(key in grammar, f"top-level key {key!r} is missing")
    check(grammar.get("scopeName") == "source.zandle", "scopeName is not source.zandle")
    check(grammar.get("fileTypes") == ["znd"], 'fileTypes is not ["znd"]')
    names = set()

    def walk(node):
        if isinstance(node, dict):
            for key, value in node.items():
                if key in ("name", "contentName") and isinstance(value, str):
                    names.update(value.split())
                walk(value)
        elif isinstance(node, list):
            for item in node:
                walk(item)

    walk(grammar.get("patterns", []))
    walk(grammar.get("repository", {}))
    for scope in ("keyword.control.zandle", "comment.line.number-sign.zandle",
                  "string.quoted.double.zandle", "string.quoted.single.zandle",
                  "meta.forced-eval.zandle", "variable.other.pointer.zandle",
                  "keyword.operator.zandle", "constant.numeric.zandle",
                  "support.function.escape.zandle", "variable.language.zandle"):
        check(scope in names, f"no rule gives the scope {scope}")
    for name in names:
        check(name.endswith(".zandle"), f"scope {name} does not end in .zandle")


def compile_all(grammar):
    """Compiles every regex of the grammar; returns {pattern text: compiled}."""
    compiled = {}

    def walk(node, where):
        if isinstance(node, dict):
            for key, value in node.items():
                if key in ("match", "begin", "end", "while") and isinstance(value, str):
                    try:
                        compiled[value] = re.compile(value)
                    except re.error as e:
                        failures.append(f"{where}.{key}: {value!r} does not compile: {e}")
                else:
                    walk(value, f"{where}.{key}")
        elif isinstance(node, list):
            for i, item in enumerate(node):
                walk(item, f"{where}[{i}]")

    walk(grammar, "grammar")
    return compiled


def check_includes(grammar):
    repository = grammar.get("repository", {})

    def walk(node):
        if isinstance(node, dict):
            include = node.get("include")
            if include is not None and include != "$self":
                check(include.startswith("#") and include[1:] in repository,
                      f"include {include!r} names no repository entry")
            for value in node.values():
                walk(value)
        elif isinstance(node, list):
            for item in node:
                walk(item)

    walk(grammar)


# --- a small TextMate tokenizer --------------------------------------------------------

class Tokenizer:
    def __init__(self, grammar, compiled):
        self.grammar = grammar
        self.repository = grammar.get("repository", {})
        self.compiled = compiled

    def rules(self, patterns, seen=None):
        """The rules of a pattern list, includes resolved, in order."""
        seen = set() if seen is None else seen
        out = []
        for rule in patterns:
            include = rule.get("include")
            if include is None:
                if "match" in rule or "begin" in rule:
                    out.append(rule)
                elif "patterns" in rule:
                    out.extend(self.rules(rule["patterns"], seen))
                continue
            if include in seen:
                continue
            target = self.grammar if include == "$self" else self.repository.get(include[1:])
            if target is None:
                continue
            if "match" in target or "begin" in target:
                out.append(target)
            else:
                out.extend(self.rules(target.get("patterns", []), seen | {include}))
        return out

    @staticmethod
    def paint(scopes, start, end, name):
        if name:
            for i in range(start, end):
                scopes[i].append(name)

    def paint_captures(self, scopes, match, captures):
        for group, capture in sorted((captures or {}).items(), key=lambda kv: int(kv[0])):
            g = int(group)
            if g <= (match.re.groups if match.re else 0) and match.start(g) >= 0:
                self.paint(scopes, match.start(g), match.end(g), capture.get("name"))

    def tokenize(self, lines):
        """Returns, for each line, the list of scopes of each character."""
        stack = []  # the begin/end rules open at this point
        result = []
        for line in lines:
            scopes = [["source.zandle"] + [r["name"] for r in stack if r.get("name")]
                      for _ in line]
            pos = 0
            while pos <= len(line):
                top = stack[-1] if stack else None
                rules = self.rules(top.get("patterns", []) if top else self.grammar["patterns"])
                best = None  # (start, kind, rule, match); the end pattern wins a tie
                if top is not None:
                    m = self.compiled[top["end"]].search(line, pos)
                    if m:
                        best = (m.start(), "end", top, m)
                for rule in rules:
                    m = self.compiled[rule.get("match", rule.get("begin"))].search(line, pos)
                    if m and (best is None or m.start() < best[0]):
                        best = (m.start(), "match" if "match" in rule else "begin", rule, m)
                if best is None:
                    break
                _, kind, rule, m = best
                name = rule.get("name")
                if kind == "end":
                    self.paint_captures(scopes, m, rule.get("endCaptures", rule.get("captures")))
                    if name:  # the characters after the end leave the rule's scope
                        for i in range(m.end(), len(line)):
                            scopes[i].remove(name)
                    stack.pop()
                    pos = m.end()
                elif kind == "match":
                    self.paint(scopes, m.start(), m.end(), name)
                    self.paint_captures(scopes, m, rule.get("captures"))
                    pos = m.end() if m.end() > m.start() else m.end() + 1
                else:  # begin: everything from here on is in the rule's scope until its end
                    self.paint(scopes, m.start(), len(line), name)
                    self.paint_captures(scopes, m, rule.get("beginCaptures", rule.get("captures")))
                    stack.append(rule)
                    pos = m.end() if m.end() > m.start() else m.end() + 1
            result.append(scopes)
        return result


# --- samples ---------------------------------------------------------------------------

VM_SAMPLE = [
    "# A vm script: everything it prints goes to standard error",
    "New msg 'Hello, World!'   # greet",
    "New ARG1 'msg'",
    "Escape Print",
    'New a "6 * 7"   # 42',
    'New msg "msg s++ a"',
    "  New expr '40 + 2'",
    "New x {expr}",
    "Func count",
    'If count "counter > 0"',
    "End",
    "New path a/b#c",
    "New n 1_000",
    'New q "a -?= VMARG1"',
    "Escape StrSplitNumL",
    'New x a"b c"',
    "New y If",
    "Newer x 1",
]

ZNDVM_SAMPLE = [
    "/ a zndvm program",
    "New __Escape_std.io.print_ARG0 <msg>   / print takes a name",
    "Escape std.io.print",
    'New i "i + 1"',
    "New <p> 'new'",
    'New c "VMARGC - 1"',
    "New f '1.5'",
    'New t "abc s?= ab"',
    "Escape std.fs.file.read",
    "New w a/b",
]

# (sample line index, text, occurrence in the line (0 = first), scope the whole text gets,
#  whether the characters right around it must not get that scope)
VM_EXPECT = [
    (0, "# A vm script: everything it prints goes to standard error", 0,
     "comment.line.number-sign.zandle", True),
    (1, "New", 0, "keyword.control.zandle", True),
    (1, "'Hello, World!'", 0, "string.quoted.single.zandle", True),
    (1, "# greet", 0, "comment.line.number-sign.zandle", True),
    (2, "ARG1", 0, "variable.language.zandle", True),
    (3, "Escape", 0, "keyword.control.zandle", True),
    (3, "Print", 0, "support.function.escape.zandle", True),
    (4, '"6 * 7"', 0, "string.quoted.double.zandle", True),
    (4, "*", 0, "keyword.operator.zandle", True),
    (4, "6", 0, "constant.numeric.zandle", True),
    (4, "7", 0, "constant.numeric.zandle", True),
    (5, "s++", 0, "keyword.operator.zandle", True),
    (6, "New", 0, "keyword.control.zandle", True),
    (6, "'40 + 2'", 0, "string.quoted.single.zandle", True),
    (7, "{expr}", 0, "meta.forced-eval.zandle", True),
    (7, "{", 0, "punctuation.definition.forced-eval.begin.zandle", True),
    (8, "Func", 0, "keyword.control.zandle", True),
    (9, "If", 0, "keyword.control.zandle", True),
    (9, ">", 0, "keyword.operator.zandle", True),
    (9, "0", 0, "constant.numeric.zandle", True),
    (10, "End", 0, "keyword.control.zandle", True),
    (12, "1_000", 0, "constant.numeric.zandle", True),
    (13, "-?=", 0, "keyword.operator.zandle", True),
    (13, "VMARG1", 0, "variable.language.zandle", True),
    (14, "StrSplitNumL", 0, "support.function.escape.zandle", True),
    (4, "# 42", 0, "comment.line.number-sign.zandle", True),
    (17, "1", 0, "constant.numeric.zandle", True),
]

ZNDVM_EXPECT = [
    (0, "/ a zndvm program", 0, "comment.line.number-sign.zandle", True),
    (1, "__Escape_std.io.print_ARG0", 0, "variable.language.zandle", True),
    (1, "<msg>", 0, "variable.other.pointer.zandle", True),
    (1, "/ print takes a name", 0, "comment.line.number-sign.zandle", True),
    (2, "std.io.print", 0, "support.function.escape.zandle", True),
    (3, '"i + 1"', 0, "string.quoted.double.zandle", True),
    (3, "+", 0, "keyword.operator.zandle", True),
    (3, "1", 0, "constant.numeric.zandle", True),
    (4, "<p>", 0, "variable.other.pointer.zandle", True),
    (4, "'new'", 0, "string.quoted.single.zandle", True),
    (5, "VMARGC", 0, "variable.language.zandle", True),
    (5, "-", 0, "keyword.operator.zandle", True),
    (6, "1.5", 0, "constant.numeric.zandle", True),
    (7, "s?=", 0, "keyword.operator.zandle", True),
    (8, "std.fs.file.read", 0, "support.function.escape.zandle", True),
]

# (sample, line index, text, occurrence, scope that no character of the text may get)
MUST_NOT = [
    ("vm", 11, "#c", 0, "comment.line.number-sign.zandle"),   # '#' inside a bare word
    ("vm", 11, "a/b#c", 0, "comment.line.number-sign.zandle"),
    ("vm", 5, "msg", 1, "keyword.operator.zandle"),
    ("vm", 5, "a", 0, "constant.numeric.zandle"),
    ("vm", 1, "Hello", 0, "comment.line.number-sign.zandle"),
    ("vm", 6, "+", 0, "keyword.operator.zandle"),               # no operators in '...'
    ("vm", 1, "msg", 0, "keyword.control.zandle"),
    ("vm", 15, '"b c"', 0, "string.quoted.double.zandle"),     # quotes inside a bare word
    ("vm", 16, "If", 0, "keyword.control.zandle"),             # a keyword only starts a line
    ("vm", 17, "New", 0, "keyword.control.zandle"),
    ("zndvm", 9, "/b", 0, "comment.line.number-sign.zandle"),  # '/' inside a bare word
    ("zndvm", 1, "New", 0, "variable.language.zandle"),
]


def find(line, text, occurrence):
    start = -1
    for _ in range(occurrence + 1):
        start = line.find(text, start + 1)
        if start < 0:
            raise AssertionError(f"{text!r} not in {line!r}")
    return start


def check_expectations(name, lines, scopes, expectations):
    for index, text, occurrence, scope, exact in expectations:
        line = lines[index]
        start = find(line, text, occurrence)
        end = start + len(text)
        for i in range(start, end):
            if scope not in scopes[index][i]:
                failures.append(f"{name} line {index + 1} {line!r}: {text!r} at column {i + 1} "
                                f"has {scopes[index][i]}, not {scope}")
                break
        if exact:
            for i in (start - 1, end):
                if 0 <= i < len(line) and not line[i].isspace() and scope in scopes[index][i]:
                    failures.append(f"{name} line {index + 1} {line!r}: {scope} spreads past "
                                    f"{text!r} to column {i + 1}")


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_GRAMMAR
    with open(path, encoding="utf-8") as f:
        try:
            grammar = json.load(f)
        except json.JSONDecodeError as e:
            print(f"FAIL: {path} is not valid JSON: {e}")
            return 1
    check_structure(grammar)
    check_includes(grammar)
    compiled = compile_all(grammar)
    if failures:
        for failure in failures:
            print("FAIL:", failure)
        return 1
    tokenizer = Tokenizer(grammar, compiled)
    vm_scopes = tokenizer.tokenize(VM_SAMPLE)
    zndvm_scopes = tokenizer.tokenize(ZNDVM_SAMPLE)
    check_expectations("vm", VM_SAMPLE, vm_scopes, VM_EXPECT)
    check_expectations("zndvm", ZNDVM_SAMPLE, zndvm_scopes, ZNDVM_EXPECT)
    samples = {"vm": (VM_SAMPLE, vm_scopes), "zndvm": (ZNDVM_SAMPLE, zndvm_scopes)}
    for sample, index, text, occurrence, scope in MUST_NOT:
        lines, scopes = samples[sample]
        start = find(lines[index], text, occurrence)
        for i in range(start, start + len(text)):
            if scope in scopes[index][i]:
                failures.append(f"{sample} line {index + 1} {lines[index]!r}: {text!r} at "
                                f"column {i + 1} must not be {scope}")
                break
    checks = len(VM_EXPECT) + len(ZNDVM_EXPECT) + len(MUST_NOT)
    for failure in failures:
        print("FAIL:", failure)
    print(f"textmate: {len(compiled)} patterns compile, {checks - len(failures)} of {checks} "
          f"span checks hold")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
