// The escape table: library routines compiled into the interpreter, run by `Escape name`.
// Escapes take no parameters: a script puts the names of the variables holding the inputs
// into ARG1 (and ARG2), and the escape stores its result under a fixed variable name. Each
// escape belongs to a group, and an embedder allows escapes group by group.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "common/escape_registry.hpp"

namespace zandle::vm {

class Machine;

// What an escape reaches: only files and processes reach outside the interpreter.
enum class EscapeGroup : std::uint8_t { console, strings, misc, files, processes };

// A struct of its own rather than an alias, so that it does not clash with keywords named Escape.
struct Escape : EscapeEntry<Machine, EscapeGroup> {};

// The whole table.
std::span<const Escape> escapeTable();

// The entry of that exact name, or null.
const Escape* findEscape(std::string_view name);

// Sets of groups (Options::escapes): one group, all of them, those that touch neither the
// file system nor processes (the console, strings, random numbers and time), and the
// console alone.
constexpr std::uint32_t allEscapes() { return (groupBit(EscapeGroup::processes) << 1) - 1; }
constexpr std::uint32_t sandboxEscapes() {
  return groupBit(EscapeGroup::console) | groupBit(EscapeGroup::strings) | groupBit(EscapeGroup::misc);
}
constexpr std::uint32_t consoleEscapes() { return groupBit(EscapeGroup::console); }
// What depends on the script and the host alone: the console and strings, not the time nor
// random numbers.
constexpr std::uint32_t pureEscapes() { return groupBit(EscapeGroup::console) | groupBit(EscapeGroup::strings); }

}  // namespace zandle::vm
