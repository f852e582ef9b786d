#include "expr.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/bytes.hpp"
#include "common/search.hpp"

namespace zandle::zndvm {

namespace {

// Expressions split at every space and nowhere else; consecutive spaces make empty tokens.
std::size_t tokenCount(std::string_view text) {
  return 1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), ' '));
}

// Tokens are short: a plain scan costs less than a library search per token.
template <class Fn>
void forEachToken(std::string_view text, Fn fn) {
  const char* start = text.data();
  const char* const end = start + text.size();
  for (const char* p = start; p != end; ++p) {
    if (*p == ' ') {
      fn(std::string_view(start, static_cast<std::size_t>(p - start)));
      start = p + 1;
    }
  }
  fn(std::string_view(start, static_cast<std::size_t>(end - start)));
}

// Empties the temp arena when an evaluator leaves.
struct TempReset {
  Arena& temp;
  ~TempReset() { temp.reset(); }
};

const Value out_of_memory = Value::failure(Error::OutOfMemory);
const Value not_numeric = Value::failure(Error::NotNumeric);

Value resolveOperand(const Variables& vars, const ExprOperand& e) {
  if (e.kind == ExprOperand::Kind::literal) return e.literal;
  const Value* v = vars.get(e.variable.slot);
  // The compiler made a variable only of a token that is no number, so an undefined name
  // stands for itself as a str.
  return v != nullptr ? *v : Value::ofStr(e.name());
}

Value resolveToken(const Variables& vars, std::string_view token) {
  const Value* v = vars.find(token);
  return v != nullptr ? *v : parseValue(token);
}

// A numeric operand as a double; false for a str that does not read as a float.
bool numberFrom(const Value& v, double& out) {
  return asNumber(v, out) || (v.type == Type::str && readFloat(v.text(), out));
}

// A literal, or a defined variable holding a number, as a double; false for anything else.
inline bool numericOperand(const Variables& vars, const ExprOperand& e, double& out) {
  const Value* v = e.kind == ExprOperand::Kind::literal ? &e.literal
                   : e.kind == ExprOperand::Kind::variable ? vars.get(e.variable.slot)
                                                           : nullptr;
  return v != nullptr && asNumber(*v, out);
}

Value applyStringOp(Arena& temp, Op op, const Value& left, const Value& right) {
  char left_buf[value_text_capacity];
  char right_buf[value_text_capacity];
  const std::string_view l = valueToString(left, left_buf);
  const std::string_view r = valueToString(right, right_buf);
  switch (op) {
    case Op::concat: {
      const std::size_t size = l.size() + r.size();
      if (size == 0) return Value::ofStr({});
      if (size > str_max) return out_of_memory;
      char* p = static_cast<char*>(temp.allocate(size, 1));
      if (p == nullptr) return out_of_memory;
      if (!l.empty()) std::memcpy(p, l.data(), l.size());
      if (!r.empty()) std::memcpy(p + l.size(), r.data(), r.size());
      return Value::ofStr({p, size});
    }
    case Op::str_eq: return truth(l == r);
    case Op::str_starts: return truth(startsWith(l, r));
    case Op::str_ends: return truth(endsWith(l, r));
    case Op::str_contains: return truth(findBytes(l, r) != std::string_view::npos);
    default: return not_numeric;
  }
}

// One element of a list being reduced: a value; an operator of a compiled list; or a token
// of a text, which is an operator or an operand depending on where it stands when the reducer
// reaches it, exactly as the text evaluator has always read text.
struct Element {
  enum class Kind : std::uint8_t { value, op, token };
  Value value;
  std::string_view token;
  Op op;
  Kind kind;
};

// Lists up to this long are reduced on the stack; longer ones borrow the temp arena.
constexpr std::size_t working_inline = 16;

// The operator standing at position i of n, if the element there is one.
inline bool operatorAt(const Element& e, std::size_t i, std::size_t n, Op& op) {
  if (i == 0 || i + 1 >= n) return false;
  if (e.kind == Element::Kind::op) {
    op = e.op;
    return true;
  }
  if (e.kind != Element::Kind::token) return false;
  const auto spelled = opKind(e.token);
  if (!spelled) return false;
  op = *spelled;
  return true;
}

