// Cuts one script line into tokens. Tokens are slices of the line; a quoted operand is
// followed by a marker token telling how it was quoted.
#pragma once
#include <string_view>
#include <vector>

namespace zandle::vm {

inline constexpr std::string_view marker_double = "//";    // "text": an expression
inline constexpr std::string_view marker_single = "///";   // 'text': taken as written
inline constexpr std::string_view marker_braces = "////";  // {name}: evaluate name's value

// Replaces `tokens` with the tokens of `line` (no line feed inside). Throws
// UnterminatedString when a quote or brace is not closed on the line.
void tokenize(std::string_view line, std::vector<std::string_view>& tokens);

}  // namespace zandle::vm
