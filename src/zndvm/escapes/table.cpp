#include "table.hpp"

#include "../instruction.hpp"
#include "../machine.hpp"
#include "library.hpp"

namespace zandle::zndvm {

namespace {

constexpr Escape table[] = {
    {"std.io.print", escapes::print, EscapeGroup::io},
    {"std.io.printLn", escapes::printLn, EscapeGroup::io},
    {"std.io.input", escapes::input, EscapeGroup::io},
    {"std.misc.random", escapes::random, EscapeGroup::misc},
    {"std.misc.time", escapes::time, EscapeGroup::misc},
    {"std.misc.sleep", escapes::sleep, EscapeGroup::misc},
    {"std.str.len", escapes::strLen, EscapeGroup::str},
    {"std.str.find", escapes::strFind, EscapeGroup::str},
    {"std.str.split.num.left", escapes::strSplitLeft, EscapeGroup::str},
    {"std.str.split.num.right", escapes::strSplitRight, EscapeGroup::str},
    {"std.term.screen.clear", escapes::screenClear, EscapeGroup::term},
    {"std.term.cursor.moveAbsolute", escapes::cursorMoveAbsolute, EscapeGroup::term},
    {"std.term.cursor.moveRelative", escapes::cursorMoveRelative, EscapeGroup::term},
    {"std.term.cursor.get", escapes::cursorGet, EscapeGroup::term},
    {"std.term.color.basic.fore", escapes::colorFore, EscapeGroup::term},
    {"std.term.color.basic.back", escapes::colorBack, EscapeGroup::term},
    {"std.term.color.basic.reset", escapes::colorReset, EscapeGroup::term},
// Left out of builds that must not reach files or processes (the WebAssembly one).
#ifndef ZANDLE_NO_SYSTEM_ESCAPES
    {"std.fs.dir.get", escapes::dirGet, EscapeGroup::fs},
    {"std.fs.dir.change", escapes::dirChange, EscapeGroup::fs},
    {"std.fs.dir.list", escapes::dirList, EscapeGroup::fs},
    {"std.fs.file.read", escapes::fileRead, EscapeGroup::fs},
    {"std.fs.file.write", escapes::fileWrite, EscapeGroup::fs},
    {"std.fs.file.append", escapes::fileAppend, EscapeGroup::fs},
    {"std.proc.spawn", escapes::procSpawn, EscapeGroup::proc},
    {"std.proc.wait", escapes::procWait, EscapeGroup::proc},
    {"std.proc.capture", escapes::procCapture, EscapeGroup::proc},
    {"std.proc.exit", escapes::procExit, EscapeGroup::proc},
#endif
};

// The shortest and longest names: anything outside is rejected without a search.
constexpr std::size_t shortest = [] {
  std::size_t n = SIZE_MAX;
  for (const Escape& e : table) n = e.name.size() < n ? e.name.size() : n;
  return n;
}();
constexpr std::size_t longest = [] {
  std::size_t n = 0;
  for (const Escape& e : table) n = e.name.size() > n ? e.name.size() : n;
  return n;
}();

}  // namespace

std::span<const Escape> escapeTable() { return table; }

const Escape* findEscape(std::string_view name) {
  if (name.size() < shortest || name.size() > longest) return nullptr;
  for (const Escape& e : table) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

const Value* escapes::argument(Machine& m, std::string_view arg_var) {
  const Value* ref = m.vars().find(arg_var);
  if (ref == nullptr) return nullptr;
  char buf[value_text_capacity];
  return m.vars().find(valueToString(*ref, buf));
}

}  // namespace zandle::zndvm
