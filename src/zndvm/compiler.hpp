// The line compiler: cuts a line into (text, mode marker) pairs and builds its ParsedLine.
// Lines are compiled one at a time, each just before it runs.
#pragma once
#include <string_view>

#include "common/arena.hpp"
#include "common/vec.hpp"
#include "errors.hpp"
#include "instruction.hpp"
#include "variables.hpp"

namespace zandle::zndvm {

// The mode markers, one per addressing mode; every token is followed by one.
inline constexpr std::string_view marker_bare = "/";
inline constexpr std::string_view marker_literal = "//";
inline constexpr std::string_view marker_true_literal = "///";
inline constexpr std::string_view marker_forced_eval = "////";
inline constexpr std::string_view marker_pointer = "/////";

// Replaces `tokens` with the (text, marker) pairs of `line`; the texts are slices of the
// line. Fails with UnterminatedString or OutOfMemory.
Error tokenize(std::string_view line, Vec<std::string_view>& tokens);

// Parses a tokenized line into `out`, which must be as a ParsedLine is made, compiling
// literal-mode operands into `arena`. Operand texts are views of the line, which must live
// as long as the result. Fails with UnknownInstruction, UnknownAddressingMode or
// OutOfMemory. A line without tokens must not be passed.
Error compileLine(const Vec<std::string_view>& tokens, Arena& arena, Variables& vars,
                  ParsedLine& out);

}  // namespace zandle::zndvm
