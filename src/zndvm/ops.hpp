// The operator vocabulary of expressions: the thirteen operators, their only spellings, and
// the three precedence tiers (tier 0 binds tightest; within a tier, left to right). Both
// evaluators and the compiler read these tables; nothing else defines an operator.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace zandle::zndvm {

// The numbers matter: everything below add works on printed text, the rest on doubles.
enum class Op : std::uint8_t {
  concat,        // s++
  str_eq,        // ?=
  str_starts,    // s?=
  str_ends,      // e?=
  str_contains,  // -?=
  add,           // +
  sub,           // -
  mul,           // *
  div,           // /
  num_eq,        // ==
  num_ne,        // !=
  gt,            // >
  lt,            // <
};

inline constexpr std::size_t op_count = 13;
inline constexpr std::size_t tier_count = 3;

constexpr bool isStringOp(Op op) { return op < Op::add; }

struct OpSpelling {
  std::string_view text;
  Op op;
};

// The spelling map, keyed first by length (1 to 3) and then by bytes.
inline constexpr OpSpelling op_spellings_1[] = {{"+", Op::add}, {"-", Op::sub}, {"*", Op::mul},
                                                {"/", Op::div}, {">", Op::gt},  {"<", Op::lt}};
inline constexpr OpSpelling op_spellings_2[] = {
    {"?=", Op::str_eq}, {"==", Op::num_eq}, {"!=", Op::num_ne}};
inline constexpr OpSpelling op_spellings_3[] = {{"s++", Op::concat},
                                                {"s?=", Op::str_starts},
                                                {"e?=", Op::str_ends},
                                                {"-?=", Op::str_contains}};
inline constexpr std::span<const OpSpelling> op_kind[] = {op_spellings_1, op_spellings_2,
                                                          op_spellings_3};

// The operator spelled exactly `token` (whole token, case-sensitive), if any. Spellings are
// compared byte by byte: at three bytes at most, that is cheaper than a call.
constexpr std::optional<Op> opKind(std::string_view token) {
  if (token.empty() || token.size() > std::size(op_kind)) return std::nullopt;
  for (const OpSpelling& s : op_kind[token.size() - 1]) {
    std::size_t i = 0;
    while (i < token.size() && s.text[i] == token[i]) ++i;
    if (i == token.size()) return s.op;
  }
  return std::nullopt;
}

constexpr bool isOperator(std::string_view token) { return opKind(token).has_value(); }

constexpr std::string_view opSpelling(Op op) {
  for (const auto& table : op_kind) {
    for (const OpSpelling& s : table) {
      if (s.op == op) return s.text;
    }
  }
  return {};
}

// Precedence, as lists of operators.
inline constexpr Op tier_0[] = {Op::mul, Op::div};
inline constexpr Op tier_1[] = {Op::add, Op::sub, Op::concat};
inline constexpr Op tier_2[] = {Op::str_eq, Op::str_starts, Op::str_ends, Op::str_contains,
                                Op::num_eq, Op::num_ne,     Op::gt,       Op::lt};
inline constexpr std::span<const Op> tiers[tier_count] = {tier_0, tier_1, tier_2};

// The tier of each operator, by number; derived from `tiers` so the two cannot disagree.
inline constexpr auto op_tier = [] {
  std::array<std::uint8_t, op_count> t{};
  for (std::size_t tier = 0; tier < tier_count; ++tier) {
    for (Op op : tiers[tier]) t[static_cast<std::size_t>(op)] = static_cast<std::uint8_t>(tier);
  }
  return t;
}();

constexpr unsigned opTier(Op op) { return op_tier[static_cast<std::size_t>(op)]; }

namespace detail {
// Every operator has exactly one spelling, in the table of its length, and one tier.
constexpr bool opTablesConsistent() {
  std::size_t spellings = 0, tiered = 0;
  for (std::size_t length = 1; length <= std::size(op_kind); ++length) {
    for (const OpSpelling& s : op_kind[length - 1]) {
      if (s.text.size() != length || opKind(s.text) != s.op) return false;
      ++spellings;
    }
  }
  bool seen[op_count] = {};
  for (const auto& tier : tiers) {
    for (Op op : tier) {
      if (seen[static_cast<std::size_t>(op)]) return false;
      seen[static_cast<std::size_t>(op)] = true;
      ++tiered;
    }
  }
  return spellings == op_count && tiered == op_count;
}
}  // namespace detail
static_assert(detail::opTablesConsistent());

}  // namespace zandle::zndvm
