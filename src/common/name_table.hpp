// A fixed vocabulary looked up by its exact bytes: keywords, mode markers, escape names.
// The table is a constexpr array whose entries have a `name`; its shortest and longest
// names are known when the program is built, so most words that are not in it are turned
// away by their length alone.
#pragma once
#include <cstddef>
#include <span>
#include <string_view>

#include "bytes.hpp"

namespace zandle {

template <class Entry, std::size_t N>
class NameTable {
 public:
  constexpr explicit NameTable(const Entry (&entries)[N]) : entries_(entries) {
    for (const Entry& e : entries) {
      shortest_ = e.name.size() < shortest_ ? e.name.size() : shortest_;
      longest_ = e.name.size() > longest_ ? e.name.size() : longest_;
    }
  }

  // The entry named exactly `name`, or null.
  [[gnu::always_inline]] const Entry* find(std::string_view name) const {
    if (name.size() < shortest_ || name.size() > longest_) return nullptr;
    for (const Entry& e : entries_) {
      if (sameBytes(e.name, name)) return &e;
    }
    return nullptr;
  }

  constexpr std::span<const Entry> entries() const { return entries_; }

 private:
  const Entry (&entries_)[N];
  std::size_t shortest_ = SIZE_MAX;
  std::size_t longest_ = 0;
};

// Whether each entry's `key` is its place in the table: a table in the order of its enum,
// whose entries are found by their number.
template <class Entry, std::size_t N, class Key>
constexpr bool inKeyOrder(const Entry (&entries)[N], Key Entry::*key) {
  for (std::size_t i = 0; i < N; ++i) {
    if (static_cast<std::size_t>(entries[i].*key) != i) return false;
  }
  return true;
}

}  // namespace zandle
