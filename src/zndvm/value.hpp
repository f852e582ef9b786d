// Typed values: the four kinds of datum a program handles, the one rule that turns text into
// a value (parseValue) and the one rule that turns a value back into text (valueToString).
// A str value is only a view: its bytes belong to whoever made it (a variable slot, an arena,
// the program text), and copying a Value never copies them. The evaluators return a fifth
// kind, a failure carrying its Error, which is never stored.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/arena.hpp"
#include "errors.hpp"

namespace zandle::zndvm {

enum class Type : std::uint8_t { word, sword, float_, str, failure };

// The longest string a value can hold. Lengths are 32 bits so that a Value is 16 bytes and
// travels in two registers; whatever would make a longer string fails with OutOfMemory, like
// any other allocation failure.
inline constexpr std::size_t str_max = UINT32_MAX;

struct Value {
  union Payload {
    std::uint64_t word;
    std::int64_t sword;
    double float_;
    const char* str;  // the bytes of a str; str_len of them
  } as;
  std::uint32_t str_len;
  Type type;

  static constexpr Value ofWord(std::uint64_t v) { return {{.word = v}, 0, Type::word}; }
  static constexpr Value ofSword(std::int64_t v) { return {{.sword = v}, 0, Type::sword}; }
  static constexpr Value ofFloat(double v) { return {{.float_ = v}, 0, Type::float_}; }
  // The text must be at most str_max bytes long.
  static constexpr Value ofStr(std::string_view s) {
    return {{.str = s.data()}, static_cast<std::uint32_t>(s.size()), Type::str};
  }
  static constexpr Value failure(Error e) { return {{.word = static_cast<std::uint64_t>(e)}, 0, Type::failure}; }

  // The bytes of a str value.
  constexpr std::string_view text() const { return {as.str, str_len}; }
  constexpr bool failed() const { return type == Type::failure; }
  constexpr Error error() const { return static_cast<Error>(as.word); }
};

static_assert(sizeof(Value) == 16);

// Comparison words: the language's truth is the word 0, falsehood the word 1.
inline constexpr Value truth(bool holds) { return Value::ofWord(holds ? 0 : 1); }

// A word, sword or float as the double the numeric operators work on (integers beyond 2^53
// round to nearest); false for a str, whose text must be read first.
inline bool asNumber(const Value& v, double& out) {
  switch (v.type) {
    case Type::word: out = static_cast<double>(v.as.word); return true;
    case Type::sword: out = static_cast<double>(v.as.sword); return true;
    case Type::float_: out = v.as.float_; return true;
    default: return false;
  }
}

// Never fails: a text that is no number is a str viewing the very bytes of `text`.
Value parseValue(std::string_view text);

// The float rule on its own (sign, decimal or 0x-hexadecimal significand, exponent, inf,
// infinity, nan), correctly rounded. Numeric operators read str operands with it.
bool readFloat(std::string_view text, double& out);

// Room for the longest printed number: "-0." then 323 zeros and "5" is 327 bytes.
inline constexpr std::size_t value_text_capacity = 330;

// A number is written into `buf` (at least value_text_capacity bytes) and the written part
// returned; a str returns its own bytes and leaves `buf` alone. Allocates nothing.
std::string_view valueToString(const Value& value, char* buf);

// The same, with a number's text copied into `arena`: a str value, or a failure when memory
// runs out.
Value textValue(Arena& arena, const Value& value);

// Shortest round-trip digits of a float laid out positionally (never an exponent).
std::string_view formatFloat(double value, char* buf);

// True exactly when the printed form is "0", decided without printing: a float is true only
// as +0.0, because -0.0 prints "-0".
bool isTrue(const Value& value);

// A value whose str bytes (if any) are copied into `arena`; numbers come back unchanged, and
// a failure when memory runs out.
Value copyInto(Arena& arena, const Value& value);

// Same type and same payload bits: floats by bit pattern, strs by bytes.
bool identical(const Value& a, const Value& b);

}  // namespace zandle::zndvm
