// Typed values: the reading rules and their order, the printed forms, exact float round trips
// checked against the standard library's conversions, and the truth test.
#include <gtest/gtest.h>

#include <bit>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "errors.hpp"
#include "value.hpp"

namespace zandle::zndvm {
namespace {

std::string print(const Value& v) {
  char buf[value_text_capacity];
  return std::string(valueToString(v, buf));
}

std::string printFloat(double d) { return print(Value::ofFloat(d)); }

const char* typeName(Type t) {
  switch (t) {
    case Type::word: return "word";
    case Type::sword: return "sword";
    case Type::float_: return "float";
    case Type::str: return "str";
    case Type::failure: return "failure";
  }
  return "?";
}

struct ReadCase {
  const char* text;
  Type type;
  const char* printed;
};

TEST(ValueRead, TypesAndPrintedForms) {
  const ReadCase cases[] = {
      // Unsigned integers: no sign, underscores only between digits.
      {"42", Type::word, "42"},
      {"007", Type::word, "7"},
      {"0", Type::word, "0"},
      {"1_000", Type::word, "1000"},
      {"1__0", Type::word, "10"},
      {"18446744073709551615", Type::word, "18446744073709551615"},
      // Signed integers need the minus sign.
      {"-5", Type::sword, "-5"},
      {"-0", Type::sword, "0"},
      {"-1_0", Type::sword, "-10"},
      {"-9223372036854775808", Type::sword, "-9223372036854775808"},
      // Everything else numeric is a float.
      {"+5", Type::float_, "5"},
      {"+0", Type::float_, "0"},
      {"1.5", Type::float_, "1.5"},
      {"1.50", Type::float_, "1.5"},
      {"1e3", Type::float_, "1000"},
      {"1E+05", Type::float_, "100000"},
      {"1e-7", Type::float_, "0.0000001"},
      {".5", Type::float_, "0.5"},
      {"5.", Type::float_, "5"},
      {"0.1", Type::float_, "0.1"},
      {"-0.0", Type::float_, "-0"},
      {"18446744073709551616", Type::float_, "18446744073709552000"},
      {"-9223372036854775809", Type::float_, "-9223372036854776000"},
      {"1_000.5", Type::float_, "1000.5"},
      {"1_0e1_0", Type::float_, "100000000000"},
      {"0x10", Type::float_, "16"},
      {"0X1.8p1", Type::float_, "3"},
      {"0x1p-2", Type::float_, "0.25"},
      {"-0x10", Type::float_, "-16"},
      {"+0xA", Type::float_, "10"},
      {"0x.8", Type::float_, "0.5"},
      {"0xf_f", Type::float_, "255"},
      {"inf", Type::float_, "inf"},
      {"INF", Type::float_, "inf"},
      {"-Infinity", Type::float_, "-inf"},
      {"+inf", Type::float_, "inf"},
      {"NaN", Type::float_, "nan"},
      {"-nan", Type::float_, "-nan"},
      {"1e400", Type::float_, "inf"},
      {"-1e400", Type::float_, "-inf"},
      {"1e99999999999999999999", Type::float_, "inf"},
      {"1e-400", Type::float_, "0"},
      {"-1e-400", Type::float_, "-0"},
      {"0e99999", Type::float_, "0"},
      {"0x1p2000", Type::float_, "inf"},
      {"0x1p-2000", Type::float_, "0"},
      // Strings: anything that does not match a whole form.
      {"", Type::str, ""},
      {"abc", Type::str, "abc"},
      {"-", Type::str, "-"},
      {"+", Type::str, "+"},
      {"1 2", Type::str, "1 2"},
      {"5.5.5", Type::str, "5.5.5"},
      {" 5", Type::str, " 5"},
      {"5 ", Type::str, "5 "},
      {"_1", Type::str, "_1"},
      {"1_", Type::str, "1_"},
      {"-_1", Type::str, "-_1"},
      {"1_.5", Type::str, "1_.5"},
      {"1._5", Type::str, "1._5"},
      {"1e_5", Type::str, "1e_5"},
      {"1e5_", Type::str, "1e5_"},
      {".", Type::str, "."},
      {"e5", Type::str, "e5"},
      {"1e", Type::str, "1e"},
      {"1e+", Type::str, "1e+"},
      {"0x", Type::str, "0x"},
      {"0x1p", Type::str, "0x1p"},
      {"0xg", Type::str, "0xg"},
      {"--5", Type::str, "--5"},
      {"+-5", Type::str, "+-5"},
      {"in", Type::str, "in"},
      {"infinit", Type::str, "infinit"},
      {"infinityy", Type::str, "infinityy"},
      {"nan(1)", Type::str, "nan(1)"},
      {"nan()", Type::str, "nan()"},
      {"1\t", Type::str, "1\t"},
      {"0x1.8p1.5", Type::str, "0x1.8p1.5"},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.text);
    Value v = parseValue(c.text);
    EXPECT_STREQ(typeName(v.type), typeName(c.type));
    EXPECT_EQ(print(v), c.printed);
  }
}

TEST(ValueRead, IntegerPayloadsAndStrAliasing) {
  EXPECT_EQ(parseValue("18446744073709551615").as.word, UINT64_MAX);
  EXPECT_EQ(parseValue("-9223372036854775808").as.sword, INT64_MIN);
  EXPECT_EQ(parseValue("-0").as.sword, 0);
  EXPECT_EQ(parseValue("1__0").as.word, 10u);
  // A str is a view of the very bytes it was read from.
  const char text[] = "hello";
  Value v = parseValue(std::string_view(text, 5));
  EXPECT_EQ(v.text().data(), text);
  EXPECT_EQ(v.text().size(), 5u);
}

TEST(ValueRead, NanSignAndInfinities) {
  double d;
  ASSERT_TRUE(readFloat("nan", d));
  EXPECT_TRUE(std::isnan(d));
  EXPECT_FALSE(std::signbit(d));
  ASSERT_TRUE(readFloat("-NAN", d));
  EXPECT_TRUE(std::isnan(d));
  EXPECT_TRUE(std::signbit(d));
  ASSERT_TRUE(readFloat("-iNfInItY", d));
  EXPECT_EQ(d, -std::numeric_limits<double>::infinity());
}

// Which first bytes can begin a float: a sign, a digit, a point, and the i and n of inf and
// nan in either case. Names are turned away at that byte, so every other byte is checked.
TEST(ValueRead, OnlySomeFirstBytesBeginAFloat) {
  double d;
  for (int c = 0; c < 256; ++c) {
    const char first = static_cast<char>(c);
    const bool begins = (c >= '0' && c <= '9') || first == '+' || first == '-' || first == '.';
    EXPECT_EQ(readFloat(std::string(1, first) + "5", d), begins) << c;
    EXPECT_EQ(parseValue(std::string(1, first) + "5").type == Type::str, !begins) << c;
  }
  for (const char* text : {"inf", "Inf", "INFINITY", "nan", "NaN", "+inf", "-nan", ".5", "+.5e1"}) {
    EXPECT_TRUE(readFloat(text, d)) << text;
  }
  for (const char* text : {"", "+", "-", ".", "i", "n", "info", "nana", "x1", "_1"}) {
    EXPECT_FALSE(readFloat(text, d)) << text;
  }
}

#if defined(__cpp_lib_to_chars)
// Whether a text the reference calls out of range is huge (infinity) or tiny (zero), from the
// place of its first nonzero digit and its exponent.
double beyondRange(std::string_view t, bool hex) {
  const std::size_t exp_pos = t.find_first_of(hex ? "pP" : "eE");
  const std::string_view mantissa = t.substr(0, exp_pos);
  const long e = exp_pos == std::string_view::npos ? 0 : std::stol(std::string(t.substr(exp_pos + 1)));
  const std::size_t point = mantissa.find('.');
  const long int_len = static_cast<long>(point == std::string_view::npos ? mantissa.size() : point);
  const long first = static_cast<long>(mantissa.find_first_not_of("0."));
  const long digits_before_point = first < int_len ? int_len - first : int_len - first + 1;
  return (hex ? 4 * digits_before_point + e : digits_before_point + e) > 0 ? HUGE_VAL : 0.0;
}
#endif

// The standard library's reader is the reference: correctly rounded by construction. A C++
// library without floating-point charconv (libc++ 14) falls back to the C library's strtod,
// which is correctly rounded too, though it is what the reader under test uses itself for
// long texts.
double reference(std::string_view text, std::chars_format format = std::chars_format::general) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  double d = 0;
#if defined(__cpp_lib_to_chars)
  auto r = std::from_chars(text.data(), text.data() + text.size(), d, format);
  EXPECT_EQ(r.ptr, text.data() + text.size()) << text;
  if (r.ec == std::errc::result_out_of_range) d = beyondRange(text, format == std::chars_format::hex);
#else
  const std::string c_text = (format == std::chars_format::hex ? "0x" : "") + std::string(text);
  char* end = nullptr;
  d = std::strtod(c_text.c_str(), &end);  // out of range it gives 0 or HUGE_VAL itself
  EXPECT_EQ(end, c_text.c_str() + c_text.size()) << text;
#endif
  return negative ? -d : d;
}

