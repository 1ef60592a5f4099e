#include "calc/calc.h"

#include <pthread.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Exact comparison: any NaN matches any NaN, and zeros must agree in sign.
bool Same(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return a == b && std::signbit(a) == std::signbit(b);
}

std::string Repeat(const std::string& piece, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += piece;
  return out;
}

// "1 op 1 op ... op 1" with count terms.
std::string Chain(const std::string& op, int count) { return "1" + Repeat(op + "1", count - 1); }

struct ValueCase {
  std::string expression;
  Calc::Variables variables;
  double expected;
};

TEST(CalcTest, Values) {
  const std::vector<ValueCase> cases = {
      // * and / group to the left and bind tighter than + and -.
      {"2 + 3 * 4", {}, 14},
      {"2 * 3 - 1", {}, 5},
      {"1 - 2 * 3", {}, -5},
      {"8 / 2 / 2", {}, 2},
      {"2 - 3 * 4 + 1", {}, -11},
      // + and - group to the right.
      {"10 - 3 - 2", {}, 9},
      {"10 - 2 + 3", {}, 5},
      {"1 - 1 - 1 - 1", {}, 0},
      {"1e16 + -1e16 + 1", {}, 0},
      {"3 - -5", {}, 8},
      {"3--5", {}, 8},
      {"3 -5", {}, -2},
      {"2 * -5", {}, -10},
      // Connectives take one primary on the left, and their result is the
      // left operand of the operators after them.
      {"1 and 0", {}, 0},
      {"0 or 0", {}, 0},
      {"1or0", {}, 1},
      {"1and0", {}, 0},
      {"1 and 1 + 5", {}, 6},
      {"2 * 1 and 0 + 5", {}, 10},
      {"1 and 0 or 1 + 1", {}, 1},
      {"5 if 1 else 7", {}, 5},
      {"5 if 0 else 7", {}, 7},
      {"5 if 0", {}, 0},
      {"5 if 1 + 2", {}, 7},
      {"5 if 0 else 7 + 1", {}, 8},
      {"1 + 5 if 0 else 7", {}, 8},
      {"1 + 2 * 3 if 0 else 4", {}, 9},
      {"5 if 0 else7", {}, 7},
      {"6 if 1 * 2", {}, 12},
      // not takes the whole sum after it.
      {"not 0", {}, 1},
      {"not 1 + 1", {}, 0},
      {"not 2 - 2", {}, 1},
      {"1 + not 0", {}, 2},
      {"not not 0", {}, 0},
      {"5 if not 0 else 7", {}, 5},
      {"True", {}, 1},
      {"2 * True", {}, 2},
      {"False or 1", {}, 1},
      // Functions; min and max return the first argument on a tie or a NaN.
      {"min(3, 1 + 1)", {}, 2},
      {"max (2,5)", {}, 5},
      {"min(2, 0/0)", {}, 2},
      {"min(0/0, 2)", {}, kNaN},
      {"ceil(2.1)", {}, 3},
      {"ceil(-2.5)", {}, -2},
      {"1 / ceil(-0.5)", {}, -kInf},
      // IEEE arithmetic without checks; a NaN is true.
      {"1/0", {}, kInf},
      {"0/0", {}, kNaN},
      {"(0/0) and 1", {}, 1},
      {"not (0/0)", {}, 0},
      {"-inf", {}, -kInf},
      {"+nan", {}, kNaN},
      // Numbers are the C library's.
      {"1e3", {}, 1000},
      {"0x10", {}, 16},
      {"1e400", {}, kInf},
      // Blanks: only the number reader skips them at the very start.
      {" 5", {}, 5},
      {"\t1\n+\r2\v*\f3 ", {}, 7},
      // Variables, with and without periods; they shadow the words.
      {"0 - x", {{"x", 3}}, -3},
      {"physKB / 1024 / 4", {{"physKB", 16777216}}, 4096},
      {"8 if zrvdefs.obx86_debug else 4", {{"zrvdefs.obx86_debug", 1}}, 8},
      {"min", {{"min", 4}}, 4},
      {"True + not", {{"True", 5}, {"not", 2}}, 7},
      // Long and deep expressions that real definitions could hold.
      {Repeat("(", 50) + "1" + Repeat(")", 50), {}, 1},
      {Chain(" + ", 500), {}, 500},
      {Chain(" - ", 500), {}, 0},
      {Repeat("1 if 1 else 0 + ", 499) + "1", {}, 500},
      {Repeat("not ", 300) + "0", {}, 0},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.expression.substr(0, 60));
    double value = Calc::Evaluate(c.expression, c.variables);
    EXPECT_TRUE(Same(value, c.expected)) << value << " != " << c.expected;
  }
}

