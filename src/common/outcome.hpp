// One place that knows every way a run can end: normally, by a failure of the script, by a
// halt (the ways that end the process), or by running out of memory. Both interpreters and
// their drivers turn those into an Outcome here.
#pragma once
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "output.hpp"

namespace zandle {

// How a run ended, for a caller that wants an answer rather than an exception.
template <class Error, class Halt>
struct RunOutcome {
  enum class Kind : std::uint8_t { finished, failed, halted };
  Kind kind = Kind::finished;
  Error error{};  // when failed
  Halt halt{};    // when halted
};

// Runs fn and says how it ended; Failure carries an `error`, Halt is thrown as it is.
template <class Outcome, class Failure, class Fn>
Outcome guardRun(Fn&& fn, decltype(Outcome::error) out_of_memory) {
  Outcome outcome;
  try {
    fn();
  } catch (const Failure& f) {
    outcome.kind = Outcome::Kind::failed;
    outcome.error = f.error;
  } catch (const decltype(Outcome::halt)& h) {
    outcome.kind = Outcome::Kind::halted;
    outcome.halt = h;
  } catch (const std::bad_alloc&) {
    outcome.kind = Outcome::Kind::failed;
    outcome.error = out_of_memory;
  } catch (const std::length_error&) {  // a string or list that cannot grow any further
    outcome.kind = Outcome::Kind::failed;
    outcome.error = out_of_memory;
  }
  return outcome;
}

// The one-line report of a failed run on standard error; returns the exit status, 1.
inline int reportFailure(std::string_view name) {
  std::string line = "error: ";
  line.append(name).push_back('\n');
  stderrSink().write(line);
  return 1;
}

// The command line's exit status for a run that ended this way, reporting a failure first
// (under the name the program's own errorName gives it).
template <class Outcome>
int exitStatus(const Outcome& outcome) {
  switch (outcome.kind) {
    case Outcome::Kind::finished: return 0;
    case Outcome::Kind::failed: return reportFailure(errorName(outcome.error));
    case Outcome::Kind::halted: return outcome.halt.status;
  }
  return 1;
}

}  // namespace zandle
