// The allocation-failure sweep over zndvm: the built-in programs and the plain case scripts
// named on the command line, with the console escapes only.
#include "escapes/table.hpp"
#include "machine.hpp"
#include "sweep.hpp"
#include "texts.hpp"

using namespace zandle;

namespace {

struct ZndvmProgram {
  using Outcome = zndvm::Outcome;

  static Outcome run(std::string_view text, Sink out, LineReader& in, sweep::TestAllocator& alloc) {
    zndvm::Machine machine(zndvm::Options{.output = out,
                                          .input = &in,
                                          .alloc = sweep::TestAllocator::fn,
                                          .alloc_user = &alloc,
                                          .escapes = zndvm::consoleEscapes()});
    const std::string_view args[] = {"zndvm", "script.znd"};
    if (!machine.setArguments(args)) return machine.outcome();
    return machine.run(text);
  }

  static std::string describe(const Outcome& o) {
    switch (o.ending) {
      case Ending::finished: return "finished";
      case Ending::failed: return "failed " + std::string(zndvm::errorName(o.error));
      case Ending::halted: break;
    }
    return "halted " + std::to_string(static_cast<int>(o.reason)) + " " + std::to_string(o.status);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // Each stops at its first escape outside the console set: tests at std.misc.time, dance at
  // its terminal escapes, psh at its first file-system escape.
  const std::vector<sweep::Script> builtins = {
      {"built-in tests program", std::string(zndvm::texts::tests()), "typed line\n"},
      {"built-in dance program", std::string(zndvm::texts::dance()), ""},
      {"built-in psh program", std::string(zndvm::texts::psh()), "echo hi\nexit\n"},
  };
  return sweep::sweepMain<ZndvmProgram>("zndvm", builtins, argc, argv, 3000);
}
