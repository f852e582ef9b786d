#include <gtest/gtest.h>

#include "errors.hpp"
#include "evaluator.hpp"

using namespace zandle::vm;

namespace {

Error failure(std::string_view text, const Variables& vars = {}) {
  try {
    evaluate(text, vars);
  } catch (const Failure& f) {
    return f.error;
  }
  return Error::Unexpected;
}

}  // namespace

TEST(VmEvaluate, FieldsAreSplitAtSingleSpacesOnly) {
  Variables vars;
  EXPECT_EQ(evaluate("abc", vars), "abc");
  EXPECT_EQ(evaluate("", vars), "");
  EXPECT_EQ(evaluate("a +", vars), "a +");
  EXPECT_EQ(evaluate("1  + 2", vars), "1  + 2");
  EXPECT_EQ(evaluate("1 +  2", vars), "1 +  2");  // empty right operand: not a number
  EXPECT_EQ(evaluate("2 + 3 junk", vars), "5");
  EXPECT_EQ(evaluate("2 + 3 ", vars), "5");
  EXPECT_EQ(evaluate(" + 3", vars), " + 3");
}

TEST(VmEvaluate, OperatorOrderStringsFirst) {
  Variables vars;
  EXPECT_EQ(evaluate("01 ?= 1", vars), "1");
  EXPECT_EQ(evaluate("01 == 1", vars), "0");
  EXPECT_EQ(evaluate("a == a", vars), "a == a");
  EXPECT_EQ(evaluate("2 S++ 3", vars), "2 S++ 3");
  EXPECT_EQ(evaluate("2 s++ 3", vars), "23");
  EXPECT_EQ(evaluate("hello -?= ", vars), "0");
}

TEST(VmEvaluate, SubstitutionIsOneLevel) {
  Variables vars;
  vars.store("x", "1 + 1");
  vars.store("1", "5");
  vars.store("op", "+");
  EXPECT_EQ(evaluate("x s++ y", vars), "1 + 1y");
  EXPECT_EQ(evaluate("1 + 1", vars), "10");
  EXPECT_EQ(evaluate("2 op 2", vars), "2 op 2");  // the operator is never looked up
}

TEST(VmEvaluate, ArithmeticLimits) {
  EXPECT_EQ(evaluate("9223372036854775806 + 1", {}), "9223372036854775807");
  EXPECT_EQ(failure("9223372036854775807 + 1"), Error::Overflow);
  EXPECT_EQ(failure("-9223372036854775808 - 1"), Error::Overflow);
  EXPECT_EQ(failure("-9223372036854775808 * -1"), Error::Overflow);
  EXPECT_EQ(failure("-9223372036854775808 / -1"), Error::Overflow);
  EXPECT_EQ(failure("1 / 0"), Error::DivisionByZero);
  EXPECT_EQ(failure("0 / -0"), Error::DivisionByZero);
  EXPECT_EQ(evaluate("-9223372036854775808 / 2", {}), "-4611686018427387904");
  EXPECT_EQ(evaluate("-7 / 2", {}), "-3");
  EXPECT_EQ(evaluate("1 / 0x", {}), "1 / 0x");  // not a number: no division at all
}
