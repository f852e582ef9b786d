#include "machine.hpp"

#include <cstring>

#include "common/bytes.hpp"
#include "common/decimal.hpp"
#include "compiler.hpp"
#include "escapes/table.hpp"
#include "limits.hpp"

namespace zandle::zndvm {

namespace {

// A value that is not a float as a double: another number, or a str read by the float rule.
// A cell without a value is no number (the name it would stand for never reads as one, or
// the compiler would have made it a literal).
[[gnu::noinline]] bool otherNumber(const Value& v, double* out) {
  return asNumber(v, *out) || (v.type == Type::str && readFloat(v.text(), *out));
}

// A cell or constant of a numeric form as a double; floats first, since arithmetic makes
// them.
[[gnu::always_inline]] inline bool numberIn(const Value& v, double& out) {
  if (v.type == Type::float_) [[likely]] {
    out = v.as.float_;
    return true;
  }
  double other;
  if (!otherNumber(v, &other)) return false;
  out = other;
  return true;
}

// The two numbers of an x op y form, y from the record when `constant` says it is there.
template <bool constant>
[[gnu::always_inline]] inline bool operandNumbers(const Instruction& ins, double& l, double& r) {
  if (!numberIn(*ins.left, l)) return false;
  if constexpr (constant) {
    r = ins.right_number;
    return true;
  } else {
    return numberIn(*ins.right, r);
  }
}

// Whether a numeric condition prints as "0", without making its value.
[[gnu::always_inline]] inline bool numericHolds(Op op, double l, double r) {
  switch (op) {
    case Op::lt: return l < r;
    case Op::gt: return l > r;
    case Op::num_eq: return l == r;
    case Op::num_ne: return l != r;
    default: return isTrue(applyNumeric(op, l, r));
  }
}

inline bool unset(const Value& v) { return v.type == Type::failure; }

// Whether an arithmetic New and the If after it form the counter-and-test shape: the If
// compares the New's destination with a number written in the text.
bool countsAndTests(const Instruction& step, const Instruction& test) {
  return step.form >= Form::new_number_k && step.form < Form::if_number &&
         step.expr_op >= Op::add && step.expr_op <= Op::div && test.form >= Form::if_number_k &&
         test.left == step.cell;
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

bool Machine::fail(Error e) { return state_.fail(e); }

Outcome Machine::run(std::string_view source, std::string_view name) {
  beginRun();
  place_.begin(name);
  std::uint32_t number = 0;
  std::size_t pos = 0;
  while (pos < source.size()) {
    std::size_t nl = source.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? source.size() : nl;
    const std::string_view line = slice(source, pos, end - pos);
    place_.at(++number, line);
    pos = end + 1;
    if (!line.empty() && !runLine(line)) break;
  }
  return endRun();
}

bool Machine::runLine(std::string_view line) {
  if (Error e = tokenize(line, tokens_); e != Error::ok) return fail(e);
  if (tokens_.empty()) return true;
  // A line that is recorded (or starts a recording) lives as long as the machine: it is
  // copied, and its record points into the copy. Any other lives until it has run.
  const bool kept = recording_ || tokens_[0] == keywordName(Opcode::Func);
  if (kept) {
    if (!persistent_.copy(line, line)) return fail(Error::OutOfMemory);
    if (Error e = tokenize(line, tokens_); e != Error::ok) return fail(e);
  }
  // The line is compiled into the line arena; a kept record copies out what it needs.
  line_.reset();
  ParsedLine parsed;
  if (Error e = compileLine(tokens_, line_, vars_, parsed); e != Error::ok) return fail(e);
  Instruction ins;
  ins.text = line.data();
  // A report shows at most this much of a longer line.
  ins.text_size = static_cast<std::uint32_t>(line.size() < UINT32_MAX ? line.size() : UINT32_MAX);
  ins.line = place_.line();
  if (!prepare(parsed, kept ? persistent_ : line_, kept, ins)) return false;
  const Step step = interpret(ins);
  if (step == Step::stopped) return false;
  if (step == Step::returned) return fail(Error::Return);
  return stack_.empty() || drive();
}

bool Machine::intern(ParsedLine& p) {
  bool ok = true;
  switch (p.op) {
    case Opcode::New:
      if (named(p.dest) && p.data.expr.compiled() &&
          p.data.expr.items[0].kind == ExprOperand::Kind::variable &&
          sameBytes(p.data.expr.items[0].name(), p.dest.text)) {
        // "x op ..." into x, the accumulator's shape: the expression interned the name.
        p.dest.slot = p.data.expr.items[0].variable.slot;
      } else if (named(p.dest) || refersToVariable(p.dest)) {
        ok = vars_.intern(p.dest.text, p.dest.slot);
      }
      if (p.data.mode == AddrMode::bare || refersToVariable(p.data)) {
        ok = ok && vars_.intern(p.data.text, p.data.slot);
      } else if (p.data.mode == AddrMode::true_literal) {
        p.data.value = parseValue(p.data.text);
      }
      break;
    case Opcode::Escape:
      if (named(p.dest)) ok = escapes_.resolve(p.dest.text, p.dest.escape);
      else if (refersToVariable(p.dest)) ok = vars_.intern(p.dest.text, p.dest.slot);
      break;
    case Opcode::Func:
    case Opcode::Call:
    case Opcode::If:
      if (named(p.dest)) ok = funcs_.intern(p.dest.text, p.dest.func);
      else if (refersToVariable(p.dest)) ok = vars_.intern(p.dest.text, p.dest.slot);
      if (refersToVariable(p.data)) ok = ok && vars_.intern(p.data.text, p.data.slot);
      break;
    case Opcode::Return:
    case Opcode::End:
      break;
  }
  return stored(ok);
}

bool Machine::constant(Value value, Arena& arena, const Value*& out) {
  Value* c = arena.allocateArray<Value>(1);
  if (c == nullptr) return fail(Error::OutOfMemory);
  *c = value;
  out = c;
  return true;
}

// A copy of the parsed line and its compiled expressions in `arena`; operand texts and the
// names in the expressions are slices of the line, which the arena already holds.
bool Machine::keepParsed(const ParsedLine& parsed, Arena& arena, const ParsedLine*& out) {
  ParsedLine* copy = arena.allocateArray<ParsedLine>(1);
  if (copy == nullptr) return fail(Error::OutOfMemory);
  *copy = parsed;
  for (Operand* o : {&copy->dest, &copy->data}) {
    if (!o->expr.compiled()) continue;
    ExprOperand* items = arena.allocateArray<ExprOperand>(o->expr.size);
    if (items == nullptr) return fail(Error::OutOfMemory);
    std::memcpy(static_cast<void*>(items), o->expr.items, o->expr.size * sizeof(ExprOperand));
    o->expr.items = items;
  }
  out = copy;
  return true;
}

// New or If of a named destination and an "x op y" expression: the operands become cells
// and constants, and the record one of the x op y forms. False only when memory runs out;
// the form stays general when the line has another shape.
bool Machine::prepareBinary(const ParsedLine& p, Arena& arena, Instruction& ins) {
  const Operand& data = p.data;
  if (!p.has_data || !named(p.dest) || data.mode != AddrMode::literal || data.expr.size != 3) {
    return true;
  }
  const Op op = data.expr.items[1].op;
  const bool numeric = !isStringOp(op);
  Form form;
  if (p.op == Opcode::If) {
    if (!numeric) return true;
    form = Form::if_number;
  } else {
    form = numeric ? Form::new_number : op == Op::concat ? Form::new_concat : Form::new_compare;
  }
  const ExprOperand& right = data.expr.items[2];
  const bool constant_right = numeric && right.kind == ExprOperand::Kind::literal;
  if (constant_right) {
    // A number written in the text is kept in the record itself.
    asNumber(right.literal, ins.right_number);
    form = form == Form::if_number ? Form::if_number_k : Form::new_number_k;
  }
  const Value* sides[2];
  for (int k = 0; k < (constant_right ? 1 : 2); ++k) {
    const ExprOperand& e = data.expr.items[k * 2];
    if (e.kind == ExprOperand::Kind::variable) {
      sides[k] = vars_.cell(e.variable.slot);
      continue;
    }
    Value v = e.literal;
    double d;
    if (numeric && asNumber(v, d)) v = Value::ofFloat(d);
    if (!constant(v, arena, sides[k])) return false;
  }
  ins.form = numeric ? numericForm(form, op) : form;
  ins.expr_op = op;
  ins.left = sides[0];
  if (!constant_right) ins.right = sides[1];
  if (p.op == Opcode::If) {
    ins.id = p.dest.func;
    ins.callee = &funcs_[p.dest.func];
  } else {
    ins.id = p.dest.slot;
    if (numeric) ins.cell = vars_.cell(p.dest.slot);
  }
  return true;
}

bool Machine::prepare(ParsedLine& p, Arena& arena, bool kept, Instruction& ins) {
  if (!intern(p)) return false;
  ins.op = p.op;
  ins.form = Form::general;
  switch (p.op) {
    case Opcode::New:
      if (!prepareBinary(p, arena, ins)) return false;
      if (ins.form == Form::general && p.has_data && named(p.dest) &&
          p.data.mode == AddrMode::true_literal) {
        if (!constant(p.data.value, arena, ins.left)) return false;
        ins.form = Form::new_value;
        ins.id = p.dest.slot;
      }
      break;
    case Opcode::If:
      if (!prepareBinary(p, arena, ins)) return false;
      break;
    case Opcode::Func:
    case Opcode::Call:
      if (named(p.dest)) {
        ins.form = p.op == Opcode::Func ? Form::func : Form::call;
        ins.id = p.dest.func;
        ins.callee = &funcs_[p.dest.func];
      }
      break;
    case Opcode::Escape:
      if (named(p.dest)) {
        ins.form = Form::escape;
        ins.id = p.dest.escape;
      }
      break;
    case Opcode::Return:
      ins.form = Form::ret;
      break;
    case Opcode::End:
      ins.form = Form::end;
      break;
  }
  // The general form runs over the parsed line; a string form falls back on it when a name
  // holds no value and stands for itself.
  if (ins.form == Form::general || ins.form == Form::new_concat || ins.form == Form::new_compare) {
    if (!kept) {
      ins.parsed = &p;
    } else if (!keepParsed(p, arena, ins.parsed)) {
      return false;
    }
  }
  return true;
}

bool Machine::record(const Instruction& ins) {
  if (!code_.push(ins)) return fail(Error::OutOfMemory);
  // The If can only be reached from the New: a record that the code jumps to follows a Func,
  // a Call, an If or an End.
  if (code_.size() >= 2 && countsAndTests(code_[code_.size() - 2], ins)) {
    Instruction& step = code_[code_.size() - 2];
    step.form = step.expr_op == Op::add   ? Form::add_then_if
                : step.expr_op == Op::sub ? Form::sub_then_if
                                          : Form::new_then_if;
  }
  if (ins.op == Opcode::End) {
    // The record before an End may be a self-call that reuses the frame. (A recording starts
    // with its Func record, so there always is one.)
    code_[code_.size() - 2].before_end = true;
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

// New name "x s++ y": straight into the destination's buffer, in place when x is the
// destination itself.
bool Machine::newConcat(const Instruction& ins) {
  const Value& left = *ins.left;
  const Value& right = *ins.right;
  if (unset(left) || unset(right)) {
    scratch_.reset();
    return execNew(*ins.parsed);
  }
  char left_buf[value_text_capacity];
  char right_buf[value_text_capacity];
  const std::string_view l = valueToString(left, left_buf);
  const std::string_view r = valueToString(right, right_buf);
  if (l.size() + r.size() > str_max) return fail(Error::OutOfMemory);
  return stored(vars_.concat(ins.id, l, r));
}

bool Machine::newCompare(const Instruction& ins) {
  if (unset(*ins.left) || unset(*ins.right)) {
    scratch_.reset();
    return execNew(*ins.parsed);
  }
  // A comparison allocates nothing, so the working arena is not touched.
  vars_.setNumber(ins.id, applyOp(temp_, ins.expr_op, *ins.left, *ins.right));
  return true;
}

bool Machine::newValue(const Instruction& ins) {
  if (ins.left->type != Type::str) {
    vars_.setNumber(ins.id, *ins.left);
    return true;
  }
  return stored(vars_.set(ins.id, *ins.left));
}

// The numeric forms, `op` being the form's operator: a constant where the driver runs them.
template <bool constant>
[[gnu::always_inline]] inline bool Machine::newNumber(const Instruction& ins, Op op) {
  double l, r;
  if (!operandNumbers<constant>(ins, l, r)) return fail(Error::NotNumeric);
  *ins.cell = applyNumeric(op, l, r);
  return true;
}

template <bool constant>
[[gnu::always_inline]] inline bool Machine::ifNumber(const Instruction& ins, Op op, bool& holds) {
  double l, r;
  if (!operandNumbers<constant>(ins, l, r)) return fail(Error::NotNumeric);
  holds = numericHolds(op, l, r);
  return true;
}

Machine::Step Machine::execute(const Instruction& ins) {
  bool ok = true;
  bool holds;
  switch (ins.form) {
    case Form::general:
      return executeGeneral(ins);
    case Form::end:  // a stray End in the main program
      break;
    case Form::ret:
      return Step::returned;
    case Form::func:
      ok = execFunc(ins, ins.id);
      break;
    case Form::call:
      ok = callFunction(ins.id);
      break;
    case Form::escape:
      ok = execEscape(ins.id);
      break;
    case Form::new_compare:
      ok = newCompare(ins);
      break;
    case Form::new_concat:
      ok = newConcat(ins);
      break;
    case Form::new_value:
      ok = newValue(ins);
      break;
    case Form::add_then_if:  // its New alone; the If is the next record
    case Form::sub_then_if:
    case Form::new_then_if:
      ok = newNumber<true>(ins, ins.expr_op);
      break;
    default:
      if (ins.form < Form::new_number_k) {
        ok = newNumber<false>(ins, ins.expr_op);
      } else if (ins.form < Form::if_number) {
        ok = newNumber<true>(ins, ins.expr_op);
      } else if (ins.form < Form::if_number_k) {
        ok = ifNumber<false>(ins, ins.expr_op, holds) && (!holds || callFunction(ins.id));
      } else {
        ok = ifNumber<true>(ins, ins.expr_op, holds) && (!holds || callFunction(ins.id));
      }
      break;
  }
  return ok ? Step::next : Step::stopped;
}

Machine::Step Machine::executeGeneral(const Instruction& ins) {
  const ParsedLine& p = *ins.parsed;
  bool ok = true;
  switch (p.op) {
    case Opcode::New:
      ok = execNew(p);
      break;
    case Opcode::Escape: {
      const Value name = nameOf(p.dest, false);
      EscapeId id;
      if (name.failed()) ok = fail(name.error());
      else if (!escapes_.resolve(name.text(), id)) ok = fail(Error::OutOfMemory);
      else ok = execEscape(id);
      break;
    }
    case Opcode::Func: {
      FuncId func;
      ok = functionOf(p.dest, func) && execFunc(ins, func);
      break;
    }
    case Opcode::Call: {
      FuncId func;
      ok = functionOf(p.dest, func) && callFunction(func);
      break;
    }
    case Opcode::If: {
      FuncId func;
      bool holds;
      ok = functionOf(p.dest, func) && condition(p, holds) && (!holds || callFunction(func));
      break;
    }
    case Opcode::Return:
      return Step::returned;
    case Opcode::End:
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

bool Machine::execNew(const ParsedLine& p) {
  SlotId dest;
  if (!variableOf(p.dest, dest)) return false;
  if (!p.has_data) return fail(Error::UnknownAddressingMode);
  const Operand& data = p.data;
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

bool Machine::execEscape(EscapeId id) {
  const auto* slot = escapes_.runnable(id);
  if (slot == nullptr) return fail(Error::UnknownEscape);
  running_escape_ = id;
  const bool ok = escapes_.run(*slot, *this);
  running_escape_ = no_escape;
  return ok;
}

bool Machine::condition(const ParsedLine& p, bool& holds) {
  if (!p.has_data) return fail(Error::UnknownAddressingMode);
  const Operand& data = p.data;
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
  if (stack_.size() >= call_depth_max_) return halt(HaltReason::call_stack_overflow);
  return stored(stack_.push(Frame{pc, func}));
}

bool Machine::isTailCall(std::uint64_t pc) const { return code_[pc].before_end; }

// The driver switches on a form's number: the numeric forms beyond their blocks' first are
// not named.
constexpr unsigned label(Form form) { return static_cast<unsigned>(form); }

// The four numeric forms of one operator, for the driver's switch: each runs with its
// operator fixed, so that the operator's own switch folds away. Only floats, which
// arithmetic makes, are handled here; any other operand goes to the shared general path
// (numeric_new, numeric_if), which keeps each case small.
#define ZANDLE_NUMERIC_CASES(OP)                                                          \
  case label(numericForm(Form::new_number, OP)):                                          \
    ZANDLE_COUNT();                                                                       \
    if (ins.left->type != Type::float_ || ins.right->type != Type::float_) [[unlikely]] { \
      goto numeric_new;                                                                   \
    }                                                                                     \
    *ins.cell = applyNumeric(OP, ins.left->as.float_, ins.right->as.float_);              \
    ++ip;                                                                                 \
    continue;                                                                             \
  case label(numericForm(Form::new_number_k, OP)):                                        \
    ZANDLE_COUNT();                                                                       \
    if (ins.left->type != Type::float_) [[unlikely]] goto numeric_new;                    \
    *ins.cell = applyNumeric(OP, ins.left->as.float_, ins.right_number);                  \
    ++ip;                                                                                 \
    continue;                                                                             \
  case label(numericForm(Form::if_number, OP)):                                           \
    ZANDLE_COUNT();                                                                       \
    if (ins.left->type != Type::float_ || ins.right->type != Type::float_) [[unlikely]] { \
      goto numeric_if;                                                                    \
    }                                                                                     \
    if (numericHolds(OP, ins.left->as.float_, ins.right->as.float_)) goto call_record;    \
    ++ip;                                                                                 \
    continue;                                                                             \
  case label(numericForm(Form::if_number_k, OP)):                                         \
    ZANDLE_COUNT();                                                                       \
    if (ins.left->type != Type::float_) [[unlikely]] goto numeric_if;                     \
    if (numericHolds(OP, ins.left->as.float_, ins.right_number)) goto call_record;        \
    ++ip;                                                                                 \
    continue;

// Multiplication and division, rarer in loops than counting and comparing, run through the
// general path with the operator's switch: code for every operator would not fit the
// program's size.
#define ZANDLE_GENERAL_NUMERIC_CASES(OP)                  \
  case label(numericForm(Form::new_number, OP)):          \
  case label(numericForm(Form::new_number_k, OP)):        \
    ZANDLE_COUNT();                                       \
    goto numeric_new;                                     \
  case label(numericForm(Form::if_number, OP)):           \
  case label(numericForm(Form::if_number_k, OP)):         \
    ZANDLE_COUNT();                                       \
    goto numeric_if;

// Instructions granted to the driver out of what is left under the cap.
inline std::int64_t grant(std::uint64_t left) {
  return left < INT64_MAX ? static_cast<std::int64_t>(left) : INT64_MAX;
}

// The counter-and-test shape: both records are counted at once, unless the cap falls
// between them or x is not a float, when the New runs alone and the If after it.
#define ZANDLE_THEN_IF_CASE(FORM, OP)                                                        \
  case label(FORM): {                                                                        \
    const Instruction& test = ip[1];                                                         \
    if (budget < 2 || ins.left->type != Type::float_) [[unlikely]] {                         \
      ZANDLE_COUNT();                                                                        \
      if (!newNumber<true>(ins, ins.expr_op)) goto stopped;                                  \
      ++ip;                                                                                  \
      continue;                                                                              \
    }                                                                                        \
    budget -= 2;                                                                             \
    const Value value = applyNumeric(OP, ins.left->as.float_, ins.right_number);             \
    *ins.cell = value;                                                                       \
    ++ip;                                                                                    \
    if (!numericHolds(test.expr_op, value.as.float_, test.right_number)) {                   \
      ++ip;                                                                                  \
      continue;                                                                              \
    }                                                                                        \
    break;                                                                                   \
  }

// One more instruction against the cap.
#define ZANDLE_COUNT()               \
  do {                               \
    if (--budget < 0) goto capped;   \
  } while (false)

// Runs the call stack down to empty. The running frame's place is kept in `ip` and written
// back to the frame only where something may look at it: before a call, a general record
// (which may move it), and a failure or halt (which reports it). The code is checked to
// hold the place at entry and after a general record; from there on every step stays in
// it: each recorded body ends with its End, a function's start is a record of its body and
// a return goes to the record after a call, which is never the last of its body. The
// instruction count is kept as what is left of the cap. (Exits are labels, not lambdas, so
// that the place and the count stay in registers.)
bool Machine::drive() {
  // While driving nothing is recorded, so the code does not grow and stays where it is.
  const Instruction* const code = code_.data();
  const std::uint64_t code_size = code_.size();
  Frame* top = &stack_.back();
  if (top->pc >= code_size) return fail(Error::InvalidPC);
  const Instruction* ip = code + top->pc;
  // A signed count is one instruction cheaper to test; a cap beyond its range is granted in
  // parts.
  std::int64_t granted = grant(instruction_cap_ - executed_);
  std::int64_t budget = granted;
  bool ok = false;
  for (;;) {
  resume:
    // The record at ip runs; a numeric If that holds and a Call leave the switch for
    // call_record. (The record's name ends with the block, so that the general paths
    // after the loop may jump to call_record.)
    {
      const Instruction& ins = *ip;
      switch (label(ins.form)) {
        case label(Form::ret):
          ZANDLE_COUNT();
          [[fallthrough]];
        case label(Form::end):
        pop_frame:
          stack_.pop();
          if (stack_.empty()) {
            ok = true;
            goto done;
          }
          top = &stack_.back();
          ip = code + top->pc + 1;
          continue;
        ZANDLE_NUMERIC_CASES(Op::add)
        ZANDLE_NUMERIC_CASES(Op::sub)
        ZANDLE_GENERAL_NUMERIC_CASES(Op::mul)
        ZANDLE_GENERAL_NUMERIC_CASES(Op::div)
        ZANDLE_NUMERIC_CASES(Op::num_eq)
        ZANDLE_NUMERIC_CASES(Op::num_ne)
        ZANDLE_NUMERIC_CASES(Op::gt)
        ZANDLE_NUMERIC_CASES(Op::lt)
        case label(Form::call):
          ZANDLE_COUNT();
          break;
        ZANDLE_THEN_IF_CASE(Form::add_then_if, Op::add)
        ZANDLE_THEN_IF_CASE(Form::sub_then_if, Op::sub)
        ZANDLE_THEN_IF_CASE(Form::new_then_if, ins.expr_op)
        case label(Form::new_concat):
          ZANDLE_COUNT();
          if (!newConcat(ins)) goto stopped;
          ++ip;
          continue;
        case label(Form::new_compare):
          ZANDLE_COUNT();
          if (!newCompare(ins)) goto stopped;
          ++ip;
          continue;
        case label(Form::new_value):
          ZANDLE_COUNT();
          if (!newValue(ins)) goto stopped;
          ++ip;
          continue;
        case label(Form::escape):
          // An escape neither calls nor moves the code, so the driver goes on after it.
          ZANDLE_COUNT();
          top->pc = static_cast<std::uint64_t>(ip - code);
          scratch_.reset();
          if (!execEscape(ins.id)) goto done;
          ++ip;
          continue;
        case label(Form::general):
        case label(Form::func): {
          ZANDLE_COUNT();
          const std::uint64_t pc = static_cast<std::uint64_t>(ip - code);
          top->pc = pc;
          scratch_.reset();
          const std::size_t depth = stack_.size();
          const Step step = execute(ins);
          if (step == Step::stopped) goto done;
          if (step == Step::returned) goto pop_frame;
          top = &stack_.back();
          // A call starts the new frame at its body; a nested Func moved this one past it.
          if (stack_.size() == depth && top->pc == pc) {
            ++ip;
            continue;
          }
          if (top->pc >= code_size) {
            fail(Error::InvalidPC);
            goto done;
          }
          ip = code + top->pc;
          continue;
        }
        default:
          __builtin_unreachable();
      }
    }
  call_record:
    {
      // The record at ip calls the function it names.
      const Instruction& call = *ip;
      const FuncEntry& callee = *call.callee;
      if (!callee.defined) {
        fail(Error::UnknownFunction);
        goto stopped;
      }
      if (call.before_end && top->func == call.id) {
        // The frame is reused. A self-call that is its body's first record goes on to the
        // End instead, so such a body runs once.
        ip = code + callee.start == ip ? ip + 1 : code + callee.start;
        continue;
      }
      top->pc = static_cast<std::uint64_t>(ip - code);
      if (!pushCall(call.id, callee.start)) goto done;
      top = &stack_.back();
      ip = code + callee.start;
    }
  }
numeric_new: {
  // A numeric New (already counted) with an operand that is not a float.
  const Instruction& ins = *ip;
  if (!(ins.form < Form::new_number_k ? newNumber<false>(ins, ins.expr_op) : newNumber<true>(ins, ins.expr_op))) {
    goto stopped;
  }
  ++ip;
  goto resume;
}
numeric_if: {
  // A numeric If (already counted) with an operand that is not a float.
  const Instruction& ins = *ip;
  bool holds;
  if (!(ins.form < Form::if_number_k ? ifNumber<false>(ins, ins.expr_op, holds)
                                     : ifNumber<true>(ins, ins.expr_op, holds))) {
    goto stopped;
  }
  if (holds) goto call_record;
  ++ip;
  goto resume;
}
capped:
  executed_ += static_cast<std::uint64_t>(granted);
  if (executed_ < instruction_cap_) {
    granted = budget = grant(instruction_cap_ - executed_);
    goto resume;  // the record has not run yet
  }
  capReached();
  granted = budget = 0;
stopped:
  top->pc = static_cast<std::uint64_t>(ip - code);
done:
  executed_ += static_cast<std::uint64_t>(granted - budget);
  return ok;
}

#undef ZANDLE_COUNT
#undef ZANDLE_THEN_IF_CASE
#undef ZANDLE_NUMERIC_CASES
#undef ZANDLE_GENERAL_NUMERIC_CASES

}  // namespace zandle::zndvm
