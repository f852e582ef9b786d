// The escape table: library routines compiled into the interpreter, run by `Escape name`.
// Escapes take no parameters: a script puts the names of the variables holding the inputs
// into ARG1 (and ARG2), and the escape stores its result under a fixed variable name.
#pragma once
#include <cstdint>
#include <string_view>

namespace zandle::vm {

class Machine;
// Runs the escape; false when it failed or halted the run (recorded in the machine).
using EscapeFn = bool (*)(Machine&);

struct Escape {
  std::string_view name;
  EscapeFn run;
};

// The entry of that exact name, or null.
const Escape* findEscape(std::string_view name);

// The bit that stands for an escape in a set of allowed escapes (Options::escapes).
std::uint32_t escapeBit(const Escape* escape);
std::uint32_t escapeBit(std::string_view name);  // 0 for an unknown name

// Sets of escapes an embedder may allow: all, or those that touch neither the file system
// nor processes (the console, strings, random numbers and time), or the console alone.
std::uint32_t allEscapes();
std::uint32_t sandboxEscapes();
std::uint32_t consoleEscapes();

}  // namespace zandle::vm
