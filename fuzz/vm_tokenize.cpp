// The vm tokenizer on an arbitrary line. Besides not crashing, the tokens must account for
// the line exactly: slices in order, separated by white space, each quoted one between its
// delimiters and followed by the marker of its quote kind, the rest blank or a comment.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "errors.hpp"
#include "harness.hpp"
#include "tokenizer.hpp"

using namespace zandle;
using fuzz::expect;
using fuzz::isSpace;

namespace {

// Markers are the one kind of token that is no slice of the line.
bool isMarker(std::string_view line, std::string_view t) {
  return t.data() < line.data() || t.data() > line.data() + line.size();
}

void checkTokens(std::string_view line, const Vec<std::string_view>& tokens) {
  const char* cursor = line.data();
  const char* const end = line.data() + line.size();
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    std::string_view t = tokens[i];
    expect(!isMarker(line, t), "vm tokenize: a marker without a quoted token before it");
    expect(t.data() >= cursor && t.data() + t.size() <= end, "vm tokenize: token outside the line");
    const bool quoted = i + 1 < tokens.size() && isMarker(line, tokens[i + 1]);
    const char* gap_end = quoted ? t.data() - 1 : t.data();
    expect(gap_end >= cursor, "vm tokenize: tokens overlap");
    for (const char* p = cursor; p < gap_end; ++p) expect(isSpace(*p), "vm tokenize: text lost between tokens");
    if (quoted) {
      const std::string_view marker = tokens[++i];
      const char open = *gap_end;
      const char close = open == '{' ? '}' : open;
      expect(t.data() + t.size() < end && t.data()[t.size()] == close,
             "vm tokenize: quoted token not closed where it ends");
      expect(t.find(close) == std::string_view::npos, "vm tokenize: quote closed too late");
      expect((open == '"' && marker == vm::marker_double) ||
                 (open == '\'' && marker == vm::marker_single) ||
                 (open == '{' && marker == vm::marker_braces),
             "vm tokenize: wrong marker for the quote kind");
      cursor = t.data() + t.size() + 1;
    } else {
      expect(!t.empty(), "vm tokenize: empty bare token");
      expect(t[0] != '"' && t[0] != '\'' && t[0] != '{' && t[0] != '#',
             "vm tokenize: bare token starts like a quote or comment");
      for (char c : t) expect(!isSpace(c), "vm tokenize: white space inside a bare token");
      cursor = t.data() + t.size();
      expect(cursor == end || isSpace(*cursor), "vm tokenize: bare token cut short");
    }
  }
  while (cursor < end && isSpace(*cursor)) ++cursor;
  expect(cursor == end || *cursor == '#', "vm tokenize: text after the last token");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  Memory memory;
  Vec<std::string_view> tokens(memory);
  if (vm::Error e = vm::tokenize(line, tokens); e != vm::Error::ok) {
    expect(e == vm::Error::UnterminatedString, "vm tokenize: a failure other than UnterminatedString");
    return 0;
  }
  checkTokens(line, tokens);
  return 0;
}
