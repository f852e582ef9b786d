// StrLen, StrSplitNumL and StrSplitNumR: byte-wise work on the text of a variable. Lengths
// and positions count bytes, never characters.
#include <string>

#include "common/decimal.hpp"
#include "escapes.hpp"

namespace zandle::vm::escapes {

namespace {

// Reads S (ARG1) and N (ARG2) and checks that N lies within S. Null when an argument is
// missing, which makes the escape do nothing.
const std::string* splitArguments(Machine& m, std::size_t& n) {
  const std::string* s = argument(m, "ARG1");
  if (s == nullptr) return nullptr;
  const std::string* n_text = argument(m, "ARG2");
  if (n_text == nullptr) return nullptr;
  auto r = parseU64(*n_text);
  if (r.status == DecimalStatus::invalid_character) fail(Error::InvalidCharacter);
  if (r.status == DecimalStatus::overflow) fail(Error::Overflow);
  if (r.value > s->size()) fail(Error::OutOfBounds);
  n = static_cast<std::size_t>(r.value);
  return s;
}

}  // namespace

void strLen(Machine& m) {
  const std::string* s = argument(m, "ARG1");
  if (s == nullptr) return;
  char buf[24];
  storeResult(m, "len", formatU64(s->size(), buf));
}

// The part is copied before it is stored: S may be the very variable being replaced.
void strSplitNumL(Machine& m) {
  std::size_t n;
  const std::string* s = splitArguments(m, n);
  if (s == nullptr) return;
  storeResult(m, "strLeft", std::string(*s, 0, n));
}

void strSplitNumR(Machine& m) {
  std::size_t n;
  const std::string* s = splitArguments(m, n);
  if (s == nullptr) return;
  storeResult(m, "strRight", std::string(*s, n));
}

}  // namespace zandle::vm::escapes
