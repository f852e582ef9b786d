// A program line in its two compiled forms. The compiler turns the line into a ParsedLine:
// the keyword and up to two operands with their addressing modes and compiled expressions.
// The machine then prepares an Instruction from it, the compact record that is run and, inside
// a function, kept: its form says which executor runs it, and the form's fields hold what
// that executor needs, resolved once (variable cells, function and escape ids, constants).
// Only a record of the general form keeps the whole ParsedLine, out of line.
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
};

struct ParsedLine {
  Operand dest;
  Operand data;
  Opcode op = Opcode::End;
  bool has_data = false;
};

// Which executor runs a record. Every form but `general` is a shape whose operands were
// resolved when the line was prepared; `general` runs the keyword over the ParsedLine.
enum class Form : std::uint8_t {
  general,
  end,
  ret,
  func,         // Func name
  call,         // Call name
  escape,       // Escape name
  new_compare,  // New name "x op y", op a string comparison
  new_concat,   // New name "x s++ y"
  new_value,    // New name 'text'
  // New x "y op k" (op arithmetic) right before If f "x cmp k": the counter-and-test shape
  // of a loop, run as one step so that the test takes the new value from a register. It is
  // the New's record; the If's record stays as it was and follows it. Counters add or
  // subtract, so those two have forms of their own.
  add_then_if,
  sub_then_if,
  new_then_if,
  // New name "x op y" and If name "x op y" with op numeric, x and y cells or constants; the
  // _k forms have y a number written in the text, kept in the record. Each is a block of
  // forms, one per numeric operator (numericForm), so that running one decides nothing.
  new_number,
  new_number_k = new_number + 8,
  if_number = new_number_k + 8,
  if_number_k = if_number + 8,
  last = if_number_k + 7,
};

constexpr Form numericForm(Form block, Op op) {
  return static_cast<Form>(static_cast<unsigned>(block) + static_cast<unsigned>(op) -
                           static_cast<unsigned>(Op::add));
}
static_assert(numericForm(Form::new_number, Op::lt) < Form::new_number_k);
static_assert(numericForm(Form::if_number_k, Op::lt) == Form::last);

// Where a function's body starts, in the code; stays where it is for the machine's lifetime.
struct FuncEntry {
  std::uint64_t start;  // index of the first record of the body
  NameId source;        // the text it came from
  bool defined;
};

struct Instruction {
  const char* text = nullptr;  // the whole line, for reports of where a run failed
  std::uint32_t text_size = 0;
  std::uint32_t line = 0;  // its 1-based number in the text it came from
  Opcode op = Opcode::End;
  Form form = Form::general;
  Op expr_op = Op::add;  // the operator of the x op y forms
  bool before_end = false;  // the next record is an End: a self-call here reuses the frame
  // The slot (New), function (Func, Call, If) or escape (Escape) the record names.
  std::uint32_t id = no_name;
  // The operands of the x op y forms and New's value: a variable's cell (whose type says
  // when it holds no value) or a constant. A numeric form's constants are floats, since
  // only their value as a double matters there; the _k forms keep y's in the record.
  const Value* left = nullptr;
  union {
    const Value* right = nullptr;
    double right_number;
  };
  union {
    Value* cell = nullptr;     // new_number: the destination's cell
    const FuncEntry* callee;   // call, if_number: the function named
    const ParsedLine* parsed;  // general, and new_concat / new_compare when a name is unset
  };

  std::string_view lineText() const { return {text, text_size}; }
};

static_assert(sizeof(Instruction) <= 48);  // 48 with 64-bit pointers, less on wasm32

}  // namespace zandle::zndvm
