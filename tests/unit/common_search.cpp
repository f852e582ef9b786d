#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "common/search.hpp"

using namespace zandle;

namespace {

constexpr std::size_t npos = std::string_view::npos;

// The obvious quadratic search, the reference findBytes must agree with.
std::size_t naiveFind(std::string_view haystack, std::string_view needle) {
  if (needle.size() > haystack.size()) return npos;
  for (std::size_t pos = 0; pos + needle.size() <= haystack.size(); ++pos) {
    std::size_t i = 0;
    while (i < needle.size() && haystack[pos + i] == needle[i]) ++i;
    if (i == needle.size()) return pos;
  }
  return npos;
}

std::string randomText(std::mt19937& rng, std::string_view alphabet, std::size_t size) {
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string s(size, '\0');
  for (char& c : s) c = alphabet[pick(rng)];
  return s;
}

// Every string over the alphabet of length 0 to max_size.
std::vector<std::string> allTexts(std::string_view alphabet, std::size_t max_size) {
  std::vector<std::string> texts = {""};
  for (std::size_t from = 0; texts.back().size() < max_size;) {
    const std::size_t to = texts.size();
    for (std::size_t k = from; k < to; ++k) {
      for (char c : alphabet) texts.push_back(texts[k] + c);
    }
    from = to;
  }
  return texts;
}

std::string repeat(std::string_view unit, std::size_t times) {
  std::string s;
  for (std::size_t k = 0; k < times; ++k) s.append(unit);
  return s;
}

}  // namespace

static_assert(noexcept(findBytes(std::string_view(), std::string_view())));

TEST(Search, EmptyAndOversizedNeedles) {
  EXPECT_EQ(findBytes("", ""), 0u);
  EXPECT_EQ(findBytes("abc", ""), 0u);
  EXPECT_EQ(findBytes("", "a"), npos);
  EXPECT_EQ(findBytes("ab", "abc"), npos);
  EXPECT_EQ(findBytes("abc", "abc"), 0u);
  EXPECT_EQ(findBytes("abc", "abd"), npos);
}

TEST(Search, NeedleAtStartAndEnd) {
  EXPECT_EQ(findBytes("abcabd", "abc"), 0u);
  EXPECT_EQ(findBytes("abcabd", "abd"), 3u);
  EXPECT_EQ(findBytes("abcabd", "d"), 5u);
  EXPECT_EQ(findBytes("abcabd", "a"), 0u);
  EXPECT_EQ(findBytes("aaaaab", "aab"), 3u);
  EXPECT_EQ(findBytes("baaaaa", "baa"), 0u);
}

TEST(Search, HighBitAndNulBytes) {
  const std::string haystack("x\0\xff\x80\0\xff\0y", 8);
  EXPECT_EQ(findBytes(haystack, std::string_view("\0", 1)), 1u);
  EXPECT_EQ(findBytes(haystack, std::string_view("\0\xff\0", 3)), 4u);
  EXPECT_EQ(findBytes(haystack, std::string_view("\xff\x80\0", 3)), 2u);
  EXPECT_EQ(findBytes(haystack, std::string_view("\x80\0\xff\0y", 5)), 3u);
  EXPECT_EQ(findBytes(haystack, std::string_view("\0\0", 2)), npos);
  EXPECT_EQ(findBytes(haystack, std::string_view("\xff\xff", 2)), npos);
  // A NUL ends nothing: the bytes after it still count.
  EXPECT_EQ(findBytes(std::string_view("a\0b", 3), std::string_view("a\0c", 3)), npos);
}

TEST(Search, AgreesWithNaiveOnEveryShortPair) {
  // Every needle up to 6 bytes against every haystack up to 10 bytes, over two letters.
  const auto needles = allTexts("ab", 6);
  const auto haystacks = allTexts("ab", 10);
  for (const auto& needle : needles) {
    for (const auto& haystack : haystacks) {
      ASSERT_EQ(findBytes(haystack, needle), naiveFind(haystack, needle))
          << "haystack " << haystack << " needle " << needle;
    }
  }
}

