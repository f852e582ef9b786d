// Arbitrary bytes run as a vm script, in-process, under an instruction cap and a memory cap,
// with output discarded and a fixed small standard input. Only escapes that touch neither the
// file system nor processes are available: the console and the pure string escapes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/output.hpp"
#include "escapes/table.hpp"
#include "harness.hpp"
#include "machine.hpp"

using namespace zandle;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::uint32_t escapes = vm::consoleEscapes() | zandle::groupBit(vm::EscapeGroup::strings);
  PipeInput input(fuzz::fixed_input);
  vm::Machine machine(vm::Options{.output = nullSink(),
                                  .input = &input.reader(),
                                  .instruction_cap = fuzz::instruction_cap,
                                  .memory_cap = fuzz::memory_cap,
                                  .escapes = escapes});
  const std::string_view args[] = {"vm", "fuzz.znd", "one", ""};
  if (!machine.setArguments(args)) fuzz::violated("vm: no room for the arguments");
  const vm::Outcome outcome = machine.run(std::string_view(reinterpret_cast<const char*>(data), size));
  // Exit is not available, so a budget or the cap is the only way to halt.
  if (outcome.ending == Ending::halted &&
      (outcome.reason == vm::HaltReason::exit || outcome.status != 1)) {
    fuzz::violated("vm: a halt other than a budget stop");
  }
  if (machine.memory().held() > fuzz::memory_cap) fuzz::violated("vm: the memory cap was passed");
  return 0;
}
