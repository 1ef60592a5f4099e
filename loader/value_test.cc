#include "loader/value.h"

#include <cmath>
#include <limits>
#include <string>

#include "gtest/gtest.h"
#include "loader/host_facts.h"

namespace {

// The value of "v: text": its position is line 1, column 4.
YAML::Node Value(const std::string& text) { return YAML::Load("v: " + text)["v"]; }

std::string NumberError(const YAML::Node& node) {
  try {
    ResolveNumber(node, Loader::HostFacts());
  } catch (const YAML::Exception& e) {
    return e.what();
  }
  return "no error";
}

std::string BoolError(const YAML::Node& node) {
  try {
    ResolveBool(node, Loader::HostFacts());
  } catch (const YAML::Exception& e) {
    return e.what();
  }
  return "no error";
}

const double kInf = std::numeric_limits<double>::infinity();

TEST(ResolveNumber, Literals) {
  struct {
    const char* text;
    double value;
  } cases[] = {
      {"100", 100}, {"1e3", 1000}, {"-2", -2}, {"0.5", 0.5}, {"+7 ", 7}, {"007", 7},
      {"999999999999999", 999999999999999}, {"12345678901234567", 12345678901234568.0},
      {".Inf", kInf}, {"+.inf", kInf}, {"-.INF", -kInf}, {"!calc numPCPUs / 2", 8},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveNumber(Value(c.text), Loader::HostFacts()), c.value) << c.text;
  EXPECT_TRUE(std::isnan(ResolveNumber(Value(".NaN"), Loader::HostFacts())));
}

TEST(ResolveNumber, Errors) {
  const std::string at = "yaml-cpp: error at line 1, column 4: ";
  struct {
    const char* text;
    std::string error;
  } cases[] = {
      {"0x10", at + "bad conversion"},
      {"10MB", at + "bad conversion"},
      {"1,000", at + "bad conversion"},
      {"inf", at + "bad conversion"},
      {".Nan", at + "bad conversion"},
      {"1e999", at + "bad conversion"},
      {"'100'", at + "Unexpected tag !"},
      {"!!int 5", at + "Unexpected tag tag:yaml.org,2002:int"},
      {"!Calc 1", at + "Unexpected tag !Calc"},
      {"[1]", at + "Node is not a scalar."},
      {"{a: 1}", at + "Node is not a scalar."},
      {"!config {}", at + "!config is not supported yet"},
      {"!bootOption {}", at + "!bootOption is not supported yet"},
      {"!fss sw", at + "!fss is not supported yet"},
  };
  for (const auto& c : cases) EXPECT_EQ(NumberError(Value(c.text)), c.error) << c.text;
  // A value left empty is null, with an empty tag; the library marks it at
  // the next token, here the start of the document.
  EXPECT_EQ(NumberError(Value("")), "yaml-cpp: error at line 1, column 1: Unexpected tag ");
}

TEST(ResolveBool, LiteralsAndCalc) {
  struct {
    const char* text;
    bool value;
  } cases[] = {
      {"yes", true}, {"Off", false}, {"TRUE", true}, {"n", false},
      {"!calc 0.5", true}, {"!calc 0", false}, {"!calc {x: .nan, '=': x}", true},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveBool(Value(c.text), Loader::HostFacts()), c.value) << c.text;
  const std::string at = "yaml-cpp: error at line 1, column 4: ";
  for (const char* text : {"1", "0", "yES", "'yes'"}) {
    EXPECT_EQ(BoolError(Value(text)),
              at + (text[0] == '\'' ? "Unexpected tag !" : "bad conversion"))
        << text;
  }
}

// n "!calc" mappings around a literal 1: the literal is resolved n + 1 calls deep.
std::string Nested(int n) {
  std::string text = "1";
  for (int i = 0; i < n; ++i) text = "!calc {x: " + text + ", '=': x}";
  return text;
}

TEST(ResolveNumber, NestingIsBounded) {
  EXPECT_EQ(ResolveNumber(Value(Nested(63)), Loader::HostFacts()), 1);
  const std::string column = std::to_string(4 + 10 * 64);  // where the literal stands
  EXPECT_EQ(NumberError(Value(Nested(64))),
            "yaml-cpp: error at line 1, column " + column + ": value nested too deeply");
  // A value that contains itself through an alias.
  EXPECT_EQ(NumberError(Value("&a !calc {x: *a, '=': x}")),
            "yaml-cpp: error at line 1, column 4: value nested too deeply");
  // A depth error leaves nothing behind for the next value.
  EXPECT_EQ(ResolveNumber(Value(Nested(63)), Loader::HostFacts()), 1);
}

// Each level refers twice to the one before: level k takes 2^(k+1) - 1 steps.
TEST(ResolveNumber, AliasFanOutIsBounded) {
  std::string text = "- &l0 1\n";
  for (int k = 1; k <= 12; ++k) {
    const std::string prev = "*l" + std::to_string(k - 1);
    text += "- &l" + std::to_string(k) + " !calc {a: " + prev + ", b: " + prev + ", '=': a + b}\n";
  }
  const YAML::Node levels = YAML::Load(text);
  EXPECT_EQ(ResolveNumber(levels[11], Loader::HostFacts()), 2048);
  EXPECT_EQ(NumberError(levels[12]), "yaml-cpp: error at line 12, column 3: value too complex");
}

}  // namespace
