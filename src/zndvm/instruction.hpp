// A program line in its two compiled forms. The compiler turns the line into a ParsedLine:
// the keyword and up to two operands with their addressing modes and compiled expressions.
// The machine then prepares an Instruction from it, the compact record that is run and, inside
// a function, kept: its form (forms.hpp) says which executor runs it, and the form's fields
// hold what that executor needs, resolved once (variable cells, function and escape ids,
// constants). Only the records that may run over the whole ParsedLine keep it, out of line.
#pragma once
#include <cstdint>
#include <string_view>

#include "expr.hpp"
#include "forms.hpp"
#include "keywords.hpp"
#include "value.hpp"
#include "variables.hpp"

namespace zandle::zndvm {

// A function's id in the function table, and an escape's slot in the machine's escapes.
using FuncId = NameId;
using EscapeId = NameId;
inline constexpr FuncId no_func = no_name;
inline constexpr EscapeId no_escape = no_name;

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

// Where a function's body starts, in the code; stays where it is for the machine's lifetime.
struct FuncEntry {
  std::uint64_t start;  // index of the first record of the body
  NameId source;        // the text it came from
  bool defined;
};

// A record's fields beyond its text and place are written when the line is prepared and
// read by the executor of its form, through the accessors below for those that share room:
// in debug builds they check that the form reads the field (forms.hpp lists which do).
#ifdef NDEBUG
#define ZANDLE_FORM_READS(field) static_cast<void>(0)
#else
#define ZANDLE_FORM_READS(field) (reads(form, field) ? static_cast<void>(0) : __builtin_trap())
#endif

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
    const Value* right_ = nullptr;
    double right_number_;
  };
  union {
    Value* cell_ = nullptr;     // the numeric New forms: the destination's cell
    const FuncEntry* callee_;   // call, the numeric If forms: the function named
    const ParsedLine* parsed_;  // general, and new_concat / new_compare when a name is unset
  };

  std::string_view lineText() const { return {text, text_size}; }

  const Value* right() const {
    ZANDLE_FORM_READS(f_right);
    return right_;
  }
  double rightNumber() const {
    ZANDLE_FORM_READS(f_right_number);
    return right_number_;
  }
  Value* cell() const {
    ZANDLE_FORM_READS(f_cell);
    return cell_;
  }
  const FuncEntry& callee() const {
    ZANDLE_FORM_READS(f_callee);
    return *callee_;
  }
  const ParsedLine& parsed() const {
    ZANDLE_FORM_READS(f_parsed);
    return *parsed_;
  }
};

#undef ZANDLE_FORM_READS

static_assert(sizeof(Instruction) <= 48);  // 48 with 64-bit pointers, less on wasm32

}  // namespace zandle::zndvm
