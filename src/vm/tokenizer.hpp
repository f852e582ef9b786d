// Cuts one script line into tokens. Tokens are slices of the line; a quoted operand is
// followed by a marker token telling how it was quoted.
#pragma once
#include <string_view>

#include "common/vec.hpp"
#include "errors.hpp"

namespace zandle::vm {

inline constexpr std::string_view marker_double = "//";    // "text": an expression
inline constexpr std::string_view marker_single = "///";   // 'text': taken as written
inline constexpr std::string_view marker_braces = "////";  // {name}: evaluate name's value

// Replaces `tokens` with the tokens of `line` (no line feed inside). Fails with
// UnterminatedString when a quote or brace is not closed on the line, or OutOfMemory.
Error tokenize(std::string_view line, Vec<std::string_view>& tokens);

}  // namespace zandle::vm
