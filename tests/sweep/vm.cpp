// The allocation-failure sweep over vm: the built-in test program and the plain case scripts
// named on the command line, with the escapes that touch neither files nor processes.
#include <new>

#include "escapes/table.hpp"
#include "machine.hpp"
#include "sweep.hpp"
#include "texts.hpp"

using namespace zandle;

namespace {

struct VmProgram {
  using Outcome = vm::Outcome;

  static Outcome run(std::string_view text, Sink& out, LineReader& in) {
    static const std::uint32_t escapes = vm::consoleEscapes() | vm::escapeBit("StrLen") |
                                         vm::escapeBit("StrSplitNumL") |
                                         vm::escapeBit("StrSplitNumR");
    try {
      vm::Machine machine(vm::Options{.output = &out, .input = &in, .escapes = escapes});
      const std::string_view args[] = {"vm", "script.znd"};
      machine.setArguments(args);
      return machine.runProtected(text);
    } catch (const std::bad_alloc&) {
      return Outcome{.kind = Outcome::Kind::failed, .error = vm::Error::OutOfMemory};
    }
  }

  static std::string describe(const Outcome& o) {
    switch (o.kind) {
      case Outcome::Kind::finished: return "finished";
      case Outcome::Kind::failed: return "failed " + std::string(vm::errorName(o.error));
      case Outcome::Kind::halted: break;
    }
    return std::string("halted ") + (o.halt.reason == vm::Halt::Reason::exit ? "exit " : "budget ") +
           std::to_string(o.halt.status);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // The test program reads one line; it stops at its first escape outside the set (Random).
  const std::vector<sweep::Script> builtins = {
      {"built-in test program", std::string(vm::texts::tests()), "typed line\n"}};
  return sweep::sweepMain<VmProgram>("vm", builtins, argc, argv, 3000);
}
