#include <gtest/gtest.h>

#include <string>

#include "common/decimal.hpp"

using namespace zandle;

TEST(Decimal, SignedRangeAndUnderscores) {
  EXPECT_EQ(parseI64("0").value, 0);
  EXPECT_EQ(parseI64("+5").value, 5);
  EXPECT_EQ(parseI64("-0").value, 0);
  EXPECT_EQ(parseI64("1_000").value, 1000);
  EXPECT_EQ(parseI64("1__0").value, 10);
  EXPECT_EQ(parseI64("007").value, 7);
  EXPECT_EQ(parseI64("9223372036854775807").value, INT64_MAX);
  EXPECT_EQ(parseI64("-9223372036854775808").value, INT64_MIN);
  EXPECT_EQ(parseI64("9223372036854775808").status, DecimalStatus::overflow);
  EXPECT_EQ(parseI64("-9223372036854775809").status, DecimalStatus::overflow);
}

TEST(Decimal, RejectsMalformedText) {
  for (const char* bad : {"", "+", "-", "_1", "1_", "-_1", "+_1", "1 ", " 1", "0x10", "1.5", "1e3", "--1", "+-1", "١"}) {
    EXPECT_EQ(parseI64(bad).status, DecimalStatus::invalid_character) << bad;
  }
}

TEST(Decimal, FirstFaultDecides) {
  EXPECT_EQ(parseI64("99999999999999999999x").status, DecimalStatus::overflow);
  EXPECT_EQ(parseI64("1x99999999999999999999").status, DecimalStatus::invalid_character);
}

TEST(Decimal, UnsignedAcceptsMinusOnlyBeforeZero) {
  EXPECT_EQ(parseU64("18446744073709551615").value, UINT64_MAX);
  EXPECT_EQ(parseU64("18446744073709551616").status, DecimalStatus::overflow);
  auto zero = parseU64("-0_0");
  EXPECT_EQ(zero.status, DecimalStatus::ok);
  EXPECT_EQ(zero.value, 0u);
  EXPECT_EQ(parseU64("-1").status, DecimalStatus::overflow);
  EXPECT_EQ(parseU64("-").status, DecimalStatus::invalid_character);
}

TEST(Decimal, Signed32) {
  EXPECT_EQ(parseI32("2147483647").value, INT32_MAX);
  EXPECT_EQ(parseI32("-2147483648").value, INT32_MIN);
  EXPECT_EQ(parseI32("2147483648").status, DecimalStatus::overflow);
  EXPECT_EQ(parseI32("99999999999").status, DecimalStatus::overflow);
  EXPECT_EQ(parseI32("12a").status, DecimalStatus::invalid_character);
}

TEST(Decimal, FormatsExtremes) {
  char buf[24];
  EXPECT_EQ(formatI64(INT64_MIN, buf), "-9223372036854775808");
  EXPECT_EQ(formatI64(0, buf), "0");
  EXPECT_EQ(formatI64(-42, buf), "-42");
  EXPECT_EQ(formatU64(UINT64_MAX, buf), "18446744073709551615");
  // Every length of number, at both ends: the count of digits comes from the bit length.
  std::uint64_t power = 1;
  for (int digits = 1; digits <= 20; ++digits) {
    for (std::uint64_t v : {power, power + 1, power * 2 - 1, power - 1}) {
      EXPECT_EQ(formatU64(v, buf), std::to_string(v));
    }
    if (digits < 20) power *= 10;
  }
}
