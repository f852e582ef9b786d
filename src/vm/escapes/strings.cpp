// StrLen, StrSplitNumL and StrSplitNumR: byte-wise work on the text of a variable. Lengths
// and positions count bytes, never characters.
#include "common/bytes.hpp"
#include "common/decimal.hpp"
#include "escapes.hpp"

namespace zandle::vm::escapes {

namespace {

// Reads S (ARG1) and N (ARG2) and checks that N lies within S. False with `missing` set
// when an argument is missing, which makes the escape do nothing.
bool splitArguments(Machine& m, std::string_view& s, std::size_t& n, bool& missing) {
  std::string_view n_text;
  missing = !argument(m, "ARG1", s) || !argument(m, "ARG2", n_text);
  if (missing) return false;
  auto r = parseU64(n_text);
  if (r.status == DecimalStatus::invalid_character) return m.fail(Error::InvalidCharacter);
  if (r.status == DecimalStatus::overflow) return m.fail(Error::Overflow);
  if (r.value > s.size()) return m.fail(Error::OutOfBounds);
  n = static_cast<std::size_t>(r.value);
  return true;
}

}  // namespace

bool strLen(Machine& m) {
  std::string_view s;
  if (!argument(m, "ARG1", s)) return true;
  char buf[24];
  return storeResult(m, "len", formatU64(s.size(), buf));
}

// S may be the very variable being replaced: the store copies before it frees.
bool strSplitNumL(Machine& m) {
  std::string_view s;
  std::size_t n;
  bool missing;
  if (!splitArguments(m, s, n, missing)) return missing;
  return storeResult(m, "strLeft", slice(s, 0, n));
}

bool strSplitNumR(Machine& m) {
  std::string_view s;
  std::size_t n;
  bool missing;
  if (!splitArguments(m, s, n, missing)) return missing;
  return storeResult(m, "strRight", sliceFrom(s, n));
}

}  // namespace zandle::vm::escapes
