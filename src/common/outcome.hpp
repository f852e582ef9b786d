// One place that knows every way a run can end: normally, by a failure of the script (running
// out of memory included), or by a halt (the ways that end the process: a budget, a cap, an
// exit); or how it can stop for a while: paused, to be resumed. Both interpreters describe a finished run with a RunOutcome, and their command lines
// turn it into the report and the exit status here.
#pragma once
#include <cstdint>
#include <cstring>
#include <string_view>

#include "output.hpp"

namespace zandle {

enum class Ending : std::uint8_t { finished, failed, halted, paused };

template <class Error, class HaltReason>
struct RunOutcome {
  Ending ending = Ending::finished;
  Error error = Error::ok;  // when failed
  HaltReason reason{};      // when halted
  int status = 0;           // the exit status a halt asks for
};

// A line of a script: the name of the text it came from (as given to run), its 1-based
// number there, and the line itself. Empty for a call made by the host.
struct LineRef {
  std::string_view source;
  std::uint32_t line = 0;
  std::string_view text;
};

// A function that was running when a run failed or halted, and where it was called from.
struct CallRef {
  std::string_view function;
  LineRef called_from;
};

// The one-line report of a failed run on standard error; returns the exit status, 1.
inline int reportFailure(std::string_view name) {
  char line[80] = "error: ";
  const std::size_t n = name.size() < sizeof line - 9 ? name.size() : sizeof line - 9;
  std::memcpy(line + 7, name.data(), n);
  line[7 + n] = '\n';
  (void)fdSink(2).write(std::string_view(line, 8 + n));
  return 1;
}

// The command line's exit status for a run that ended this way, reporting a failure first
// (under the name the program's own errorName gives it).
template <class Outcome>
int exitStatus(const Outcome& outcome) {
  switch (outcome.ending) {
    case Ending::finished: return 0;
    case Ending::failed: return reportFailure(errorName(outcome.error));
    case Ending::halted: return outcome.status;
    case Ending::paused: break;  // the command line never pauses
  }
  return 1;
}

}  // namespace zandle
