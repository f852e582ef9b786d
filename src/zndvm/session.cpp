// A machine's life around its runs: creation, the start and the end of a run, the calls a
// host makes, where a run stopped, and the definition of functions. None of it is on the
// path of a running loop, so it is built for size (see "Size" in the README).
#include <cstring>

#include "common/decimal.hpp"
#include "escapes/table.hpp"
#include "limits.hpp"
#include "machine.hpp"

namespace zandle::zndvm {

Machine::Machine(const Options& options)
    : memory_(options.alloc, options.alloc_user, options.memory_cap != 0 ? options.memory_cap : SIZE_MAX),
      vars_(memory_),
      funcs_(memory_),
      code_(memory_),
      stack_(memory_),
      place_(memory_),
      persistent_(memory_, 4096),
      line_(memory_, 1024),
      scratch_(memory_, 1024),
      temp_(memory_, 1024),
      ctx_{vars_, scratch_, temp_},
      tokens_(memory_),
      children_(memory_),
      output_(options.output),
      input_(options.input != nullptr ? options.input : &stdinReader()),
      instruction_cap_(options.instruction_cap != 0 ? options.instruction_cap : UINT64_MAX),
      call_depth_max_(options.call_depth_max < limits::call_depth_max ? options.call_depth_max
                                                                     : limits::call_depth_max),
      escapes_(memory_, options.escapes, findEscape),
      escape_slots_(memory_),
      state_(memory_) {}

bool Machine::failAs(std::string_view host_error) {
  return state_.failAs(Error::HostError, host_error, Error::OutOfMemory);
}

bool Machine::halt(HaltReason reason, int status) { return state_.halt(reason, status); }

bool Machine::setArguments(std::span<const std::string_view> args) {
  if (!vars_.set("VMARGC", Value::ofWord(args.size()))) return fail(Error::OutOfMemory);
  char name[32] = "VMARG";
  for (std::size_t i = 0; i < args.size(); ++i) {
    auto digits = formatU64(i, name + 5);
    if (args[i].size() > str_max || !vars_.set(std::string_view(name, 5 + digits.size()), Value::ofStr(args[i]))) {
      return fail(Error::OutOfMemory);
    }
  }
  return true;
}

void Machine::beginRun() {
  state_.begin();
  stack_.clear();
  recording_ = false;
  recording_depth_ = 0;
  executed_ = 0;
  place_.begin({});
}

Outcome Machine::endRun() {
  if (recording_) state_.undoRecording(code_, funcs_);
  recording_ = false;
  // The top-level line, where the run stopped or where its outermost call was made.
  if (state_.ended()) place_.stop();
  return state_.outcome();
}

Outcome Machine::call(std::string_view function) {
  beginRun();
  const FuncId func = funcs_.find(function);
  if (func == no_func || !funcs_[func].defined) {
    fail(Error::UnknownFunction);
  } else if (pushCall(func, funcs_[func].start)) {
    drive();
  }
  return endRun();
}

LineRef Machine::placeOf(std::uint64_t pc, FuncId func) const {
  const Instruction& ins = code_[pc];
  return {place_.sourceName(funcs_[func].source), ins.line, ins.lineText()};
}

LineRef Machine::failedAt() const {
  return place_.stoppedIn(stack_.size(), [this](std::size_t k) { return placeOf(stack_[k].pc, stack_[k].func); });
}

CallRef Machine::activeCall(std::size_t i) const {
  return place_.call(
      stack_.size(), i, [this](std::size_t k) { return funcs_.name(stack_[k].func); },
      [this](std::size_t k) { return placeOf(stack_[k].pc, stack_[k].func); });
}

bool Machine::execFunc(const Instruction& ins, FuncId func) {
  if (stack_.empty()) {
    // The record already lives in the persistent arena (the driver saw the Func coming).
    const NameId source = place_.sourceId();
    if (source == no_name) return fail(Error::OutOfMemory);
    state_.recordingStarts(func, funcs_[func], code_.size());
    if (!code_.push(ins)) return fail(Error::OutOfMemory);
    funcs_[func] = FuncEntry{code_.size(), source, true};
    recording_ = true;
    recording_depth_ = 0;
    return true;
  }
  // A Func inside a running body: its body was recorded along with the enclosing one, so it
  // is defined in place and execution skips over it.
  Frame& top = stack_.back();
  std::uint64_t end;
  if (!findFuncEnd(top.pc, end)) return false;
  funcs_[func] = FuncEntry{top.pc + 1, funcs_[top.func].source, true};
  top.pc = end + 1;
  return true;
}

bool Machine::findFuncEnd(std::uint64_t pc, std::uint64_t& end) {
  std::uint64_t depth = 1;
  for (std::uint64_t i = pc + 1; i < code_.size(); ++i) {
    if (code_[i].op == Opcode::Func) {
      ++depth;
    } else if (code_[i].op == Opcode::End && --depth == 0) {
      end = i;
      return true;
    }
  }
  return fail(Error::InvalidFunction);
}

}  // namespace zandle::zndvm
