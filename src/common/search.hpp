// Substring search for the "contains" operators of both interpreters: the Crochemore–Perrin
// two-way algorithm, linear in the lengths of haystack and needle with constant extra
// memory, so that no pair of strings makes a test quadratic. It neither allocates nor throws.
#pragma once
#include <cstddef>
#include <string_view>

namespace zandle {

// The offset of the first occurrence of needle in haystack as a run of bytes, or
// std::string_view::npos when there is none. An empty needle occurs at offset 0.
std::size_t findBytes(std::string_view haystack, std::string_view needle) noexcept;

}  // namespace zandle
