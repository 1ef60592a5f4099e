#include "calc/calc.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "gtest/gtest.h"
#include "loader/testing.h"

namespace {

std::string Repeat(const std::string& piece, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += piece;
  return out;
}

// "1 op 1 op ... op 1" with count terms.
std::string Chain(const std::string& op, int count) { return "1" + Repeat(op + "1", count - 1); }

// The value (any NaN is "nan"), or the error's message and position.
std::string Evaluate(const std::string& expression, const Calc::Variables& variables) {
  try {
    const double value = Calc::Evaluate(expression, variables);
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return std::isnan(value) ? "nan" : text;
  } catch (const Calc::Exception& e) {
    return std::string(e.what()) + " @" + std::to_string(e.position);
  }
}

struct Case {
  std::string text, result;
  Calc::Variables variables = {};
};

TEST(Calc, ValuesAndErrors) {
  const Case cases[] = {
      // * and / bind tighter than + and - and group to the left; + and - to the right.
      {"8 / 2 / 2", "2"},
      {"2 - 3 * 4 + 1", "-11"},
      {"1e16 + -1e16 + 1", "0"},
      {"3 -5", "-2"},
      {"2 * -5", "-10"},
      // A connective takes one primary on its left; its result is the left operand of what follows.
      {"1or0", "1"},
      {"2 * 1 and 0 + 5", "10"},
      {"5 if 0 else 7", "7"},
      {"5 if 0", "0"},
      // not takes the whole sum after it.
      {"not 1 + 1", "0"},
      {"2 * True + False", "2"},
      // min and max return the first argument on a tie or a NaN.
      {"min(3, 1 + 1)", "2"},
      {"max (2,5)", "5"},
      {"min(2, 0/0)", "2"},
      {"min(0/0, 2)", "nan"},
      {"ceil(2.1)", "3"},
      {"1 / ceil(-0.5)", "-inf"},
      // IEEE arithmetic without checks; a NaN is true. Numbers are the C library's.
      {"(0/0) and 1", "1"},
      {"-inf", "-inf"},
      // Only the number reader skips blanks at the very start.
      {" 5", "5"},
      {"\t1\n+\r2\v*\f3 ", "7"},
      // Variables, with and without periods; they shadow the words.
      {"8 if zrvdefs.obx86_debug else 4", "8", {{"zrvdefs.obx86_debug", 1}}},
      {"min", "4", {{"min", 4}}},
      {"True + not", "7", {{"True", 5}, {"not", 2}}},
      // Long and deep expressions that real definitions could hold.
      {Repeat("1 if 1 else 0 + ", 499) + "1", "500"},
      {Repeat("not ", 300) + "0", "0"},
      {Repeat("(2 - 1) * ", 4000) + "1", "1"},
      // Errors: the first in reading order, every operand and branch read.
      {"2 * - 5", "Missing numeric value. @4"},
      {" (5)", "Missing numeric value. @0"},
      {"2 3", "unexpected char @2"},
      {std::string("1\0 2", 4), "unexpected char @1"},
      {"true", "unexpected symbol: true @0"},
      {"1 if 1 else foo", "unexpected symbol: foo @12"},
      {"0 and foo", "unexpected symbol: foo @6"},
      {"ceil 2", "ceil expected ( @5"},
      {"ceil(1, 2)", "ceil expected ) @6"},
      {"min", "min expected ( @3"},
      {"max(1, 2 3)", "max expected ) @9"},
      // The nesting bound stops the parser where it was reached.
      {Repeat("(", 3000), "expression nested too deeply @2000"},
      {Chain("+", 3000), "expression nested too deeply @4000"},
      {Chain("-", 5000), "expression nested too deeply @7998"},
  };
  // The deepest form of every recursive construct ends in the nesting error,
  // never in a stack overflow, even on a small stack with the sanitizers' frames.
  const int n = 20000;
  const std::string deepest[] = {
      Repeat("(", n), Repeat("(1+", n), Chain("+", n), Chain("-", n), Chain(" and ", n), Chain(" or x+", n),
      Chain(" if ", n), Chain(" if 1 else ", n), Repeat("not ", n), Repeat("min(1,", n), Repeat("max(", n),
      Repeat("ceil(", n), Repeat("2*(", n), Repeat("1 if 1 else 1 and x + ", n) + "1",
  };
  loader_testing::OnSmallStack([&] {
    for (const Case& c : cases) EXPECT_EQ(Evaluate(c.text, c.variables), c.result) << c.text.substr(0, 60);
    for (const std::string& e : deepest) {
      EXPECT_EQ(Evaluate(e, {{"x", 1}}).substr(0, 28), "expression nested too deeply") << e.substr(0, 30);
    }
  });
}

}  // namespace
