#include "machine.hpp"

#include <cstring>

#include "common/decimal.hpp"
#include "compiler.hpp"
#include "escapes/table.hpp"
#include "limits.hpp"

namespace zandle::zndvm {

namespace {

// A side of a numeric expression as a double; false when its variable is missing or holds a
// str (the general evaluator then decides: text that reads as a number, or NotNumeric).
inline bool numberOf(const Variables& vars, const NumericExpr::Side& side, double& out) {
  if (side.slot == no_id) {
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
  if (items[1].kind != Kind::op || isStringOp(items[1].op)) return;
  NumericExpr& n = operand.numeric;
  for (int k = 0; k < 2; ++k) {
    const ExprOperand& e = items[k * 2];
    NumericExpr::Side& side = k == 0 ? n.left : n.right;
    if (e.kind == Kind::variable) {
      side = {e.variable.slot, 0.0};
    } else {
      side = {no_id, 0.0};
      asNumber(e.literal, side.constant);
    }
  }
  n.op = items[1].op;
  n.valid = true;
}

}  // namespace

Machine::Machine(const Options& options)
    : persistent_(64 * 1024),
      line_(4096),
      scratch_(16 * 1024),
      temp_(16 * 1024),
      ctx_{vars_, scratch_, temp_},
      output_(options.output != nullptr ? options.output : &stdoutSink()),
      input_(options.input != nullptr ? options.input : &stdinReader()),
      instruction_cap_(options.instruction_cap != 0 ? options.instruction_cap : UINT64_MAX),
      escapes_(options.escapes),
      capped_(options.memory_cap != 0) {
  if (capped_) budget_.cap = options.memory_cap;
}

void Machine::halt(Halt::Reason reason, std::string_view message) {
  output_->write(message);
  throw Halt{1, reason};
}

Outcome Machine::runProtected(std::string_view source) {
  return guardRun<Outcome, Failure>([&] { run(source); }, Error::OutOfMemory);
}

void Machine::setArguments(std::span<const std::string_view> args) {
  MemoryScope scope(capped_ ? &budget_ : nullptr);
  vars_.set("VMARGC", Value::ofWord(args.size()));
  char name[32] = "VMARG";
  for (std::size_t i = 0; i < args.size(); ++i) {
    auto digits = formatU64(i, name + 5);
    vars_.set(std::string_view(name, 5 + digits.size()), Value::ofStr(args[i]));
  }
}

void Machine::run(std::string_view source) {
  MemoryScope scope(capped_ ? &budget_ : nullptr);
  std::size_t pos = 0;
  while (pos < source.size()) {
    std::size_t nl = source.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? source.size() : nl;
    std::string_view line = source.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty()) continue;
    tokenize(line, tokens_);
    if (tokens_.empty()) continue;
    // A line being recorded lives as long as the run; any other only until it has run.
    Arena* arena = &persistent_;
    if (!recording_) {
      line_.reset();
      arena = &line_;
    }
    Instruction ins = compileInstruction(tokens_, *arena, vars_);
    prepare(ins);
    if (interpret(ins)) fail(Error::Return);
    if (!stack_.empty()) drive();
  }
}

void Machine::prepare(Instruction& ins) {
  auto named = [](const Operand& o) {
    return o.mode == AddrMode::bare || o.mode == AddrMode::true_literal;
  };
  auto refersToVariable = [](const Operand& o) {
    return o.mode == AddrMode::forced_eval || o.mode == AddrMode::pointer;
  };
  prepareNumeric(ins.data);
  switch (ins.op) {
    case Opcode::New:
      if (named(ins.dest) || refersToVariable(ins.dest)) ins.dest.id = vars_.intern(ins.dest.text);
      if (ins.data.mode == AddrMode::bare || refersToVariable(ins.data)) {
        ins.data.id = vars_.intern(ins.data.text);
      } else if (ins.data.mode == AddrMode::true_literal) {
        ins.data.value = parseValue(ins.data.text);
      }
      break;
    case Opcode::Escape:
      if (named(ins.dest)) ins.dest.id = findEscape(ins.dest.text);
      else if (refersToVariable(ins.dest)) ins.dest.id = vars_.intern(ins.dest.text);
      break;
    case Opcode::Func:
    case Opcode::Call:
    case Opcode::If:
      if (named(ins.dest)) ins.dest.id = funcs_.intern(ins.dest.text);
      else if (refersToVariable(ins.dest)) ins.dest.id = vars_.intern(ins.dest.text);
      if (refersToVariable(ins.data)) ins.data.id = vars_.intern(ins.data.text);
      break;
    case Opcode::Return:
    case Opcode::End:
      break;
  }
}

// A copy whose texts and compiled expressions live in the persistent arena.
Instruction Machine::persist(const Instruction& ins) {
  Instruction copy = ins;
  for (Operand* o : {&copy.dest, &copy.data}) {
    o->text = persistent_.copy(o->text);
    if (o->expr.compiled()) o->expr = compileExpression(persistent_, o->text, vars_);
  }
  return copy;
}

void Machine::record(const Instruction& ins) {
  code_.push_back(ins);
  if (ins.op == Opcode::End) {
    if (recording_depth_ == 0) {
      recording_ = false;
    } else {
      --recording_depth_;
    }
  } else if (ins.op == Opcode::Func) {
    ++recording_depth_;
  }
}

bool Machine::interpret(const Instruction& ins) {
  countInstruction();
  scratch_.reset();
  if (recording_) {
    record(ins);
    return false;
  }
  return execute(ins);
}

// The hot shapes of New and If: a name written in the text and a numeric expression whose
// variables hold numbers. False when the record is not of that shape; nothing has run then.
[[gnu::always_inline]] inline bool Machine::numericFast(const Instruction& ins, Value& result) {
  const NumericExpr& n = ins.data.numeric;
  if (!n.valid || (ins.dest.mode != AddrMode::bare && ins.dest.mode != AddrMode::true_literal)) {
    return false;
  }
  double l, r;
  if (!numberOf(vars_, n.left, l) || !numberOf(vars_, n.right, r)) return false;
  result = applyNumeric(n.op, l, r);
  return true;
}

[[gnu::always_inline]] inline bool Machine::execute(const Instruction& ins) {
  Value result;
  switch (ins.op) {
    case Opcode::New:
      if (numericFast(ins, result)) {
        vars_.setNumber(ins.dest.id, result);
      } else {
        execNew(ins);
      }
      return false;
    case Opcode::Escape:
      execEscape(ins);
      return false;
    case Opcode::Func:
      execFunc(ins);
      return false;
    case Opcode::Call:
      callFunction(functionOf(ins.dest));
      return false;
    case Opcode::If: {
      if (numericFast(ins, result)) {
        if (isTrue(result)) callFunction(ins.dest.id);
        return false;
      }
      SlotId name = functionOf(ins.dest);
      if (condition(ins)) callFunction(name);
      return false;
    }
    case Opcode::Return:
      return true;
    case Opcode::End:  // a stray End in the main program
      return false;
  }
  return false;
}

// The value of a literal-mode operand: its compiled form when it has one and the keyword
// takes it, else its text through the lenient evaluator.
Value Machine::evalOperand(const Operand& operand, bool use_compiled) {
  if (use_compiled && operand.expr.compiled()) return evalCompiledExpr(ctx_, operand.expr);
  return evaluate(ctx_, operand.text);
}

// The value of the variable that a {name} or <name> operand refers to; fails with `missing`
// when it has none.
const Value& Machine::heldBy(const Operand& operand, Error missing) {
  const Value* held = vars_.get(operand.id);
  if (held == nullptr) fail(missing);
  return *held;
}

// A {name} operand: the text its variable holds, evaluated.
Value Machine::forcedEval(const Operand& operand) {
  char buf[value_text_capacity];
  return evaluate(ctx_, valueToString(heldBy(operand, Error::UnknownVariable), buf));
}

// The name an operand stands for. `buf` (value_text_capacity bytes) receives a printed
// number; a text result lives in the scratch arena or in the operand.
std::string_view Machine::nameOf(const Operand& operand, bool use_compiled, char* buf) {
  switch (operand.mode) {
    case AddrMode::literal:
      return valueToString(scratch_, evalOperand(operand, use_compiled));
    case AddrMode::true_literal:
    case AddrMode::bare:
      return operand.text;
    case AddrMode::forced_eval:
      return valueToString(scratch_, forcedEval(operand));
    case AddrMode::pointer:
      return valueToString(heldBy(operand, Error::InvalidPointer), buf);
  }
  return operand.text;
}

SlotId Machine::variableOf(const Operand& operand) {
  if (operand.mode == AddrMode::bare || operand.mode == AddrMode::true_literal) return operand.id;
  return computedName(operand, true, vars_);
}

SlotId Machine::functionOf(const Operand& operand) {
  if (operand.mode == AddrMode::bare || operand.mode == AddrMode::true_literal) return operand.id;
  return computedName(operand, false, funcs_);
}

SlotId Machine::computedName(const Operand& operand, bool use_compiled, Variables& table) {
  char buf[value_text_capacity];
  return table.intern(nameOf(operand, use_compiled, buf));
}

void Machine::execNew(const Instruction& ins) {
  SlotId dest = variableOf(ins.dest);
  if (!ins.has_data) fail(Error::UnknownAddressingMode);
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
      heldBy(data, Error::InvalidPointer);  // the pointer must point somewhere
      value = Value::ofStr(data.text);
      break;
    case AddrMode::bare:
      value = heldBy(data, Error::UnknownVariable);
      break;
  }
  if (value.type == Type::str) {
    vars_.set(dest, value);
  } else {
    vars_.setNumber(dest, value);
  }
}

