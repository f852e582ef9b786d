// Reading and printing zndvm values. Numbers built from the input's bytes (a double's bit
// pattern, a word, a sword) must read back from their printed form as the same number, and
// a float's digits must be the shortest that round-trip, as the C++ library's shortest
// conversion finds them. The input as text must read as the C library reads the same number
// (underscores removed) and print stably.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "harness.hpp"
#include "value.hpp"

using namespace zandle;
using fuzz::expect;
using namespace zandle::zndvm;

namespace {

std::uint64_t bitsOf(double d) {
  std::uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

bool sameFloat(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
  return bitsOf(a) == bitsOf(b);
}

// Significant digits without leading or trailing zeros, and the power of ten of the first.
struct Digits {
  std::string digits;
  long exp10 = 0;
};

// From the positional text valueToString writes ("-0.0012", "1500", "2.5").
Digits fromPositional(std::string_view text) {
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  const std::size_t point = text.find('.');
  const long int_len = static_cast<long>(point == std::string_view::npos ? text.size() : point);
  std::string all;
  for (char c : text) {
    if (c != '.') all.push_back(c);
  }
  const std::size_t first = all.find_first_not_of('0');
  Digits d;
  if (first == std::string::npos) return d;
  d.exp10 = int_len - 1 - static_cast<long>(first);
  d.digits = all.substr(first, all.find_last_not_of('0') - first + 1);
  return d;
}

// From the library's shortest scientific form ("1.5e+03").
Digits fromScientific(std::string_view text) {
  const std::size_t e = text.find('e');
  Digits d;
  for (char c : text.substr(0, e)) {
    if (c >= '0' && c <= '9') d.digits.push_back(c);
  }
  d.digits.erase(d.digits.find_last_not_of('0') + 1);
  d.exp10 = std::strtol(std::string(text.substr(e + 1)).c_str(), nullptr, 10);
  return d;
}

void checkFloat(double x) {
  char buf[value_text_capacity];
  const std::string_view text = valueToString(Value::ofFloat(x), buf);
  expect(text.size() <= value_text_capacity, "float text longer than the buffer");
  const Value back = parseValue(text);
  switch (back.type) {
    case Type::float_:
      expect(sameFloat(back.as.float_, x), "float does not read back bit for bit");
      break;
    case Type::word:
      // An integral float prints as an integer; it must be the integer nearest to it.
      expect(static_cast<double>(back.as.word) == x && !std::signbit(x), "integral float reads back wrong");
      break;
    case Type::sword:
      // "-0" is the one text of a float that reads as a different number (sword 0).
      expect(static_cast<double>(back.as.sword) == x, "negative integral float reads back wrong");
      break;
    case Type::str:
    case Type::failure:
      fuzz::violated("a printed float reads as no number");
  }
  if (!std::isfinite(x) || x == 0) return;
  char sci[64];
  const auto r = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific);
  const Digits want = fromScientific(std::string_view(sci, static_cast<std::size_t>(r.ptr - sci)));
  const Digits got = fromPositional(text);
  expect(got.digits == want.digits && got.exp10 == want.exp10, "float digits are not the shortest nearest");
}

void checkInteger(std::uint64_t bits) {
  char buf[value_text_capacity];
  Value back = parseValue(valueToString(Value::ofWord(bits), buf));
  expect(back.type == Type::word && back.as.word == bits, "word does not read back");
  const auto s = static_cast<std::int64_t>(bits);
  back = parseValue(valueToString(Value::ofSword(s), buf));
  // A non-negative sword prints like a word and reads back as one.
  expect(back.type == (s < 0 ? Type::sword : Type::word) && back.as.sword == s, "sword does not read back");
}

// Texts the reader takes as a float must mean what the C library's reader says they mean.
void checkText(std::string_view text) {
  const Value v = parseValue(text);
  char buf[value_text_capacity];
  const std::string_view printed = valueToString(v, buf);
  if (v.type == Type::str) {
    expect(printed.data() == text.data() && printed.size() == text.size(), "a str does not print as itself");
    return;
  }
  // Printing is stable: the printed text reads as a value that prints the same.
  char again[value_text_capacity];
  const std::string_view reprinted = valueToString(parseValue(printed), again);
  expect(reprinted == printed || printed == "-0", "printing a read number is not stable");
  if (v.type != Type::float_) return;
  std::string plain;
  for (char c : text) {
    if (c != '_') plain.push_back(c);
  }
  char* end = nullptr;
  const double libc = std::strtod(plain.c_str(), &end);
  expect(end == plain.c_str() + plain.size(), "the C library does not read a float we read");
  expect(sameFloat(libc, v.as.float_), "float read differs from the C library");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= 8) {
    std::uint64_t bits;
    std::memcpy(&bits, data, sizeof bits);
    double d;
    std::memcpy(&d, data, sizeof d);
    checkFloat(d);
    checkInteger(bits);
  }
  checkText(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
