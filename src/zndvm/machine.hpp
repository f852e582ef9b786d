// One zndvm interpreter: the variables, the recorded function bodies and the function table,
// the call stack, and four arenas (recorded code, the top-level line being run, one
// instruction's results, one evaluation's working memory). Each line is compiled and executed
// before the next is read: its record runs as the bottom frame of the call stack, so that one
// driver runs every record, the top-level line's and the recorded bodies' alike. Every byte
// comes from the machine's own Memory, and nothing throws: a failure is recorded in the
// machine and every routine that can fail says so by returning false.
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
#include "expr.hpp"
#include "instruction.hpp"
#include "limits.hpp"
#include "variables.hpp"

namespace zandle::zndvm {

// What ended a run the way that ends the process: the call stack or the instruction cap
// (status 1), or the program itself (std.proc.exit, with the status it chose).
enum class HaltReason : std::uint8_t { none, call_stack_overflow, instruction_cap, exit };

using Outcome = RunOutcome<Error, HaltReason>;

// Set by an embedder; the defaults are the command-line program's behaviour.
struct Options {
  Sink output = fdSink(1);      // program output: standard output
  LineReader* input = nullptr;  // std.io.input; the process's standard input if null
  // Instructions the run may execute (0: no cap); passing it halts the run.
  std::uint64_t instruction_cap = 0;
  // Bytes the machine may hold (0: no cap). Passing it is the OutOfMemory failure.
  std::size_t memory_cap = 0;
  AllocFn alloc = systemAlloc;
  void* alloc_user = nullptr;
  // The groups of escapes the program may use (groupBit); the others fail as UnknownEscape.
  std::uint32_t escapes = UINT32_MAX;
  // What pauses its runs (a slice, a deadline, an interrupt); the machine's own if null. A
  // host that keeps it outside the machine can interrupt whatever machine runs under it.
  RunControl* control = nullptr;
  // Calls that may be in progress at once (at most limits::call_depth_max); one more halts.
  std::uint64_t call_depth_max = limits::call_depth_max;
};

// A call in progress. The bottom frame of a run is the top-level line's (func no_func): its
// pc counts in the line's own two records, every other frame's in the recorded code.
struct Frame {
  std::uint64_t pc;  // index of the record this frame runs (or, below the top, called from)
  FuncId func;
};

class Machine : public MachineBase<Machine, Error, HaltReason, FuncEntry, Escape> {
 public:
  explicit Machine(const Options& options = {});

  // Runs a function that an earlier run recorded, as a run of its own; UnknownFunction when
  // there is none of that name.
  Outcome call(std::string_view function);

  // The instructions the run has executed so far, across its pauses.
  std::uint64_t instructions() const { return executed_ + static_cast<std::uint64_t>(granted_ - left_); }
  // The machine as bytes (see snapshot.cpp), into `out`; false when memory runs out. An
  // idle or paused machine only.
  bool snapshot(Buffer& out) const;
  // Puts a snapshot's state on this machine, which must be new (nothing run, nothing set).
  // On anything but Restored::ok the machine is to be thrown away.
  Restored restore(std::string_view bytes);
  // An escape that waits gave up because the run must pause: it runs again when the run
  // resumes. Always false.
  bool pauseBefore() {
    control_.paused();
    return state_.pause();
  }

  // Where the last run failed or halted (nothing when it finished), and the functions that
  // were running then, the innermost first.
  LineRef failedAt() const;
  std::size_t activeCallCount() const { return place_.stopped() ? calls() : 0; }
  CallRef activeCall(std::size_t i) const;

  // Publishes the arguments: VMARGC as a word, VMARG0, VMARG1, ... as strings. False when
  // memory runs out (the outcome then says so).
  bool setArguments(std::span<const std::string_view> args);

  // The name of the escape being run (empty outside escapes).
  std::string_view runningEscape() const {
    return running_escape_ == no_escape ? std::string_view() : escapes_.name(running_escape_);
  }
  // A variable of the running escape's own: __Escape_<name>_ARG<index> (naming the variable
  // that holds argument `index`), _RET<index> (result `index`) or _last (what the escape
  // keeps between runs). Its slot is looked up once per escape and index, so an escape
  // reads and writes its variables without building their names each time. With `create`
  // it is made when missing; without, `slot` is no_slot when it does not exist. False only
  // when memory runs out (nothing is recorded); outside an escape there is no such
  // variable.
  enum class EscapeVar : std::uint8_t { arg, ret, last };
  bool escapeSlot(EscapeVar var, unsigned index, bool create, SlotId& slot) {
    if (running_escape_ < escape_slots_.size() && (var == EscapeVar::last || index < cached_escape_vars)) {
      const EscapeSlots& e = escape_slots_[running_escape_];
      const SlotId cached = var == EscapeVar::arg ? e.arg[index] : var == EscapeVar::ret ? e.ret[index] : e.last;
      if (cached != 0) {
        slot = cached - 1;
        return true;
      }
    }
    return lookUpEscapeSlot(var, index, create, slot);
  }
  // The variable that argument `index` of the running escape names (`name`, what its ARG
  // variable holds), or no_slot. While an argument keeps naming the same variable, as in a
  // loop, the slot comes from a cache rather than a lookup by name.
  SlotId argumentTarget(unsigned index, std::string_view name);
  Variables& vars() { return vars_; }
  // The recorded records, as prepared (what tests and tools may look at).
  std::span<const Instruction> recorded() const { return {code_.data(), code_.size()}; }

