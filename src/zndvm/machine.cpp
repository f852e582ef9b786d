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

// The two numbers of an x op y form, y from the record when the form keeps it there.
bool operandNumbers(const Instruction& ins, double& l, double& r) {
  if (!numberIn(*ins.left, l)) return false;
  if (reads(ins.form, f_right_number)) {
    r = ins.rightNumber();
    return true;
  }
  return numberIn(*ins.right(), r);
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
  const bool arithmetic = step.expr_op == Op::add || step.expr_op == Op::sub || step.expr_op == Op::mul ||
                          step.expr_op == Op::div;
  return formInfo(step.form).shape == Shape::new_number_k && arithmetic &&
         formInfo(test.form).shape == Shape::if_number_k && test.left == step.cell();
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

// Runs what is left of the run: a line a pause left waiting to be recorded, the frames it
// left in progress, then the lines from where the run stands to the end of its text.
void Machine::proceed() {
  if (record_pending_) {
    if (!countInstruction()) return;
    record_pending_ = false;
    if (!record(line_code_[0])) return;
  }
  if (!stack_.empty() && !drive()) return;
  std::string_view line;
  while (place_.nextLine(line)) {
    if (!line.empty() && !runLine(line)) return;
  }
}

bool Machine::runLine(std::string_view line) {
  if (Error e = tokenize(line, tokens_); e != Error::ok) return fail(e);
  if (tokens_.empty()) return true;
  // A line that is recorded (or starts a recording) lives as long as the machine: it is
  // copied, and its record points into the copy. Any other lives until it has run.
  const bool kept = state_.recording || tokens_[0] == keywordName(Opcode::Func);
  if (kept) {
    if (!persistent_.copy(line, line)) return fail(Error::OutOfMemory);
    if (Error e = tokenize(line, tokens_); e != Error::ok) return fail(e);
  }
  // The line is compiled into the line arena; a kept record copies out what it needs.
  line_.reset();
  ParsedLine parsed;
  if (Error e = compileLine(tokens_, line_, vars_, parsed); e != Error::ok) return fail(e);
  // The record is prepared where the bottom frame runs it; a recorded one is copied.
  Instruction& ins = line_code_[0];
  ins = Instruction{};
  ins.text = line.data();
  // A report shows at most this much of a longer line.
  ins.text_size = static_cast<std::uint32_t>(line.size() < UINT32_MAX ? line.size() : UINT32_MAX);
  ins.line = place_.line();
  if (!prepare(parsed, kept ? persistent_ : line_, kept, ins)) return false;
  if (state_.recording) {
    if (!countInstruction()) {
      record_pending_ = state_.paused();
      return false;
    }
    return record(ins);
  }
  return runLineRecord();
}

// Runs the top-level line's record as the bottom frame of the call stack, followed by an
// End that ends the line. A stray End in the main program is counted and does nothing.
bool Machine::runLineRecord() {
  if (line_code_[0].form == Form::end) line_code_[0].form = Form::nop;
  if (!stack_.push(Frame{0, no_func})) return fail(Error::OutOfMemory);
  return drive();
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
  if (p.op == Opcode::If && !numeric) return true;
  const ExprOperand& right = data.expr.items[2];
  const bool constant_right = numeric && right.kind == ExprOperand::Kind::literal;
  if (constant_right) {
    // A number written in the text is kept in the record itself.
    asNumber(right.literal, ins.right_number_);
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
  if (!numeric) {
    ins.form = op == Op::concat ? Form::new_concat : Form::new_compare;
  } else if (p.op == Opcode::If) {
    ins.form = formOf(constant_right ? Shape::if_number_k : Shape::if_number, op);
  } else {
    ins.form = formOf(constant_right ? Shape::new_number_k : Shape::new_number, op);
  }
  ins.expr_op = op;
  ins.left = sides[0];
  if (!constant_right) ins.right_ = sides[1];
  if (p.op == Opcode::If) {
    ins.id = p.dest.func;
    ins.callee_ = &funcs_[p.dest.func];
  } else {
    ins.id = p.dest.slot;
    if (numeric) ins.cell_ = vars_.cell(p.dest.slot);
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
        ins.callee_ = &funcs_[p.dest.func];
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
      ins.parsed_ = &p;
    } else if (!keepParsed(p, arena, ins.parsed_)) {
      return false;
    }
  }
  return true;
}

// Adds a record to the code, with what it tells of the record before it.
bool Machine::append(const Instruction& ins) {
  if (!code_.push(ins)) return false;
  // The If can only be reached from the New: a record that the code jumps to follows a Func,
  // a Call, an If or an End.
  if (code_.size() >= 2 && countsAndTests(code_[code_.size() - 2], ins)) {
    Instruction& step = code_[code_.size() - 2];
    step.form = step.expr_op == Op::add   ? Form::add_then_if
                : step.expr_op == Op::sub ? Form::sub_then_if
                                          : Form::new_then_if;
    static_assert(reads(Form::new_then_if, f_op) && reads(Form::new_then_if, f_cell));
  }
  // The record before an End may be a self-call that reuses the frame. (A recording starts
  // with its Func record, so there always is one.)
  if (ins.op == Opcode::End) code_[code_.size() - 2].before_end = true;
  return true;
}

bool Machine::record(const Instruction& ins) {
  if (!append(ins)) return fail(Error::OutOfMemory);
  if (ins.op == Opcode::End) {
    if (recording_depth_ == 0) {
      state_.recording = false;
    } else {
      --recording_depth_;
    }
  } else if (ins.op == Opcode::Func) {
    ++recording_depth_;
  }
  return true;
}

// New name "x s++ y": straight into the destination's buffer, in place when x is the
// destination itself, whatever y is.
bool Machine::newConcat(const Instruction& ins) {
  const Value& left = *ins.left;
  const Value& right = *ins.right();
  if (unset(left)) {
    scratch_.reset();
    return execNew(ins.parsed());
  }
  char left_buf[value_text_capacity];
  char right_buf[value_text_capacity];
  const std::string_view l = valueToString(left, left_buf);
  // A name that holds no value stands for itself, so appending a word is done in place too.
  const std::string_view r =
      unset(right) ? ins.parsed().data.expr.items[2].name() : valueToString(right, right_buf);
  if (l.size() + r.size() > str_max) return fail(Error::OutOfMemory);
  return stored(vars_.concat(ins.id, l, r));
}

bool Machine::newCompare(const Instruction& ins) {
  if (unset(*ins.left) || unset(*ins.right())) {
    scratch_.reset();
    return execNew(ins.parsed());
  }
  // A comparison allocates nothing, so the working arena is not touched.
  vars_.setNumber(ins.id, applyOp(temp_, ins.expr_op, *ins.left, *ins.right()));
  return true;
}

bool Machine::newValue(const Instruction& ins) {
  if (ins.left->type != Type::str) {
    vars_.setNumber(ins.id, *ins.left);
    return true;
  }
  return stored(vars_.set(ins.id, *ins.left));
}

// A numeric New or If whose operands are not both floats (or whose operator the driver
// leaves to this path): false with the failure recorded.
bool Machine::numericNew(const Instruction& ins) {
  double l, r;
  if (!operandNumbers(ins, l, r)) return fail(Error::NotNumeric);
  *ins.cell() = applyNumeric(ins.expr_op, l, r);
  return true;
}

bool Machine::numericIf(const Instruction& ins, bool& holds) {
  double l, r;
  if (!operandNumbers(ins, l, r)) return fail(Error::NotNumeric);
  holds = numericHolds(ins.expr_op, l, r);
  return true;
}

// A record of the general form, or a Func of a written name: its keyword run over the
// parsed line. A call it makes is left to the driver, which makes every call.
Machine::General Machine::runGeneral(const Instruction& ins) {
  if (ins.form == Form::func) return {execFunc(ins, ins.id)};
  const ParsedLine& p = ins.parsed();
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
      if (!functionOf(p.dest, func)) return {Next::stop};
      return {execFunc(ins, func)};
    }
    case Opcode::Call: {
      FuncId callee;
      if (!functionOf(p.dest, callee)) return {Next::stop};
      return {Next::call, callee};
    }
    case Opcode::If: {
      FuncId callee;
      bool holds;
      if (!functionOf(p.dest, callee) || !condition(p, holds)) return {Next::stop};
      return {holds ? Next::call : Next::go_on, callee};
    }
    case Opcode::Return:  // prepared as forms of their own
    case Opcode::End:
      break;
  }
  return {ok ? Next::go_on : Next::stop};
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

