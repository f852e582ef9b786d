// One place that knows every way a run can end: normally, by a failure of the script, by a
// halt (the ways that end the process), or by running out of memory. Both interpreters and
// their drivers turn those into an Outcome here.
#pragma once
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "output.hpp"

namespace zandle {

// Runs fn; Outcome must have kind (finished, failed, halted), error and halt members.
template <class Outcome, class Failure, class Halt, class Fn>
Outcome guardRun(Fn&& fn, decltype(Outcome::error) out_of_memory) {
  Outcome outcome;
  try {
    fn();
  } catch (const Failure& f) {
    outcome.kind = Outcome::Kind::failed;
    outcome.error = f.error;
  } catch (const Halt& h) {
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

}  // namespace zandle
