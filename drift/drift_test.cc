// The walk of the groups and the judgement of each pool, on loader/testing.h's
// host; poolstat's tests check the report's layouts whole.
#include <cstdint>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>

#include "drift/drift.h"
#include "drift/live.h"
#include "gtest/gtest.h"

namespace Drift {
namespace {

// Every group below the path at any depth, and nothing more: seven groups
// fill the walk's queue to its capacity, past which nothing may be read.
TEST(Live, GroupsBelow) {
  for (const char* name : {"opt/a", "opt/a/x", "opt/b", "opt/c", "opt/d", "opt/e", "opt/f", "user/y"}) {
    Sched::CreateGroup(std::string("host/") + name, {0, -1, -1, -1, 0}, {0, -1, 1000, -1, 0});
  }
  std::multiset<std::string> paths;
  for (const Group& g : ReadGroupsBelow("host/opt", 7)) paths.insert(g.path.substr(9));
  EXPECT_EQ(paths, (std::multiset<std::string>{"a", "a/x", "b", "c", "d", "e", "f"}));
  EXPECT_THROW(ReadGroupsBelow("host/opt", 6), std::runtime_error);
  EXPECT_TRUE(ReadGroupsBelow("host/none", 9).empty());
}

// Memory as given, CPU as given or at its defaults.
Allocation A(int64_t min, int64_t max, int64_t shares = -1, int64_t minLimit = -1,
             Sched::CpuAllocation cpu = {0, -1, 1000, -1, 0}) {
  return {{min, max, shares, minLimit, 0}, cpu};
}
Pool On(const std::string& name, Allocation a) { return {name, true, false, a}; }
Pool Annex(const std::string& name, int64_t max) { return {name, false, true, A(0, max)}; }

// Per pool its state and the fields that differ, then the undeclared groups.
// Annex children reserve their maximum in their parent's minimum.
TEST(Drift, Compare) {
  const int64_t kMax = std::numeric_limits<int64_t>::max();
  const Sched::CpuAllocation cpu = {10, 400, -2, -1, 0};
  const Allocation vm = A(512, 2048, 100, 256, cpu);
  const Pool parent = On("host/opt/vm", A(1024, 4096));
  const struct {
    std::vector<Pool> pools;
    std::vector<std::optional<Allocation>> live;
    std::string verdicts;
    std::vector<Group> below = {};
  } cases[] = {
      {{{"a", false, false, vm}}, {A(512, 2048, 100, 256)}, "drifted cpuMin cpuMax cpuShares"},  // load skips it
      {{On("a", A(0, 5, -1, -1, {0, -1, -1, -1, 0}))}, {A(0, 5, 300, -1, {0, -1, 2000, -1, 0})}, "ok"},  // unset shares
      {{On("a", vm)}, {A(512, 2048, 100, 256, {10, 400, -2, 50, 0})}, "drifted cpuMinLimit"},
      {{On("a", A(0, -1))}, {A(0, 0)}, "disabled memMax"},
      {{On("a", A(0, 0))}, {A(0, 0, -1, 8)}, "drifted memMinLimit"},
      {{parent, Annex("host/opt/vm/a", 100), Annex("host/opt/vm/b", 50), On("host/opt/vm/c", A(5, 5))}, {A(1174, 4096), A(0, 100), A(0, 50), A(5, 5)}, "ok, ok, ok, ok"},
      {{parent, On("host/opt/vm/c", A(0, 10)), Annex("host/opt/vm/c/x", 100), Annex("host/opt/vm2", 100)}, {A(1024, 4096), A(100, 10), A(0, 100), A(0, 100)}, "ok, ok, ok, ok"},  // no children of vm
      {{parent, Annex("host/opt/vm/x", -1)}, {A(1024, 4096), A(0, -1)}, "ok, ok"},
      {{parent, On("host/opt/vm/x", A(0, 100)), Annex("host/opt/vm/x", 100)}, {A(1024, 4096), A(0, 100), A(0, 100)}, "ok, ok, ok"},  // a child counts with its first definition
      {{parent, Annex("host/opt/vm/a", kMax), Annex("host/opt/vm/b", kMax)}, {A(kMax, 4096), A(0, kMax), A(0, kMax)}, "ok, ok, ok"},  // the sum saturates
      {{On("host/opt/b", A(0, 5))}, {A(0, 5)}, "ok, undeclared host/opt/a, undeclared host/opt/a/x, undeclared host/opt/c", {{"host/opt/c", A(0, 1)}, {"host/opt/b", A(0, 5)}, {"host/opt/a/x", A(0, 2)}, {"host/opt/a", A(0, 3)}}},
  };
  for (const auto& c : cases) {
    const Report report = Compare(c.pools, c.live, c.below);
    std::string verdicts;
    for (const PoolDrift& p : report.pools) {
      verdicts += std::string(verdicts.empty() ? "" : ", ") + StateName(p.state);
      for (const char* field : p.differs) verdicts += " " + std::string(field);
    }
    for (const Group& g : report.undeclared) verdicts += ", undeclared " + g.path;
    EXPECT_EQ(verdicts, c.verdicts);
  }
}

}  // namespace
}  // namespace Drift
