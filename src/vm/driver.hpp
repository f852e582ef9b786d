// The command line of the vm program: the argument variables, the modes (docs, version,
// test, or a script path), the "error: " report and the exit status.
#pragma once
#include <span>
#include <string_view>

namespace zandle::vm {

// Runs the program for these arguments (argument 0 is the program path) and returns the
// process exit status. Messages go to standard error.
int runCommandLine(std::span<const std::string_view> args);

}  // namespace zandle::vm