// The id in `table` of the name an operand stands for: resolved when the line was prepared
// (`prepared`) where the line writes the name, else interned from the name it computes.
template <class Table>
bool Machine::idOf(const Operand& operand, NameId prepared, bool use_compiled, Table& table, NameId& id) {
  if (named(operand)) {
    id = prepared;
    return true;
  }
  const Value name = nameOf(operand, use_compiled);
  if (name.failed()) return fail(name.error());
  return stored(table.intern(name.text(), id));
}

bool Machine::variableOf(const Operand& operand, SlotId& slot) {
  return idOf(operand, operand.slot, true, vars_, slot);
}

bool Machine::functionOf(const Operand& operand, FuncId& func) {
  return idOf(operand, operand.func, false, funcs_, func);
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

// A new frame for a call; the driver makes every call, so the common case stays inline.
[[gnu::always_inline]] inline bool Machine::pushCall(FuncId func, std::uint64_t pc) {
  // The bottom frame is the top-level line's, no call.
  if (stack_.size() > call_depth_max_) [[unlikely]] return overflow();
  return stack_.push(Frame{pc, func}) || fail(Error::OutOfMemory);
}

bool Machine::overflow() { return halt(HaltReason::call_stack_overflow); }

// Instructions run between two checkpoints at most: an interrupt is seen within this many.
constexpr std::uint64_t checkpoint_every = 8192;

// What was granted is used up and a record waits to run: the count is brought up to date,
// and the run halts at the cap, pauses when its control says so, or is granted more.
bool Machine::checkpoint() {
  executed_ += static_cast<std::uint64_t>(granted_ - left_);
  granted_ = left_ = 0;
  if (executed_ >= instruction_cap_) return capReached();
  const std::uint64_t pause_at = control_.pauseAt();
  if (executed_ >= pause_at || control_.pauseRequested()) {
    control_.paused();
    return state_.pause();
  }
  std::uint64_t n = instruction_cap_ - executed_;
  if (pause_at - executed_ < n) n = pause_at - executed_;
  if (n > checkpoint_every) n = checkpoint_every;
  granted_ = left_ = static_cast<std::int64_t>(n);
  return true;
}

// The driver's cases, one for each form, made from the list of forms: each shape's
// executor below, with the form's operator a constant. An executor leaves the record by
// moving ip on (`continue`), or by one of the driver's labels: call (ip is the record that
// calls, callee and entry the function), leave (the frame returns), general (a record the
// general path runs), checkpoint (nothing is granted for the record at ip), pause (the run
// pauses before the record at ip), stopped (a failure, halt or pause at ip), escape_stopped
// (an escape, run with the place saved, failed or gave up waiting).

// Charges the record at ip one instruction of what is granted; with nothing left, the
// record waits at the checkpoint (which finds the count one below what was granted).
#define ZANDLE_CHARGE_ONE()             \
  do {                                  \
    if (--budget < 0) goto checkpoint;  \
  } while (false)

// The record at ip calls the function it names.
#define ZANDLE_CALL_NAMED()   \
  do {                        \
    callee = ins.id;          \
    entry = &ins.callee();    \
    goto call;                \
  } while (false)

#define ZANDLE_EXECUTE_general(OP) \
  ZANDLE_CHARGE_ONE();             \
  goto general;
#define ZANDLE_EXECUTE_func(OP) ZANDLE_EXECUTE_general(OP)
#define ZANDLE_EXECUTE_nop(OP) \
  ZANDLE_CHARGE_ONE();         \
  ++ip;                        \
  continue;
#define ZANDLE_EXECUTE_end(OP) goto leave;
#define ZANDLE_EXECUTE_ret(OP)                   \
  ZANDLE_CHARGE_ONE();                           \
  if (top->func == no_func) [[unlikely]] {       \
    fail(Error::Return); /* at the top level */  \
    goto stopped;                                \
  }                                              \
  goto leave;
#define ZANDLE_EXECUTE_call(OP) \
  ZANDLE_CHARGE_ONE();          \
  ZANDLE_CALL_NAMED();
// An escape neither calls nor moves the code, so the driver goes on after it, unless the
// run must pause (an escape may take long, or be the host's asking for it).
#define ZANDLE_EXECUTE_escape(OP)                          \
  ZANDLE_CHARGE_ONE();                                     \
  top->pc = static_cast<std::uint64_t>(ip - code);         \
  scratch_.reset();                                        \
  if (!execEscape(ins.id)) goto escape_stopped;            \
  ++ip;                                                    \
  if (control_.pauseRequested()) [[unlikely]] goto pause;  \
  continue;
#define ZANDLE_EXECUTE_STEP(run) \
  ZANDLE_CHARGE_ONE();           \
  if (!run(ins)) goto stopped;   \
  ++ip;                          \
  continue;
#define ZANDLE_EXECUTE_new_compare(OP) ZANDLE_EXECUTE_STEP(newCompare)
#define ZANDLE_EXECUTE_new_concat(OP) ZANDLE_EXECUTE_STEP(newConcat)
#define ZANDLE_EXECUTE_new_value(OP) ZANDLE_EXECUTE_STEP(newValue)

// Multiplication and division, rarer in loops than counting and comparing, always take the
// general numeric path: code for every operator would not fit the program's size.
constexpr bool inlined(Op op) { return op != Op::mul && op != Op::div; }

// Only floats, which arithmetic makes, are handled inline; any other operand goes to the
// general numeric path, which keeps each case small.
#define ZANDLE_EXECUTE_NEW(OP, RIGHT_IS_FLOAT, RIGHT)                                 \
  ZANDLE_CHARGE_ONE();                                                                \
  if (!inlined(OP) || ins.left->type != Type::float_ || !(RIGHT_IS_FLOAT)) [[unlikely]] { \
    if (!numericNew(ins)) goto stopped;                                               \
  } else {                                                                            \
    *ins.cell() = applyNumeric(OP, ins.left->as.float_, RIGHT);                       \
  }                                                                                   \
  ++ip;                                                                               \
  continue;
#define ZANDLE_EXECUTE_new_number(OP) \
  ZANDLE_EXECUTE_NEW(OP, ins.right()->type == Type::float_, ins.right()->as.float_)
#define ZANDLE_EXECUTE_new_number_k(OP) ZANDLE_EXECUTE_NEW(OP, true, ins.rightNumber())

#define ZANDLE_EXECUTE_IF(OP, RIGHT_IS_FLOAT, RIGHT)                                  \
  {                                                                                   \
    ZANDLE_CHARGE_ONE();                                                              \
    bool holds;                                                                       \
    if (!inlined(OP) || ins.left->type != Type::float_ || !(RIGHT_IS_FLOAT)) [[unlikely]] { \
      if (!numericIf(ins, holds)) goto stopped;                                       \
    } else {                                                                          \
      holds = numericHolds(OP, ins.left->as.float_, RIGHT);                           \
    }                                                                                 \
    if (holds) ZANDLE_CALL_NAMED();                                                   \
    ++ip;                                                                             \
    continue;                                                                         \
  }
#define ZANDLE_EXECUTE_if_number(OP) \
  ZANDLE_EXECUTE_IF(OP, ins.right()->type == Type::float_, ins.right()->as.float_)
#define ZANDLE_EXECUTE_if_number_k(OP) ZANDLE_EXECUTE_IF(OP, true, ins.rightNumber())

// The counter-and-test shape: the New and the If after it are charged at once, unless the
// grant ends between them or x is not a float, when the New runs alone and the If after it.
#define ZANDLE_EXECUTE_THEN_IF(OP)                                              \
  {                                                                             \
    if (budget < 2 || ins.left->type != Type::float_) [[unlikely]] {            \
      ZANDLE_CHARGE_ONE();                                                      \
      if (!numericNew(ins)) goto stopped;                                       \
      ++ip;                                                                     \
      continue;                                                                 \
    }                                                                           \
    budget -= 2;                                                                \
    const Value value = applyNumeric(OP, ins.left->as.float_, ins.rightNumber()); \
    *ins.cell() = value;                                                        \
    const Instruction& test = *++ip;                                            \
    if (!numericHolds(test.expr_op, value.as.float_, test.rightNumber())) {     \
      ++ip;                                                                     \
      continue;                                                                 \
    }                                                                           \
    callee = test.id;                                                           \
    entry = &test.callee();                                                     \
    goto call;                                                                  \
  }
#define ZANDLE_EXECUTE_then_if(OP) ZANDLE_EXECUTE_THEN_IF(OP)
#define ZANDLE_EXECUTE_then_if_any(OP) ZANDLE_EXECUTE_THEN_IF(ins.expr_op)

#define ZANDLE_DRIVER_CASE(form, shape, op, fields) \
  case Form::form:                                  \
    ZANDLE_EXECUTE_##shape(op)

// Runs the call stack down to empty; the bottom frame is the top-level line's. The running
// frame's place is kept in `ip` (and `code`, the records it counts in) and written back to
// the frame only where something may look at it: before a call, an escape, a general
// record (which may move it), and a failure or halt (which reports it). Every step stays in
// the code: each recorded body ends with its End, the line's record is followed by one, a
// function's start is a record of its body and a return goes to the record after a call,
// which is never the last of its frame's records. What is granted of the instruction count
// is kept as a signed count of what is left. (Exits are labels, not lambdas, so that the
// place and the count stay in registers.)
bool Machine::drive() {
  // Nothing is recorded while a function body runs, so the recorded code stays where it
  // is; a top-level Func, which starts a recording, is refreshed after below.
  const Instruction* bodies = code_.data();
  Frame* top = &stack_.back();
  const Instruction* code = top->func == no_func ? line_code_ : bodies;
  const Instruction* ip = code + top->pc;
  std::int64_t budget = left_;
  FuncId callee = no_func;
  const FuncEntry* entry = nullptr;
  bool ok = false;
  for (;;) {
    {
      const Instruction& ins = *ip;
      switch (ins.form) {
        ZANDLE_FORMS(ZANDLE_DRIVER_CASE)
        default:
          __builtin_unreachable();  // every record has one of the forms
      }
    }
  general: {
    top->pc = static_cast<std::uint64_t>(ip - code);
    scratch_.reset();
    const General general = runGeneral(*ip);
    bodies = code_.data();
    top = &stack_.back();
    switch (general.next) {
      case Next::go_on:
        ++ip;
        if (control_.pauseRequested()) [[unlikely]] goto pause;  // an escape may have asked
        continue;
      case Next::call:
        callee = general.callee;
        entry = &funcs_[callee];
        goto call;
      case Next::jump:  // past a Func's body
        ip = code + top->pc;
        continue;
      case Next::stop:
        goto escape_stopped;
    }
  }
  call: {
    if (!entry->defined) {
      fail(Error::UnknownFunction);
      goto stopped;
    }
    if (ip->before_end && top->func == callee) {
      // A call of the running function right before its End reuses the frame, so a
      // function that loops by calling itself last runs in constant stack space. A body
      // whose first record is that call goes on to its End instead, and runs once.
      const Instruction* start = bodies + entry->start;
      ip = start == ip ? ip + 1 : start;
      continue;
    }
    top->pc = static_cast<std::uint64_t>(ip - code);
    if (!pushCall(callee, entry->start)) goto done;
    top = &stack_.back();
    code = bodies;
    ip = code + entry->start;
    continue;
  }
  leave:
    stack_.pop();
    if (stack_.empty()) {
      ok = true;
      goto done;
    }
    top = &stack_.back();
    code = top->func == no_func ? line_code_ : bodies;
    ip = code + top->pc + 1;
    continue;
  checkpoint:
    left_ = 0;
    if (!checkpoint()) {
      budget = 0;
      goto stopped;
    }
    budget = left_;
  }
escape_stopped:
  // An escape that waits and gives up pauses the run before it: it runs, and counts, again.
  if (state_.paused()) ++budget;
  goto done;
pause:
  control_.paused();
  state_.pause();
stopped:
  top->pc = static_cast<std::uint64_t>(ip - code);
done:
  left_ = budget;
  return ok;
}

#undef ZANDLE_DRIVER_CASE
#undef ZANDLE_EXECUTE_then_if_any
#undef ZANDLE_EXECUTE_then_if
#undef ZANDLE_EXECUTE_THEN_IF
#undef ZANDLE_EXECUTE_if_number_k
#undef ZANDLE_EXECUTE_if_number
#undef ZANDLE_EXECUTE_IF
#undef ZANDLE_EXECUTE_new_number_k
#undef ZANDLE_EXECUTE_new_number
#undef ZANDLE_EXECUTE_NEW
#undef ZANDLE_EXECUTE_new_value
#undef ZANDLE_EXECUTE_new_concat
#undef ZANDLE_EXECUTE_new_compare
#undef ZANDLE_EXECUTE_STEP
#undef ZANDLE_EXECUTE_escape
#undef ZANDLE_EXECUTE_call
#undef ZANDLE_EXECUTE_ret
#undef ZANDLE_EXECUTE_end
#undef ZANDLE_EXECUTE_nop
#undef ZANDLE_EXECUTE_func
#undef ZANDLE_EXECUTE_general
#undef ZANDLE_CALL_NAMED
#undef ZANDLE_CHARGE_ONE

}  // namespace zandle::zndvm