void Machine::execEscape(const Instruction& ins) {
  std::uint32_t index = ins.dest.id;
  if (ins.dest.mode != AddrMode::bare && ins.dest.mode != AddrMode::true_literal) {
    char buf[value_text_capacity];
    index = findEscape(nameOf(ins.dest, false, buf));
  }
  if (index == no_id || (escapes_ & (std::uint32_t{1} << index)) == 0) fail(Error::UnknownEscape);
  escapeTable()[index].run(*this);
}

void Machine::execFunc(const Instruction& ins) {
  SlotId name = functionOf(ins.dest);
  if (stack_.empty()) {
    std::uint64_t start = code_.size() + 1;
    code_.push_back(persist(ins));
    funcs_.set(name, Value::ofWord(start));
    recording_ = true;
    recording_depth_ = 0;
    return;
  }
  // A Func inside a running body: its body was recorded along with the enclosing one, so it
  // is defined in place and execution skips over it.
  Frame& top = stack_.back();
  std::uint64_t end = findFuncEnd(top.pc);
  funcs_.set(name, Value::ofWord(top.pc + 1));
  stack_.back().pc = end + 1;
}

bool Machine::condition(const Instruction& ins) {
  if (!ins.has_data) fail(Error::UnknownAddressingMode);
  const Operand& data = ins.data;
  switch (data.mode) {
    case AddrMode::literal:
      return isTrue(evalOperand(data, true));
    case AddrMode::true_literal:
      return data.text == "0";
    case AddrMode::forced_eval:
      return isTrue(forcedEval(data));
    case AddrMode::pointer:
      return isTrue(heldBy(data, Error::InvalidPointer));
    case AddrMode::bare:
      break;
  }
  fail(Error::UnknownAddressingMode);
}

