// The allocation-failure sweep over zndvm: the built-in programs and the plain case scripts
// named on the command line, with the console escapes only.
#include <new>

#include "escapes/table.hpp"
#include "machine.hpp"
#include "sweep.hpp"
#include "texts.hpp"

using namespace zandle;

namespace {

struct ZndvmProgram {
  using Outcome = zndvm::Outcome;

  static Outcome run(std::string_view text, Sink& out, LineReader& in) {
    try {
      zndvm::Machine machine(
          zndvm::Options{.output = &out, .input = &in, .escapes = zndvm::consoleEscapes()});
      const std::string_view args[] = {"zndvm", "script.znd"};
      machine.setArguments(args);
      return machine.runProtected(text);
    } catch (const std::bad_alloc&) {
      return Outcome{.kind = Outcome::Kind::failed, .error = zndvm::Error::OutOfMemory};
    }
  }

  static std::string describe(const Outcome& o) {
    switch (o.kind) {
      case Outcome::Kind::finished: return "finished";
      case Outcome::Kind::failed: return "failed " + std::string(zndvm::errorName(o.error));
      case Outcome::Kind::halted: break;
    }
    return std::string("halted ") +
           (o.halt.reason == zndvm::Halt::Reason::call_stack_overflow ? "call stack " : "cap ") +
           std::to_string(o.halt.status);
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
