// The tree check must accept every state that sequential commands leave and
// name each state that they cannot; a check that accepts everything would
// let the concurrency driver pass whatever happens.
#include "tests/concurrency/group_tree.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

using concurrency::CheckTree;
using concurrency::ParseDefinitions;
using concurrency::ParseGroups;

// poolctl list -v of the example definitions on the default host.
const char kDefinitions[] =
    "name,auto,memMin,memMax,memMinLimit,memShares,cpuMin,cpuMax,cpuShares\n"
    "host/opt/vms,yes,49152,-,-,-,0,-,normal\n"
    "host/opt/vms/bronze,yes,0,16384,-,low,0,800,500\n"
    "host/opt/vms/burst,no,8192,8192,-,-,0,800,low\n"
    "host/opt/vms/gold,yes,8192,-,-,high,400,-,4000\n"
    "host/opt/vms/staging,no,2048,2048,-,-,0,-,1000\n";

const char kBuiltIn[] =
    "\t0\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
    "host\t1\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
    "host/opt\t3\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
    "host/system\t2\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
    "host/user\t4\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n";

const std::string kGold = "host/opt/vms/gold\t7\t8192\t-1\t-4\t-1\t400\t-1\t4000\t-1\t0\n";
const std::string kBurst = "host/opt/vms/burst\t8\t8192\t8192\t-1\t-1\t0\t800\t-2\t-1\t0\n";

std::string Parent(const std::string& mem) {
  return "host/opt/vms\t5\t" + mem + "\t0\t-1\t-3\t-1\t0\n";
}

TEST(GroupTree, SequentialStatesPassOthersAreNamed) {
  struct Case {
    const char* what;
    std::string groups;
    std::vector<std::string> failures;
  };
  const Case kCases[] = {
      {"loaded", Parent("49152\t-1\t-1\t-1") + kGold, {}},
      {"annex enabled", Parent("57344\t-1\t-1\t-1") + kBurst, {}},
      {"restored parent keeps zero shares", Parent("57344\t-1\t0\t-1") + kBurst, {}},
      {"parent zeroed", Parent("0\t0\t0\t0") + kBurst, {}},
      {"zeroed parent reserving its annex", Parent("8192\t0\t0\t0") + kBurst, {}},
      {"reservation without annex",
       Parent("57344\t-1\t-1\t-1"),
       {"host/opt/vms: memory 57344,-1,-1,-1, expected 49152,-1,-1,-1 "
        "(annex host/opt/vms/burst missing)"}},
      {"annex without reservation",
       Parent("40960\t-1\t0\t-1") + kBurst,
       {"host/opt/vms: memory 40960,-1,0,-1, expected 57344,-1,-1,-1 "
        "(annex host/opt/vms/burst exists)"}},
      {"zeroed parent reserving a missing annex",
       Parent("8192\t0\t0\t0"),
       {"host/opt/vms: disabled with memory minimum 8192, expected 0"}},
      {"orphan", kGold, {"host/opt/vms/gold: parent host/opt/vms missing"}},
      {"listed twice",
       Parent("49152\t-1\t-1\t-1") + kGold + kGold,
       {"host/opt/vms/gold: listed twice", "host/opt/vms/gold: id 7 taken twice"}},
      {"zeroed annex",
       Parent("57344\t-1\t-1\t-1") + "host/opt/vms/burst\t8\t0\t0\t0\t0\t0\t800\t-2\t-1\t0\n",
       {"host/opt/vms/burst: memory 0,0,0,0, expected 8192,8192,-1,-1"}},
      {"changed cpu",
       Parent("49152\t-1\t-1\t-1") + "host/opt/vms/gold\t7\t8192\t-1\t-4\t-1\t0\t-1\t4000\t-1\t0\n",
       {"host/opt/vms/gold: cpu 0,-1,4000,-1, expected 400,-1,4000,-1"}},
      {"undeclared group",
       Parent("49152\t-1\t-1\t-1") + "host/opt/vms/extra\t9\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n",
       {"host/opt/vms/extra: group without definition"}},
  };
  auto definitions = ParseDefinitions(kDefinitions);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CheckTree(ParseGroups(kBuiltIn + c.groups), definitions, "host/opt/vms/burst"),
              c.failures);
  }
  std::string changed = kBuiltIn;
  changed.replace(changed.find("host/opt\t3\t0"), 12, "host/opt\t3\t5");
  EXPECT_EQ(CheckTree(ParseGroups(changed), definitions, "host/opt/vms/burst"),
            std::vector<std::string>{"host/opt: changed to memory 5,-1,-1,-1, cpu 0,-1,1000,-1"});
}

TEST(GroupTree, MalformedListingsAreRefused) {
  for (const char* text : {"host\t1\n", "host\t1\t0\t-1\t-1\t-1\t0\t-1\tmany\t-1\t0\n"}) {
    EXPECT_THROW(ParseGroups(text), std::runtime_error) << text;
  }
  EXPECT_THROW(ParseDefinitions("header\nhost/opt/vms,yes,1\n"), std::runtime_error);
}

}  // namespace
