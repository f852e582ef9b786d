#include <gtest/gtest.h>

#include <string>

#include "errors.hpp"
#include "tokenizer.hpp"

using namespace zandle;
using namespace zandle::vm;

namespace {

std::string joined(std::string_view line) {
  Memory memory;
  Vec<std::string_view> tokens(memory);
  EXPECT_EQ(tokenize(line, tokens), Error::ok) << line;
  std::string out;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (i) out += '|';
    out += tokens[i];
  }
  return out;
}

Error failure(std::string_view line) {
  Memory memory;
  Vec<std::string_view> tokens(memory);
  return tokenize(line, tokens);
}

}  // namespace

TEST(VmTokenize, QuotingAndMarkers) {
  EXPECT_EQ(joined(R"(New msg "Hello world"  # greet)"), "New|msg|Hello world|//");
  EXPECT_EQ(joined("New msg 'a b'"), "New|msg|a b|///");
  EXPECT_EQ(joined("New msg {expr}"), "New|msg|expr|////");
  EXPECT_EQ(joined("New x y"), "New|x|y");
  EXPECT_EQ(joined(R"(If f "1 == 1")"), "If|f|1 == 1|//");
  EXPECT_EQ(joined(R"(New a "x"b)"), "New|a|x|//|b");
  EXPECT_EQ(joined("New a b#c"), "New|a|b#c");
  EXPECT_EQ(joined(R"(a""b)"), "a\"\"b");
  EXPECT_EQ(joined(R"("")"), "|//");
  EXPECT_EQ(joined("   # only a comment"), "");
  EXPECT_EQ(joined(""), "");
}

TEST(VmTokenize, WhitespaceAndCarriageReturns) {
  EXPECT_EQ(joined("New\tx\v'y'\f\r"), "New|x|y|///");
  EXPECT_EQ(joined("New x 'a\rb'"), "New|x|a\rb|///");
  EXPECT_EQ(joined(std::string("a\0b c", 5)), std::string("a\0b|c", 5));
}

TEST(VmTokenize, UnclosedQuotes) {
  EXPECT_EQ(failure(R"(New a "oops)"), Error::UnterminatedString);
  EXPECT_EQ(failure("'"), Error::UnterminatedString);
  EXPECT_EQ(failure("{"), Error::UnterminatedString);
  EXPECT_EQ(failure("New a 'b\" c"), Error::UnterminatedString);
  EXPECT_EQ(failure("New a {b'}"), Error::ok);  // closed: no failure
}
