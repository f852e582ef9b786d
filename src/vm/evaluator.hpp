// The one-operator expression evaluator. An expression is "left op right" with single
// spaces; operands naming variables are replaced by their values (one level only); string
// operators apply to any text, integer operators to signed 64-bit decimals. Text that is not
// such an operation comes back unchanged.
#pragma once
#include <string>
#include <string_view>

#include "store.hpp"

namespace zandle::vm {

// Truth is the one-byte text "0"; false is "1".
inline constexpr std::string_view truth_true = "0";
inline constexpr std::string_view truth_false = "1";

// Throws Overflow when an integer result leaves the signed 64-bit range and DivisionByZero
// for a zero divisor; malformed expressions are never failures.
std::string evaluate(std::string_view text, const Variables& vars);

}  // namespace zandle::vm
