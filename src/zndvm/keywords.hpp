// zndvm's seven keywords, each the opcode of its line: the one table the compiler, the
// machine, the trace and the checker read.
#pragma once
#include <cstdint>
#include <string_view>

#include "common/name_table.hpp"

namespace zandle::zndvm {

enum class Opcode : std::uint8_t { New, Escape, Func, Call, If, Return, End };

struct KeywordEntry {
  std::string_view name;
  Opcode op;
};

// In the order of Opcode, so that an opcode's entry is found by its number.
inline constexpr KeywordEntry keyword_entries[] = {
    {"New", Opcode::New},   {"Escape", Opcode::Escape}, {"Func", Opcode::Func}, {"Call", Opcode::Call},
    {"If", Opcode::If},     {"Return", Opcode::Return}, {"End", Opcode::End},
};
inline constexpr NameTable keywords{keyword_entries};

constexpr std::string_view keywordName(Opcode op) { return keyword_entries[static_cast<int>(op)].name; }

static_assert(inKeyOrder(keyword_entries, &KeywordEntry::op));

}  // namespace zandle::zndvm
