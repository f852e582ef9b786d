// The command line both programs share, written over the public interface as any host
// would use it: the argument variables, the modes (fixed texts to print, built-in programs
// to run, or a script path), the "error: " report, the exit status, and where a failed run
// stopped (on a terminal, or anywhere with ZANDLE_TRACE=1).
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
  // The failure reported when a printed text is lost, named as the program's escapes name a
  // failed print (given the errno value).
  std::string_view (*write_failure)(int err);
};

// How each program names a lost print: by the system's name for the failure (vm), or as
// WriteFailed, FileTooBig past the file-size limit (zndvm).
std::string_view systemWriteFailure(int err);
std::string_view writeFailed(int err);

// Runs the program for these arguments (argument 0 is the program's path) and returns the
// process exit status.
int runCommandLine(const Program& program, int argc, char** argv);

}  // namespace zandle::cli
