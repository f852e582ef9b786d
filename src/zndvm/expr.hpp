// Expressions: the compiler that turns an operand's text into a list of operands and
// operators once, when its line is loaded, and the two evaluators (over such a list, and over
// raw text with its lenient fallback) that share one reducer and one set of operator
// semantics in applyOp. Results that are strings live in the scratch arena; working memory in
// the temp arena. Failures come back as failed Values.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/arena.hpp"
#include "ops.hpp"
#include "value.hpp"
#include "variables.hpp"

namespace zandle::zndvm {

// A name in a compiled expression: its bytes are a slice of the expression text (which must
// outlive the list) and its slot was interned when the expression was compiled.
struct ExprVariable {
  const char* name;
  std::size_t name_len;
  SlotId slot;
};

struct ExprOperand {
  enum class Kind : std::uint8_t { literal, variable, op };
  union {
    Value literal;  // word, sword or float; never str
    ExprVariable variable;
    Op op;
  };
  Kind kind;

  std::string_view name() const { return {variable.name, variable.name_len}; }
};

// A compiled expression: operands at even positions, operators at odd ones, in text order. An
// empty list means "no compiled form"; the compiler never produces an empty compiled list.
struct CompiledExpr {
  const ExprOperand* items = nullptr;
  std::size_t size = 0;

  bool compiled() const { return size != 0; }
  std::span<const ExprOperand> operands() const { return {items, size}; }
};

// What an evaluation reads and where it puts things. The machine owns all three.
struct EvalContext {
  Variables& vars;
  Arena& scratch;  // str results, valid until the next instruction starts
  Arena& temp;     // working memory, reset before each evaluator returns
};

// Compiles `text` into `out` in `arena` (no copy of the text is made), interning every name.
// A malformed text (even token count, or a non-operator where an operator must stand) gives
// no compiled form; that is not an error. False when memory runs out.
bool compileExpression(Arena& arena, std::string_view text, Variables& vars, CompiledExpr& out);

// One operator on two values. String operators work on printed forms; numeric ones on
// doubles, failing with NotNumeric for a str that does not read as a float. A concatenation
// is allocated in `temp` (OutOfMemory when it cannot be); nothing else allocates.
Value applyOp(Arena& temp, Op op, const Value& left, const Value& right);

// A numeric operator on two doubles: arithmetic gives a float, a comparison the truth word
// (a NaN compares unequal to everything). `op` must be numeric.
[[gnu::always_inline]] inline Value applyNumeric(Op op, double l, double r) {
  switch (op) {
    case Op::add: return Value::ofFloat(l + r);
    case Op::sub: return Value::ofFloat(l - r);
    case Op::mul: return Value::ofFloat(l * r);
    case Op::div: return Value::ofFloat(l / r);
    case Op::num_eq: return truth(l == r);
    case Op::num_ne: return truth(l != r);
    case Op::gt: return truth(l > r);
    default: return truth(l < r);
  }
}

// Evaluates a compiled list by the three tiers. Fails with NotNumeric or OutOfMemory.
Value evalCompiledExpr(EvalContext& ctx, const CompiledExpr& expr);

// Evaluates text at run time. Anything malformed or non-numeric yields the text with every
// space-separated token that names a variable replaced by its printed value (spacing kept
// exactly), so the only failure is running out of memory.
Value evaluate(EvalContext& ctx, std::string_view text);

}  // namespace zandle::zndvm
