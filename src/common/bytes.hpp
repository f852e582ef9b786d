// Slices of byte strings whose bounds the caller has already established.
// std::string_view::substr checks its position again and reports a bad one by throwing,
// which the interpreters, built without exceptions, must never reach.
#pragma once
#include <cstddef>
#include <cstring>
#include <string_view>

namespace zandle {

// Bytes [pos, pos + n) of s, n clipped to the end; pos must not pass the end.
constexpr std::string_view slice(std::string_view s, std::size_t pos, std::size_t n) {
  const std::size_t rest = s.size() - pos;
  return {s.data() + pos, n < rest ? n : rest};
}

// Whether s begins (ends) with the bytes of part. The standard library's forms check
// positions through a call that can throw, which unoptimised builds keep.
inline bool startsWith(std::string_view s, std::string_view part) {
  return s.size() >= part.size() && (part.empty() || std::memcmp(s.data(), part.data(), part.size()) == 0);
}
inline bool endsWith(std::string_view s, std::string_view part) {
  return s.size() >= part.size() &&
         (part.empty() || std::memcmp(s.data() + s.size() - part.size(), part.data(), part.size()) == 0);
}

// Bytes from pos to the end; pos must not pass the end.
constexpr std::string_view sliceFrom(std::string_view s, std::size_t pos) {
  return {s.data() + pos, s.size() - pos};
}

// Whether two byte strings are equal. Names and keywords are short, and comparing them here
// costs less than the call the library's comparison makes.
inline bool sameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a.size() > 16) return std::memcmp(a.data(), b.data(), a.size()) == 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace zandle
