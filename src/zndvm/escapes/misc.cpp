// std.misc: a seeded pseudo-random generator, the local time as text, and sleeping.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "zndvm/machine.hpp"
#include "library.hpp"
#include "table.hpp"

namespace zandle::zndvm::escapes {

namespace {

std::uint64_t fnv1a(std::string_view bytes) {
  std::uint64_t h = 14695981039346656037u;
  for (char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211u;
  }
  return h;
}

// The generator state from whatever was stored as the last number: its 64 bits, read from
// the value itself and never from where it lives.
std::uint64_t stateOf(const Value& v) {
  switch (v.type) {
    case Type::word: return v.as.word;
    case Type::sword: return static_cast<std::uint64_t>(v.as.sword);
    case Type::float_: {
      std::uint64_t bits;
      std::memcpy(&bits, &v.as.float_, sizeof bits);
      return bits;
    }
    case Type::str: {
      Value parsed = parseValue(v.text());
      return parsed.type == Type::str ? fnv1a(v.text()) : stateOf(parsed);
    }
    case Type::failure: break;
  }
  return 0;
}

// Milliseconds from a word, a non-negative sword, a finite non-negative float (truncated),
// or a str that reads as one of those; anything else is no duration.
bool durationOf(const Value& v, std::uint64_t& ms) {
  escapes::Whole w;
  if (!escapes::wholeOf(v, true, w) || w.negative) return false;
  ms = w.magnitude;
  return true;
}

}  // namespace

bool random(Machine& m) {
  SlotId last;
  if (!m.escapeSlot(Machine::EscapeVar::last, 0, true, last)) return m.fail(Error::OutOfMemory);
  std::uint64_t x;
  if (const Value* seed = m.vars().get(last)) {
    x = stateOf(*seed);
  } else {
    arc4random_buf(&x, sizeof x);
  }
  x ^= x << 7;
  x ^= x >> 9;
  x ^= x << 8;
  m.vars().setNumber(last, Value::ofWord(x));
  return result(m, 0, Value::ofWord(x));
}

bool time(Machine& m) {
  std::time_t now = std::time(nullptr);
  struct tm local {};
  char buf[64];
  std::size_t n = 0;
  if (localtime_r(&now, &local) != nullptr) {
    n = std::strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Z %Y", &local);
  }
  return result(m, 0, Value::ofStr(std::string_view(buf, n)));
}

bool sleep(Machine& m) {
  const Value* value;
  if (!argument(m, 0, value)) return false;
  if (value == nullptr) return true;
  std::uint64_t ms;
  if (!durationOf(*value, ms)) return m.fail(Error::InvalidArgument);
  // An interrupt, or the host's deadline, ends the sleep early: it is done, and the run
  // pauses after it.
  (void)m.control().sleep(ms);
  return true;
}

}  // namespace zandle::zndvm::escapes