// An element used as an operand. A compiled operator there is a malformed list.
inline Value operandOf(const Variables& vars, const Element& e) {
  switch (e.kind) {
    case Element::Kind::value: return e.value;
    case Element::Kind::token: return resolveToken(vars, e.token);
    case Element::Kind::op: break;
  }
  return not_numeric;
}

// The three left-to-right passes, one per tier, each rewriting the list in place (the list
// only shrinks, so the write position never passes the read position). A list that does not
// reduce to one operand fails with NotNumeric.
Value reduce(const Variables& vars, Arena& temp, Element* list, std::size_t n) {
  for (unsigned tier = 0; tier < tier_count; ++tier) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < n;) {
      Op op;
      if (operatorAt(list[i], i, n, op) && opTier(op) == tier) {
        Element& left = list[w - 1];
        const Value l = operandOf(vars, left);
        if (l.failed()) return l;
        const Value r = operandOf(vars, list[i + 1]);
        if (r.failed()) return r;
        left.value = applyOp(temp, op, l, r);
        if (left.value.failed()) return left.value;
        left.kind = Element::Kind::value;
        i += 2;
      } else {
        list[w++] = list[i++];
      }
    }
    n = w;
  }
  if (n != 1) return not_numeric;
  return operandOf(vars, list[0]);
}

// Room for n elements: `inline_list` when it is large enough, else the temp arena.
Element* workingList(Arena& temp, Element* inline_list, std::size_t n) {
  return n <= working_inline ? inline_list : temp.allocateArray<Element>(n);
}

// Variable substitution written into `out`: measured first, then written with one allocation.
Value substitute(Arena& out, const Variables& vars, std::string_view text) {
  char buf[value_text_capacity];
  std::size_t total = tokenCount(text) - 1;
  forEachToken(text, [&](std::string_view token) {
    const Value* v = vars.find(token);
    total += v != nullptr ? valueToString(*v, buf).size() : token.size();
  });
  if (total == 0) return Value::ofStr({});
  if (total > str_max) return out_of_memory;
  char* const start = static_cast<char*>(out.allocate(total, 1));
  if (start == nullptr) return out_of_memory;
  char* p = start;
  bool first = true;
  forEachToken(text, [&](std::string_view token) {
    if (!first) *p++ = ' ';
    first = false;
    const Value* v = vars.find(token);
    const std::string_view piece = v != nullptr ? valueToString(*v, buf) : token;
    if (!piece.empty()) std::memcpy(p, piece.data(), piece.size());
    p += piece.size();
  });
  return Value::ofStr({start, total});
}

}  // namespace

bool compileExpression(Arena& arena, std::string_view text, Variables& vars, CompiledExpr& out) {
  out = {};
  const std::size_t n = tokenCount(text);
  if (n % 2 == 0) return true;
  // One pass reads every token, into a list on the stack when it is short (the usual case)
  // and straight into the arena otherwise, once the operators are known to be in place. A
  // malformed text leaves nothing behind in the arena, and no name of it is interned.
  ExprOperand short_list[working_inline];
  const bool is_short = n <= working_inline;
  if (!is_short) {
    std::size_t k = 0;
    bool well_formed = true;
    forEachToken(text, [&](std::string_view token) {
      if (k++ % 2 == 1 && !isOperator(token)) well_formed = false;
    });
    if (!well_formed) return true;
  }
  ExprOperand* items = is_short ? short_list : arena.allocateArray<ExprOperand>(n);
  if (items == nullptr) return false;
  std::size_t k = 0;
  bool well_formed = true;
  forEachToken(text, [&](std::string_view token) {
    if (!well_formed) return;
    // Every field that is read is written below.
    ExprOperand* e = new (items + k) ExprOperand;
    if (k++ % 2 == 1) {
      const std::optional<Op> op = opKind(token);
      if (!op) {
        well_formed = false;
        return;
      }
      e->kind = ExprOperand::Kind::op;
      e->op = *op;
      return;
    }
    const Value v = parseValue(token);
    if (v.type == Type::str) {
      e->kind = ExprOperand::Kind::variable;
      e->variable = ExprVariable{token.data(), token.size(), no_slot};
    } else {
      e->kind = ExprOperand::Kind::literal;
      e->literal = v;
    }
  });
  if (!well_formed) return true;
  if (is_short) {
    items = arena.allocateArray<ExprOperand>(n);
    if (items == nullptr) return false;
    std::copy(short_list, short_list + n, items);
  }
  for (std::size_t i = 0; i < n; i += 2) {
    ExprOperand& e = items[i];
    if (e.kind == ExprOperand::Kind::variable && !vars.intern(e.name(), e.variable.slot)) {
      return false;
    }
  }
  out = {items, n};
  return true;
}

