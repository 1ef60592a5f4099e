#include "drift/drift.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

namespace Drift {

std::string ParentPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

namespace {

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

// Shares are a positive number, unset (-1), or one of the kernel's levels:
// -2 low, -3 normal, -4 high.
bool IsShareSetting(int64_t shares) { return shares > 0 || (shares <= -1 && shares >= -4); }

void Add(std::string& reasons, const std::string& reason) {
  reasons += (reasons.empty() ? "" : "; ") + reason;
}

// The values that load would send the kernel, or that contradict each other.
std::string ValueReasons(const Allocation& a) {
  std::string reasons;
  const auto limits = [&](const char* kind, int64_t min, int64_t max) {
    const std::string name = kind;
    if (min < 0) Add(reasons, name + "Min " + std::to_string(min) + " below 0");
    if (max != -1 && max < min) {
      Add(reasons, name + "Max " + std::to_string(max) + " below " + name + "Min " +
                       std::to_string(min));
    }
  };
  const auto shares = [&](const char* name, int64_t value) {
    if (!IsShareSetting(value)) {
      Add(reasons, std::string(name) + " " + std::to_string(value) + " is not a share value");
    }
  };
  limits("mem", a.mem.min, a.mem.max);
  limits("cpu", a.cpu.min, a.cpu.max);
  shares("memShares", a.mem.shares);
  shares("cpuShares", a.cpu.shares);
  return reasons;
}

// Why each pool's definition is invalid; empty for a valid one. Every
// declaration of a name declared more than once is invalid, each naming the
// other files, so that the administrator sees every file to reconcile.
std::vector<std::string> InvalidReasons(const std::vector<Pool>& pools,
                                        const std::vector<std::optional<Allocation>>& live,
                                        const std::unordered_set<std::string>& existing) {
  std::unordered_map<std::string, std::vector<size_t>> byName;
  for (size_t i = 0; i < pools.size(); ++i) byName[pools[i].name].push_back(i);
  const auto loadCreates = [&](const std::string& name) {
    const auto found = byName.find(name);
    return found != byName.end() &&
           std::any_of(found->second.begin(), found->second.end(),
                       [&](size_t i) { return pools[i].isEnabled && !pools[i].annex; });
  };
  std::vector<std::string> reasons(pools.size());
  for (size_t i = 0; i < pools.size(); ++i) {
    const Pool& pool = pools[i];
    std::string& reason = reasons[i];
    const std::string values = ValueReasons(pool.declared);
    if (!values.empty()) Add(reason, values);
    const std::string parent = ParentPath(pool.name);
    const bool parentDeclared = byName.count(parent) != 0;
    // An annex pool's reservation is judged, and restored, in a declared parent.
    if (!live[i] || pool.annex) {
      if (!parentDeclared && (pool.annex || existing.count(parent) == 0)) {
        Add(reason, "parent " + parent + " is not declared");
      } else if (!live[i] && pool.isEnabled && existing.count(parent) == 0 &&
                 !loadCreates(parent)) {
        Add(reason, "parent " + parent + " is not live and load does not create it");
      }
    }
    const std::vector<size_t>& same = byName[pool.name];
    if (same.size() < 2) continue;
    std::string others;
    for (size_t j : same) {
      if (j != i && !pools[j].file.empty()) others += (others.empty() ? "" : " and ") + pools[j].file;
    }
    Add(reason, others.empty() ? "declared more than once" : "also declared in " + others);
  }
  return reasons;
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
               std::vector<Group> below, const std::vector<std::string>& outside) {
  if (live.size() != pools.size()) throw std::invalid_argument("one live entry per pool");
  const auto reservations = AnnexReservations(pools, live);
  std::unordered_set<std::string> existing(outside.begin(), outside.end());
  for (const Group& g : below) existing.insert(g.path);
  for (size_t i = 0; i < pools.size(); ++i) {
    if (live[i]) existing.insert(pools[i].name);
  }
  const std::vector<std::string> reasons = InvalidReasons(pools, live, existing);
  Report report;
  std::unordered_set<std::string> declared;
  for (size_t i = 0; i < pools.size(); ++i) {
    const auto found = reservations.find(pools[i].name);
    report.pools.push_back(
        Judge(pools[i], live[i], found == reservations.end() ? 0 : found->second));
    if (!reasons[i].empty()) {
      report.pools.back().state = State::kInvalid;
      report.pools.back().reason = reasons[i];
    }
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