TEST(Search, AgreesWithNaiveOnRandomPairs) {
  std::mt19937 rng(20240611);
  const std::string_view alphabets[] = {"ab", "abc", std::string_view("\0\xff", 2),
                                        std::string_view("\x80\0\x7f", 3)};
  std::uniform_int_distribution<std::size_t> needle_size(1, 24);
  std::uniform_int_distribution<std::size_t> haystack_size(0, 200);
  for (std::string_view alphabet : alphabets) {
    for (int round = 0; round < 5000; ++round) {
      const std::string haystack = randomText(rng, alphabet, haystack_size(rng));
      std::string needle = randomText(rng, alphabet, needle_size(rng));
      if (round % 2 == 0) {
        // Half the needles are periodic: a short random unit repeated, maybe cut short.
        const std::string unit = randomText(rng, alphabet, 1 + round % 4);
        needle = repeat(unit, needle.size()).substr(0, needle.size());
        if (round % 4 == 0) needle.back() = alphabet[0];  // and sometimes broken at the end
      }
      ASSERT_EQ(findBytes(haystack, needle), naiveFind(haystack, needle))
          << "haystack " << haystack << " needle " << needle;
    }
  }
}

TEST(Search, FindsEveryPieceOfTheHaystack) {
  // Each slice of the haystack is found at its own offset or at an earlier occurrence.
  std::mt19937 rng(7);
  for (std::string_view alphabet : {"ab", "abc"}) {
    const std::string haystack = randomText(rng, alphabet, 120);
    for (std::size_t pos = 0; pos < haystack.size(); ++pos) {
      for (std::size_t size = 1; pos + size <= haystack.size() && size <= 40; ++size) {
        const std::string_view needle = std::string_view(haystack).substr(pos, size);
        const std::size_t found = findBytes(haystack, needle);
        ASSERT_EQ(found, naiveFind(haystack, needle)) << pos << " " << size;
        ASSERT_LE(found, pos);
      }
    }
  }
}

TEST(Search, FindsAUniqueNeedleAtEveryOffset) {
  const std::string needle = "aabab";
  for (std::size_t pos = 0; pos + needle.size() <= 40; ++pos) {
    std::string haystack(40, 'a');
    haystack.replace(pos, needle.size(), needle);
    EXPECT_EQ(findBytes(haystack, needle), pos);
    EXPECT_EQ(findBytes(haystack, "abab"), pos + 1);
  }
}

TEST(Search, AdversarialInputs) {
  const std::string as(1 << 16, 'a');
  // a^n against a^(m-1)b: no occurrence; with a b appended, one at the very end.
  for (std::size_t m : {2u, 3u, 100u, 1u << 12, 1u << 15}) {
    const std::string needle = std::string(m - 1, 'a') + 'b';
    EXPECT_EQ(findBytes(as, needle), npos) << m;
    EXPECT_EQ(findBytes(as + 'b', needle), as.size() + 1 - m) << m;
    // b a^(m-1) is found only at the start.
    EXPECT_EQ(findBytes('b' + as, 'b' + std::string(m - 1, 'a')), 0u) << m;
    EXPECT_EQ(findBytes(as, std::string(m, 'a')), 0u) << m;
  }
  // (ab)^n against (ab)^k followed by something that breaks the period.
  const std::string abs = repeat("ab", 1 << 15);
  for (std::size_t k : {1u, 2u, 50u, 1u << 10, 1u << 14}) {
    EXPECT_EQ(findBytes(abs, repeat("ab", k)), 0u) << k;
    EXPECT_EQ(findBytes(abs, repeat("ab", k) + "a"), 0u) << k;
    EXPECT_EQ(findBytes(abs, "b" + repeat("ab", k)), 1u) << k;
    EXPECT_EQ(findBytes(abs, repeat("ab", k) + "b"), npos) << k;
    EXPECT_EQ(findBytes(abs, repeat("ab", k) + "aa"), npos) << k;
    EXPECT_EQ(findBytes(abs + "aab", repeat("ab", k) + "aab"), abs.size() - 2 * k) << k;
    EXPECT_EQ(findBytes(abs + "c", "b" + repeat("ab", k) + "c"), abs.size() - 2 * k - 1) << k;
  }
  // A needle whose period is almost its whole length.
  const std::string near = std::string(1000, 'a') + "b" + std::string(999, 'a');
  EXPECT_EQ(findBytes(as + near + as, near), as.size());
  EXPECT_EQ(findBytes(as + near.substr(1) + as, near), as.size() - 1);
}
