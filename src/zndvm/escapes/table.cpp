#include "table.hpp"

#include "../instruction.hpp"
#include "../machine.hpp"

namespace zandle::zndvm {

namespace {

constexpr Escape table[] = {
    {"std.io.print", escapes::print, EscapeGroup::io},
    {"std.io.printLn", escapes::printLn, EscapeGroup::io},
    {"std.io.input", escapes::input, EscapeGroup::io},
    {"std.misc.random", escapes::random, EscapeGroup::misc},
    {"std.misc.time", escapes::time, EscapeGroup::misc},
    {"std.misc.sleep", escapes::sleep, EscapeGroup::misc},
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
