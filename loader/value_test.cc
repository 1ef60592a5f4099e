#include "loader/value.h"

#include <cmath>
#include <string>

#include "gtest/gtest.h"
#include "loader/exception.h"
#include "loader/host_facts.h"

namespace {

// The value of "v: text", at line 1, column 4; its number or the error text.
std::string Number(const std::string& text) {
  try {
    return std::to_string(ResolveNumber(YAML::Load("v: " + text)["v"], Loader::HostFacts()));
  } catch (const YAML::Exception& e) {
    return e.what();
  }
}

std::string Bool(const std::string& text) {
  try {
    return ResolveBool(YAML::Load("v: " + text)["v"], Loader::HostFacts()) ? "true" : "false";
  } catch (const YAML::Exception& e) {
    return e.what();
  }
}

const std::string at = "yaml-cpp: error at line 1, column 4: ";

TEST(ResolveNumber, LiteralsAndTags) {
  const std::pair<std::string, std::string> cases[] = {
      {"100", "100.000000"}, {"1e3", "1000.000000"}, {"-2", "-2.000000"}, {"+7 ", "7.000000"},
      {"0.5", "0.500000"}, {"007", "7.000000"}, {"999999999999999", "999999999999999.000000"},
      {"12345678901234567", "12345678901234568.000000"}, {".Inf", "inf"}, {"-.INF", "-inf"},
      {".NaN", "nan"}, {"!calc numPCPUs / 2", "8.000000"},
      {"0x10", at + "bad conversion"}, {"10MB", at + "bad conversion"},
      {"inf", at + "bad conversion"}, {"1e999", at + "bad conversion"},
      {"'100'", at + "Unexpected tag !"}, {"!!int 5", at + "Unexpected tag tag:yaml.org,2002:int"},
      {"[1]", at + "Node is not a scalar."}, {"{a: 1}", at + "Node is not a scalar."},
      {"!config {}", at + "missing default"}, {"!bootOption {}", at + "missing key"},
      {"!fss sw", "0.000000"},
      // A value left empty is null, with an empty tag; the library marks it at
      // the next token, here the start of the document.
      {"", "yaml-cpp: error at line 1, column 1: Unexpected tag "},
  };
  for (const auto& [text, result] : cases) EXPECT_EQ(Number(text), result) << text;
}

TEST(ResolveBool, LiteralsAndCalc) {
  const std::pair<std::string, std::string> cases[] = {
      {"yes", "true"}, {"Off", "false"}, {"TRUE", "true"}, {"!calc 0.5", "true"},
      {"!calc 0", "false"}, {"!calc {x: .nan, '=': x}", "true"},
      {"1", at + "bad conversion"}, {"yES", at + "bad conversion"},
      {"'yes'", at + "Unexpected tag !"}, {"!fss sw", "false"},
  };
  for (const auto& [text, result] : cases) EXPECT_EQ(Bool(text), result) << text;
}

// n "!calc" mappings around a literal 1: the literal is resolved n + 1 calls deep.
std::string Nested(int n) {
  std::string text = "1";
  for (int i = 0; i < n; ++i) text = "!calc {x: " + text + ", '=': x}";
  return text;
}

TEST(ResolveNumber, NestingIsBounded) {
  EXPECT_EQ(Number(Nested(63)), "1.000000");
  EXPECT_EQ(Number(Nested(64)), "yaml-cpp: error at line 1, column " + std::to_string(4 + 640) +
                                    ": value nested too deeply");
  EXPECT_EQ(Number("&a !calc {x: *a, '=': x}"), at + "value nested too deeply");
  EXPECT_EQ(Number(Nested(63)), "1.000000");  // nothing left behind by the failure
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
  try {
    ResolveNumber(levels[12], Loader::HostFacts());
    ADD_FAILURE();
  } catch (const Loader::Exception& e) {
    EXPECT_STREQ(e.what(), "yaml-cpp: error at line 12, column 3: value too complex");
  }
}

// A "!calc" mapping of n host lookups: each costs 64 steps, the mapping one.
std::string Lookups(int n) {
  std::string text = "!calc {";
  for (int i = 0; i < n; ++i) text += "s" + std::to_string(i) + ": !fss sw, ";
  return text + "'=': 1}";
}

TEST(ResolveNumber, HostLookupsWeighMore) {
  EXPECT_EQ(Number(Lookups(63)), "1.000000");
  EXPECT_EQ(Number(Lookups(64)), "yaml-cpp: error at line 1, column 888: value too complex");
  const std::string boot = "!bootOption {key: b, default: 1}";
  std::string fifteen = "!calc {";
  for (int i = 0; i < 15; ++i) fifteen += "b" + std::to_string(i) + ": " + boot + ", ";
  EXPECT_EQ(Number(fifteen + "'=': 1}"), "1.000000");
  EXPECT_EQ(Number(fifteen + "b15: " + boot + ", '=': 1}"),
            "yaml-cpp: error at line 1, column 591: value too complex");
}

// Level 10 of the fan-out takes 2047 steps: 32 values of it fit one file's
// budget of 65536 steps, the 33rd does not.
TEST(ResolutionBudget, BoundsAllValuesTogether) {
  std::string text = "- &l0 1\n";
  for (int k = 1; k <= 10; ++k) {
    const std::string prev = "*l" + std::to_string(k - 1);
    text += "- &l" + std::to_string(k) + " !calc {a: " + prev + ", b: " + prev + ", '=': a + b}\n";
  }
  const YAML::Node top = YAML::Load(text)[10];
  const auto resolveTimes = [&](int n) -> std::string {
    try {
      for (int i = 0; i < n; ++i) ResolveNumber(top, Loader::HostFacts());
      return "ok";
    } catch (const Loader::Exception& e) {
      return e.what();
    }
  };
  {
    const Loader::ResolutionBudget budget;
    EXPECT_EQ(resolveTimes(32), "ok");
    EXPECT_EQ(resolveTimes(1), "yaml-cpp: error at line 1, column 3: file too complex");
  }
  {
    const Loader::ResolutionBudget budget;  // a new file starts afresh
    EXPECT_EQ(resolveTimes(32), "ok");
  }
  EXPECT_EQ(resolveTimes(100), "ok");  // no budget, no bound beyond each value's
}

}  // namespace
