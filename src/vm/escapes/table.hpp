// The escape table: library routines compiled into the interpreter, run by `Escape name`.
// Escapes take no parameters: a script puts the names of the variables holding the inputs
// into ARG1 (and ARG2), and the escape stores its result under a fixed variable name.
#pragma once
#include <string_view>

namespace zandle::vm {

class Machine;
using EscapeFn = void (*)(Machine&);

struct Escape {
  std::string_view name;
  EscapeFn run;
};

// The routine of that exact name, or null.
EscapeFn findEscape(std::string_view name);

}  // namespace zandle::vm
