#include "search.hpp"

#include <cstring>

namespace zandle {

namespace {

using Byte = unsigned char;

struct Suffix {
  std::size_t start;   // where the suffix begins
  std::size_t period;  // its smallest period
};

// The lexicographically greatest suffix of x[0..m) under byte order (or under the reverse
// order), and its period, in one left-to-right pass. The candidate x[best..) is compared
// with the challenger x[next..); k bytes of them are known to agree.
Suffix maximalSuffix(const Byte* x, std::size_t m, bool reverse_order) noexcept {
  std::size_t best = 0, next = 1, k = 0, period = 1;
  while (next + k < m) {
    const Byte a = x[next + k], b = x[best + k];
    if (a == b) {
      // After a whole period of agreement the challenger repeats the candidate: skip it.
      if (k + 1 == period) {
        next += period;
        k = 0;
      } else {
        ++k;
      }
    } else if ((a < b) != reverse_order) {
      // The challenger is smaller, and so is every start up to next + k; the candidate's
      // period now spans everything from best to there.
      next += k + 1;
      k = 0;
      period = next - best;
    } else {
      // The challenger is greater and becomes the candidate.
      best = next;
      next = best + 1;
      k = 0;
      period = 1;
    }
  }
  return {best, period};
}

}  // namespace

std::size_t findBytes(std::string_view haystack, std::string_view needle) noexcept {
  constexpr std::size_t npos = std::string_view::npos;
  const std::size_t n = haystack.size(), m = needle.size();
  if (m == 0) return 0;
  if (m > n) return npos;
  const Byte* y = reinterpret_cast<const Byte*>(haystack.data());
  const Byte* x = reinterpret_cast<const Byte*>(needle.data());
  if (m == 1) {
    const void* hit = std::memchr(y, x[0], n);
    return hit == nullptr ? npos : static_cast<std::size_t>(static_cast<const Byte*>(hit) - y);
  }

  // Split x = u v at a critical position ell, where the later of the two maximal suffixes
  // begins (Crochemore–Perrin); that suffix's period p is the local period there.
  const Suffix by_byte = maximalSuffix(x, m, false);
  const Suffix by_reverse = maximalSuffix(x, m, true);
  const Suffix critical = by_byte.start >= by_reverse.start ? by_byte : by_reverse;
  const std::size_t ell = critical.start;
  // When u also repeats with period p, p is the period of all of x: once v has matched and u
  // has not, a shift by p keeps the first m - p bytes matched (the memory). Otherwise x has
  // no period up to max(|u|, |v|), so no occurrence can start that close.
  const bool periodic = std::memcmp(x, x + critical.period, ell) == 0;
  const std::size_t shift = periodic ? critical.period : (ell > m - ell ? ell : m - ell) + 1;

  const std::size_t last = n - m;  // the last offset at which x fits
  std::size_t pos = 0;
  std::size_t memory = 0;  // x[0..memory) is known to match at pos
  while (pos <= last) {
    // A mismatch at the first byte of v shifts by one; memchr makes all such shifts at once.
    if (y[pos + ell] != x[ell]) {
      const void* hit = std::memchr(y + pos + ell, x[ell], last - pos + 1);
      if (hit == nullptr) return npos;
      pos = static_cast<std::size_t>(static_cast<const Byte*>(hit) - y) - ell;
      memory = 0;
    }
    // Match v left to right; a mismatch at x[i] rules out every offset up to pos + i - ell.
    std::size_t i = ell > memory ? ell : memory;
    while (i < m && x[i] == y[pos + i]) ++i;
    if (i < m) {
      pos += i - ell + 1;
      memory = 0;
      continue;
    }
    // Then u right to left, down to the bytes already known to match.
    i = ell;
    while (i > memory && x[i - 1] == y[pos + i - 1]) --i;
    if (i <= memory) return pos;
    pos += shift;
    memory = periodic ? m - shift : 0;
  }
  return npos;
}

}  // namespace zandle