Value applyOp(Arena& temp, Op op, const Value& left, const Value& right) {
  if (isStringOp(op)) return applyStringOp(temp, op, left, right);
  double l, r;
  if (!numberFrom(left, l) || !numberFrom(right, r)) return not_numeric;
  return applyNumeric(op, l, r);
}

namespace {

// Everything but the numeric three-element case; kept out of line so that the fast path in
// evalCompiledExpr needs no stack frame for the working list.
[[gnu::noinline]] Value evalCompiledGeneral(EvalContext& ctx, const CompiledExpr& expr) {
  TempReset reset{ctx.temp};
  const ExprOperand* items = expr.items;
  const std::size_t n = expr.size;
  using Kind = ExprOperand::Kind;
  if (n == 1) return copyInto(ctx.scratch, resolveOperand(ctx.vars, items[0]));
  if (n == 3) {
    const Value v = applyOp(ctx.temp, items[1].op, resolveOperand(ctx.vars, items[0]),
                            resolveOperand(ctx.vars, items[2]));
    return v.failed() ? v : copyInto(ctx.scratch, v);
  }
  Element inline_list[working_inline];
  Element* list = workingList(ctx.temp, inline_list, n);
  if (list == nullptr) return out_of_memory;
  for (std::size_t i = 0; i < n; ++i) {
    if (items[i].kind == Kind::op) {
      new (list + i) Element{Value{}, {}, items[i].op, Element::Kind::op};
    } else {
      new (list + i) Element{resolveOperand(ctx.vars, items[i]), {}, Op::concat, Element::Kind::value};
    }
  }
  const Value v = reduce(ctx.vars, ctx.temp, list, n);
  return v.failed() ? v : copyInto(ctx.scratch, v);
}

// The text evaluator's reduction, or a failure: NotNumeric is the language's way to the
// fallback, OutOfMemory is a failure like anywhere else.
Value reduceText(EvalContext& ctx, std::string_view text, std::size_t n) {
  Element inline_list[working_inline];
  Element* list = workingList(ctx.temp, inline_list, n);
  if (list == nullptr) return out_of_memory;
  std::size_t k = 0;
  forEachToken(text, [&](std::string_view token) {
    new (list + k++) Element{Value{}, token, Op::concat, Element::Kind::token};
  });
  return reduce(ctx.vars, ctx.temp, list, n);
}

}  // namespace

Value evalCompiledExpr(EvalContext& ctx, const CompiledExpr& expr) {
  const ExprOperand* items = expr.items;
  // The common "a + 1" and "i < n" in registers: no Value goes through memory on this path.
  if (expr.size == 3 && !isStringOp(items[1].op)) {
    double l, r;
    if (numericOperand(ctx.vars, items[0], l) && numericOperand(ctx.vars, items[2], r)) {
      ctx.temp.reset();
      return applyNumeric(items[1].op, l, r);
    }
  }
  return evalCompiledGeneral(ctx, expr);
}

Value evaluate(EvalContext& ctx, std::string_view text) {
  TempReset reset{ctx.temp};
  const std::size_t n = tokenCount(text);
  if (n == 1) return copyInto(ctx.scratch, resolveToken(ctx.vars, text));
  if (n >= 3) {
    const std::size_t first_space = text.find(' ');
    const std::size_t second_space = text.find(' ', first_space + 1);
    if (isOperator(slice(text, first_space + 1, second_space - first_space - 1))) {
      const Value v = reduceText(ctx, text, n);
      if (!v.failed()) return copyInto(ctx.scratch, v);
      if (v.error() != Error::NotNumeric) return v;
    }
  }
  return substitute(ctx.scratch, ctx.vars, text);
}

}  // namespace zandle::zndvm
