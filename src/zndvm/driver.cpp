#include "driver.hpp"

#include <new>
#include <stdexcept>
#include <string>

#include "common/files.hpp"
#include "common/output.hpp"
#include "machine.hpp"
#include "texts.hpp"

namespace zandle::zndvm {

namespace {

int report(Error e) {
  std::string line = "error: ";
  line.append(errorName(e)).push_back('\n');
  stderrSink().write(line);
  return 1;
}

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
  try {
    return runMode(args);
  } catch (const Failure& f) {
    return report(f.error);
  } catch (const Halt& h) {
    return h.status;
  } catch (const std::bad_alloc&) {
    return report(Error::OutOfMemory);
  } catch (const std::length_error&) {
    return report(Error::OutOfMemory);
  }
}

}  // namespace zandle::zndvm
