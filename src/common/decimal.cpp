#include "decimal.hpp"

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
  char tmp[20];
  std::size_t n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  for (std::size_t i = 0; i < n; ++i) buf[i] = tmp[n - 1 - i];
  return {buf, n};
}

std::string_view formatI64(std::int64_t v, char* buf) {
  if (v >= 0) return formatU64(static_cast<std::uint64_t>(v), buf);
  buf[0] = '-';
  auto digits = formatU64(0 - static_cast<std::uint64_t>(v), buf + 1);
  return {buf, digits.size() + 1};
}

}  // namespace zandle
