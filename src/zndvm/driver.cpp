#include "driver.hpp"

#include <string>

#include "common/files.hpp"
#include "common/outcome.hpp"
#include "common/output.hpp"
#include "machine.hpp"
#include "texts.hpp"

namespace zandle::zndvm {

namespace {

void runMode(std::span<const std::string_view> args) {
  Machine machine;
  machine.setArguments(args);
  if (args.size() < 2) return;
  std::string_view first = args[1];
  if (first == "version") {
    std::string text(texts::version());
    text.push_back('\n');
    stdoutSink().write(text);
    return;
  }
  if (first == "test") {
    machine.run(texts::tests());
    return;
  }
  if (first == "dance") {
    machine.run(texts::dance());
    return;
  }
  if (first == "docs") {
    stdoutSink().write(texts::handbook());
    return;
  }
  if (first == "psh") {
    machine.run(texts::psh());
    return;
  }
  std::string program;
  if (auto err = readWholeFile(first, program)) fail(*err);
  machine.run(program);
}

}  // namespace

int runCommandLine(std::span<const std::string_view> args) {
  makeSigpipeHarmless();
  // The machine is torn down before the report is written.
  return exitStatus(guardRun<Outcome, Failure>([&] { runMode(args); }, Error::OutOfMemory));
}

}  // namespace zandle::zndvm