// Decimal digits of 5^n: 2^-n is these digits times 10^-n.
std::string powerOfFive(int n) {
  std::vector<int> digits{1};  // least significant first
  for (int i = 0; i < n; ++i) {
    int carry = 0;
    for (int& d : digits) {
      d = d * 5 + carry;
      carry = d / 10;
      d %= 10;
    }
    if (carry) digits.push_back(carry);
  }
  std::string s;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) s += static_cast<char>('0' + *it);
  return s;
}

void expectReads(const std::string& text, double expected) {
  double got;
  ASSERT_TRUE(readFloat(text, got)) << text;
  EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(expected))
      << text << " read as " << got << ", expected " << expected;
}

TEST(ValueRead, HardRoundingCases) {
  const char* texts[] = {
      "2.2250738585072011e-308",  // just below the smallest normal
      "2.2250738585072012e-308",
      "4.9406564584124654e-324",  // smallest subnormal
      "2.4703282292062328e-324",  // just above half of it: rounds up
      "1.7976931348623157e308",
      "9007199254740993.0",       // halfway between two doubles: to even
      "9007199254740995.0",
      "0.1",
      "123456789012345678901234567890",
      "8.98846567431158e307",
      "1.00000000000000011102230246251565404236316680908203125",  // exactly halfway
      "1.00000000000000011102230246251565404236316680908203126",
  };
  for (const char* t : texts) expectReads(t, reference(t));
  // 2^-1075 lies exactly halfway between zero and the smallest subnormal and rounds to even
  // (zero); any nonzero digit after it, however far, tips it up. Past 800 digits the reader
  // keeps only a sticky digit for the rest.
  const std::string half = powerOfFive(1075);  // 752 digits
  const double smallest = 4.9406564584124654e-324;
  expectReads(half + "e-1075", 0.0);
  expectReads("-" + half + "e-1075", -0.0);
  expectReads(half + "0000000000001e-1088", smallest);
  expectReads(half + std::string(100, '0') + "e-1175", 0.0);
  expectReads(half + std::string(100, '0') + "1e-1176", smallest);
  const std::string point_zeros = "0." + std::string(1075 - half.size(), '0');
  expectReads(point_zeros + half + std::string(300, '0') + "1", smallest);
  expectReads("-" + point_zeros + half, -0.0);
  // Three halves of the smallest subnormal: halfway between one and two of it, to even (two).
  const std::string three_halves = [&] {
    std::string h = half;  // times three, by hand
    int carry = 0;
    for (auto it = h.rbegin(); it != h.rend(); ++it) {
      int d = (*it - '0') * 3 + carry;
      *it = static_cast<char>('0' + d % 10);
      carry = d / 10;
    }
    return carry ? std::to_string(carry) + h : h;
  }();
  expectReads(three_halves + "e-1075", 2 * smallest);
}

