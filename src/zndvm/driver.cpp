#include "driver.hpp"

#include "common/files.hpp"
#include "common/outcome.hpp"
#include "common/output.hpp"
#include "machine.hpp"
#include "texts.hpp"

namespace zandle::zndvm {

namespace {

Outcome runMode(Machine& machine, std::span<const std::string_view> args) {
  if (!machine.setArguments(args) || args.size() < 2) return machine.outcome();
  const std::string_view first = args[1];
  const Sink out = fdSink(1);
  if (first == "version") {
    // One write, so that the text and its line end are not split.
    Buffer text(machine.memory());
    if (!text.append(texts::version()) || !text.push('\n')) {
      machine.fail(Error::OutOfMemory);
      return machine.outcome();
    }
    (void)out.write(text.view());
    return machine.outcome();
  }
  if (first == "docs") {
    (void)out.write(texts::handbook());
    return machine.outcome();
  }
  if (first == "test") return machine.run(texts::tests());
  if (first == "dance") return machine.run(texts::dance());
  if (first == "psh") return machine.run(texts::psh());
  Buffer program(machine.memory());
  if (auto e = readWholeFile(first, program)) {
    machine.fail(*e);
    return machine.outcome();
  }
  return machine.run(program.view());
}

}  // namespace

int runCommandLine(std::span<const std::string_view> args) {
  makeWriteSignalsHarmless();
  Outcome outcome;
  {
    // The machine is torn down before the report is written.
    Machine machine;
    outcome = runMode(machine, args);
  }
  return exitStatus(outcome);
}

}  // namespace zandle::zndvm
