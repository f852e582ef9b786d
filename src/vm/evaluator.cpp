#include "evaluator.hpp"

#include <cstdint>

#include "common/decimal.hpp"
#include "common/search.hpp"
#include "errors.hpp"

namespace zandle::vm {

namespace {

std::string_view substitute(std::string_view token, const Variables& vars) {
  const std::string* value = vars.find(token);
  return value != nullptr ? std::string_view(*value) : token;
}

std::string truth(bool holds) { return std::string(holds ? truth_true : truth_false); }

std::string decimal(std::int64_t v) {
  char buf[24];
  return std::string(formatI64(v, buf));
}

bool isInteger(std::string_view text, std::int64_t& out) {
  auto r = parseI64(text);
  out = r.value;
  return r.status == DecimalStatus::ok;
}

}  // namespace

std::string evaluate(std::string_view text, const Variables& vars) {
  std::size_t first = text.find(' ');
  if (first == std::string_view::npos) return std::string(text);
  std::size_t second = text.find(' ', first + 1);
  if (second == std::string_view::npos) return std::string(text);
  std::size_t third = text.find(' ', second + 1);
  std::string_view op = text.substr(first + 1, second - first - 1);
  std::string_view left = substitute(text.substr(0, first), vars);
  std::string_view right = substitute(
      text.substr(second + 1, third == std::string_view::npos ? std::string_view::npos : third - second - 1),
      vars);

  if (op == "s++") {
    std::string joined;
    joined.reserve(left.size() + right.size());
    joined.append(left).append(right);
    return joined;
  }
  if (op == "?=") return truth(left == right);
  if (op == "s?=") return truth(left.starts_with(right));
  if (op == "e?=") return truth(left.ends_with(right));
  if (op == "-?=") return truth(findBytes(left, right) != std::string_view::npos);

  std::int64_t l, r;
  if (!isInteger(left, l) || !isInteger(right, r)) return std::string(text);
  std::int64_t result;
  if (op == "+") {
    if (__builtin_add_overflow(l, r, &result)) fail(Error::Overflow);
  } else if (op == "-") {
    if (__builtin_sub_overflow(l, r, &result)) fail(Error::Overflow);
  } else if (op == "*") {
    if (__builtin_mul_overflow(l, r, &result)) fail(Error::Overflow);
  } else if (op == "/") {
    if (r == 0) fail(Error::DivisionByZero);
    if (l == INT64_MIN && r == -1) fail(Error::Overflow);
    result = l / r;
  } else if (op == "==") {
    return truth(l == r);
  } else if (op == "!=") {
    return truth(l != r);
  } else if (op == ">") {
    return truth(l > r);
  } else if (op == "<") {
    return truth(l < r);
  } else {
    return std::string(text);
  }
  return decimal(result);
}

}  // namespace zandle::vm
