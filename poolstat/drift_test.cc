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

// The kernel's trailing word, which a read fills and nothing compares.
constexpr uint32_t kTrailer = 0x4D42;

Allocation Mem(int64_t min, int64_t max, int64_t shares = -1, int64_t minLimit = -1) {
  return {{min, max, shares, minLimit, 0}, {0, -1, 1000, -1, 0}};
}

Allocation WithCpu(Allocation a, int32_t min, int32_t max, int32_t shares, int32_t minLimit = -1) {
  a.cpu = {min, max, shares, minLimit, 0};
  return a;
}

// As a read returns it: the trailing words filled.
std::optional<Allocation> Live(Allocation a) {
  a.mem.reserved = kTrailer;
  a.cpu.reserved = kTrailer;
  return a;
}

const std::optional<Allocation> kAbsent;

Pool Enabled(const std::string& name, Allocation declared) { return {name, true, false, declared}; }
Pool Inactive(const std::string& name, Allocation declared) {
  return {name, false, false, declared};
}
Pool Annex(const std::string& name, int64_t max) { return {name, false, true, Mem(0, max)}; }

// "state" or "state field,field".
std::string Verdict(const PoolDrift& p) {
  std::string text = StateName(p.state);
  for (size_t i = 0; i < p.differs.size(); ++i) text += (i == 0 ? " " : ",") + std::string(p.differs[i]);
  return text;
}

struct Case {
  const char* what;
  std::vector<Pool> pools;
  std::vector<std::optional<Allocation>> live;
  std::vector<std::string> verdicts;  // one per pool
  bool matches;
};

void Check(const Case& c) {
  const Report report = Compare(c.pools, c.live, {});
  ASSERT_EQ(report.pools.size(), c.pools.size()) << c.what;
  std::vector<std::string> verdicts;
  for (size_t i = 0; i < report.pools.size(); ++i) {
    EXPECT_EQ(report.pools[i].pool, &c.pools[i]) << c.what;
    EXPECT_EQ(report.pools[i].live.has_value(), c.live[i].has_value()) << c.what;
    verdicts.push_back(Verdict(report.pools[i]));
  }
  EXPECT_EQ(verdicts, c.verdicts) << c.what;
  EXPECT_EQ(report.Matches(), c.matches) << c.what;
}

TEST(DriftTest, StateOfOnePool) {
  const Allocation vm = WithCpu(Mem(512, 2048, 100, 256), 10, 400, -2);
  const Case cases[] = {
      {"absent and enabled", {Enabled("host/opt/a", vm)}, {kAbsent}, {"missing"}, false},
      {"absent and not created by load", {Inactive("host/opt/a", vm)}, {kAbsent}, {"inactive"},
       true},
      {"absent annex", {Annex("host/opt/a", 100)}, {kAbsent}, {"inactive"}, true},
      {"equal", {Enabled("host/opt/a", vm)}, {Live(vm)}, {"ok"}, true},
      {"existing inactive pool is compared", {Inactive("host/opt/a", vm)},
       {Live(WithCpu(Mem(512, 2048, 100, 256), 10, 300, -2))}, {"drifted cpuMax"}, false},
      {"fields named in column order", {Enabled("host/opt/a", vm)},
       {Live(WithCpu(Mem(1, 2048, 7, 9), 10, 400, 5))},
       {"drifted memMin,memMinLimit,memShares,cpuShares"}, false},
      {"every compared field", {Enabled("host/opt/a", vm)},
       {Live(WithCpu(Mem(1, 2, 3, 4), 5, 6, 7))},
       {"drifted memMin,memMax,memMinLimit,memShares,cpuMin,cpuMax,cpuShares"}, false},
      {"unset shares are the group's own", {Enabled("host/opt/a", WithCpu(Mem(0, 5), 0, -1, -1))},
       {Live(WithCpu(Mem(0, 5, 300), 0, -1, 2000))}, {"ok"}, true},
      {"named share levels are compared", {Enabled("host/opt/a", Mem(0, 5, -4))},
       {Live(Mem(0, 5, -3))}, {"drifted memShares"}, false},
      {"cpu minimum limit is not compared", {Enabled("host/opt/a", vm)},
       {Live(WithCpu(Mem(512, 2048, 100, 256), 10, 400, -2, 50))}, {"ok"}, true},
      {"zeroed by disable -n", {Enabled("host/opt/a", vm)}, {Live(WithCpu(Mem(0, 0, 0, 0), 10, 400, -2))},
       {"disabled memMin,memMax,memMinLimit,memShares"}, false},
      {"zero maximum without a declared maximum", {Enabled("host/opt/a", Mem(0, -1))},
       {Live(Mem(0, 0))}, {"disabled memMax"}, false},
      {"zero maximum as declared", {Enabled("host/opt/a", Mem(0, 0))}, {Live(Mem(0, 0))}, {"ok"},
       true},
      {"zero maximum where zero is declared, other drift", {Enabled("host/opt/a", Mem(0, 0))},
       {Live(Mem(0, 0, -1, 8))}, {"drifted memMinLimit"}, false},
  };
  for (const Case& c : cases) Check(c);
}

