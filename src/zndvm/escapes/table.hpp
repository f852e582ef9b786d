// The escape table: host routines compiled into the interpreter, run by `Escape name`. An
// escape takes no parameters; it reads "__Escape_<name>_ARG<n>" variables (each holding the
// name of the variable with the argument) and writes "__Escape_<name>_RET<n>" results. Each
// escape belongs to a group, and an embedder allows escapes group by group.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "common/escape_registry.hpp"
#include "../variables.hpp"

namespace zandle::zndvm {

class Machine;
struct Value;

// What an escape reaches: only files and processes reach outside the interpreter.
enum class EscapeGroup : std::uint8_t { io, str, misc, term, fs, proc };

// A struct of its own rather than an alias, so that it does not clash with keywords named Escape.
struct Escape : EscapeEntry<Machine, EscapeGroup> {};

// The whole table.
std::span<const Escape> escapeTable();

// The entry named exactly `name`, or null.
const Escape* findEscape(std::string_view name);

// Sets of groups (Options::escapes): one group, all of them, those that touch neither the
// file system nor processes nor the terminal, and the console alone (std.io).
constexpr std::uint32_t allEscapes() { return (groupBit(EscapeGroup::proc) << 1) - 1; }
constexpr std::uint32_t sandboxEscapes() {
  return groupBit(EscapeGroup::io) | groupBit(EscapeGroup::str) | groupBit(EscapeGroup::misc);
}
constexpr std::uint32_t consoleEscapes() { return groupBit(EscapeGroup::io); }
// What depends on the program and the host alone: printing, reading and strings, not the
// time, random numbers, sleeping or the terminal.
constexpr std::uint32_t pureEscapes() { return groupBit(EscapeGroup::io) | groupBit(EscapeGroup::str); }

namespace escapes {

// The running escape's argument `index` into `value`: __Escape_<name>_ARG<index> holds (as
// text) the name of the variable with the argument; null when either is missing. False,
// with OutOfMemory recorded, only when memory runs out.
bool argument(Machine& m, unsigned index, const Value*& value);
// The same for a host, who is told of a failure and decides: nothing is recorded. `slot` is
// the variable that holds the argument (no_slot with none).
bool findArgument(Machine& m, unsigned index, const Value*& value, SlotId& slot);
// Stores result `index` of the running escape in __Escape_<name>_RET<index>; false with
// OutOfMemory recorded when there is no room.
bool result(Machine& m, unsigned index, Value value);

bool print(Machine& m);
bool printLn(Machine& m);
bool input(Machine& m);
bool random(Machine& m);
bool time(Machine& m);
bool sleep(Machine& m);

}  // namespace escapes

}  // namespace zandle::zndvm
