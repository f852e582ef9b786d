#include "evaluator.hpp"

#include <cstdint>

#include "common/bytes.hpp"
#include "common/decimal.hpp"
#include "common/search.hpp"

namespace zandle::vm {

namespace {

enum class Op : std::uint8_t { concat, str_eq, starts, ends, contains, add, sub, mul, div, eq, ne, gt, lt };

struct OpSpelling {
  std::string_view text;
  Op op;
};

constexpr OpSpelling operators[] = {
    {"s++", Op::concat}, {"?=", Op::str_eq}, {"s?=", Op::starts}, {"e?=", Op::ends},
    {"-?=", Op::contains}, {"+", Op::add},   {"-", Op::sub},       {"*", Op::mul},
    {"/", Op::div},      {"==", Op::eq},     {"!=", Op::ne},       {">", Op::gt},
    {"<", Op::lt},
};

constexpr std::size_t longest_operator = [] {
  std::size_t n = 0;
  for (const OpSpelling& s : operators) n = s.text.size() > n ? s.text.size() : n;
  return n;
}();

const OpSpelling* findOperator(std::string_view text) {
  if (text.empty() || text.size() > longest_operator) return nullptr;
  for (const OpSpelling& s : operators) {
    if (s.text == text) return &s;
  }
  return nullptr;
}

std::string_view substitute(std::string_view token, const Variables& vars) {
  std::string_view value;
  return vars.find(token, value) ? value : token;
}

bool isInteger(std::string_view text, std::int64_t& out) {
  auto r = parseI64(text);
  out = r.value;
  return r.status == DecimalStatus::ok;
}

}  // namespace

Error evaluate(std::string_view text, const Variables& vars, Buffer& scratch,
               std::string_view& result) {
  result = text;
  const std::size_t first = text.find(' ');
  if (first == std::string_view::npos) return Error::ok;
  const std::size_t second = text.find(' ', first + 1);
  if (second == std::string_view::npos) return Error::ok;
  const OpSpelling* spelling = findOperator(slice(text, first + 1, second - first - 1));
  if (spelling == nullptr) return Error::ok;
  const std::size_t third = text.find(' ', second + 1);
  const std::string_view left = substitute(slice(text, 0, first), vars);
  const std::string_view right = substitute(
      slice(text, second + 1, third == std::string_view::npos ? std::string_view::npos : third - second - 1),
      vars);

  auto truth = [&](bool holds) {
    result = holds ? truth_true : truth_false;
    return Error::ok;
  };
  switch (spelling->op) {
    case Op::concat:
      scratch.clear();
      if (!scratch.reserve(left.size() + right.size())) return Error::OutOfMemory;
      (void)scratch.append(left);
      (void)scratch.append(right);
      result = scratch.view();
      return Error::ok;
    case Op::str_eq: return truth(left == right);
    case Op::starts: return truth(startsWith(left, right));
    case Op::ends: return truth(endsWith(left, right));
    case Op::contains: return truth(findBytes(left, right) != std::string_view::npos);
    default: break;
  }

  std::int64_t l, r;
  if (!isInteger(left, l) || !isInteger(right, r)) return Error::ok;
  std::int64_t value = 0;
  switch (spelling->op) {
    case Op::add:
      if (__builtin_add_overflow(l, r, &value)) return Error::Overflow;
      break;
    case Op::sub:
      if (__builtin_sub_overflow(l, r, &value)) return Error::Overflow;
      break;
    case Op::mul:
      if (__builtin_mul_overflow(l, r, &value)) return Error::Overflow;
      break;
    case Op::div:
      if (r == 0) return Error::DivisionByZero;
      if (l == INT64_MIN && r == -1) return Error::Overflow;
      value = l / r;
      break;
    case Op::eq: return truth(l == r);
    case Op::ne: return truth(l != r);
    case Op::gt: return truth(l > r);
    default: return truth(l < r);
  }
  char digits[24];
  scratch.clear();
  if (!scratch.append(formatI64(value, digits))) return Error::OutOfMemory;
  result = scratch.view();
  return Error::ok;
}

}  // namespace zandle::vm
