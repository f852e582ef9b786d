#include "expr.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/search.hpp"
#include "errors.hpp"

namespace zandle::zndvm {

namespace {

// Expressions split at every space and nowhere else; consecutive spaces make empty tokens.
std::size_t tokenCount(std::string_view text) {
  return 1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), ' '));
}

template <class Fn>
void forEachToken(std::string_view text, Fn fn) {
  std::size_t start = 0;
  for (;;) {
    std::size_t space = text.find(' ', start);
    if (space == std::string_view::npos) {
      fn(text.substr(start));
      return;
    }
    fn(text.substr(start, space - start));
    start = space + 1;
  }
}

// Empties the temp arena when an evaluator leaves, by return or by throw.
struct TempReset {
  Arena& temp;
  ~TempReset() { temp.reset(); }
};

// A str result is copied out of whatever it views (temp memory, a slot that the instruction
// may be about to overwrite) into the scratch arena.
Value settle(Arena& scratch, const Value& v) {
  if (v.type != Type::str) return v;
  return Value::ofStr(scratch.copy(v.text()));
}

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

double toNumber(const Value& v) {
  double d;
  if (!numberFrom(v, d)) fail(Error::NotNumeric);
  return d;
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
      char* p = static_cast<char*>(temp.allocate(size, 1));
      if (!l.empty()) std::memcpy(p, l.data(), l.size());
      if (!r.empty()) std::memcpy(p + l.size(), r.data(), r.size());
      return Value::ofStr({p, size});
    }
    case Op::str_eq: return truth(l == r);
    case Op::str_starts: return truth(l.starts_with(r));
    case Op::str_ends: return truth(l.ends_with(r));
    case Op::str_contains: return truth(findBytes(l, r) != std::string_view::npos);
    default: break;
  }
  fail(Error::NotNumeric);
}

// One element of a compiled expression while it is being reduced.
struct RtOperand {
  Value value;
  Op op;
  bool is_op;
};

// Lists up to this long are reduced on the stack; longer ones borrow the temp arena.
constexpr std::size_t working_inline = 16;

// The three left-to-right passes, one per tier, each rewriting the list in place (the list
// only shrinks, so the write position never passes the read position).
Value reduceCompiled(Arena& temp, RtOperand* list, std::size_t n) {
  for (unsigned tier = 0; tier < tier_count; ++tier) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < n;) {
      const RtOperand& e = list[i];
      if (i != 0 && i + 1 < n && e.is_op && opTier(e.op) == tier) {
        RtOperand& left = list[w - 1];
        const RtOperand& right = list[i + 1];
        if (left.is_op || right.is_op) fail(Error::NotNumeric);
        left.value = applyOp(temp, e.op, left.value, right.value);
        i += 2;
      } else {
        list[w++] = list[i++];
      }
    }
    n = w;
  }
  if (n != 1 || list[0].is_op) fail(Error::NotNumeric);
  return list[0].value;
}

// One element of a text expression: a word not yet looked up, or an operator's result.
struct TextOperand {
  std::string_view token;
  Value value;
  bool is_value;
};

Value resolveTextOperand(const Variables& vars, const TextOperand& e) {
  return e.is_value ? e.value : resolveToken(vars, e.token);
}

