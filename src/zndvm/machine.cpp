#include "machine.hpp"

#include <cstring>

#include "common/bytes.hpp"
#include "common/decimal.hpp"
#include "compiler.hpp"
#include "escapes/table.hpp"
#include "limits.hpp"

namespace zandle::zndvm {

namespace {

// A side of a numeric expression as a double; false when its variable is missing or holds a
// str (the general evaluator then decides: text that reads as a number, or NotNumeric).
inline bool numberOf(const Variables& vars, const NumericExpr::Side& side, double& out) {
  if (side.slot == no_slot) {
    out = side.constant;
    return true;
  }
  const Value* v = vars.get(side.slot);
  return v != nullptr && asNumber(*v, out);
}

void prepareNumeric(Operand& operand) {
  if (operand.mode != AddrMode::literal || operand.expr.size != 3) return;
  const ExprOperand* items = operand.expr.items;
  using Kind = ExprOperand::Kind;
  if (isStringOp(items[1].op)) return;
  NumericExpr& n = operand.numeric;
  for (int k = 0; k < 2; ++k) {
    const ExprOperand& e = items[k * 2];
    NumericExpr::Side& side = k == 0 ? n.left : n.right;
    if (e.kind == Kind::variable) {
      side = {e.variable.slot, 0.0};
    } else {
      side = {no_slot, 0.0};
      asNumber(e.literal, side.constant);
    }
  }
  n.op = items[1].op;
  n.valid = true;
}

// Whether the operand's own text is the name (bare or 'true literal'), or the name must be
// computed when the line runs.
inline bool named(const Operand& o) {
  return o.mode == AddrMode::bare || o.mode == AddrMode::true_literal;
}

// A {name} or <name> operand refers to a variable by its text.
inline bool refersToVariable(const Operand& o) {
  return o.mode == AddrMode::forced_eval || o.mode == AddrMode::pointer;
}

}  // namespace

Machine::Machine(const Options& options)
    : memory_(options.alloc, options.alloc_user, options.memory_cap != 0 ? options.memory_cap : SIZE_MAX),
      vars_(memory_),
      funcs_(memory_),
      sources_(memory_),
      code_(memory_),
      stack_(memory_),
      stopped_text_(memory_),
      stopped_source_(memory_),
      persistent_(memory_, 4096),
      line_(memory_, 1024),
      scratch_(memory_, 1024),
      temp_(memory_, 1024),
      ctx_{vars_, scratch_, temp_},
      tokens_(memory_),
      output_(options.output),
      input_(options.input != nullptr ? options.input : &stdinReader()),
      instruction_cap_(options.instruction_cap != 0 ? options.instruction_cap : UINT64_MAX),
      escapes_(memory_, options.escapes, findEscape),
      host_error_(memory_) {}

bool Machine::fail(Error e) {
  outcome_.ending = Ending::failed;
  outcome_.error = e;
  return false;
}

bool Machine::failAs(std::string_view host_error) {
  host_error_.clear();
  if (!host_error_.append(host_error)) return fail(Error::OutOfMemory);
  return fail(Error::HostError);
}

bool Machine::halt(HaltReason reason, std::string_view message, int status) {
  (void)output_.write(message);  // the process ends either way
  outcome_.ending = Ending::halted;
  outcome_.reason = reason;
  outcome_.status = status;
  return false;
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

void Machine::beginRun() {
  outcome_ = Outcome{};
  stack_.clear();
  recording_ = false;
  recording_depth_ = 0;
  recorded_func_ = no_func;
  executed_ = 0;
  stopped_ = false;
  stopped_at_top_ = false;
  source_ = no_name;
  source_name_ = {};
  line_number_ = 0;
  line_text_ = {};
}

Outcome Machine::endRun() {
  if (recording_ && recorded_func_ != no_func) {
    // The text ended inside a function: the partial body is dropped and the name keeps its
    // earlier meaning, so that no later call runs into whatever is recorded next.
    code_.shrink(code_before_);
    funcs_[recorded_func_] = replaced_;
  }
  recording_ = false;
  if (outcome_.ending != Ending::finished) {
    stopped_ = true;
    stopped_at_top_ = stack_.empty();
    stopped_line_ = line_number_;
    stopped_text_.clear();
    stopped_source_.clear();
    if (!stopped_source_.append(source_name_)) stopped_source_.clear();
    // The top-level line, where the run stopped or where its outermost call was made.
    // Without room for the copy the place is only the line's number.
    if (!stopped_text_.append(line_text_)) stopped_text_.clear();
  }
  return outcome_;
}

Outcome Machine::run(std::string_view source, std::string_view name) {
  beginRun();
  source_name_ = name;
  std::size_t pos = 0;
  while (pos < source.size()) {
    std::size_t nl = source.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? source.size() : nl;
    ++line_number_;
    const std::string_view line = slice(source, pos, end - pos);
    pos = end + 1;
    if (!line.empty() && !runLine(line)) break;
  }
  return endRun();
}

bool Machine::runLine(std::string_view line) {
  line_text_ = line;
  if (Error e = tokenize(line, tokens_); e != Error::ok) return fail(e);
  if (tokens_.empty()) return true;
  // A line that is recorded (or starts a recording) lives as long as the machine: it is
  // copied, and its record points into the copy. Any other lives until it has run.
  Arena* arena = &line_;
  if (recording_ || tokens_[0] == "Func") {
    if (!persistent_.copy(line, line)) return fail(Error::OutOfMemory);
    if (Error e = tokenize(line, tokens_); e != Error::ok) return fail(e);
    arena = &persistent_;
  } else {
    line_.reset();
  }
  Instruction ins;
  if (Error e = compileInstruction(tokens_, *arena, vars_, ins); e != Error::ok) return fail(e);
  ins.text = line;
  ins.line = line_number_;
  if (!prepare(ins)) return false;
  const Step step = interpret(ins);
  if (step == Step::stopped) return false;
  if (step == Step::returned) return fail(Error::Return);
  return stack_.empty() || drive();
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
  return {sources_.name(funcs_[func].source), ins.line, ins.text};
}

LineRef Machine::failedAt() const {
  if (!stopped_) return {};
  if (!stack_.empty()) return placeOf(stack_.back().pc, stack_.back().func);
  return {stopped_source_.view(), stopped_line_, stopped_text_.view()};
}

CallRef Machine::activeCall(std::size_t i) const {
  const std::size_t k = stack_.size() - 1 - i;  // the frame, counted from the bottom
  CallRef c{funcs_.name(stack_[k].func), {}};
  if (k > 0) {
    c.called_from = placeOf(stack_[k - 1].pc, stack_[k - 1].func);
  } else if (stopped_line_ != 0) {
    // Called from the top-level line the run stopped at (nothing when the host called).
    c.called_from = {stopped_source_.view(), stopped_line_, stopped_text_.view()};
  }
  return c;
}

bool Machine::prepare(Instruction& ins) {
  prepareNumeric(ins.data);
  bool ok = true;
  switch (ins.op) {
    case Opcode::New:
      if (named(ins.dest) || refersToVariable(ins.dest)) ok = vars_.intern(ins.dest.text, ins.dest.slot);
      if (ins.data.mode == AddrMode::bare || refersToVariable(ins.data)) {
        ok = ok && vars_.intern(ins.data.text, ins.data.slot);
      } else if (ins.data.mode == AddrMode::true_literal) {
        ins.data.value = parseValue(ins.data.text);
      }
      break;
    case Opcode::Escape:
      if (named(ins.dest)) ok = escapes_.resolve(ins.dest.text, ins.dest.escape);
      else if (refersToVariable(ins.dest)) ok = vars_.intern(ins.dest.text, ins.dest.slot);
      break;
    case Opcode::Func:
    case Opcode::Call:
    case Opcode::If:
      if (named(ins.dest)) ok = funcs_.intern(ins.dest.text, ins.dest.func);
      else if (refersToVariable(ins.dest)) ok = vars_.intern(ins.dest.text, ins.dest.slot);
      if (refersToVariable(ins.data)) ok = ok && vars_.intern(ins.data.text, ins.data.slot);
      break;
    case Opcode::Return:
    case Opcode::End:
      break;
  }
  return stored(ok);
}

bool Machine::record(const Instruction& ins) {
  if (!code_.push(ins)) return fail(Error::OutOfMemory);
  if (ins.op == Opcode::End) {
    if (recording_depth_ == 0) {
      recording_ = false;
    } else {
      --recording_depth_;
    }
  } else if (ins.op == Opcode::Func) {
    ++recording_depth_;
  }
  return true;
}

Machine::Step Machine::interpret(const Instruction& ins) {
  if (!countInstruction()) return Step::stopped;
  scratch_.reset();
  if (recording_) return record(ins) ? Step::next : Step::stopped;
  return execute(ins);
}

// The hot shapes of New and If: a name written in the text and a numeric expression whose
// variables hold numbers. False when the record is not of that shape; nothing has run then.
[[gnu::always_inline]] inline bool Machine::numericFast(const Instruction& ins, Value& result) {
  const NumericExpr& n = ins.data.numeric;
  if (!n.valid || !named(ins.dest)) return false;
  double l, r;
  if (!numberOf(vars_, n.left, l) || !numberOf(vars_, n.right, r)) return false;
  result = applyNumeric(n.op, l, r);
  return true;
}

[[gnu::always_inline]] inline Machine::Step Machine::execute(const Instruction& ins) {
  Value result;
  bool ok = true;
  switch (ins.op) {
    case Opcode::New:
      if (numericFast(ins, result)) {
        vars_.setNumber(ins.dest.slot, result);
      } else {
        ok = execNew(ins);
      }
      break;
    case Opcode::Escape:
      ok = execEscape(ins);
      break;
    case Opcode::Func:
      ok = execFunc(ins);
      break;
    case Opcode::Call: {
      FuncId func;
      ok = functionOf(ins.dest, func) && callFunction(func);
      break;
    }
    case Opcode::If: {
      if (numericFast(ins, result)) {
        if (isTrue(result)) ok = callFunction(ins.dest.func);
        break;
      }
      FuncId func;
      bool holds;
      ok = functionOf(ins.dest, func) && condition(ins, holds) && (!holds || callFunction(func));
      break;
    }
    case Opcode::Return:
      return Step::returned;
    case Opcode::End:  // a stray End in the main program
      break;
  }
  return ok ? Step::next : Step::stopped;
}

// The value of a literal-mode operand: its compiled form when it has one and the keyword
// takes it, else its text through the lenient evaluator.
Value Machine::evalOperand(const Operand& operand, bool use_compiled) {
  if (use_compiled && operand.expr.compiled()) return evalCompiledExpr(ctx_, operand.expr);
  return evaluate(ctx_, operand.text);
}

// The value of the variable that a {name} or <name> operand refers to; null (with `missing`
// recorded) when it has none.
const Value* Machine::heldBy(const Operand& operand, Error missing) {
  const Value* held = vars_.get(operand.slot);
  if (held == nullptr) fail(missing);
  return held;
}

// A {name} operand: the text its variable holds, evaluated.
Value Machine::forcedEval(const Operand& operand) {
  const Value* held = heldBy(operand, Error::UnknownVariable);
  if (held == nullptr) return Value::failure(Error::UnknownVariable);
  char buf[value_text_capacity];
  return evaluate(ctx_, valueToString(*held, buf));
}

// The name an operand stands for, as a str value (in the scratch arena or the operand), or a
// failure.
Value Machine::nameOf(const Operand& operand, bool use_compiled) {
  switch (operand.mode) {
    case AddrMode::literal: {
      const Value v = evalOperand(operand, use_compiled);
      return v.failed() ? v : textValue(scratch_, v);
    }
    case AddrMode::true_literal:
    case AddrMode::bare:
      break;
    case AddrMode::forced_eval: {
      const Value v = forcedEval(operand);
      return v.failed() ? v : textValue(scratch_, v);
    }
    case AddrMode::pointer: {
      const Value* held = heldBy(operand, Error::InvalidPointer);
      if (held == nullptr) return Value::failure(Error::InvalidPointer);
      return textValue(scratch_, *held);
    }
  }
  return Value::ofStr(operand.text);
}

bool Machine::variableOf(const Operand& operand, SlotId& slot) {
  if (named(operand)) {
    slot = operand.slot;
    return true;
  }
  const Value name = nameOf(operand, true);
  if (name.failed()) return fail(name.error());
  return stored(vars_.intern(name.text(), slot));
}

bool Machine::functionOf(const Operand& operand, FuncId& func) {
  if (named(operand)) {
    func = operand.func;
    return true;
  }
  const Value name = nameOf(operand, false);
  if (name.failed()) return fail(name.error());
  return stored(funcs_.intern(name.text(), func));
}

bool Machine::execNew(const Instruction& ins) {
  SlotId dest;
  if (!variableOf(ins.dest, dest)) return false;
  if (!ins.has_data) return fail(Error::UnknownAddressingMode);
  const Operand& data = ins.data;
  Value value;
  switch (data.mode) {
    case AddrMode::literal:
      value = evalOperand(data, true);
      break;
    case AddrMode::true_literal:
      value = data.value;
      break;
    case AddrMode::forced_eval:
      value = forcedEval(data);
      break;
    case AddrMode::pointer:
      // The pointer must point somewhere.
      if (heldBy(data, Error::InvalidPointer) == nullptr) return false;
      value = Value::ofStr(data.text);
      break;
    case AddrMode::bare: {
      const Value* held = heldBy(data, Error::UnknownVariable);
      if (held == nullptr) return false;
      value = *held;
      break;
    }
  }
  if (value.failed()) return fail(value.error());
  if (value.type != Type::str) {
    vars_.setNumber(dest, value);
    return true;
  }
  return stored(vars_.set(dest, value));
}

bool Machine::execEscape(const Instruction& ins) {
  EscapeId id = ins.dest.escape;
  if (!named(ins.dest)) {
    const Value name = nameOf(ins.dest, false);
    if (name.failed()) return fail(name.error());
    if (!escapes_.resolve(name.text(), id)) return fail(Error::OutOfMemory);
  }
  if (!escapes_.runnable(id)) return fail(Error::UnknownEscape);
  running_escape_ = id;
  const bool ok = escapes_.run(id, *this);
  running_escape_ = no_escape;
  return ok;
}

bool Machine::execFunc(const Instruction& ins) {
  FuncId func;
  if (!functionOf(ins.dest, func)) return false;
  if (stack_.empty()) {
    // The record already lives in the persistent arena (the driver saw the Func coming).
    const NameId source = sourceId();
    if (source == no_name) return fail(Error::OutOfMemory);
    recorded_func_ = func;
    replaced_ = funcs_[func];
    code_before_ = code_.size();
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

bool Machine::condition(const Instruction& ins, bool& holds) {
  if (!ins.has_data) return fail(Error::UnknownAddressingMode);
  const Operand& data = ins.data;
  Value v;
  switch (data.mode) {
    case AddrMode::literal:
      v = evalOperand(data, true);
      break;
    case AddrMode::true_literal:
      holds = data.text == "0";
      return true;
    case AddrMode::forced_eval:
      v = forcedEval(data);
      break;
    case AddrMode::pointer: {
      const Value* held = heldBy(data, Error::InvalidPointer);
      if (held == nullptr) return false;
      v = *held;
      break;
    }
    case AddrMode::bare:
      return fail(Error::UnknownAddressingMode);
  }
  if (v.failed()) return fail(v.error());
  holds = isTrue(v);
  return true;
}

bool Machine::callFunction(FuncId func) {
  const FuncEntry& entry = funcs_[func];
  if (!entry.defined) return fail(Error::UnknownFunction);
  // A call of the running function right before its End reuses the frame, so a function
  // that loops by calling itself last runs in constant stack space.
  if (!stack_.empty() && stack_.back().func == func && isTailCall(stack_.back().pc)) {
    stack_.back().pc = entry.start;
    return true;
  }
  return pushCall(func, entry.start);
}

bool Machine::pushCall(FuncId func, std::uint64_t pc) {
  if (stack_.size() >= limits::call_depth_max) {
    return halt(HaltReason::call_stack_overflow, "VM: FATAL: CALL STACK OVERFLOW\n");
  }
  return stored(stack_.push(Frame{pc, func}));
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

bool Machine::isTailCall(std::uint64_t pc) const {
  return pc + 1 < code_.size() && code_[pc + 1].op == Opcode::End;
}

bool Machine::drive() {
  // While driving nothing is recorded, so the code does not grow and stays where it is.
  const Instruction* const code = code_.data();
  const std::uint64_t code_size = code_.size();
  while (!stack_.empty()) {
    const std::uint64_t pc = stack_.back().pc;
    if (pc >= code_size) return fail(Error::InvalidPC);
    const Instruction& ins = code[pc];
    bool returned = ins.op == Opcode::End;
    const std::size_t depth = stack_.size();
    if (!returned) {
      if (!countInstruction()) return false;
      scratch_.reset();
      const Step step = execute(ins);
      if (step == Step::stopped) return false;
      returned = step == Step::returned;
    }
    if (returned) {
      stack_.pop();
      if (stack_.empty()) return true;
      stack_.back().pc += 1;
      continue;
    }
    if (stack_.size() != depth) continue;  // a call: the new frame starts at its body
    if (stack_.back().pc == pc) stack_.back().pc = pc + 1;
  }
  return true;
}

}  // namespace zandle::zndvm
