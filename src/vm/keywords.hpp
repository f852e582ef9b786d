// vm's keywords and the tokens each needs after itself: the one table the machine, the
// trace and the checker read. `End` closes a recording and does nothing else; any other
// word at the start of a line is no keyword, and the line does nothing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "common/name_table.hpp"

namespace zandle::vm {

enum class Keyword : std::uint8_t { New, Escape, Func, Call, If, Return, End };

struct KeywordEntry {
  std::string_view name;
  Keyword keyword;
  std::size_t operands;
};

// In the order of Keyword, so that a keyword's entry is found by its number.
inline constexpr KeywordEntry keyword_entries[] = {
    {"New", Keyword::New, 2},   {"Escape", Keyword::Escape, 1}, {"Func", Keyword::Func, 1},
    {"Call", Keyword::Call, 1}, {"If", Keyword::If, 2},         {"Return", Keyword::Return, 0},
    {"End", Keyword::End, 0},
};
inline constexpr NameTable keywords{keyword_entries};

constexpr std::string_view keywordName(Keyword k) { return keyword_entries[static_cast<int>(k)].name; }

static_assert(inKeyOrder(keyword_entries, &KeywordEntry::keyword));

// The table unrolled, so that each comparison is with a constant the compiler sees and
// turns into a compare of a few bytes: every line a vm runs goes through here.
template <std::size_t... I>
[[gnu::always_inline]] inline const KeywordEntry* findKeywordIn(std::string_view word, std::index_sequence<I...>) {
  const KeywordEntry* found = nullptr;
  (void)((word == keyword_entries[I].name && (found = &keyword_entries[I]) != nullptr) || ...);
  return found;
}

[[gnu::always_inline]] inline const KeywordEntry* findKeyword(std::string_view word) {
  return findKeywordIn(word, std::make_index_sequence<std::size(keyword_entries)>());
}

}  // namespace zandle::vm
