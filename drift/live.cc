#include "drift/live.h"

#include <set>
#include <stdexcept>
#include <utility>

#include "sched/sched.h"

namespace Drift {
namespace {

// Far more groups than a host runs; a kernel that reports more is not
// walked to its end.
constexpr size_t kMaxGroupsBelow = 100000;

// Another program may delete a group between two of our calls; that group is
// then simply not there.
template <typename Read>
auto UnlessNotFound(Read read) -> std::optional<decltype(read())> {
  try {
    return read();
  } catch (const Sched::Exception& e) {
    if (e.status() != Sched::kStatusNotFound) throw;
    return std::nullopt;
  }
}

Allocation ReadAllocation(Sched::GroupId id) {
  Allocation a{};
  Sched::GetMemAllocation(id, a.mem);
  Sched::GetCpuAllocation(id, a.cpu);
  return a;
}

}  // namespace

std::optional<Allocation> ReadGroup(const std::string& path) {
  return UnlessNotFound([&] { return ReadAllocation(Sched::GroupPathToId(path)); });
}

std::vector<Group> ReadGroupsBelow(const std::string& path, size_t limit) {
  std::vector<Group> found;
  const auto top = UnlessNotFound([&] { return Sched::GroupPathToId(path); });
  if (!top) return found;
  // Breadth first with an explicit queue: no recursion however deep the tree.
  std::vector<Sched::GroupId> queue = {*top};
  for (size_t next = 0; next < queue.size(); ++next) {
    const auto children = UnlessNotFound([&] { return Sched::GetMemberGroups(queue[next]); });
    if (!children) continue;
    for (Sched::GroupId child : *children) {
      if (queue.size() > limit) {
        throw std::runtime_error("More than " + std::to_string(limit) + " groups below " + path);
      }
      auto group = UnlessNotFound([&] {
        return Group{Sched::GroupIdToPath(child), ReadAllocation(child)};
      });
      if (!group) continue;
      found.push_back(std::move(*group));
      queue.push_back(child);
    }
  }
  return found;
}

std::vector<Pool> Declarations(const Loader::ResourcePools& loaded) {
  std::vector<Pool> pools;
  pools.reserve(loaded.size());
  for (const auto& p : loaded) {
    pools.push_back({p->name, p->isEnabled, p->annex, {p->mem, p->cpu}, p->file});
  }
  return pools;
}

Report JudgeHost(const std::vector<Pool>& pools) {
  std::vector<std::optional<Allocation>> live;
  live.reserve(pools.size());
  for (const Pool& pool : pools) live.push_back(ReadGroup(pool.name));
  std::vector<Group> below = ReadGroupsBelow("host/opt", kMaxGroupsBelow);
  // The parents of the pools without a group, when neither a pool nor below
  // host/opt: whether they exist decides whether those pools can be created.
  std::set<std::string> known, outside;
  for (const Pool& pool : pools) known.insert(pool.name);
  for (const Group& g : below) known.insert(g.path);
  std::vector<std::string> existing;
  for (size_t i = 0; i < pools.size(); ++i) {
    const std::string parent = ParentPath(pools[i].name);
    if (live[i] || known.count(parent) != 0 || !outside.insert(parent).second) continue;
    if (ReadGroup(parent)) existing.push_back(parent);
  }
  return Compare(pools, live, std::move(below), existing);
}

}  // namespace Drift
