// One run of the zndvm interpreter: the variables, the recorded function bodies and the
// function table, the call stack, and the three arenas (persistent, per-instruction scratch,
// per-evaluation temp). Each line is compiled and executed before the next is read; calls
// move a program counter over the recorded records.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "common/arena.hpp"
#include "common/line_reader.hpp"
#include "common/memory.hpp"
#include "common/outcome.hpp"
#include "common/output.hpp"
#include "errors.hpp"
#include "expr.hpp"
#include "instruction.hpp"
#include "variables.hpp"

namespace zandle::zndvm {

// The run ended the way that ends the process (the call-stack overflow, or an embedder's
// instruction cap). The driver turns it into the exit status; an embedder sees it as an
// outcome.
struct Halt {
  enum class Reason : std::uint8_t { call_stack_overflow, instruction_cap };
  int status;
  Reason reason;
};

// Set by an embedder; the defaults are the command-line program's behaviour.
struct Options {
  Sink* output = nullptr;       // program output; the process's standard output if null
  LineReader* input = nullptr;  // std.io.input; the process's standard input if null
  // Instructions the run may execute (0: no cap); passing it halts the run.
  std::uint64_t instruction_cap = 0;
  // Bytes of heap the run may hold (0: no cap). Passing it is the OutOfMemory failure.
  std::size_t memory_cap = 0;
  // The escapes the program may use, by bit (escapeBit); the others fail as UnknownEscape.
  std::uint32_t escapes = UINT32_MAX;
};

// How a run ended, for a caller that wants an answer rather than an exception.
using Outcome = RunOutcome<Error, Halt>;

struct Frame {
  std::uint64_t pc;  // index in the code of the record this frame runs next
  SlotId name;       // the function's id in the function table
};

class Machine {
 public:
  explicit Machine(const Options& options = {});
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Compiles and runs a program text line by line. Throws Failure on the first error and
  // Halt when the run ends the process's way.
  void run(std::string_view source);

  // The same, with every way of ending turned into an Outcome (OutOfMemory included).
  Outcome runProtected(std::string_view source);

  // Publishes the arguments: VMARGC as a word, VMARG0, VMARG1, ... as strings.
  void setArguments(std::span<const std::string_view> args);

  Variables& vars() { return vars_; }
  Sink& output() { return *output_; }
  LineReader& input() { return *input_; }
  Arena& temp() { return temp_; }

  [[noreturn]] void halt(Halt::Reason reason, std::string_view message);

  std::size_t callDepth() const { return stack_.size(); }

 private:
  bool interpret(const Instruction& ins);  // true when the record was a Return
  bool execute(const Instruction& ins);    // interpret, when nothing is being recorded
  bool numericFast(const Instruction& ins, Value& result);
  void drive();
  void pushCall(SlotId name, std::uint64_t pc);
  std::uint64_t findFuncEnd(std::uint64_t pc) const;
  bool isTailCall(std::uint64_t pc) const;

  void prepare(Instruction& ins);
  void record(const Instruction& ins);
  Instruction persist(const Instruction& ins);

  Value evalOperand(const Operand& operand, bool use_compiled);
  const Value& heldBy(const Operand& operand, Error missing);
  Value forcedEval(const Operand& operand);
  std::string_view nameOf(const Operand& operand, bool use_compiled, char* buf);
  SlotId variableOf(const Operand& operand);
  SlotId functionOf(const Operand& operand);
  SlotId computedName(const Operand& operand, bool use_compiled, Variables& table);
  bool condition(const Instruction& ins);
  void callFunction(SlotId name);

  void execNew(const Instruction& ins);
  void execEscape(const Instruction& ins);
  void execFunc(const Instruction& ins);

  Variables vars_;
  Variables funcs_;  // function name -> word: index of the first record of its body
  std::vector<Instruction> code_;
  std::vector<Frame> stack_;
  bool recording_ = false;
  std::uint64_t recording_depth_ = 0;

  Arena persistent_;  // recorded records and their compiled expressions
  Arena line_;        // the record of the top-level line being run
  Arena scratch_;     // one instruction's results
  Arena temp_;        // one evaluation's working memory
  EvalContext ctx_;
  std::vector<std::string_view> tokens_;

  void countInstruction() {
    if (++executed_ > instruction_cap_) {
      halt(Halt::Reason::instruction_cap, "VM: FATAL: INSTRUCTION LIMIT REACHED\n");
    }
  }

  Sink* output_;
  LineReader* input_;
  std::uint64_t executed_ = 0;
  std::uint64_t instruction_cap_;
  std::uint32_t escapes_;
  MemoryBudget budget_;
  bool capped_;
};

}  // namespace zandle::zndvm
