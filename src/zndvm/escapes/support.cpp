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

bool wholeNumber(const Value& v, std::uint64_t& out) {
  switch (v.type) {
    case Type::word:
      out = v.as.word;
      return true;
    case Type::sword:
      if (v.as.sword < 0) return false;
      out = static_cast<std::uint64_t>(v.as.sword);
      return true;
    case Type::float_: {
      // Arithmetic gives floats, so 2 + 2 must count as the position 4; 2.5 must not. The
      // first test also turns nan away.
      const double f = v.as.float_;
      if (!(f >= 0) || f >= 18446744073709551616.0) return false;
      out = static_cast<std::uint64_t>(f);
      return static_cast<double>(out) == f;
    }
    case Type::str: {
      const Value parsed = parseValue(v.text());
      return parsed.type != Type::str && wholeNumber(parsed, out);
    }
    case Type::failure: break;
  }
  return false;
}

bool signedNumber(const Value& v, std::int64_t& out) {
  switch (v.type) {
    case Type::word:
      if (v.as.word > static_cast<std::uint64_t>(INT64_MAX)) return false;
      out = static_cast<std::int64_t>(v.as.word);
      return true;
    case Type::sword:
      out = v.as.sword;
      return true;
    case Type::float_: {
      const double f = v.as.float_;
      if (!(f >= -9223372036854775808.0 && f < 9223372036854775808.0)) return false;
      out = static_cast<std::int64_t>(f);
      return static_cast<double>(out) == f;
    }
    case Type::str: {
      const Value parsed = parseValue(v.text());
      return parsed.type != Type::str && signedNumber(parsed, out);
    }
    case Type::failure: break;
  }
  return false;
}

bool storeText(Machine& m, unsigned index, std::string_view text) { return result(m, index, Value::ofStr(text)); }

bool storeWord(Machine& m, unsigned index, std::uint64_t word) { return result(m, index, Value::ofWord(word)); }

bool emit(Machine& m, std::string_view bytes) {
  const int err = m.output().write(bytes);
  if (err == 0) return true;
  return m.fail(err == EFBIG ? Error::FileTooBig : Error::WriteFailed);
}

}  // namespace zandle::zndvm::escapes
