// The command line both programs share, written over the public interface as any host
// would use it: the argument variables, the modes (fixed texts to print, built-in programs
// to run, or a script path), the "error: " report, the exit status, and with ZANDLE_TRACE=1
// where a failed run stopped.
#pragma once
#include <span>
#include <string_view>

#include "zandle/zandle.h"

namespace zandle::cli {

struct Mode {
  std::string_view name;  // the first argument that chooses it
  std::string_view text;  // the text it prints or runs, packed
  bool run;               // a program to run, rather than a text to print
  bool newline;           // a printed text is followed by a line end
};

struct Program {
  zandle_status (*create)(const zandle_options* options, zandle_machine** out);
  int text_fd;  // where printed texts and the fatal messages of halts go (where scripts print)
  std::span<const Mode> modes;
};

// Runs the program for these arguments (argument 0 is the program's path) and returns the
// process exit status.
int runCommandLine(const Program& program, int argc, char** argv);

}  // namespace zandle::cli
