// The command line of the zndvm program: the argument variables, the modes (version, docs,
// test, dance, psh, or a program path), the "error: " report and the exit status.
#pragma once
#include <span>
#include <string_view>

namespace zandle::zndvm {

// Runs the program for these arguments (argument 0 is the program path) and returns the
// process exit status. Program output goes to standard output, the report to standard error.
int runCommandLine(std::span<const std::string_view> args);

}  // namespace zandle::zndvm