struct ErrorCase {
  std::string expression;
  Calc::Variables variables;
  std::string message;
  size_t position;
};

TEST(CalcTest, Errors) {
  const std::vector<ErrorCase> cases = {
      {"", {}, "Missing numeric value.", 0},
      {"1 +", {}, "Missing numeric value.", 3},
      {"2 * - 5", {}, "Missing numeric value.", 4},
      {"-x", {{"x", 1}}, "Missing numeric value.", 0},
      {" x", {{"x", 1}}, "Missing numeric value.", 0},
      {" (5)", {}, "Missing numeric value.", 0},
      {"not", {}, "Missing numeric value.", 3},
      {"*2", {}, "Missing numeric value.", 0},
      {"2 3", {}, "unexpected char", 2},
      {"1 else 2", {}, "unexpected char", 2},
      {"min(1,2)", {{"min", 4}}, "unexpected char", 3},
      {std::string("1\0 2", 4), {}, "unexpected char", 1},
      {"foo + 1", {}, "unexpected symbol: foo", 0},
      {"true", {}, "unexpected symbol: true", 0},
      // Every operand and branch is read, chosen or not.
      {"1 if 0 else foo", {}, "unexpected symbol: foo", 12},
      {"1 if 1 else foo", {}, "unexpected symbol: foo", 12},
      {"0 and foo", {}, "unexpected symbol: foo", 6},
      {"1 or foo", {}, "unexpected symbol: foo", 5},
      {"1 andand 1", {}, "unexpected symbol: and", 5},
      {"(1 + 2", {}, "expected )", 6},
      {"(1 2)", {}, "expected )", 3},
      {"ceil 2", {}, "ceil expected (", 5},
      {"ceil(1, 2)", {}, "ceil expected )", 6},
      {"min(1 2)", {}, "min expected ,", 6},
      {"min", {}, "min expected (", 3},
      {"max(1, 2", {}, "max expected )", 8},
      {"max(1, 2 3)", {}, "max expected )", 9},
      // The first error in reading order wins.
      {"foo + (1", {}, "unexpected symbol: foo", 0},
      {"(1 + bar", {}, "unexpected symbol: bar", 5},
      // The nesting bound stops the parser where it was reached.
      {Repeat("(", 3000), {}, "expression nested too deeply", 2000},
      {Chain("+", 3000), {}, "expression nested too deeply", 4000},
      {Chain("-", 5000), {}, "expression nested too deeply", 7998},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.expression.substr(0, 60));
    try {
      double value = Calc::Evaluate(c.expression, c.variables);
      ADD_FAILURE() << "no error; value " << value;
    } catch (const Calc::Exception& e) {
      EXPECT_EQ(c.message, e.what());
      EXPECT_EQ(c.position, e.position);
    }
  }
}

// The deepest expressions of every recursive construct must end in a value
// or in the nesting error, never in a stack overflow, even on a thread with
// a small stack and the sanitizers' larger frames.
struct DeepJob {
  std::vector<std::string> expressions;
  std::vector<std::string> outcomes;
};

void* RunDeepJob(void* arg) {
  auto* job = static_cast<DeepJob*>(arg);
  for (const std::string& expression : job->expressions) {
    try {
      Calc::Evaluate(expression, {{"x", 1}});
      job->outcomes.push_back("value");
    } catch (const Calc::Exception& e) {
      job->outcomes.push_back(e.what());
    }
  }
  return nullptr;
}

TEST(CalcTest, DeepExpressionsFitASmallStack) {
  const int n = 20000;
  DeepJob job;
  job.expressions = {
      Repeat("(", n),
      Repeat("(1+", n),
      Chain("+", n),
      Chain("-", n),
      Chain(" and ", n),
      Chain(" or x+", n),
      Chain(" if ", n),
      Chain(" if 1 else ", n),
      Repeat("not ", n),
      Repeat("min(1,", n),
      Repeat("max(", n),
      Repeat("ceil(", n),
      Repeat("2*(", n),
      Repeat("1 if 1 else 1 and x + ", n) + "1",
  };
  pthread_attr_t attr;
  ASSERT_EQ(0, pthread_attr_init(&attr));
  ASSERT_EQ(0, pthread_attr_setstacksize(&attr, 1 << 20));
  pthread_t thread;
  ASSERT_EQ(0, pthread_create(&thread, &attr, RunDeepJob, &job));
  ASSERT_EQ(0, pthread_join(thread, nullptr));
  pthread_attr_destroy(&attr);
  ASSERT_EQ(job.expressions.size(), job.outcomes.size());
  for (size_t i = 0; i < job.outcomes.size(); ++i) {
    EXPECT_EQ("expression nested too deeply", job.outcomes[i]) << job.expressions[i].substr(0, 30);
  }
}

}  // namespace
