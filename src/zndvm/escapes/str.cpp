// std.str: length, search and splitting, all counted in bytes. A number is worked on in
// its printed form, and results are strs whatever they read like, so that a piece of text
// prints exactly as it was ("1.50" stays 1.50).
#include "common/bytes.hpp"
#include "common/search.hpp"
#include "library.hpp"
#include "zndvm/machine.hpp"

namespace zandle::zndvm::escapes {

namespace {

// S and the position N, which may be at most S's length.
bool splitArguments(Machine& m, char* buf, std::string_view& s, std::uint64_t& n) {
  if (!textArgument(m, 0, buf, s)) return false;
  const Value* count = requiredArgument(m, 1);
  if (count == nullptr) return false;
  if (!wholeNumber(*count, n)) return m.fail(Error::InvalidArgument);
  if (n > s.size()) return m.fail(Error::OutOfBounds);
  return true;
}

}  // namespace

bool strLen(Machine& m) {
  char buf[value_text_capacity];
  std::string_view s;
  if (!textArgument(m, 0, buf, s)) return false;
  return storeWord(m, 0, s.size());
}

// The offset of the first occurrence, or the length when there is none, so that the split
// escapes can take the result either way: cut at the length, the left part is all of S and
// the right part empty.
bool strFind(Machine& m) {
  char buf[value_text_capacity], needle_buf[value_text_capacity];
  std::string_view s, needle;
  if (!textArgument(m, 0, buf, s) || !textArgument(m, 1, needle_buf, needle)) return false;
  const std::size_t at = findBytes(s, needle);
  const bool found = at != std::string_view::npos;
  return storeWord(m, 0, found ? at : s.size()) && storeWord(m, 1, found ? 0 : 1);
}

bool strSplitLeft(Machine& m) {
  char buf[value_text_capacity];
  std::string_view s;
  std::uint64_t n;
  if (!splitArguments(m, buf, s, n)) return false;
  return storeText(m, 0, slice(s, 0, n));
}

// The bytes after position N: the byte at N is the separator that std.str.find found, and
// belongs to neither part. At N = length there is nothing after it.
bool strSplitRight(Machine& m) {
  char buf[value_text_capacity];
  std::string_view s;
  std::uint64_t n;
  if (!splitArguments(m, buf, s, n)) return false;
  return storeText(m, 0, n == s.size() ? std::string_view() : sliceFrom(s, n + 1));
}

}  // namespace zandle::zndvm::escapes