TEST(ValueRead, RandomDecimalTextsMatchReference) {
  std::mt19937_64 rng(12345);
  for (int n = 0; n < 200000; ++n) {
    std::string t;
    if (rng() % 2) t += '-';
    const int int_digits = static_cast<int>(rng() % 20);
    const int frac_digits = static_cast<int>(rng() % 20);
    for (int i = 0; i < int_digits; ++i) t += static_cast<char>('0' + rng() % 10);
    if (frac_digits > 0 || int_digits == 0) {
      t += '.';
      for (int i = 0; i < std::max(frac_digits, 1); ++i) t += static_cast<char>('0' + rng() % 10);
    }
    if (rng() % 2) t += "e" + std::to_string(static_cast<int>(rng() % 640) - 320);
    SCOPED_TRACE(t);
    expectReads(t, reference(t));
  }
}

TEST(ValueRead, LongSignificandsMatchReference) {
  std::mt19937_64 rng(777);
  for (int n = 0; n < 2000; ++n) {
    std::string t;
    const int digits = 850 + static_cast<int>(rng() % 600);
    for (int i = 0; i < digits; ++i) t += static_cast<char>('0' + rng() % 10);
    if (rng() % 2) t.insert(t.begin() + static_cast<long>(rng() % t.size()), '.');
    // Long runs of zeros or nines around the cut-off are where a sticky digit matters.
    if (rng() % 3 == 0) t.replace(790, 30, std::string(30, rng() % 2 ? '0' : '9'));
    t += "e" + std::to_string(static_cast<int>(rng() % 1200) - 1000);
    SCOPED_TRACE(t.substr(0, 40));
    expectReads(t, reference(t));
  }
}

