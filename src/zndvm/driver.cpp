#include "driver.hpp"

#include <string>

#include "common/files.hpp"
#include "common/outcome.hpp"
#include "common/output.hpp"
#include "machine.hpp"
#include "texts.hpp"

namespace zandle::zndvm {

namespace {

int runMode(std::span<const std::string_view> args) {
  Machine machine;
  machine.setArguments(args);
  if (args.size() < 2) return 0;
  std::string_view first = args[1];
  if (first == "version") {
    std::string text(texts::version());
    text.push_back('\n');
    stdoutSink().write(text);
    return 0;
  }
  if (first == "test") {
    machine.run(texts::tests());
    return 0;
  }
  if (first == "dance") {
    machine.run(texts::dance());
    return 0;
  }
  if (first == "docs") {
    stdoutSink().write(texts::handbook());
    return 0;
  }
  if (first == "psh") {
    machine.run(texts::psh());
    return 0;
  }
  std::string program;
  if (auto err = readWholeFile(first, program)) fail(*err);
  machine.run(program);
  return 0;
}

}  // namespace

int runCommandLine(std::span<const std::string_view> args) {
  makeSigpipeHarmless();
  int status = 0;
  // The machine is torn down before the report is written.
  Outcome outcome = guardRun<Outcome, Failure, Halt>([&] { status = runMode(args); },
                                                     Error::OutOfMemory);
  switch (outcome.kind) {
    case Outcome::Kind::finished: return status;
    case Outcome::Kind::failed: return reportFailure(errorName(outcome.error));
    case Outcome::Kind::halted: return outcome.halt.status;
  }
  return 1;
}

}  // namespace zandle::zndvm