void Machine::callFunction(SlotId name) {
  const Value* start = funcs_.get(name);
  if (start == nullptr) fail(Error::UnknownFunction);
  // A call of the running function right before its End reuses the frame, so a function
  // that loops by calling itself last runs in constant stack space.
  if (!stack_.empty() && stack_.back().name == name && isTailCall(stack_.back().pc)) {
    stack_.back().pc = start->as.word;
    return;
  }
  pushCall(name, start->as.word);
}

void Machine::pushCall(SlotId name, std::uint64_t pc) {
  stack_.push_back(Frame{pc, name});
  if (stack_.size() > limits::call_depth_max) {
    halt(Halt::Reason::call_stack_overflow, "VM: FATAL: CALL STACK OVERFLOW\n");
  }
}

std::uint64_t Machine::findFuncEnd(std::uint64_t pc) const {
  std::uint64_t depth = 1;
  for (std::uint64_t i = pc + 1; i < code_.size(); ++i) {
    if (code_[i].op == Opcode::Func) {
      ++depth;
    } else if (code_[i].op == Opcode::End && --depth == 0) {
      return i;
    }
  }
  fail(Error::InvalidFunction);
}

bool Machine::isTailCall(std::uint64_t pc) const {
  return pc + 1 < code_.size() && code_[pc + 1].op == Opcode::End;
}

void Machine::drive() {
  // While driving nothing is recorded, so the code does not grow and stays where it is.
  const Instruction* const code = code_.data();
  const std::uint64_t code_size = code_.size();
  while (!stack_.empty()) {
    std::uint64_t pc = stack_.back().pc;
    if (pc >= code_size) fail(Error::InvalidPC);
    const Instruction& ins = code[pc];
    bool returned = ins.op == Opcode::End;
    std::size_t depth = stack_.size();
    if (!returned) {
      countInstruction();
      scratch_.reset();
      returned = execute(ins);
    }
    if (returned) {
      stack_.pop_back();
      if (stack_.empty()) return;
      stack_.back().pc += 1;
      continue;
    }
    if (stack_.size() != depth) continue;  // a call: the new frame starts at its body
    if (stack_.back().pc == pc) stack_.back().pc = pc + 1;
  }
}

}  // namespace zandle::zndvm
