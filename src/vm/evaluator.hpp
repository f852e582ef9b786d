// The one-operator expression evaluator. An expression is "left op right" with single
// spaces; operands naming variables are replaced by their values (one level only); string
// operators apply to any text, integer operators to signed 64-bit decimals. Text that is not
// such an operation comes back unchanged.
#pragma once
#include <string_view>

#include "common/vec.hpp"
#include "errors.hpp"
#include "store.hpp"

namespace zandle::vm {

// Truth is the one-byte text "0"; false is "1".
inline constexpr std::string_view truth_true = "0";
inline constexpr std::string_view truth_false = "1";

// Evaluates `text` into `result`, which views the text itself, a variable's value, a
// constant or `scratch` (cleared first), and stays valid until any of those changes. Fails
// with Overflow when an integer result leaves the signed 64-bit range, DivisionByZero for a
// zero divisor, and OutOfMemory; malformed expressions are never failures.
Error evaluate(std::string_view text, const Variables& vars, Buffer& scratch,
               std::string_view& result);

}  // namespace zandle::vm
