// One vm interpreter: the variable store, the recorded code and its function table, the
// recording flag and the execution budgets. Lines are tokenized and executed one at a time;
// only function bodies are kept, as copies in the machine's region. Every byte comes from
// the machine's own Memory, and nothing throws: a failure is recorded in the machine and
// every routine that can fail says so by returning false.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "common/arena.hpp"
#include "common/children.hpp"
#include "common/escape_registry.hpp"
#include "common/intern.hpp"
#include "common/line_reader.hpp"
#include "common/memory.hpp"
#include "common/outcome.hpp"
#include "common/output.hpp"
#include "common/machine_base.hpp"
#include "common/run_control.hpp"
#include "common/run_place.hpp"
#include "common/run_state.hpp"
#include "common/snapshot.hpp"
#include "common/vec.hpp"
#include "errors.hpp"
#include "escapes/table.hpp"
#include "limits.hpp"
#include "store.hpp"

namespace zandle::vm {

using Instruction = std::span<const std::string_view>;

// A line as the interpreter runs it: its tokens, and the line itself with its number. A
// recorded Escape line keeps its escape's slot, looked up once when it was recorded.
struct Line {
  Instruction ins;
  std::string_view text;
  std::uint32_t number = 0;
  NameId escape = no_name;
};

// What ended a run the way that ends the process: one of the six budgets, the embedder's
// instruction cap, calls nested past the host's bound, or the Exit escape.
enum class HaltReason : std::uint8_t {
  none,
  instructions,  // the budget of all instructions
  new_,
  escape,
  func,  // Func and If share this budget
  call,
  return_,
  instruction_cap,
  call_depth,
  exit,
};

// The budgets' maxima: maximum + 1 events of each kind run, the next halts the run.
struct Budgets {
  std::uint32_t instructions = limits::inst_max;
  std::uint32_t new_ = limits::inst_new_max;
  std::uint32_t escape = limits::inst_escape_max;
  std::uint32_t func = limits::inst_func_max;
  std::uint32_t call = limits::inst_call_max;
  std::uint32_t return_ = limits::inst_return_max;
};

using Outcome = RunOutcome<Error, HaltReason>;

// Set by an embedder; the defaults are the command-line program's behaviour.
struct Options {
  Sink output = fdSink(2);         // where scripts print: standard error
  LineReader* input = nullptr;     // where Input reads; the process's standard input if null
  // Instructions the run may hand to the interpreter, below the fixed budget (0: no lower
  // cap). Passing it is the budget stop.
  std::uint64_t instruction_cap = 0;
  // Bytes the machine may hold (0: no cap). Passing it is the OutOfMemory failure.
  std::size_t memory_cap = 0;
  AllocFn alloc = systemAlloc;
  void* alloc_user = nullptr;
  // The groups of escapes the script may use (groupBit); the others fail as UnknownEscape.
  std::uint32_t escapes = UINT32_MAX;
  // What pauses its runs (a slice, a deadline, an interrupt); the machine's own if null. A
  // host that keeps it outside the machine can interrupt whatever machine runs under it.
  RunControl* control = nullptr;
  Budgets budgets = {};
  // Calls that may be in progress at once; one more halts.
  std::uint64_t call_depth_max = UINT64_MAX;
};

// A function's entry in the function table.
struct FuncEntry {
  std::size_t start;  // index of the first body line + 1; 0 when not defined
  NameId source;      // the text it came from, among the run place's sources
};

class Machine : public MachineBase<Machine, Error, HaltReason, FuncEntry, Escape> {
 public:
  explicit Machine(const Options& options = {});

  // Runs a function that an earlier run recorded, as a run of its own; UnknownFunction when
  // there is none of that name.
  Outcome call(std::string_view function);

  // The instructions the run has executed so far, across its pauses.
  std::uint64_t instructions() const { return counted_[static_cast<int>(HaltReason::instructions)]; }
  // The machine as bytes (see snapshot.cpp), into `out`; false when memory runs out. An
  // idle or paused machine only.
  bool snapshot(Buffer& out) const;
  // Puts a snapshot's state on this machine, which must be new (nothing run, nothing set).
  // On anything but Restored::ok the machine is to be thrown away.
  Restored restore(std::string_view bytes);
  // An escape that waits gave up because the run must pause: its line runs again when the
  // run resumes, and is not counted twice. Always false.
  bool pauseBefore();

  // Where the last run failed or halted (nothing when it finished), and the functions that
  // were running then, the innermost first.
  LineRef failedAt() const;
  std::size_t activeCallCount() const { return place_.stopped() ? calls_.size() : 0; }
  CallRef activeCall(std::size_t i) const;

  // Publishes the command-line arguments as VMARGC and VMARG0, VMARG1, ... False when
  // memory runs out (the outcome then says so).
  bool setArguments(std::span<const std::string_view> args);

  Variables& data() { return data_; }
  const Variables& data() const { return data_; }
  // Per-instruction working bytes that an escape may use; cleared by whoever uses them.
  Buffer& scratch() { return scratch_; }

  // Executes or records one line. False on a failure, halt or pause; `returned` tells
  // whether it was a Return. A call it makes only begins: the run's loop runs its body.
  bool interpret(const Line& line, bool& returned);

  // Begins a call of the function named by token 1 of a Call or If instruction.
  bool callFunc(Instruction ins);

 private:
  friend class MachineBase<Machine, Error, HaltReason, FuncEntry, Escape>;

  // A call in progress: the function, and the line of its body being run.
  struct Call {
    NameId func;
    std::size_t pos;
  };

  void beginRun(std::string_view name = {}, std::string_view text = {});
  Outcome endRun();
  void proceed();
  void saveVariables(SnapshotWriter& w) const;
  bool loadVariables(SnapshotReader& r);
  void dropRun();
  bool stepCall();
  bool endCall();
  [[gnu::cold]] bool checkpoint();
  bool pauseAfterLine();
  // Counts one event against a budget (a HaltReason from instructions to return_).
  bool count(HaltReason budget);
  [[gnu::cold]] bool overBudget(HaltReason budget);
  bool record(const Line& line);
  bool runBody(NameId func);
  LineRef placeOf(std::size_t pos, NameId func) const;

  Variables data_{memory_};
  Vec<Line> code_{memory_};
  InternTable<FuncEntry> code_table_{memory_};
  Vec<Call> calls_{memory_};
  Arena arena_{memory_, 4096};  // copies of recorded lines and their tokens
  Vec<std::string_view> line_tokens_{memory_};
  Buffer scratch_{memory_};

  // Events counted so far and their maxima, by budget (indexed by HaltReason). A maximum
  // may be UINT32_MAX, so the counts are wider.
  std::uint64_t counted_[static_cast<int>(HaltReason::return_) + 1] = {};
  std::uint32_t budget_max_[static_cast<int>(HaltReason::return_) + 1];
  std::uint64_t call_depth_max_;

  std::uint64_t instruction_cap_;
  std::uint64_t check_at_ = 0;  // the instruction count at which a checkpoint comes
  bool pause_after_ = false;    // the line's escape asked for a pause
};

}  // namespace zandle::vm
