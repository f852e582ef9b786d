// The allocation-failure sweep over zndvm: the built-in programs and the plain case scripts
// named on the command line, with the escapes that touch nothing outside the machine: the
// console, strings and the terminal (std.misc sleeps and is not repeatable; files and
// processes are not swept).
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

struct ZndvmProgram {
  using Outcome = zndvm::Outcome;

  static constexpr std::uint32_t escapes = zndvm::consoleEscapes() |
                                           zandle::groupBit(zndvm::EscapeGroup::str) |
                                           zandle::groupBit(zndvm::EscapeGroup::term);

  using Machine = zndvm::Machine;

  static zndvm::Options options(Sink out, LineReader& in, sweep::TestAllocator& alloc) {
    return {.output = out, .input = &in, .alloc = sweep::TestAllocator::fn, .alloc_user = &alloc, .escapes = escapes};
  }

  static Outcome start(Machine& machine, std::string_view text) {
    const std::string_view args[] = {"zndvm", "script.znd"};
    if (!machine.setArguments(args)) return machine.outcome();
    return machine.run(text);
  }

  static Outcome run(std::string_view text, Sink out, LineReader& in, sweep::TestAllocator& alloc) {
    Machine machine(options(out, in, alloc));
    return start(machine, text);
  }

  // Every variable with a value, with its type, in the order of their slots.
  static std::string variables(Machine& machine) {
    std::string all;
    zndvm::Variables& vars = machine.vars();
    for (zndvm::SlotId id = 0; id < vars.slotCount(); ++id) {
      const zndvm::Value* v = vars.get(id);
      if (v == nullptr) continue;
      char buf[zndvm::value_text_capacity];
      all += std::string(vars.name(id)) + ":" + std::to_string(static_cast<int>(v->type)) + "=" +
             std::string(zndvm::valueToString(*v, buf)) + "\n";
    }
    return all;
  }

  static std::string describe(const Outcome& o) {
    switch (o.ending) {
      case Ending::finished: return "finished";
      case Ending::failed: return "failed " + std::string(zndvm::errorName(o.error));
      case Ending::halted: break;
      case Ending::paused: return "paused";
    }
    return "halted " + std::to_string(static_cast<int>(o.reason)) + " " + std::to_string(o.status);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // Each stops at its first escape outside the swept set: tests at std.misc.time, dance at
  // std.misc.sleep after drawing its first pose, psh at std.proc.exit after an echo and a
  // clear.
  const std::vector<sweep::Script> builtins = {
      {"built-in tests program", unpacked(zndvm::texts::tests()), "typed line\n"},
      {"built-in dance program", unpacked(zndvm::texts::dance()), ""},
      {"built-in psh program", unpacked(zndvm::texts::psh()), "echo hi there\nclear\nexit\n"},
  };
  return sweep::sweepMain<ZndvmProgram>("zndvm", builtins, argc, argv, 3000);
}