 private:
  friend class MachineBase<Machine, Error, HaltReason, FuncEntry, Escape>;

  // What a record of the general form leaves the driver to do: go on to the next record,
  // call a function, go where the frame's pc now says (past a Func's body), or stop.
  enum class Next : std::uint8_t { go_on, call, jump, stop };
  struct General {
    Next next;
    FuncId callee = no_func;  // for Next::call
  };

  bool runLineRecord();
  void proceed();
  void suspend();
  void dropRun();
  bool drive();
  General runGeneral(const Instruction& ins);
  [[gnu::noinline]] bool numericNew(const Instruction& ins);
  [[gnu::noinline]] bool numericIf(const Instruction& ins, bool& holds);
  [[gnu::noinline]] bool checkpoint();
  bool pushCall(FuncId func, std::uint64_t pc);
  [[gnu::noinline, gnu::cold]] bool overflow();
  bool findFuncEnd(std::uint64_t pc, std::uint64_t& end);
  // The calls in progress: the frames above the top-level line's.
  std::size_t calls() const { return stack_.empty() ? 0 : stack_.size() - 1; }

  void beginRun(std::string_view name = {}, std::string_view text = {});
  Outcome endRun();
  bool runLine(std::string_view line);
  bool intern(ParsedLine& parsed);
  bool prepare(ParsedLine& parsed, Arena& arena, bool kept, Instruction& ins);
  bool prepareBinary(const ParsedLine& parsed, Arena& arena, Instruction& ins);
  bool constant(Value value, Arena& arena, const Value*& out);
  bool keepParsed(const ParsedLine& parsed, Arena& arena, const ParsedLine*& out);
  bool record(const Instruction& ins);
  bool append(const Instruction& ins);
  void saveVariables(SnapshotWriter& w) const;
  bool loadVariables(SnapshotReader& r);
  Restored restoreLine(std::string_view text, std::uint32_t number, Instruction& ins);
  bool checkRestored(std::uint64_t depth, std::uint64_t last_block, bool is_recording);
  LineRef placeOf(std::uint64_t pc, FuncId func) const;

  Value evalOperand(const Operand& operand, bool use_compiled);
  const Value* heldBy(const Operand& operand, Error missing);
  Value forcedEval(const Operand& operand);
  Value nameOf(const Operand& operand, bool use_compiled);
  template <class Table>
  bool idOf(const Operand& operand, NameId prepared, bool use_compiled, Table& table, NameId& id);
  bool variableOf(const Operand& operand, SlotId& slot);
  bool functionOf(const Operand& operand, FuncId& func);
  bool condition(const ParsedLine& parsed, bool& holds);
  bool stored(bool ok) { return ok || fail(Error::OutOfMemory); }

  bool execNew(const ParsedLine& parsed);
  bool execEscape(EscapeId index);
  Next execFunc(const Instruction& ins, FuncId func);
  bool newConcat(const Instruction& ins);
  bool newCompare(const Instruction& ins);
  bool newValue(const Instruction& ins);

  Variables vars_{memory_};
  InternTable<FuncEntry> funcs_{memory_};
  Vec<Instruction> code_{memory_};
  Vec<Frame> stack_{memory_};
  // The top-level line's record and an End after it, which the bottom frame runs.
  Instruction line_code_[2];
  std::uint64_t recording_depth_ = 0;

  Arena persistent_{memory_, 4096};  // recorded lines and what their records keep out of line
  Arena line_{memory_, 1024};  // the line being compiled, and a top-level line's record
  Arena scratch_{memory_, 1024};  // one instruction's results
  Arena temp_{memory_, 1024};  // one evaluation's working memory
  EvalContext ctx_{vars_, scratch_, temp_};
  Vec<std::string_view> tokens_{memory_};

  bool countInstruction() {
    if (left_ == 0 && !checkpoint()) return false;
    --left_;
    return true;
  }
  bool capReached() {
    return halt(HaltReason::instruction_cap);
  }

  // Instructions: executed_ counted up to the last checkpoint, granted_ since then, of which
  // left_ are still to run before the next one.
  std::uint64_t executed_ = 0;
  std::int64_t granted_ = 0;
  std::int64_t left_ = 0;
  std::uint64_t instruction_cap_;
  bool record_pending_ = false;  // a paused recording: line_code_[0] waits to be recorded
  std::uint64_t call_depth_max_;
  bool lookUpEscapeSlot(EscapeVar var, unsigned index, bool create, SlotId& slot);

  EscapeId running_escape_ = no_escape;
  // escapeSlot's slots by escape: argument and result slots of the first indexes, and the
  // variables the arguments last named (argumentTarget), plus one, 0 when not looked up yet.
  static constexpr unsigned cached_escape_vars = 4;
  struct EscapeSlots {
    SlotId arg[cached_escape_vars];
    SlotId ret[cached_escape_vars];
    SlotId last;
    SlotId target[cached_escape_vars];
    std::string_view target_name[cached_escape_vars];  // the interned name of target[i]
  };
  Vec<EscapeSlots> escape_slots_{memory_};
};

}  // namespace zandle::zndvm
