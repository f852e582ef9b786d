// Arbitrary bytes run as a zndvm program, in-process, under an instruction cap and a memory
// cap, with output discarded and a fixed small standard input. Only the console escapes are
// available: nothing may sleep, and nothing else is deterministic.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/output.hpp"
#include "escapes/table.hpp"
#include "harness.hpp"
#include "machine.hpp"

using namespace zandle;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  PipeInput input(fuzz::fixed_input);
  NullSink output;
  zndvm::Machine machine(zndvm::Options{.output = &output,
                                        .input = &input.reader(),
                                        .instruction_cap = fuzz::instruction_cap,
                                        .memory_cap = fuzz::memory_cap,
                                        .escapes = zndvm::consoleEscapes()});
  const std::string_view args[] = {"zndvm", "fuzz.znd", "one", "-2.5"};
  machine.setArguments(args);
  const zndvm::Outcome outcome =
      machine.runProtected(std::string_view(reinterpret_cast<const char*>(data), size));
  if (outcome.kind == zndvm::Outcome::Kind::halted && outcome.halt.status != 1) {
    fuzz::violated("zndvm: a halt with a status other than 1");
  }
  return 0;
}
