#include "table.hpp"

#include <cstring>

#include "common/decimal.hpp"
#include "common/name_table.hpp"
#include "library.hpp"
#include "zndvm/instruction.hpp"
#include "zndvm/machine.hpp"

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

constexpr NameTable names{table};

}  // namespace

std::span<const Escape> escapeTable() { return table; }

const Escape* findEscape(std::string_view name) { return names.find(name); }

bool Machine::lookUpEscapeSlot(EscapeVar var, unsigned index, bool create, SlotId& slot) {
  slot = no_slot;
  if (running_escape_ == no_escape) return !create;
  SlotId* cached = nullptr;
  if (var == EscapeVar::last || index < cached_escape_vars) {
    // Without room for the cache the name is simply looked up each time.
    if (escape_slots_.size() > running_escape_ || escape_slots_.resize(running_escape_ + 1)) {
      EscapeSlots& e = escape_slots_[running_escape_];
      cached = var == EscapeVar::arg ? &e.arg[index] : var == EscapeVar::ret ? &e.ret[index] : &e.last;
      if (*cached != 0) {
        slot = *cached - 1;
        return true;
      }
    }
  }
  // The name is put together on the stack; only a host's very long escape name needs the
  // heap.
  const std::string_view parts[] = {"__Escape_", escapes_.name(running_escape_),
                                    var == EscapeVar::arg   ? "_ARG"
                                    : var == EscapeVar::ret ? "_RET"
                                                            : "_last"};
  char digits[24];
  const std::string_view number = var == EscapeVar::last ? std::string_view() : formatU64(index, digits);
  std::size_t size = number.size();
  for (const std::string_view p : parts) size += p.size();
  char fixed[256];
  Buffer heap(memory_);
  char* name = fixed;
  if (size > sizeof fixed) {
    if (!heap.resize(size)) return false;
    name = heap.data();
  }
  std::size_t at = 0;
  for (const std::string_view p : {parts[0], parts[1], parts[2], number}) {
    if (p.empty()) continue;  // an empty view may have no bytes to copy from
    std::memcpy(name + at, p.data(), p.size());
    at += p.size();
  }
  if (create) {
    if (!vars_.intern({name, size}, slot)) return false;
  } else {
    slot = vars_.slotOf({name, size});
    if (slot == no_slot) return true;
  }
  if (cached != nullptr) *cached = slot + 1;
  return true;
}

}  // namespace zandle::zndvm