// The text evaluator's passes. False when the text does not reduce to one value, when an
// operator fails, or when memory runs out: the caller then falls back to substitution.
bool reduceText(EvalContext& ctx, std::string_view text, std::size_t n, Value& result) {
  try {
    TextOperand inline_list[working_inline];
    TextOperand* list = n <= working_inline ? inline_list : ctx.temp.allocateArray<TextOperand>(n);
    std::size_t k = 0;
    forEachToken(text, [&](std::string_view token) {
      new (list + k++) TextOperand{token, Value::ofWord(0), false};
    });
    for (unsigned tier = 0; tier < tier_count; ++tier) {
      std::size_t w = 0;
      for (std::size_t i = 0; i < n;) {
        const TextOperand& e = list[i];
        std::optional<Op> op;
        if (i != 0 && i + 1 < n && !e.is_value) op = opKind(e.token);
        if (op && opTier(*op) == tier) {
          TextOperand& left = list[w - 1];
          Value l = resolveTextOperand(ctx.vars, left);
          Value r = resolveTextOperand(ctx.vars, list[i + 1]);
          if (isStringOp(*op)) {
            left.value = applyOp(ctx.temp, *op, l, r);
          } else {
            // A text that is no number is the routine way to the fallback: no exception.
            double a, b;
            if (!numberFrom(l, a) || !numberFrom(r, b)) return false;
            left.value = applyNumeric(*op, a, b);
          }
          left.is_value = true;
          i += 2;
        } else {
          list[w++] = list[i++];
        }
      }
      n = w;
    }
    if (n != 1) return false;
    result = resolveTextOperand(ctx.vars, list[0]);
    return true;
  } catch (const Failure&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Variable substitution written into `out`: measured first, then written with one allocation.
std::string_view substitute(Arena& out, const Variables& vars, std::string_view text) {
  char buf[value_text_capacity];
  std::size_t total = tokenCount(text) - 1;
  forEachToken(text, [&](std::string_view token) {
    const Value* v = vars.find(token);
    total += v != nullptr ? valueToString(*v, buf).size() : token.size();
  });
  if (total == 0) return {};
  char* const start = static_cast<char*>(out.allocate(total, 1));
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
  return {start, total};
}

}  // namespace

CompiledExpr compileExpression(Arena& arena, std::string_view text, Variables& vars) {
  const std::size_t n = tokenCount(text);
  if (n % 2 == 0) return {};
  bool well_formed = true;
  std::size_t k = 0;
  forEachToken(text, [&](std::string_view token) {
    if (k++ % 2 == 1 && !isOperator(token)) well_formed = false;
  });
  if (!well_formed) return {};

  // Checked before allocating, so a malformed text leaves nothing behind in the arena.
  ExprOperand* items = arena.allocateArray<ExprOperand>(n);
  k = 0;
  forEachToken(text, [&](std::string_view token) {
    ExprOperand* e = new (items + k) ExprOperand{};
    if (k++ % 2 == 1) {
      e->kind = ExprOperand::Kind::op;
      e->op = *opKind(token);
      return;
    }
    Value v = parseValue(token);
    if (v.type == Type::str) {
      e->kind = ExprOperand::Kind::variable;
      e->variable = ExprVariable{token.data(), token.size(), vars.intern(token)};
    } else {
      e->kind = ExprOperand::Kind::literal;
      e->literal = v;
    }
  });
  return {items, n};
}

Value applyOp(Arena& temp, Op op, const Value& left, const Value& right) {
  if (isStringOp(op)) return applyStringOp(temp, op, left, right);
  const double l = toNumber(left);
  return applyNumeric(op, l, toNumber(right));
}

namespace {

// Everything but the numeric three-element case; kept out of line so that the fast path in
// evalCompiledExpr needs no stack frame for the working list.
[[gnu::noinline]] Value evalCompiledGeneral(EvalContext& ctx, const CompiledExpr& expr) {
  TempReset reset{ctx.temp};
  const ExprOperand* items = expr.items;
  const std::size_t n = expr.size;
  using Kind = ExprOperand::Kind;
  if (n == 1 && items[0].kind != Kind::op) {
    return settle(ctx.scratch, resolveOperand(ctx.vars, items[0]));
  }
  if (n == 3 && items[1].kind == Kind::op && items[0].kind != Kind::op &&
      items[2].kind != Kind::op) {
    const Value left = resolveOperand(ctx.vars, items[0]);
    const Value right = resolveOperand(ctx.vars, items[2]);
    return settle(ctx.scratch, applyOp(ctx.temp, items[1].op, left, right));
  }
  RtOperand inline_list[working_inline];
  RtOperand* list = n <= working_inline ? inline_list : ctx.temp.allocateArray<RtOperand>(n);
  // Every name is looked up before any operator runs.
  for (std::size_t i = 0; i < n; ++i) {
    if (items[i].kind == Kind::op) {
      new (list + i) RtOperand{Value::ofWord(0), items[i].op, true};
    } else {
      new (list + i) RtOperand{resolveOperand(ctx.vars, items[i]), Op::concat, false};
    }
  }
  return settle(ctx.scratch, reduceCompiled(ctx.temp, list, n));
}

}  // namespace

Value evalCompiledExpr(EvalContext& ctx, const CompiledExpr& expr) {
  const ExprOperand* items = expr.items;
  // The common "a + 1" and "i < n" in registers: no Value goes through memory on this path.
  if (expr.size == 3 && items[1].kind == ExprOperand::Kind::op && !isStringOp(items[1].op)) {
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
  if (n == 1) return settle(ctx.scratch, resolveToken(ctx.vars, text));
  if (n >= 3) {
    const std::size_t first_space = text.find(' ');
    const std::size_t second_space = text.find(' ', first_space + 1);
    const std::string_view second =
        text.substr(first_space + 1, second_space - first_space - 1);
    Value result;
    if (isOperator(second) && reduceText(ctx, text, n, result)) {
      return settle(ctx.scratch, result);
    }
  }
  return Value::ofStr(substitute(ctx.scratch, ctx.vars, text));
}

std::string_view resolveVariables(EvalContext& ctx, std::string_view text) {
  return substitute(ctx.temp, ctx.vars, text);
}

}  // namespace zandle::zndvm
