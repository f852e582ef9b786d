// The allocation-failure sweep over vm: the built-in test program and the plain case scripts
// named on the command line, with the escapes that touch neither files nor processes.
#include "escapes/table.hpp"
#include "machine.hpp"
#include "common/packed.hpp"
#include "sweep.hpp"
#include "texts.hpp"

using namespace zandle;

namespace {

std::string unpacked(std::string_view packed) {
  Memory memory;
  Buffer text(memory);
  if (!unpack(packed, text)) std::abort();
  return std::string(text.view());
}

struct VmProgram {
  using Outcome = vm::Outcome;

  using Machine = vm::Machine;

  static vm::Options options(Sink out, LineReader& in, sweep::TestAllocator& alloc) {
    constexpr std::uint32_t escapes = vm::consoleEscapes() | zandle::groupBit(vm::EscapeGroup::strings);
    return {.output = out, .input = &in, .alloc = sweep::TestAllocator::fn, .alloc_user = &alloc, .escapes = escapes};
  }

  static Outcome start(Machine& machine, std::string_view text) {
    const std::string_view args[] = {"vm", "script.znd"};
    if (!machine.setArguments(args)) return machine.outcome();
    return machine.run(text);
  }

  static Outcome run(std::string_view text, Sink out, LineReader& in, sweep::TestAllocator& alloc) {
    Machine machine(options(out, in, alloc));
    return start(machine, text);
  }

  // Every variable with a value, in the order they were first named.
  static std::string variables(const Machine& machine) {
    std::string all;
    const vm::Variables& vars = machine.data();
    for (NameId id = 0; id < vars.size(); ++id) {
      std::string_view value;
      if (vars.valueOf(id, value)) all += std::string(vars.name(id)) + "=" + std::string(value) + "\n";
    }
    return all;
  }

  static std::string describe(const Outcome& o) {
    switch (o.ending) {
      case Ending::finished: return "finished";
      case Ending::failed: return "failed " + std::string(vm::errorName(o.error));
      case Ending::halted: break;
      case Ending::paused: return "paused";
    }
    return "halted " + std::to_string(static_cast<int>(o.reason)) + " " + std::to_string(o.status);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // The test program reads one line; it stops at its first escape outside the set (Random).
  const std::vector<sweep::Script> builtins = {
      {"built-in test program", unpacked(vm::texts::tests()), "typed line\n"}};
  return sweep::sweepMain<VmProgram>("vm", builtins, argc, argv, 3000);
}
