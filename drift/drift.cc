#include "drift/drift.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

namespace Drift {
namespace {

std::string ParentPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) {
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
  return sum;
}

// Enabling an annex pool raises its parent's memory minimum by the annex's
// maximum, and disabling it lowers it again; so a parent's minimum holds the
// reservations of those of its annex children that exist. As on enable, a
// child name counts with its first definition only. A maximum that is unset
// (-1) reserves nothing: the kernel refuses to raise a minimum by it.
std::unordered_map<std::string, int64_t> AnnexReservations(
    const std::vector<Pool>& pools, const std::vector<std::optional<Allocation>>& live) {
  std::unordered_map<std::string, int64_t> reserved;
  std::unordered_set<std::string> seen;
  for (size_t i = 0; i < pools.size(); ++i) {
    const Pool& pool = pools[i];
    if (!seen.insert(pool.name).second) continue;
    if (!pool.annex || !live[i] || pool.declared.mem.max <= 0) continue;
    int64_t& sum = reserved[ParentPath(pool.name)];
    sum = SaturatingAdd(sum, pool.declared.mem.max);
  }
  return reserved;
}

// Unset shares (-1) are never sent to the kernel, so the group keeps its own
// and they are not compared.
std::vector<const char*> DifferingFields(const Allocation& expected, const Allocation& live) {
  std::vector<const char*> differs;
  const auto check = [&](bool differ, const char* name) {
    if (differ) differs.push_back(name);
  };
  check(expected.mem.min != live.mem.min, "memMin");
  check(expected.mem.max != live.mem.max, "memMax");
  check(expected.mem.minLimit != live.mem.minLimit, "memMinLimit");
  check(expected.mem.shares != -1 && expected.mem.shares != live.mem.shares, "memShares");
  check(expected.cpu.min != live.cpu.min, "cpuMin");
  check(expected.cpu.max != live.cpu.max, "cpuMax");
  check(expected.cpu.minLimit != live.cpu.minLimit, "cpuMinLimit");
  check(expected.cpu.shares != -1 && expected.cpu.shares != live.cpu.shares, "cpuShares");
  return differs;
}

PoolDrift Judge(const Pool& pool, const std::optional<Allocation>& live, int64_t reserved) {
  PoolDrift drift{&pool, State::kOk, live, {}, {}};
  if (!live) {
    drift.state = pool.isEnabled ? State::kMissing : State::kInactive;
    return drift;
  }
  Allocation expected = pool.declared;
  expected.mem.min = SaturatingAdd(expected.mem.min, reserved);
  drift.differs = DifferingFields(expected, *live);
  // The state that "disable -n" leaves, and that enable recognises.
  if (live->mem.max == 0 && pool.declared.mem.max != 0) {
    drift.state = State::kDisabled;
  } else if (!drift.differs.empty()) {
    drift.state = State::kDrifted;
  }
  return drift;
}

}  // namespace

const char* StateName(State state) {
  switch (state) {
    case State::kOk: return "ok";
    case State::kMissing: return "missing";
    case State::kInactive: return "inactive";
    case State::kDisabled: return "disabled";
    case State::kDrifted: return "drifted";
    case State::kUndeclared: return "undeclared";
    case State::kInvalid: return "invalid";
  }
  return "?";
}

bool Report::Matches() const {
  return std::all_of(pools.begin(), pools.end(), [](const PoolDrift& p) {
    return p.state == State::kOk || p.state == State::kInactive;
  });
}

Report Compare(const std::vector<Pool>& pools, const std::vector<std::optional<Allocation>>& live,
               std::vector<Group> below) {
  if (live.size() != pools.size()) throw std::invalid_argument("one live entry per pool");
  const auto reservations = AnnexReservations(pools, live);
  Report report;
  std::unordered_set<std::string> declared;
  for (size_t i = 0; i < pools.size(); ++i) {
    const auto found = reservations.find(pools[i].name);
    report.pools.push_back(
        Judge(pools[i], live[i], found == reservations.end() ? 0 : found->second));
    declared.insert(pools[i].name);
  }
  below.erase(std::remove_if(below.begin(), below.end(),
                             [&](const Group& g) { return declared.count(g.path) != 0; }),
              below.end());
  std::sort(below.begin(), below.end(),
            [](const Group& a, const Group& b) { return a.path < b.path; });
  report.undeclared = std::move(below);
  return report;
}

}  // namespace Drift
