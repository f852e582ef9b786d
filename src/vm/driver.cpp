#include "driver.hpp"

#include <string>

#include "common/files.hpp"
#include "common/outcome.hpp"
#include "common/output.hpp"
#include "machine.hpp"
#include "texts.hpp"

namespace zandle::vm {

namespace {

void runMode(std::span<const std::string_view> args) {
  Machine machine;
  machine.setArguments(args);
  if (args.size() < 2) return;
  std::string_view first = args[1];
  if (first == "version") {
    stderrSink().write(texts::version());
    stderrSink().write("\n");
    return;
  }
  if (first == "test") {
    machine.run(texts::tests());
    return;
  }
  if (first == "docs") {
    stderrSink().write(texts::docs());
    return;
  }
  std::string script;
  if (auto err = readWholeFile(first, script)) fail(*err);
  machine.run(script);
}

}  // namespace

int runCommandLine(std::span<const std::string_view> args) {
  makeSigpipeHarmless();
  // The machine is torn down before the report is written.
  return exitStatus(guardRun<Outcome, Failure>([&] { runMode(args); }, Error::OutOfMemory));
}

}  // namespace zandle::vm
