// One run of the vm interpreter: the variable store, the recorded code and its function
// table, the recording flag and the execution budgets. Lines are tokenized and executed one
// at a time; only function bodies are kept, as copies in the machine's region.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/arena.hpp"
#include "common/line_reader.hpp"
#include "common/memory.hpp"
#include "common/outcome.hpp"
#include "common/output.hpp"
#include "errors.hpp"
#include "store.hpp"

namespace zandle::vm {

using Instruction = std::span<const std::string_view>;

// The run ended the process's way: the budget stop or the Exit escape. The driver turns it
// into the exit status; an embedder sees it as an outcome.
struct Halt {
  enum class Reason : std::uint8_t { budget, exit };
  int status;
  Reason reason;
};

// Set by an embedder; the defaults are the command-line program's behaviour.
struct Options {
  Sink* output = nullptr;       // where scripts print; the process's standard error if null
  LineReader* input = nullptr;  // where Input reads; the process's standard input if null
  // Instructions the run may hand to the interpreter, below the fixed budget (0: no lower
  // cap). Passing it is the budget stop.
  std::uint64_t instruction_cap = 0;
  // Bytes of heap the run may hold (0: no cap). Passing it is the OutOfMemory failure.
  std::size_t memory_cap = 0;
  // The escapes the script may use, by bit (escapeBit); the others fail as UnknownEscape.
  std::uint32_t escapes = UINT32_MAX;
};

// How a run ended, for a caller that wants an answer rather than an exception.
using Outcome = RunOutcome<Error, Halt>;

class Machine {
 public:
  explicit Machine(const Options& options = {});

  // Runs a whole script text line by line. Throws Failure on the first failure and Halt when
  // the run ends the process.
  void run(std::string_view text);

  // The same, with every way of ending turned into an Outcome (OutOfMemory included).
  Outcome runProtected(std::string_view text);

  // Executes or records one instruction; returns true when it was a Return.
  bool interpret(Instruction ins);

  // Runs the function named by token 1 of a Call or If instruction.
  void callFunc(Instruction ins);

  // Publishes the command-line arguments as VMARGC and VMARG0, VMARG1, ...
  void setArguments(std::span<const std::string_view> args);

  Variables& data() { return data_; }
  const Variables& data() const { return data_; }
  Sink& output() { return *output_; }
  LineReader& input() { return *input_; }

  // Ends the run the way that ends the process: the message (if any) goes to the output.
  [[noreturn]] void halt(int status, std::string_view message = {});

 private:
  struct Counter {
    std::uint32_t curr = 0;
  };
  void count(Counter& c, std::uint32_t max);
  Instruction copyInstruction(Instruction ins);

  Variables data_;
  std::vector<Instruction> code_;
  NameMap<std::size_t> code_table_;
  bool recording_ = false;
  Arena arena_;  // token copies of recorded instructions
  std::vector<std::string_view> line_tokens_;

  Counter inst_, inst_new_, inst_escape_, inst_func_, inst_call_, inst_return_;

  Sink* output_;
  LineReader* input_;
  std::uint64_t instruction_cap_;
  std::uint32_t escapes_;
  MemoryBudget budget_;
  bool capped_;
};

}  // namespace zandle::vm