TEST(ValueRead, RandomHexTextsMatchReference) {
  std::mt19937_64 rng(4242);
  const char* hex = "0123456789abcdefABCDEF";
  for (int n = 0; n < 100000; ++n) {
    std::string body;
    const int int_digits = 1 + static_cast<int>(rng() % 30);
    for (int i = 0; i < int_digits; ++i) body += hex[rng() % 22];
    if (rng() % 2) {
      body += '.';
      for (int i = 0; i < static_cast<int>(rng() % 20); ++i) body += hex[rng() % 22];
    }
    if (rng() % 4) body += "p" + std::to_string(static_cast<int>(rng() % 2300) - 1200);
    const bool negative = rng() % 2;
    const std::string text = (negative ? "-0x" : "0x") + body;
    double expected = reference(body, std::chars_format::hex);
    if (negative) expected = -expected;
    SCOPED_TRACE(text);
    double got;
    ASSERT_TRUE(readFloat(text, got));
    if (std::isinf(expected)) {
      EXPECT_EQ(got, expected);
    } else {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(expected));
    }
  }
}

struct PrintCase {
  double value;
  const char* printed;
};

TEST(ValuePrint, FloatLayout) {
  const PrintCase cases[] = {
      {0.05, "0.05"},
      {1e-7, "0.0000001"},
      {3.0, "3"},
      {1500.0, "1500"},
      {1e21, "1000000000000000000000"},
      {18446744073709551616.0, "18446744073709552000"},
      {2.5, "2.5"},
      {123.456, "123.456"},
      {0.1 + 0.2, "0.30000000000000004"},
      {-0.0, "-0"},
      {0.0, "0"},
      {-1.5, "-1.5"},
      {9007199254740992.0, "9007199254740992"},
      {9007199254740994.0, "9007199254740994"},
      {1e23, "100000000000000000000000"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
      {-std::numeric_limits<double>::quiet_NaN(), "-nan"},
  };
  for (const PrintCase& c : cases) {
    SCOPED_TRACE(c.printed);
    EXPECT_EQ(printFloat(c.value), c.printed);
  }
  EXPECT_EQ(printFloat(5e-324), "0." + std::string(323, '0') + "5");
  EXPECT_EQ(printFloat(1e-300), "0." + std::string(299, '0') + "1");
}

TEST(ValuePrint, LongestTextsFitTheBuffer) {
  const std::string smallest = printFloat(-5e-324);
  EXPECT_EQ(smallest.size(), 327u);
  EXPECT_EQ(smallest.substr(0, 3), "-0.");
  EXPECT_EQ(smallest.substr(3, 323), std::string(323, '0'));
  const std::string largest = printFloat(-std::numeric_limits<double>::max());
  EXPECT_EQ(largest.size(), 310u);
  EXPECT_EQ(largest.substr(0, 18), "-17976931348623157");
  EXPECT_EQ(largest.substr(18), std::string(292, '0'));
}

TEST(ValuePrint, Integers) {
  EXPECT_EQ(print(Value::ofWord(0)), "0");
  EXPECT_EQ(print(Value::ofWord(UINT64_MAX)), "18446744073709551615");
  EXPECT_EQ(print(Value::ofSword(INT64_MIN)), "-9223372036854775808");
  EXPECT_EQ(print(Value::ofSword(-1)), "-1");
}

TEST(ValuePrint, StrIsItsOwnBytesAndArenaCopiesNumbersExactly) {
  Memory memory;
  Arena arena(memory, 4096);
  const char text[] = "abc";
  Value s = Value::ofStr({text, 3});
  EXPECT_EQ(textValue(arena, s).text().data(), text);
  char buf[value_text_capacity];
  EXPECT_EQ(valueToString(s, buf).data(), text);
  EXPECT_EQ(arena.capacity(), 0u);  // nothing allocated for a str
  std::string_view n = textValue(arena, Value::ofFloat(1.25)).text();
  EXPECT_EQ(n, "1.25");
  std::string_view m = textValue(arena, Value::ofWord(7)).text();
  EXPECT_EQ(m.data(), n.data() + n.size());  // exactly its length was taken
  arena.release();
  memory.cap = memory.held();
  EXPECT_EQ(textValue(arena, Value::ofFloat(1e300)).error(), Error::OutOfMemory);
}

// Significant digits of a printed float: sign, point and the zeros around them dropped.
std::string significantDigits(std::string_view printed) {
  std::string d;
  for (char c : printed) {
    if (c >= '0' && c <= '9') d += c;
  }
  std::size_t first = d.find_first_not_of('0');
  if (first == std::string::npos) return "0";
  d.erase(0, first);
  d.erase(d.find_last_not_of('0') + 1);
  return d;
}

#if defined(__cpp_lib_to_chars)
// The shortest digits that read back as x: the standard library's.
std::string referenceDigits(double x) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific);
  const std::string_view text(buf, static_cast<std::size_t>(r.ptr - buf));
  return significantDigits(text.substr(0, text.find('e')));
}
#else
// Without floating-point charconv: for each length, the correctly rounded digits and their
// two neighbours, and the first length where one reads back as x (the nearest one, when two
// do). x must be finite.
std::string referenceDigits(double x) {
  const double a = std::fabs(x);
  if (a == 0) return "0";
  char buf[64];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*e", digits - 1, a);
    const std::string text(buf);
    const std::string exponent = text.substr(text.find('e'));
    std::string mantissa = text.substr(0, text.find('e'));
    mantissa.erase(std::remove(mantissa.begin(), mantissa.end(), '.'), mantissa.end());
    const unsigned long long rounded = std::stoull(mantissa);
    std::string best;
    long double best_distance = 0;
    for (unsigned long long candidate : {rounded, rounded + 1, rounded - 1}) {
      if (candidate == 0) continue;
      const std::string c = std::to_string(candidate);
      const std::string reread = c.substr(0, 1) + "." + c.substr(1) + "e" +
                                 std::to_string(std::stol(exponent.substr(1)) +
                                                static_cast<long>(c.size()) - digits);
      if (std::strtod(reread.c_str(), nullptr) != a) continue;
      const long double distance = std::fabs(std::strtold(reread.c_str(), nullptr) - a);
      if (best.empty() || distance < best_distance) {
        best = c;
        best_distance = distance;
      }
    }
    if (!best.empty()) return significantDigits(best);
  }
  return "";
}
#endif

