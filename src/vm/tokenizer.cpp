#include "tokenizer.hpp"

#include <cstring>

#include "errors.hpp"

namespace zandle::vm {

namespace {

constexpr bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

void tokenize(std::string_view line, std::vector<std::string_view>& tokens) {
  tokens.clear();
  const char* p = line.data();
  const char* end = p + line.size();
  while (p < end) {
    char c = *p;
    if (isSpace(c)) {
      ++p;
    } else if (c == '#') {
      return;
    } else if (c == '"' || c == '\'' || c == '{') {
      char close = c == '{' ? '}' : c;
      const char* start = p + 1;
      auto* found = static_cast<const char*>(std::memchr(start, close, static_cast<std::size_t>(end - start)));
      if (found == nullptr) fail(Error::UnterminatedString);
      tokens.emplace_back(start, static_cast<std::size_t>(found - start));
      tokens.push_back(c == '"' ? marker_double : c == '\'' ? marker_single : marker_braces);
      p = found + 1;
    } else {
      const char* start = p;
      while (p < end && !isSpace(*p)) ++p;
      tokens.emplace_back(start, static_cast<std::size_t>(p - start));
    }
  }
}

}  // namespace zandle::vm
