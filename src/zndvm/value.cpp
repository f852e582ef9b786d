#include "value.hpp"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/bytes.hpp"
#include "common/decimal.hpp"

// Float text is converted by the C library's strtod and printf, which read correctly rounded
// and print exact digits; the standard library's charconv for doubles would add about 160 kB
// of tables to a program that must stay under 100 kB. Both follow the locale's decimal point,
// so strtod is only ever handed digits and an exponent, and printf's point is skipped.

namespace zandle::zndvm {

namespace {

bool isDec(char c) { return c >= '0' && c <= '9'; }

bool isHex(char c) { return isDec(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool equalsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// Reads one run of digits starting at i, where underscores may stand between two digits of
// the run (any number of them); passes each digit to on_digit and returns the digit count.
// Stops at the first byte that cannot continue the run, leaving i on it.
template <class IsDigit, class OnDigit>
std::size_t readRun(std::string_view t, std::size_t& i, IsDigit is_digit, OnDigit on_digit) {
  std::size_t count = 0;
  while (i < t.size()) {
    char c = t[i];
    if (is_digit(c)) {
      on_digit(c);
      ++count;
      ++i;
      continue;
    }
    if (c == '_' && count > 0) {
      std::size_t j = i;
      while (j < t.size() && t[j] == '_') ++j;
      if (j < t.size() && is_digit(t[j])) {
        i = j;
        continue;
      }
    }
    break;
  }
  return count;
}

// An optional sign and a run of decimal digits; the magnitude saturates far beyond any
// exponent that still matters.
bool readExponent(std::string_view t, std::size_t& i, std::int64_t& out) {
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    negative = t[i] == '-';
    ++i;
  }
  std::int64_t value = 0;
  std::size_t digits = readRun(t, i, isDec, [&](char c) {
    if (value < 1'000'000'000) value = value * 10 + (c - '0');
  });
  out = negative ? -value : value;
  return digits > 0;
}

std::int64_t clampExponent(std::int64_t e) {
  return e < -99999 ? -99999 : (e > 99999 ? 99999 : e);
}

// Significant digits beyond these cannot change a correctly rounded double (a rounding
// boundary has at most 767 significant decimal digits); what is dropped survives as one
// sticky nonzero digit so that a value just above a boundary is not taken for the boundary.
constexpr std::size_t decimal_kept_max = 800;
constexpr std::size_t hex_kept_max = 24;

constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// m * 10^e read correctly rounded. When m < 2^53 and |e| <= 22 both factors are exact doubles
// and one IEEE operation rounds the true value once; otherwise the C library reads it.
double decimalToDouble(std::uint64_t m, std::int64_t e) {
  if (m < (std::uint64_t{1} << 53) && e >= -22 && e <= 22) {
    const double d = static_cast<double>(m);
    return e >= 0 ? d * exact_powers_of_ten[e] : d / exact_powers_of_ten[-e];
  }
  char buf[48];
  char* p = buf + formatU64(m, buf).size();
  *p++ = 'e';
  p += formatI64(e, p).size();
  *p = '\0';
  return std::strtod(buf, nullptr);
}

// The significand of a decimal or hexadecimal number as the C library will read it back:
// its digits with leading zeros dropped, at most `kept_max` of them, and the exponent that
// places them (one unit per decimal digit, four bits per hexadecimal digit). A nonzero digit
// dropped past the cap is remembered as sticky.
struct Significand {
  char* digits;
  std::size_t kept;
  std::size_t kept_max;
  std::int64_t exp = 0;
  bool sticky = false;
};

// Reads "digits[.digits][<exp_char><exponent>]" from i to the end of t; false when malformed.
template <class IsDigit>
bool readSignificand(std::string_view t, std::size_t i, IsDigit is_digit, int step, char exp_char,
                     Significand& s) {
  bool significant = false;
  std::size_t n = readRun(t, i, is_digit, [&](char c) {
    if (!significant && c == '0') return;
    significant = true;
    if (s.kept < s.kept_max) {
      s.digits[s.kept++] = c;
    } else {
      s.exp += step;
      s.sticky |= c != '0';
    }
  });
  if (i < t.size() && t[i] == '.') {
    ++i;
    n += readRun(t, i, is_digit, [&](char c) {
      if (!significant && c == '0') {
        s.exp -= step;
        return;
      }
      significant = true;
      if (s.kept < s.kept_max) {
        s.digits[s.kept++] = c;
        s.exp -= step;
      } else {
        s.sticky |= c != '0';
      }
    });
  }
  if (n == 0) return false;
  if (i < t.size() && (t[i] == exp_char || t[i] == exp_char - 'a' + 'A')) {
    ++i;
    std::int64_t e;
    if (!readExponent(t, i, e)) return false;
    s.exp += e;
  }
  return i == t.size();
}

// The significand read by the C library: digits, the sticky digit, then the exponent.
// `digits` must have room for 32 bytes past the kept ones.
double libraryRead(Significand& s, int step, char exp_char) {
  if (s.sticky) {
    s.digits[s.kept++] = '1';
    s.exp -= step;
  }
  char* p = s.digits + s.kept;
  *p++ = exp_char;
  p += formatI64(clampExponent(s.exp), p).size();
  *p = '\0';
  return std::strtod(s.digits, nullptr);
}

// Decimal form: value = digits * 10^exp.
bool readDecimal(std::string_view t, std::size_t i, bool negative, double& out) {
  char digits[decimal_kept_max + 32];
  Significand s{digits, 0, decimal_kept_max};
  if (!readSignificand(t, i, isDec, 1, 'e', s)) return false;
  double magnitude;
  if (s.kept == 0) {
    magnitude = 0.0;
  } else if (s.kept <= 15) {
    std::uint64_t m = 0;
    for (std::size_t k = 0; k < s.kept; ++k) m = m * 10 + static_cast<std::uint64_t>(digits[k] - '0');
    magnitude = decimalToDouble(m, clampExponent(s.exp));
  } else {
    magnitude = libraryRead(s, 1, 'e');
  }
  out = negative ? -magnitude : magnitude;
  return true;
}

// Hexadecimal form after "0x": value = hex digits * 2^exp.
bool readHex(std::string_view t, std::size_t i, bool negative, double& out) {
  char digits[2 + hex_kept_max + 32] = {'0', 'x'};
  Significand s{digits, 2, 2 + hex_kept_max};
  if (!readSignificand(t, i, isHex, 4, 'p', s)) return false;
  const double magnitude = s.kept > 2 ? libraryRead(s, 4, 'p') : 0.0;
  out = negative ? -magnitude : magnitude;
  return true;
}

// ---- printing ----

// A positive decimal: value = digits * 10^exp10.
struct Decimal {
  std::uint64_t digits;
  int exp10;
};

constexpr std::uint64_t powerOfTen(int n) {
  std::uint64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// 10^d for d = -8 .. 37, to place a number in its decade; an inexact entry can only misplace
// a number right at a decade's edge, which then takes the slower path.
constexpr double decade_floors[] = {
    1e-8, 1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0,  1e1,  1e2,  1e3,  1e4,
    1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17,
    1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29, 1e30,
    1e31, 1e32, 1e33, 1e34, 1e35, 1e36, 1e37};

// Reads the candidate back; the candidate round-trips when this gives x again.
double readBack(Decimal d) { return decimalToDouble(d.digits, d.exp10); }

// Guesses the fifteen-digit decimal of x from x * 10^k in double arithmetic, which is off by
// at most one unit, and keeps a guess only when it reads back exactly as x. Covers the
// common numbers of at most fifteen significant digits without the C library's printf.
bool guessFifteenDigits(double x, Decimal& out) {
  if (!(x >= 1e-8 && x < 1e37)) return false;
  // The decade from the binary exponent (log10 2 ~ 78913 / 2^18), corrected once upward.
  const int binary_exp = static_cast<int>((std::bit_cast<std::uint64_t>(x) >> 52) & 0x7ff) - 1023;
  int decade = (binary_exp * 78913) >> 18;
  if (decade + 1 <= 37 && x >= decade_floors[decade + 1 + 8]) ++decade;
  const int k = 14 - decade;
  if (k < -22 || k > 22) return false;
  const double y = k >= 0 ? x * exact_powers_of_ten[k] : x / exact_powers_of_ten[-k];
  const auto m = static_cast<std::uint64_t>(y + 0.5);
  for (std::uint64_t candidate : {m, m - 1, m + 1}) {
    if (candidate == 0 || candidate >= 1'000'000'000'000'000) continue;
    if (decimalToDouble(candidate, -k) == x) {
      out = {candidate, -k};
      return true;
    }
  }
  return false;
}

// The p-significant-digit decimal nearest to x, as the C library rounds it (exactly, ties to
// even).
Decimal nearestDecimal(double x, int p) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", p - 1, x);
  std::uint64_t digits = 0;
  const char* c = buf;
  for (; *c != 'e'; ++c) {
    if (isDec(*c)) digits = digits * 10 + static_cast<std::uint64_t>(*c - '0');
  }
  int exp10 = std::atoi(c + 1);
  return {digits, exp10 - (p - 1)};
}

// Finds a p-digit decimal that reads back as x, preferring the nearest. When the nearest lies
// outside x's rounding interval, only its neighbour on the other side of x can lie inside.
bool roundTripDecimal(double x, int p, Decimal& out) {
  Decimal d = nearestDecimal(x, p);
  double back = readBack(d);
  if (back == x) {
    out = d;
    return true;
  }
  const std::uint64_t low = powerOfTen(p - 1);
  const std::uint64_t high = powerOfTen(p);
  Decimal other = d;
  if (back < x) {
    if (++other.digits == high) other = {low, d.exp10 + 1};
  } else {
    if (other.digits == low) {
      other = {high - 1, d.exp10 - 1};
    } else {
      --other.digits;
    }
  }
  if (readBack(other) != x) return false;
  out = other;
  return true;
}

// Shortest digits that read back as x (finite, positive), the nearest among equally short.
Decimal shortestDecimal(double x) {
  Decimal d;
  if (x < 9007199254740992.0 && static_cast<double>(static_cast<std::uint64_t>(x)) == x) {
    // Below 2^53 neighbouring doubles are at most 1 apart, so no other integer, and hence no
    // shorter decimal, reads back as this one.
    d = {static_cast<std::uint64_t>(x), 0};
  } else if (x >= 2.2250738585072014e-308) {
    // For a normal double, fifteen-digit decimals lie farther apart than its rounding
    // interval is wide, so at most one of them reads back as x and every shorter decimal is
    // among them: a fifteen-digit hit with its trailing zeros dropped is the shortest.
    if (!guessFifteenDigits(x, d) && !roundTripDecimal(x, 15, d) &&
        !roundTripDecimal(x, 16, d) &&
        !roundTripDecimal(x, 17, d)) {
      d = nearestDecimal(x, 17);  // 17 digits always round-trip
    }
  } else {
    // A subnormal's interval is wider; whether some p-digit decimal reads back as x only
    // turns from no to yes as p grows, so search for the turning point.
    int lo = 1, hi = 17;
    d = nearestDecimal(x, 17);
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      Decimal hit;
      if (roundTripDecimal(x, mid, hit)) {
        hi = mid;
        d = hit;
      } else {
        lo = mid + 1;
      }
    }
  }
  while (d.digits != 0 && d.digits % 10 == 0) {
    d.digits /= 10;
    ++d.exp10;
  }
  return d;
}

char* copyText(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* fillZeros(char* out, long n) {
  for (; n > 0; --n) *out++ = '0';
  return out;
}

}  // namespace

bool readFloat(std::string_view t, double& out) {
  // Every float starts with a sign, a digit, a point, or the i of inf or the n of nan: names
  // are turned away at their first byte.
  if (t.empty()) return false;
  switch (t[0]) {
    case '+': case '-': case '.': case 'i': case 'I': case 'n': case 'N':
      break;
    default:
      if (!isDec(t[0])) return false;
  }
  std::size_t i = 0;
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    negative = t[0] == '-';
    i = 1;
  }
  std::string_view rest = sliceFrom(t, i);
  if (rest.size() >= 3 && rest.size() <= 8) {
    if (equalsIgnoringCase(rest, "inf") || equalsIgnoringCase(rest, "infinity")) {
      out = negative ? -HUGE_VAL : HUGE_VAL;
      return true;
    }
    if (equalsIgnoringCase(rest, "nan")) {
      out = std::copysign(std::numeric_limits<double>::quiet_NaN(), negative ? -1.0 : 1.0);
      return true;
    }
  }
  if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    return readHex(t, i + 2, negative, out);
  }
  return readDecimal(t, i, negative, out);
}

Value parseValue(std::string_view text) {
  if (text.empty()) return Value::ofStr(text);
  if (text.size() <= 19) {
    // Plain digits, the usual number in a program: nineteen of them cannot overflow a word.
    std::uint64_t word = 0;
    std::size_t i = 0;
    while (i < text.size() && isDec(text[i])) word = word * 10 + static_cast<std::uint64_t>(text[i++] - '0');
    if (i == text.size()) return Value::ofWord(word);
  }
  if (text[0] == '-') {
    auto r = parseI64(text);
    if (r.status == DecimalStatus::ok) return Value::ofSword(r.value);
  } else if (isDec(text[0])) {
    auto r = parseU64(text);
    if (r.status == DecimalStatus::ok) return Value::ofWord(r.value);
  }
  double d;
  if (readFloat(text, d)) return Value::ofFloat(d);
  return Value::ofStr(text);
}

namespace {

// A whole number below 2^53, zero included, is its own shortest decimal (its neighbours are
// at most 1 away), so its digits need no search: counters, the common case, print fast. A
// nan compares false.
bool wholeBelow2To53(double a, std::uint64_t& whole) {
  if (!(a < 0x1p53)) return false;
  whole = static_cast<std::uint64_t>(a);
  return static_cast<double>(whole) == a;
}

}  // namespace

std::string_view formatFloat(double x, char* buf) {
  char* out = buf;
  if (std::signbit(x)) *out++ = '-';
  const double a = std::fabs(x);
  std::uint64_t whole;
  if (wholeBelow2To53(a, whole)) {
    const std::string_view digits = formatU64(whole, out);
    return {buf, static_cast<std::size_t>(out + digits.size() - buf)};
  }
  if (std::isnan(x)) return {buf, static_cast<std::size_t>(copyText(out, "nan") - buf)};
  if (std::isinf(x)) return {buf, static_cast<std::size_t>(copyText(out, "inf") - buf)};
  Decimal d = shortestDecimal(a);
  char digit_buf[24];
  std::string_view digits = formatU64(d.digits, digit_buf);
  const long n = static_cast<long>(digits.size());
  const long p = n + d.exp10;  // digits before the decimal point
  if (p <= 0) {
    out = copyText(out, "0.");
    out = fillZeros(out, -p);
    out = copyText(out, digits);
  } else if (p >= n) {
    out = copyText(out, digits);
    out = fillZeros(out, p - n);
  } else {
    out = copyText(out, slice(digits, 0, static_cast<std::size_t>(p)));
    *out++ = '.';
    out = copyText(out, sliceFrom(digits, static_cast<std::size_t>(p)));
  }
  return {buf, static_cast<std::size_t>(out - buf)};
}

std::string_view valueToString(const Value& value, char* buf) {
  switch (value.type) {
    case Type::word: return formatU64(value.as.word, buf);
    case Type::sword: return formatI64(value.as.sword, buf);
    case Type::float_: return formatFloat(value.as.float_, buf);
    case Type::str:
    case Type::failure: break;
  }
  return value.text();
}

Value textValue(Arena& arena, const Value& value) {
  if (value.type == Type::str) return value;
  char buf[value_text_capacity];
  std::string_view text;
  if (!arena.copy(valueToString(value, buf), text)) return Value::failure(Error::OutOfMemory);
  return Value::ofStr(text);
}

bool isTrue(const Value& value) {
  switch (value.type) {
    case Type::word: return value.as.word == 0;
    case Type::sword: return value.as.sword == 0;
    case Type::float_: return std::bit_cast<std::uint64_t>(value.as.float_) == 0;
    case Type::str: return value.str_len == 1 && value.as.str[0] == '0';
    case Type::failure: break;
  }
  return false;
}

Value copyInto(Arena& arena, const Value& value) {
  if (value.type != Type::str) return value;
  std::string_view text;
  if (!arena.copy(value.text(), text)) return Value::failure(Error::OutOfMemory);
  return Value::ofStr(text);
}

bool identical(const Value& a, const Value& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case Type::word: return a.as.word == b.as.word;
    case Type::sword: return a.as.sword == b.as.sword;
    case Type::float_:
      return std::bit_cast<std::uint64_t>(a.as.float_) == std::bit_cast<std::uint64_t>(b.as.float_);
    case Type::str: return a.text() == b.text();
    case Type::failure: break;
  }
  return a.as.word == b.as.word;
}

}  // namespace zandle::zndvm
