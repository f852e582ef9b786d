// The escape table: host routines compiled into the interpreter, run by `Escape name`. An
// escape takes no parameters; it reads "__Escape_<name>_ARG<n>" variables (each holding the
// name of the variable with the argument) and writes "__Escape_<name>_RET<n>" results.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

namespace zandle::zndvm {

class Machine;
struct Value;

// Runs the escape; false when it failed (recorded in the machine).
using EscapeFn = bool (*)(Machine&);

struct Escape {
  std::string_view name;
  EscapeFn run;
};

std::span<const Escape> escapeTable();

// The table index of the escape named exactly `name`, or no_escape.
std::uint32_t findEscape(std::string_view name);

// The bit that stands for an escape in a set of allowed escapes (Options::escapes); 0 for
// an unknown name. The console set is print, printLn and input.
std::uint32_t escapeBit(std::string_view name);
std::uint32_t allEscapes();
std::uint32_t consoleEscapes();

namespace escapes {

// The argument convention: the value of the variable named by `arg_var`, converted to
// text, names the variable that holds the argument. Null when either is missing.
const Value* argument(Machine& m, std::string_view arg_var);

bool print(Machine& m);
bool printLn(Machine& m);
bool input(Machine& m);
bool random(Machine& m);
bool time(Machine& m);
bool sleep(Machine& m);

}  // namespace escapes

}  // namespace zandle::zndvm
