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
Pool On(const std::string& name, Allocation a, const std::string& file = "") { return {name, true, false, a, file}; }
Pool Off(const std::string& name) { return {name, false, false, A(0, 1), ""}; }
Pool Annex(const std::string& name, int64_t max) { return {name, false, true, A(0, max), ""}; }

// Per pool its state, the fields that differ and why it is invalid, then the undeclared
// groups. Annex children reserve their maximum in their parent's minimum. host/opt exists.
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
      {{{"a", false, false, vm, ""}}, {A(512, 2048, 100, 256)}, "drifted cpuMin cpuMax cpuShares"},  // load skips it
      {{On("a", A(0, 5, -1, -1, {0, -1, -1, -1, 0}))}, {A(0, 5, 300, -1, {0, -1, 2000, -1, 0})}, "ok"},  // unset shares
      {{On("a", vm)}, {A(512, 2048, 100, 256, {10, 400, -2, 50, 0})}, "drifted cpuMinLimit"},
      {{On("a", A(0, -1))}, {A(0, 0)}, "disabled memMax"},
      {{On("a", A(0, 0))}, {A(0, 0, -1, 8)}, "drifted memMinLimit"},
      {{parent, Annex("host/opt/vm/a", 100), Annex("host/opt/vm/b", 50), On("host/opt/vm/c", A(5, 5))}, {A(1174, 4096), A(0, 100), A(0, 50), A(5, 5)}, "ok, ok, ok, ok"},
      {{parent, On("host/opt/vm/c", A(0, 10)), Annex("host/opt/vm/c/x", 100), Annex("host/opt/vm2", 100)}, {A(1024, 4096), A(100, 10), A(0, 100), A(0, 100)}, "ok, ok, ok, invalid: parent host/opt is not declared"},  // no children of vm
      {{parent, Annex("host/opt/vm/x", -1)}, {A(1024, 4096), A(0, -1)}, "ok, ok"},
      {{parent, On("host/opt/vm/x", A(0, 100)), Annex("host/opt/vm/x", 100)}, {A(1024, 4096), A(0, 100), A(0, 100)}, "ok, invalid: declared more than once, invalid: declared more than once"},  // a child counts with its first definition
      {{parent, Annex("host/opt/vm/a", kMax), Annex("host/opt/vm/b", kMax)}, {A(kMax, 4096), A(0, kMax), A(0, kMax)}, "ok, ok, ok"},  // the sum saturates
      {{On("host/opt/a", A(-1, -1, 0, -1, {-5, -6, -5, -1, 0})), On("host/opt/b", A(200, 100)), On("host/opt/c", A(5, 5, -4, -1, {0, 5, 1, -1, 0}))}, {{}, A(200, 100), A(5, 5, -4, -1, {0, 5, 1, -1, 0})},
       "invalid: memMin -1 below 0; cpuMin -5 below 0; cpuMax -6 below cpuMin -5; memShares 0 is not a share value; cpuShares -5 is not a share value, invalid: memMax 100 below memMin 200, ok"},
      {{On("host/opt/p/x", A(0, 1)), Off("host/opt/d"), On("host/opt/d/x", A(0, 1)), Off("host/opt/d/y"), Annex("host/opt/n", 5), On("host/opt/n/x", A(0, 1)), Annex("host/opt/u/a", 5), On("host/opt/w/x", A(0, 1))},
       {{}, {}, {}, {}, {}, {}, A(0, 5), {}}, "invalid: parent host/opt/p is not declared, inactive, invalid: parent host/opt/d is not live and load does not create it, inactive, invalid: parent host/opt is not declared, "
       "invalid: parent host/opt/n is not live and load does not create it, invalid: parent host/opt/u is not declared, missing, undeclared host/opt/u, undeclared host/opt/w", {{"host/opt/u", A(0, 5)}, {"host/opt/w", A(0, 5)}}},
      {{On("host/opt/a", A(0, 1), "a.yaml"), On("host/opt/a", A(0, 1), "b.yaml"), On("host/opt/a", A(0, 2), "a.yaml")}, {A(0, 1), A(0, 1), A(0, 1)},
       "invalid: also declared in b.yaml and a.yaml, invalid: also declared in a.yaml and a.yaml, invalid memMax: also declared in a.yaml and b.yaml"},
      {{On("host/opt/b", A(0, 5))}, {A(0, 5)}, "ok, undeclared host/opt/a, undeclared host/opt/a/x, undeclared host/opt/c", {{"host/opt/c", A(0, 1)}, {"host/opt/b", A(0, 5)}, {"host/opt/a/x", A(0, 2)}, {"host/opt/a", A(0, 3)}}},
  };
  for (const auto& c : cases) {
    const Report report = Compare(c.pools, c.live, c.below, {"host/opt"});
    std::string verdicts;
    for (const PoolDrift& p : report.pools) {
      verdicts += std::string(verdicts.empty() ? "" : ", ") + StateName(p.state);
      for (const char* field : p.differs) verdicts += " " + std::string(field);
      if (!p.reason.empty()) verdicts += ": " + p.reason;
    }
    for (const Group& g : report.undeclared) verdicts += ", undeclared " + g.path;
    EXPECT_EQ(verdicts, c.verdicts);
  }
}

}  // namespace
}  // namespace Drift