TEST(DriftTest, AnnexChildrenReserveTheirMaximumInTheParent) {
  const Pool parent = Enabled("host/opt/vm", Mem(1024, 4096));
  const Case cases[] = {
      {"existing annex raises the minimum",
       {parent, Annex("host/opt/vm/cache", 256)},
       {Live(Mem(1280, 4096)), Live(Mem(0, 256))},
       {"ok", "ok"}, true},
      {"the declared minimum alone is then drift",
       {parent, Annex("host/opt/vm/cache", 256)},
       {Live(Mem(1024, 4096)), Live(Mem(0, 256))},
       {"drifted memMin", "ok"}, false},
      {"absent annex reserves nothing",
       {parent, Annex("host/opt/vm/cache", 256)},
       {Live(Mem(1024, 4096)), kAbsent},
       {"ok", "inactive"}, true},
      {"two annexes and a plain child",
       {parent, Annex("host/opt/vm/a", 100), Annex("host/opt/vm/b", 50),
        Enabled("host/opt/vm/c", Mem(512, 512))},
       {Live(Mem(1174, 4096)), Live(Mem(0, 100)), Live(Mem(0, 50)), Live(Mem(512, 512))},
       {"ok", "ok", "ok", "ok"}, true},
      {"only direct children count",
       {parent, Enabled("host/opt/vm/c", Mem(0, 10)), Annex("host/opt/vm/c/deep", 100)},
       {Live(Mem(1024, 4096)), Live(Mem(100, 10)), Live(Mem(0, 100))},
       {"ok", "ok", "ok"}, true},
      {"a name that only begins with the parent's is no child",
       {parent, Annex("host/opt/vm2", 100), Annex("host/opt/vmx/c", 100)},
       {Live(Mem(1024, 4096)), Live(Mem(0, 100)), Live(Mem(0, 100))},
       {"ok", "ok", "ok"}, true},
      {"an unset annex maximum reserves nothing",
       {parent, Annex("host/opt/vm/cache", -1)},
       {Live(Mem(1024, 4096)), Live(Mem(0, -1))},
       {"ok", "ok"}, true},
      {"a child name counts with its first definition",
       {parent, Enabled("host/opt/vm/c", Mem(0, 100)), Annex("host/opt/vm/c", 100)},
       {Live(Mem(1024, 4096)), Live(Mem(0, 100)), Live(Mem(0, 100))},
       {"ok", "ok", "ok"}, true},
      {"huge reservations saturate instead of overflowing",
       {parent, Annex("host/opt/vm/a", kMax64), Annex("host/opt/vm/b", kMax64)},
       {Live(Mem(kMax64, 4096)), Live(Mem(0, kMax64)), Live(Mem(0, kMax64))},
       {"ok", "ok", "ok"}, true},
  };
  for (const Case& c : cases) Check(c);
}

TEST(DriftTest, UndeclaredGroupsAreSortedAndDoNotCount) {
  const std::vector<Pool> pools = {Enabled("host/opt/b", Mem(0, 5))};
  const std::vector<Group> below = {{"host/opt/c", *Live(Mem(0, 1))},
                                    {"host/opt/b", *Live(Mem(0, 5))},
                                    {"host/opt/a/x", *Live(Mem(0, 2))},
                                    {"host/opt/a", *Live(Mem(0, 3))}};
  const Report report = Compare(pools, {Live(Mem(0, 5))}, below);
  std::vector<std::string> paths;
  for (const Group& g : report.undeclared) paths.push_back(g.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"host/opt/a", "host/opt/a/x", "host/opt/c"}));
  EXPECT_EQ(report.undeclared[0].live.mem.max, 3);
  EXPECT_TRUE(report.Matches());
}

TEST(DriftTest, OneLiveEntryPerPool) {
  EXPECT_THROW(Compare({Enabled("host/opt/a", Mem(0, 1))}, {}, {}), std::invalid_argument);
}

}  // namespace
}  // namespace Poolstat
