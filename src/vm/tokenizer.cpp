#include "tokenizer.hpp"

#include <cstring>

namespace zandle::vm {

namespace {

constexpr bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

Error tokenize(std::string_view line, Vec<std::string_view>& tokens) {
  tokens.clear();
  const char* p = line.data();
  const char* end = p + line.size();
  while (p < end) {
    char c = *p;
    if (isSpace(c)) {
      ++p;
    } else if (c == '#') {
      break;
    } else if (c == '"' || c == '\'' || c == '{') {
      char close = c == '{' ? '}' : c;
      const char* start = p + 1;
      auto* found = static_cast<const char*>(std::memchr(start, close, static_cast<std::size_t>(end - start)));
      if (found == nullptr) return Error::UnterminatedString;
      if (!tokens.push({start, static_cast<std::size_t>(found - start)}) ||
          !tokens.push(c == '"' ? marker_double : c == '\'' ? marker_single : marker_braces)) {
        return Error::OutOfMemory;
      }
      p = found + 1;
    } else {
      const char* start = p;
      while (p < end && !isSpace(*p)) ++p;
      if (!tokens.push({start, static_cast<std::size_t>(p - start)})) return Error::OutOfMemory;
    }
  }
  return Error::ok;
}

}  // namespace zandle::vm
