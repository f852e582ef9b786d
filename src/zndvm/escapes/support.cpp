// What the library's escapes share: required arguments, numbers read from any value, and
// storing results.
#include <cerrno>

#include "library.hpp"
#include "zndvm/machine.hpp"
#include "table.hpp"

namespace zandle::zndvm::escapes {

const Value* requiredArgument(Machine& m, unsigned index) {
  const Value* value;
  if (!argument(m, index, value)) return nullptr;
  if (value == nullptr) m.fail(Error::VariableNotFound);
  return value;
}

bool textArgument(Machine& m, unsigned index, char* buf, std::string_view& text) {
  const Value* value = requiredArgument(m, index);
  if (value == nullptr) return false;
  text = valueToString(*value, buf);
  return true;
}

bool wholeOf(const Value& v, bool truncate, Whole& out) {
  switch (v.type) {
    case Type::word:
      out = {false, v.as.word};
      return true;
    case Type::sword:
      // The magnitude of the smallest sword does not fit its own type, but does a word.
      out = {v.as.sword < 0, v.as.sword < 0 ? 0 - static_cast<std::uint64_t>(v.as.sword)
                                            : static_cast<std::uint64_t>(v.as.sword)};
      return true;
    case Type::float_: {
      // Arithmetic gives floats, so 2 + 2 must count as the position 4; 2.5 must not, unless
      // it is truncated. The first test also turns nan away.
      const double f = v.as.float_;
      const double magnitude = f < 0 ? -f : f;
      if (!(magnitude <= 1.7976931348623157e308)) return false;  // nan and the infinities
      if (magnitude >= 18446744073709551616.0) {
        if (!truncate) return false;
        out = {f < 0, UINT64_MAX};  // beyond 64 bits, saturated
        return true;
      }
      out = {f < 0, static_cast<std::uint64_t>(magnitude)};
      return truncate || static_cast<double>(out.magnitude) == magnitude;
    }
    case Type::str: {
      const Value parsed = parseValue(v.text());
      return parsed.type != Type::str && wholeOf(parsed, truncate, out);
    }
    case Type::failure: break;
  }
  return false;
}

bool wholeNumber(const Value& v, std::uint64_t& out) {
  Whole w;
  if (!wholeOf(v, false, w) || w.negative) return false;
  out = w.magnitude;
  return true;
}

bool signedNumber(const Value& v, std::int64_t& out) {
  Whole w;
  if (!wholeOf(v, false, w)) return false;
  constexpr std::uint64_t limit = std::uint64_t{1} << 63;
  if (w.negative ? w.magnitude > limit : w.magnitude >= limit) return false;
  out = w.negative ? static_cast<std::int64_t>(0 - w.magnitude) : static_cast<std::int64_t>(w.magnitude);
  return true;
}

bool storeText(Machine& m, unsigned index, std::string_view text) { return result(m, index, Value::ofStr(text)); }

bool storeWord(Machine& m, unsigned index, std::uint64_t word) { return result(m, index, Value::ofWord(word)); }

bool emit(Machine& m, std::string_view bytes) {
  const int err = m.output().write(bytes);
  if (err == 0) return true;
  return m.fail(err == EFBIG ? Error::FileTooBig : Error::WriteFailed);
}

}  // namespace zandle::zndvm::escapes
