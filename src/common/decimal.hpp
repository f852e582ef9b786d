// Decimal integers as both languages write them: an optional "+" or "-", then digits, with
// "_" allowed between digits (never first, never right after the sign, never last).
#pragma once
#include <cstdint>
#include <string_view>

namespace zandle {

enum class DecimalStatus : std::uint8_t { ok, invalid_character, overflow };

template <class T>
struct DecimalResult {
  DecimalStatus status;
  T value;
};

// Reads the whole text as an integer of the given range. Characters are examined left to
// right and the first fault decides, so "99999999999999999999x" is an overflow and "1x" an
// invalid character. An unsigned reading accepts "-" only before a zero value ("-0").
DecimalResult<std::int64_t> parseI64(std::string_view text);
DecimalResult<std::uint64_t> parseU64(std::string_view text);
DecimalResult<std::int32_t> parseI32(std::string_view text);

// Formats into buf (at least 21 bytes) and returns the digits written.
std::string_view formatI64(std::int64_t v, char* buf);
std::string_view formatU64(std::uint64_t v, char* buf);

}  // namespace zandle
