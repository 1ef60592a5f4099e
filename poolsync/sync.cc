#include "poolsync/sync.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/host_lock.h"
#include "common/table.h"
#include "drift/live.h"
#include "loader/load.h"
#include "sched/sched.h"

namespace Poolsync {
namespace {

using Drift::Allocation;
using Drift::ParentPath;
using Drift::PoolDrift;
using Drift::State;

// Annex pools borrow their memory from the parent group: the parent's
// minimum holds the declared maximum of each annex child whose group exists,
// as poolstat expects it. A maximum that is unset (-1) reserves nothing.
std::unordered_map<std::string, int64_t> Reservations(const Drift::Report& report) {
  std::unordered_map<std::string, int64_t> reserved;
  std::unordered_set<std::string> seen;
  for (const PoolDrift& p : report.pools) {
    if (!seen.insert(p.pool->name).second) continue;
    if (!p.pool->annex || !p.live || p.pool->declared.mem.max <= 0) continue;
    int64_t& sum = reserved[ParentPath(p.pool->name)];
    if (__builtin_add_overflow(sum, p.pool->declared.mem.max, &sum)) {
      throw std::overflow_error("memory reservation of " + ParentPath(p.pool->name) +
                                " out of range");
    }
  }
  return reserved;
}

// A field's value as poolstat's table shows it.
std::string FieldValue(const std::string& field, const Allocation& a) {
  if (field == "memMin") return Table::FormatMemValue(a.mem.min);
  if (field == "memMax") return Table::FormatMemValue(a.mem.max);
  if (field == "memMinLimit") return Table::FormatMemValue(a.mem.minLimit);
  if (field == "memShares") return Table::FormatShares(a.mem.shares);
  if (field == "cpuMin") return Table::FormatCpuValue(a.cpu.min);
  if (field == "cpuMax") return Table::FormatCpuValue(a.cpu.max);
  if (field == "cpuMinLimit") return Table::FormatCpuValue(a.cpu.minLimit);
  if (field == "cpuShares") return Table::FormatShares(a.cpu.shares);
  throw std::logic_error("no field " + field);
}

// "path: memMin 1024 -> 8192, memMax 2048 -> -"
std::string ChangeLine(const PoolDrift& p, const Allocation& expected) {
  std::string line = p.pool->name + ":";
  const char* separator = " ";
  for (const char* field : p.differs) {
    line += separator + std::string(field) + " " + FieldValue(field, *p.live) + " -> " +
            FieldValue(field, expected);
    separator = ", ";
  }
  return line + "\n";
}

// What load sends for the pool, then the reservations of its live annex
// children, raised apart: a single set would be refused where they lift the
// minimum above the maximum.
void Repair(const Drift::Pool& pool, int64_t reserved) {
  const Sched::GroupId id = Sched::GroupPathToId(pool.name);
  Sched::SetMemAllocation(id, pool.declared.mem);
  Sched::SetCpuAllocation(id, pool.declared.cpu);
  if (reserved > 0) Sched::IncreaseMemMinMax(id, static_cast<uint64_t>(reserved), 0);
}

// Why a pool or group is left alone, and what would change it.
const char* LeftAlone(State state) {
  switch (state) {
    case State::kMissing: return "missing; poolctl load creates it";
    case State::kInactive: return "inactive; poolctl enable creates it";
    case State::kDisabled: return "disabled; poolctl enable brings it back";
    default: return nullptr;
  }
}

// A live child group that no definition read declares may be an annex pool
// holding a reservation in this group that poolsync cannot see. Asked of the
// host itself: the report names undeclared groups below host/opt only.
std::optional<std::string> UndeclaredChild(const std::string& path,
                                           const std::unordered_set<std::string>& declared) {
  for (Sched::GroupId child : Sched::GetMemberGroups(Sched::GroupPathToId(path))) {
    std::string childPath = Sched::GroupIdToPath(child);
    if (declared.count(childPath) == 0) return childPath;
  }
  return std::nullopt;
}

// One pool's line, and the reservation to restore when it is repaired.
struct Step {
  const Drift::Pool* pool;
  std::string line;
  bool repair;
  int64_t reserved;
};

void Write(const std::string& line) { Table::WriteOutput(line); }

}  // namespace

int Sync(const std::vector<std::string>& files, const Options& options) {
  // Held to the end: the reservations are worked out from the annex groups
  // that exist, and no enable or disable may come between.
  std::unique_ptr<HostLock> lock;
  if (!options.dryRun) lock = std::make_unique<HostLock>();
  const std::vector<Drift::Pool> pools =
      Drift::Declarations(Loader::LoadResourcePools(files, false));
  const Drift::Report report = Drift::JudgeHost(pools);
  bool invalid = false;
  for (const PoolDrift& p : report.pools) {
    if (p.state != State::kInvalid) continue;
    std::fflush(stdout);
    std::fprintf(stderr, "%s: invalid: %s\n", p.pool->name.c_str(), p.reason.c_str());
    invalid = true;
  }
  if (invalid) return kInvalid;

  // Every step is worked out before the first change, so that a value out of
  // range stops the run before it has changed anything.
  const auto reservations = Reservations(report);
  std::unordered_set<std::string> declared;
  for (const PoolDrift& p : report.pools) declared.insert(p.pool->name);
  std::vector<Step> steps;
  for (const PoolDrift& p : report.pools) {
    if (p.state != State::kDrifted) {
      if (const char* why = LeftAlone(p.state)) {
        steps.push_back({p.pool, p.pool->name + ": " + why + "\n", false, 0});
      }
      continue;
    }
    if (std::optional<std::string> child = UndeclaredChild(p.pool->name, declared)) {
      steps.push_back({p.pool, p.pool->name + ": drifted, with undeclared child " + *child +
                                   "; poolsync with the child's definition too repairs it\n",
                       false, 0});
      continue;
    }
    const auto found = reservations.find(p.pool->name);
    const int64_t reserved = found == reservations.end() ? 0 : found->second;
    Allocation expected = p.pool->declared;
    if (__builtin_add_overflow(expected.mem.min, reserved, &expected.mem.min)) {
      throw std::overflow_error("memory reservation of " + p.pool->name + " out of range");
    }
    steps.push_back({p.pool, ChangeLine(p, expected), true, reserved});
  }
  std::unordered_set<std::string> repaired;
  for (const Step& step : steps) {
    if (!step.repair) {
      if (!options.quiet) Write(step.line);
      continue;
    }
    if (!options.dryRun) Repair(*step.pool, step.reserved);
    Write(step.line);
    Table::CheckOutput(std::fflush(stdout) == 0);
    repaired.insert(step.pool->name);
  }
  if (!options.quiet) {
    for (const Drift::Group& g : report.undeclared) {
      Write(g.path + ": undeclared; poolsync repairs it once a definition names it\n");
    }
  }
  Table::CheckOutput(std::fflush(stdout) == 0);
  if (options.dryRun) return repaired.empty() ? 0 : kWouldChange;

  // What was sent must be what the host now has.
  const Drift::Report after = Drift::JudgeHost(pools);
  for (const PoolDrift& p : after.pools) {
    if (repaired.count(p.pool->name) != 0 && p.state != State::kOk) {
      throw std::runtime_error(p.pool->name + ": " + Drift::StateName(p.state) +
                               " after the repair");
    }
  }
  return 0;
}

}  // namespace Poolsync
