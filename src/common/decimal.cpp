#include "decimal.hpp"

#include <cstring>

namespace zandle {

namespace {

// Reads text as sign and magnitude, the magnitude bounded by pos_max for a positive and by
// neg_max for a negative number.
DecimalResult<std::uint64_t> parseMagnitude(std::string_view text, std::uint64_t pos_max,
                                            std::uint64_t neg_max, bool& negative) {
  negative = false;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::uint64_t bound = negative ? neg_max : pos_max;
  if (i == text.size()) return {DecimalStatus::invalid_character, 0};
  std::uint64_t value = 0;
  bool seen_digit = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '_') {
      if (!seen_digit) return {DecimalStatus::invalid_character, 0};
      continue;
    }
    if (c < '0' || c > '9') return {DecimalStatus::invalid_character, 0};
    auto digit = static_cast<std::uint64_t>(c - '0');
    if (digit > bound || value > (bound - digit) / 10) return {DecimalStatus::overflow, 0};
    value = value * 10 + digit;
    seen_digit = true;
  }
  if (text.back() == '_') return {DecimalStatus::invalid_character, 0};
  return {DecimalStatus::ok, value};
}

}  // namespace

DecimalResult<std::int64_t> parseI64(std::string_view text) {
  bool negative;
  auto r = parseMagnitude(text, INT64_MAX, std::uint64_t{INT64_MAX} + 1, negative);
  if (r.status != DecimalStatus::ok) return {r.status, 0};
  std::int64_t v = negative ? static_cast<std::int64_t>(0 - r.value) : static_cast<std::int64_t>(r.value);
  return {DecimalStatus::ok, v};
}

DecimalResult<std::uint64_t> parseU64(std::string_view text) {
  bool negative;
  return parseMagnitude(text, UINT64_MAX, 0, negative);
}

DecimalResult<std::int32_t> parseI32(std::string_view text) {
  bool negative;
  auto r = parseMagnitude(text, INT32_MAX, std::uint64_t{INT32_MAX} + 1, negative);
  if (r.status != DecimalStatus::ok) return {r.status, 0};
  std::int64_t v = negative ? -static_cast<std::int64_t>(r.value) : static_cast<std::int64_t>(r.value);
  return {DecimalStatus::ok, static_cast<std::int32_t>(v)};
}

std::string_view formatU64(std::uint64_t v, char* buf) {
  // Two digits a division, from the table of the hundred pairs, written from the end.
  static constexpr char pairs[] =
      "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243444546474849"
      "5051525354555657585960616263646566676869707172737475767778798081828384858687888990919293949596979899";
  // The number of digits from the bit length (1233 / 4096 is just over log10 2), less one
  // when v is below the power of ten that length reaches.
  static constexpr std::uint64_t powers[] = {
      0,           10,           100,           1000,           10000,           100000,           1000000,
      10000000,    100000000,    1000000000,    10000000000,    100000000000,    1000000000000,
      10000000000000, 100000000000000, 1000000000000000, 10000000000000000, 100000000000000000,
      1000000000000000000, 10000000000000000000u};
  const auto bits = static_cast<std::size_t>(64 - __builtin_clzll(v | 1));
  std::size_t n = (bits * 1233 >> 12) + 1;
  if (v < powers[n - 1]) --n;
  std::size_t at = n;
  while (v >= 100) {
    at -= 2;
    std::memcpy(buf + at, pairs + 2 * (v % 100), 2);
    v /= 100;
  }
  if (v >= 10) {
    std::memcpy(buf, pairs + 2 * v, 2);
  } else {
    buf[0] = static_cast<char>('0' + v);
  }
  return {buf, n};
}

std::string_view formatI64(std::int64_t v, char* buf) {
  if (v >= 0) return formatU64(static_cast<std::uint64_t>(v), buf);
  buf[0] = '-';
  auto digits = formatU64(0 - static_cast<std::uint64_t>(v), buf + 1);
  return {buf, digits.size() + 1};
}

}  // namespace zandle
