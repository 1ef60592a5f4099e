#include "poolstat/drift.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace Poolstat {
namespace {

constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();

// Memory as given, CPU as given or at its defaults; the trailing words hold
// what a read leaves there, which nothing compares.
Allocation A(int64_t min, int64_t max, int64_t shares = -1, int64_t minLimit = -1,
             Sched::CpuAllocation cpu = {0, -1, 1000, -1, 0}) {
  cpu.reserved = 0x4D42;
  return {{min, max, shares, minLimit, 0x4D42}, cpu};
}

Pool Enabled(const std::string& name, Allocation a) { return {name, true, false, a}; }
Pool Annex(const std::string& name, int64_t max) { return {name, false, true, A(0, max)}; }

const std::optional<Allocation> kAbsent;

struct Case {
  const char* what;
  std::vector<Pool> pools;
  std::vector<std::optional<Allocation>> live;
  std::vector<std::string> verdicts;  // per pool: the state, then the differing fields
};

void Check(const Case& c) {
  const Report report = Compare(c.pools, c.live, {});
  std::vector<std::string> verdicts;
  bool matches = true;
  for (const PoolDrift& p : report.pools) {
    std::string text = StateName(p.state);
    for (const char* field : p.differs) text += " " + std::string(field);
    verdicts.push_back(text);
    matches = matches && (text == "ok" || text == "inactive");
  }
  EXPECT_EQ(verdicts, c.verdicts) << c.what;
  EXPECT_EQ(report.Matches(), matches) << c.what;
}

TEST(DriftTest, StateOfOnePool) {
  const Sched::CpuAllocation cpu = {10, 400, -2, -1, 0};
  const Allocation vm = A(512, 2048, 100, 256, cpu);
  const Case cases[] = {
      {"absent annex", {Annex("a", 100)}, {kAbsent}, {"inactive"}},
      {"present, not created by load", {{"a", false, false, vm}}, {A(512, 2048, 100, 256)},
       {"drifted cpuMin cpuMax cpuShares"}},
      {"unset shares are the group's own", {Enabled("a", A(0, 5, -1, -1, {0, -1, -1, -1, 0}))},
       {A(0, 5, 300, -1, {0, -1, 2000, -1, 0})}, {"ok"}},
      {"cpu minimum limit is not compared", {Enabled("a", vm)},
       {A(512, 2048, 100, 256, {10, 400, -2, 50, 0})}, {"ok"}},
      {"zeroed by disable -n", {Enabled("a", vm)}, {A(0, 0, 0, 0, cpu)},
       {"disabled memMin memMax memMinLimit memShares"}},
      {"zero maximum, none declared", {Enabled("a", A(0, -1))}, {A(0, 0)}, {"disabled memMax"}},
      {"zero maximum as declared", {Enabled("a", A(0, 0))}, {A(0, 0, -1, 8)},
       {"drifted memMinLimit"}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(DriftTest, AnnexChildrenReserveTheirMaximumInTheParent) {
  const Pool vm = Enabled("host/opt/vm", A(1024, 4096));
  const Case cases[] = {
      {"two annexes and a plain child",
       {vm, Annex("host/opt/vm/a", 100), Annex("host/opt/vm/b", 50), Enabled("host/opt/vm/c", A(5, 5))},
       {A(1174, 4096), A(0, 100), A(0, 50), A(5, 5)}, {"ok", "ok", "ok", "ok"}},
      {"grandchildren and look-alike names are no children",
       {vm, Enabled("host/opt/vm/c", A(0, 10)), Annex("host/opt/vm/c/x", 100),
        Annex("host/opt/vm2", 100)},
       {A(1024, 4096), A(100, 10), A(0, 100), A(0, 100)}, {"ok", "ok", "ok", "ok"}},
      {"unset annex maximum", {vm, Annex("host/opt/vm/x", -1)}, {A(1024, 4096), A(0, -1)},
       {"ok", "ok"}},
      {"a child counts with its first definition",
       {vm, Enabled("host/opt/vm/x", A(0, 100)), Annex("host/opt/vm/x", 100)},
       {A(1024, 4096), A(0, 100), A(0, 100)}, {"ok", "ok", "ok"}},
      {"huge reservations saturate",
       {vm, Annex("host/opt/vm/a", kMax64), Annex("host/opt/vm/b", kMax64)},
       {A(kMax64, 4096), A(0, kMax64), A(0, kMax64)}, {"ok", "ok", "ok"}},
  };
  for (const Case& c : cases) Check(c);
}

TEST(DriftTest, UndeclaredGroupsAreSortedAndDoNotCount) {
  const Report report = Compare({Enabled("host/opt/b", A(0, 5))}, {A(0, 5)},
                                {{"host/opt/c", A(0, 1)},
                                 {"host/opt/b", A(0, 5)},
                                 {"host/opt/a/x", A(0, 2)},
                                 {"host/opt/a", A(0, 3)}});
  std::string paths;
  for (const Group& g : report.undeclared) paths += g.path + " ";
  EXPECT_EQ(paths, "host/opt/a host/opt/a/x host/opt/c ");
  EXPECT_TRUE(report.Matches());
}

}  // namespace
}  // namespace Poolstat
