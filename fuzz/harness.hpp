// What the harnesses share: the limits every fuzzed run gets, and a small fixed standard
// input (given through a PipeInput, so the line reader under test is the programs' own and
// no run can block waiting for input).
#pragma once
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "pipe_input.hpp"

namespace zandle::fuzz {

// Every instruction may copy values as large as the memory cap, so the two caps together
// bound the work of a run. With these, copying near the cap on every instruction takes
// about a second under the sanitizers, well inside libFuzzer's timeout; larger caps let
// such inputs run for minutes. Loops, deep calls and strings grown until memory runs out
// all fit.
inline constexpr std::uint64_t instruction_cap = 10'000;
inline constexpr std::size_t memory_cap = std::size_t{1} << 20;

// Lines of every kind a script may meet: text, numbers, an empty line, an unended last line.
inline constexpr std::string_view fixed_input = "first line\n42\n-7\n2.5\n\nlast line, no newline";

// Reports a broken property: libFuzzer saves the input that made it fail.
[[noreturn]] inline void violated(const char* what) {
  std::string_view text(what);
  if (::write(2, text.data(), text.size()) < 0 || ::write(2, "\n", 1) < 0) std::abort();
  std::abort();
}

inline void expect(bool holds, const char* what) {
  if (!holds) violated(what);
}

// White space as both tokenizers see it: the space and the ASCII controls tab to carriage
// return.
inline bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace zandle::fuzz
