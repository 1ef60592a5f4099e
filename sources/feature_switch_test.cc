#include "sources/feature_switch.h"

#include <exception>
#include <string>

#include "gtest/gtest.h"
#include "loader/host_facts.h"
#include "loader/value.h"
#include "sources/testing.h"

namespace {

using Sources::testing::Number;
using Sources::testing::Bool;
using Sources::testing::Hostsim;

class FeatureSwitchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Hostsim({"fss", "set", "on", "on"});
    Hostsim({"fss", "set", "off", "off"});
    Hostsim({"fss", "set", " spaced ", "on"});
  }
  void TearDown() override {
    Hostsim({"trace", "off"});
    Hostsim({"calls", "--clear"});
  }
};

TEST_F(FeatureSwitchTest, States) {
  struct {
    const char* value;
    const char* number;
    const char* boolean;
  } cases[] = {
      {"!fss on", "1.000000", "true"},
      {"!fss off", "0.000000", "false"},
      {"!fss unknown", "0.000000", "false"},
      {"!fss ON", "0.000000", "false"},  // names are not case-folded
      {"!fss ' spaced '", "1.000000", "true"},
      {"!fss spaced", "0.000000", "false"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Number(c.value), c.number) << c.value;
    EXPECT_EQ(Bool(c.value), c.boolean) << c.value;
  }
}

// The library is initialised before every lookup, and not touched at all
// for a value that is no scalar.
TEST_F(FeatureSwitchTest, LibraryCalls) {
  const std::string error = "yaml-cpp: error at line 1, column 4: !fss Node is not a scalar.";
  Hostsim({"trace", "on"});
  EXPECT_EQ(Number("!fss [on]"), error);
  EXPECT_EQ(Number("!fss {on: 1}"), error);
  EXPECT_EQ(Bool("!fss {}"), error);
  EXPECT_EQ(Bool("!fss on"), "true");
  EXPECT_EQ(Bool("!fss nope"), "false");
  EXPECT_EQ(Sources::testing::Host().Hostsim({"calls"}).out,
            "FeatureState_Init\t-\t-\t-\tok\n"
            "GetFeatureState_Slow\t-\t-\ton\ton\n"
            "FeatureState_Init\t-\t-\t-\tok\n"
            "GetFeatureState_Slow\t-\t-\tnope\tunknown\n");
}

}  // namespace
