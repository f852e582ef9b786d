#include "table.hpp"

#include "instruction.hpp"
#include "machine.hpp"

namespace zandle::zndvm {

namespace {

constexpr Escape table[] = {
    {"std.io.print", escapes::print},     {"std.io.printLn", escapes::printLn},
    {"std.io.input", escapes::input},     {"std.misc.random", escapes::random},
    {"std.misc.time", escapes::time},     {"std.misc.sleep", escapes::sleep},
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

std::uint32_t findEscape(std::string_view name) {
  if (name.size() < shortest || name.size() > longest) return no_escape;
  for (std::uint32_t i = 0; i < std::size(table); ++i) {
    if (table[i].name == name) return i;
  }
  return no_escape;
}

std::uint32_t escapeBit(std::string_view name) {
  std::uint32_t index = findEscape(name);
  return index == no_escape ? 0 : std::uint32_t{1} << index;
}

std::uint32_t allEscapes() { return (std::uint32_t{1} << std::size(table)) - 1; }

std::uint32_t consoleEscapes() {
  return escapeBit("std.io.print") | escapeBit("std.io.printLn") | escapeBit("std.io.input");
}

const Value* escapes::argument(Machine& m, std::string_view arg_var) {
  const Value* ref = m.vars().find(arg_var);
  if (ref == nullptr) return nullptr;
  char buf[value_text_capacity];
  return m.vars().find(valueToString(*ref, buf));
}

}  // namespace zandle::zndvm