void expectRoundTrip(double x) {
  const std::string text = printFloat(x);
  const Value back = parseValue(text);
  ASSERT_EQ(back.type, Type::float_) << text;
  if (std::isnan(x)) {
    EXPECT_TRUE(std::isnan(back.as.float_)) << text;
    EXPECT_EQ(std::signbit(back.as.float_), std::signbit(x)) << text;
    return;
  }
  ASSERT_EQ(std::bit_cast<std::uint64_t>(back.as.float_), std::bit_cast<std::uint64_t>(x))
      << text;
  if (std::isinf(x)) return;
  EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
  EXPECT_EQ(significantDigits(text), referenceDigits(x)) << text;
}

// Integral doubles below 2^64 print as integers and would read back as words, so the round
// trip through parseValue only holds for the float's text when it is no integer: those are
// checked through readFloat instead.
void expectRoundTripAnyDouble(double x) {
  const std::string text = printFloat(x);
  const Value back = parseValue(text);
  if (back.type == Type::float_) {
    expectRoundTrip(x);
    return;
  }
  double d;
  ASSERT_TRUE(readFloat(text, d)) << text;
  ASSERT_EQ(std::bit_cast<std::uint64_t>(d), std::bit_cast<std::uint64_t>(x)) << text;
  EXPECT_EQ(significantDigits(text), referenceDigits(x)) << text;
}

