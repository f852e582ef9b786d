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
    : MachineBase(options, findEscape),
      instruction_cap_(options.instruction_cap != 0 ? options.instruction_cap : UINT64_MAX),
      call_depth_max_(options.call_depth_max < limits::call_depth_max ? options.call_depth_max
                                                                     : limits::call_depth_max) {
  line_code_[1].op = Opcode::End;
  line_code_[1].form = Form::end;
}

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

void Machine::beginRun(std::string_view name, std::string_view text) {
  state_.begin();
  place_.begin(name, text);
  stack_.clear();
  recording_depth_ = 0;
  executed_ = 0;
  granted_ = left_ = 0;
  record_pending_ = false;
  control_.begin(0);
}

Outcome Machine::endRun() {
  if (state_.paused()) suspend();
  return state_.end(code_, funcs_, place_, Error::OutOfMemory);
}

// A paused run keeps what resuming needs. A top-level line whose record has not run is run
// again from its text; one whose record did has only its End left, and must not keep views
// of the host's text.
void Machine::suspend() {
  if (stack_.size() == 1 && stack_[0].pc == 0) {
    stack_.clear();
    place_.again();
  } else if (!stack_.empty()) {
    line_code_[0] = Instruction{};
    line_code_[0].form = Form::call;
  }
}

void Machine::dropRun() {
  stack_.clear();
  record_pending_ = false;
  state_.discard(code_, funcs_, place_);
}

Outcome Machine::call(std::string_view function) {
  beginRun();
  const FuncId func = funcs_.find(function);
  if (func == no_func || !funcs_[func].defined) {
    fail(Error::UnknownFunction);
  } else {
    // The host's call stands where a top-level Call would: the bottom frame's record (the
    // End after it ends the run when the function returns).
    line_code_[0] = Instruction{};
    line_code_[0].op = Opcode::Call;
    line_code_[0].form = Form::call;
    if (!stack_.push(Frame{0, no_func}) || !stack_.push(Frame{funcs_[func].start, func})) {
      fail(Error::OutOfMemory);
    } else {
      drive();
    }
  }
  return endRun();
}

LineRef Machine::placeOf(std::uint64_t pc, FuncId func) const {
  const Instruction& ins = code_[pc];
  return {place_.sourceName(funcs_[func].source), ins.line, ins.lineText()};
}

// The frames above the top-level line's, k counted from the outermost.
LineRef Machine::failedAt() const {
  return place_.stoppedIn(calls(), [this](std::size_t k) { return placeOf(stack_[k + 1].pc, stack_[k + 1].func); });
}

CallRef Machine::activeCall(std::size_t i) const {
  return place_.call(
      calls(), i, [this](std::size_t k) { return funcs_.name(stack_[k + 1].func); },
      [this](std::size_t k) { return placeOf(stack_[k + 1].pc, stack_[k + 1].func); });
}

Machine::Next Machine::execFunc(const Instruction& ins, FuncId func) {
  Frame& top = stack_.back();
  if (top.func == no_func) {
    // At the top level the following lines are recorded. The record already lives in the
    // persistent arena (the line was kept when its keyword showed).
    const NameId source = place_.sourceId();
    if (source == no_name || !code_.push(ins)) {
      fail(Error::OutOfMemory);
      return Next::stop;
    }
    state_.recordingStarts(func, funcs_[func], code_.size() - 1);
    funcs_[func] = FuncEntry{code_.size(), source, true};
    state_.recording = true;
    recording_depth_ = 0;
    return Next::go_on;
  }
  // A Func inside a running body: its body was recorded along with the enclosing one, so it
  // is defined in place and execution skips over it.
  std::uint64_t end;
  if (!findFuncEnd(top.pc, end)) return Next::stop;
  funcs_[func] = FuncEntry{top.pc + 1, funcs_[top.func].source, true};
  top.pc = end + 1;
  return Next::jump;
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
