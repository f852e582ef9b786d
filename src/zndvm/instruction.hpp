// The compiled form of one program line: the keyword, up to two operands with their
// addressing modes, and what can be prepared once for them (compiled expressions, interned
// variable slots, the typed value of a literal), so that running the line does no text work.
#pragma once
#include <cstdint>
#include <string_view>

#include "expr.hpp"
#include "value.hpp"
#include "variables.hpp"

namespace zandle::zndvm {

// A function's id in the function table, and an escape's slot in the machine's escapes.
using FuncId = NameId;
using EscapeId = NameId;
inline constexpr FuncId no_func = no_name;
inline constexpr EscapeId no_escape = no_name;

enum class Opcode : std::uint8_t { New, Escape, Func, Call, If, Return, End };

// How an operand is written: "text", 'text', {text}, <text>, or bare.
enum class AddrMode : std::uint8_t { literal, true_literal, forced_eval, pointer, bare };

// A compiled "x op y" with a numeric operator, operands being constants or variables: the
// shape of most loop counters and conditions, run without the general evaluator whenever
// both variables hold numbers.
struct NumericExpr {
  struct Side {
    SlotId slot;  // the variable, or no_slot for a constant
    double constant;
  };
  Side left, right;
  Op op;
  bool valid = false;
};

struct Operand {
  std::string_view text;  // delimiters removed; empty when absent
  CompiledExpr expr;      // literal mode only; empty when the text has no compiled form
  AddrMode mode = AddrMode::bare;
  // Resolved once when the line is prepared, where the text itself is the name (which of
  // them the keyword says): the variable it names or refers to, the function it names, or
  // the escape it names.
  SlotId slot = no_slot;
  FuncId func = no_func;
  EscapeId escape = no_escape;
  Value value{};  // New's true_literal value: the text read as a typed value
  NumericExpr numeric;
};

struct Instruction {
  Operand dest;
  Operand data;
  std::string_view text;   // the whole line, for reports of where a run failed
  std::uint32_t line = 0;  // its 1-based number in the text it came from
  Opcode op = Opcode::End;
  bool has_data = false;
};

}  // namespace zandle::zndvm
