#include <gtest/gtest.h>

#include <string>

#include "errors.hpp"
#include "evaluator.hpp"

using namespace zandle;
using namespace zandle::vm;

namespace {

struct Eval {
  Memory memory;
  Variables vars{memory};
  Buffer scratch{memory};

  std::string operator()(std::string_view text) {
    std::string_view result;
    const Error e = evaluate(text, vars, scratch, result);
    EXPECT_EQ(e, Error::ok) << text;
    return std::string(result);
  }

  Error failure(std::string_view text) {
    std::string_view result;
    return evaluate(text, vars, scratch, result);
  }
};

}  // namespace

TEST(VmEvaluate, FieldsAreSplitAtSingleSpacesOnly) {
  Eval evaluate;
  EXPECT_EQ(evaluate("abc"), "abc");
  EXPECT_EQ(evaluate(""), "");
  EXPECT_EQ(evaluate("a +"), "a +");
  EXPECT_EQ(evaluate("1  + 2"), "1  + 2");
  EXPECT_EQ(evaluate("1 +  2"), "1 +  2");  // empty right operand: not a number
  EXPECT_EQ(evaluate("2 + 3 junk"), "5");
  EXPECT_EQ(evaluate("2 + 3 "), "5");
  EXPECT_EQ(evaluate(" + 3"), " + 3");
}

TEST(VmEvaluate, OperatorOrderStringsFirst) {
  Eval evaluate;
  EXPECT_EQ(evaluate("01 ?= 1"), "1");
  EXPECT_EQ(evaluate("01 == 1"), "0");
  EXPECT_EQ(evaluate("a == a"), "a == a");
  EXPECT_EQ(evaluate("2 S++ 3"), "2 S++ 3");
  EXPECT_EQ(evaluate("2 s++ 3"), "23");
  EXPECT_EQ(evaluate("hello -?= "), "0");
}

TEST(VmEvaluate, SubstitutionIsOneLevel) {
  Eval evaluate;
  ASSERT_TRUE(evaluate.vars.store("x", "1 + 1"));
  ASSERT_TRUE(evaluate.vars.store("1", "5"));
  ASSERT_TRUE(evaluate.vars.store("op", "+"));
  EXPECT_EQ(evaluate("x s++ y"), "1 + 1y");
  EXPECT_EQ(evaluate("1 + 1"), "10");
  EXPECT_EQ(evaluate("2 op 2"), "2 op 2");  // the operator is never looked up
}

TEST(VmEvaluate, ArithmeticLimits) {
  Eval evaluate;
  EXPECT_EQ(evaluate("9223372036854775806 + 1"), "9223372036854775807");
  EXPECT_EQ(evaluate.failure("9223372036854775807 + 1"), Error::Overflow);
  EXPECT_EQ(evaluate.failure("-9223372036854775808 - 1"), Error::Overflow);
  EXPECT_EQ(evaluate.failure("-9223372036854775808 * -1"), Error::Overflow);
  EXPECT_EQ(evaluate.failure("-9223372036854775808 / -1"), Error::Overflow);
  EXPECT_EQ(evaluate.failure("1 / 0"), Error::DivisionByZero);
  EXPECT_EQ(evaluate.failure("0 / -0"), Error::DivisionByZero);
  EXPECT_EQ(evaluate("-9223372036854775808 / 2"), "-4611686018427387904");
  EXPECT_EQ(evaluate("-7 / 2"), "-3");
  EXPECT_EQ(evaluate("1 / 0x"), "1 / 0x");  // not a number: no division at all
}

TEST(VmEvaluate, AJoinThatCannotBeMadeIsOutOfMemory) {
  Eval evaluate;
  ASSERT_TRUE(evaluate.vars.store("big", std::string(4096, 'x')));
  evaluate.memory.cap = evaluate.memory.held() + 4096;  // room for one copy, not for two
  EXPECT_EQ(evaluate.failure("big s++ big"), Error::OutOfMemory);
  EXPECT_EQ(evaluate("big ?= big"), "0");
}
