#include "driver.hpp"

#include "common/files.hpp"
#include "common/outcome.hpp"
#include "common/output.hpp"
#include "machine.hpp"
#include "texts.hpp"

namespace zandle::vm {

namespace {

Outcome runMode(Machine& machine, std::span<const std::string_view> args) {
  if (!machine.setArguments(args) || args.size() < 2) return machine.outcome();
  const std::string_view first = args[1];
  const Sink err = fdSink(2);
  if (first == "version") {
    (void)err.write(texts::version());
    (void)err.write("\n");
    return machine.outcome();
  }
  if (first == "docs") {
    (void)err.write(texts::docs());
    return machine.outcome();
  }
  if (first == "test") return machine.run(texts::tests());
  Buffer script(machine.memory());
  if (auto e = readWholeFile(first, script)) {
    machine.fail(*e);
    return machine.outcome();
  }
  return machine.run(script.view());
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

}  // namespace zandle::vm
