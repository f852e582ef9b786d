// Slices of byte strings whose bounds the caller has already established.
// std::string_view::substr checks its position again and reports a bad one by throwing,
// which the interpreters, built without exceptions, must never reach.
#pragma once
#include <cstddef>
#include <string_view>

namespace zandle {

// Bytes [pos, pos + n) of s, n clipped to the end; pos must not pass the end.
constexpr std::string_view slice(std::string_view s, std::size_t pos, std::size_t n) {
  const std::size_t rest = s.size() - pos;
  return {s.data() + pos, n < rest ? n : rest};
}

// Bytes from pos to the end; pos must not pass the end.
constexpr std::string_view sliceFrom(std::string_view s, std::size_t pos) {
  return {s.data() + pos, s.size() - pos};
}

}  // namespace zandle