TEST(ValueRoundTrip, MillionRandomBitPatterns) {
  std::mt19937_64 rng(20240607);
  for (int i = 0; i < 1'000'000; ++i) {
    expectRoundTripAnyDouble(std::bit_cast<double>(rng()));
    if (HasFailure()) return;
  }
}

TEST(ValueRoundTrip, SubnormalsPowersOfTwoAndIntegers) {
  std::mt19937_64 rng(99);
  for (int i = 0; i < 100'000; ++i) {
    // Subnormals take a search of their own; few bits make for very short digits.
    std::uint64_t bits = rng() & ((std::uint64_t{1} << 52) - 1);
    if (i < 64) bits = std::uint64_t{1} << (i % 52);
    expectRoundTripAnyDouble(std::bit_cast<double>(bits | (rng() & (std::uint64_t{1} << 63))));
    if (HasFailure()) return;
  }
  // Powers of two sit where the rounding interval is lopsided.
  for (int e = -1074; e <= 1023; ++e) expectRoundTripAnyDouble(std::ldexp(1.0, e));
  for (int e = -1022; e <= 1023; ++e) expectRoundTripAnyDouble(std::ldexp(1.0, e) * 0.99999999999999989);
  for (std::uint64_t n = 9007199254740990; n < 9007199254741010; ++n) {
    expectRoundTripAnyDouble(static_cast<double>(n));
  }
  for (int k = 0; k < 10000; ++k) expectRoundTripAnyDouble(static_cast<double>(rng() >> (rng() % 64)));
}

TEST(ValueTruth, OnlyThePrintedZeroIsTrue) {
  EXPECT_TRUE(isTrue(Value::ofWord(0)));
  EXPECT_TRUE(isTrue(Value::ofSword(0)));
  EXPECT_TRUE(isTrue(Value::ofFloat(0.0)));
  EXPECT_TRUE(isTrue(Value::ofStr("0")));
  EXPECT_FALSE(isTrue(Value::ofFloat(-0.0)));
  EXPECT_FALSE(isTrue(Value::ofWord(1)));
  EXPECT_FALSE(isTrue(Value::ofStr("00")));
  EXPECT_FALSE(isTrue(Value::ofStr(" 0")));
  EXPECT_FALSE(isTrue(Value::ofStr("")));
  EXPECT_FALSE(isTrue(Value::ofFloat(5e-324)));
  EXPECT_FALSE(isTrue(Value::ofFloat(std::numeric_limits<double>::quiet_NaN())));
  // Agrees with printing over many values of every type.
  std::mt19937_64 rng(5);
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t bits = i % 4 == 0 ? rng() : rng() % 3;
    const Value values[] = {Value::ofWord(bits), Value::ofSword(static_cast<std::int64_t>(bits) - 1),
                            Value::ofFloat(std::bit_cast<double>(bits))};
    for (const Value& v : values) ASSERT_EQ(isTrue(v), print(v) == "0") << print(v);
  }
}

TEST(ValueCopy, CopiesStrBytesOnly) {
  Memory memory;
  Arena arena(memory, 4096);
  std::string source = "text";
  Value copy = copyInto(arena, Value::ofStr(source));
  source[0] = 'n';
  EXPECT_EQ(copy.text(), "text");
  EXPECT_EQ(copyInto(arena, Value::ofStr("")).text(), "");
  EXPECT_TRUE(identical(copyInto(arena, Value::ofFloat(2.5)), Value::ofFloat(2.5)));
}

}  // namespace
}  // namespace zandle::zndvm
