// Arbitrary bytes run as a zndvm program, in-process, under an instruction cap and a memory
// cap, with output discarded and a fixed small standard input. The console, string and
// terminal escapes are available; nothing may sleep (std.misc), and nothing may touch files
// or processes. The terminal's position query fails at once, since the input is no terminal.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/output.hpp"
#include "escapes/table.hpp"
#include "harness.hpp"
#include "machine.hpp"

using namespace zandle;

namespace {
constexpr std::uint32_t escapes = zndvm::consoleEscapes() | zandle::groupBit(zndvm::EscapeGroup::str) |
                                  zandle::groupBit(zndvm::EscapeGroup::term);
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PipeInput input(fuzz::fixed_input);
  zndvm::Machine machine(zndvm::Options{.output = nullSink(),
                                        .input = &input.reader(),
                                        .instruction_cap = fuzz::instruction_cap,
                                        .memory_cap = fuzz::memory_cap,
                                        .escapes = escapes});
  const std::string_view args[] = {"zndvm", "fuzz.znd", "one", "-2.5"};
  if (!machine.setArguments(args)) fuzz::violated("zndvm: no room for the arguments");
  const zndvm::Outcome outcome =
      machine.run(std::string_view(reinterpret_cast<const char*>(data), size));
  if (outcome.ending == Ending::halted && outcome.status != 1) {
    fuzz::violated("zndvm: a halt with a status other than 1");
  }
  if (machine.memory().held() > fuzz::memory_cap) fuzz::violated("zndvm: the memory cap was passed");
  return 0;
}
