// enable brings pools back into service: a missing group is created from its
// definition, a group left with memory maximum 0 gets its memory back.
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "cli/commands.h"
#include "cli/definitions.h"
#include "common/host_lock.h"
#include "cli/options.h"
#include "loader/load.h"
#include "sched/sched.h"

namespace {

const char kUsage[] =
    "poolctl enable <rps...>\n"
    "    Enable disabled resource pools, which must be defined by files in\n"
    "    /etc/rp.d. A resource pools is considered disabled if it does not\n"
    "    exist or has its memory maximum set to 0. A non-existing pool\n"
    "    is enabled by getting created with settings from the yaml definition.\n"
    "    An existing pool has its memory allocation restored from the yaml\n"
    "    definition.\n";

// A parent's memory minimum covers the maximum of each of its annex children;
// restoring the parent must restore that reservation too.
Sched::MemAllocation RestoredAllocation(Sched::GroupId id, const Loader::ResourcePoolImpl& pool,
                                        const Loader::ResourcePools& definitions) {
  Sched::MemAllocation restored = pool.mem;
  for (Sched::GroupId child : Sched::GetMemberGroups(id)) {
    std::string path = Sched::GroupIdToPath(child);
    std::shared_ptr<Loader::ResourcePoolImpl> definition;
    try {
      definition = FindDefinition(path, definitions);
    } catch (const std::runtime_error&) {
      continue;  // a child nobody declared reserves nothing
    }
    if (!definition->annex) continue;
    int64_t min = restored.min;
    if (__builtin_add_overflow(min, definition->mem.max, &min)) {
      throw std::overflow_error("memory reservation of " + pool.name + " out of range");
    }
    restored.min = min;
  }
  return restored;
}

// Brings a pool whose group exists back into service, if it was disabled.
void RestoreExisting(const Loader::ResourcePoolImpl& pool, const Loader::ResourcePools& definitions) {
  Sched::GroupId id = Sched::GroupPathToId(pool.name);
  if (pool.annex) return;  // an existing annex group is never changed here
  Sched::MemAllocation current = {};
  Sched::GetMemAllocation(id, current);
  if (current.max != 0 || pool.mem.max == 0) return;  // in service, or nothing to give back
  Sched::SetMemAllocation(id, RestoredAllocation(id, pool, definitions));
}

// Deletes a new annex group that could not get its reservation, then lets
// the failure go on.
[[noreturn]] void DropUnreservedAnnex(Sched::GroupId id) {
  Sched::DeleteGroup(id);
  throw;
}

// Creates a missing group; an annex group also takes its memory from the
// parent. An annex group must never stay without that reservation: whatever
// fails after its creation, it is deleted again.
void CreateMissing(const Loader::ResourcePoolImpl& pool) {
  Sched::CreateGroup(pool.name, pool.mem, pool.cpu);
  if (!pool.annex) return;
  Sched::GroupId id = 0;
  Sched::GroupId parent = 0;
  try {
    id = Sched::GroupPathToId(pool.name);
  } catch (const Sched::Exception&) {
    // The lookup may fail for a moment only; one more try finds what to delete.
    try {
      Sched::DeleteGroup(Sched::GroupPathToId(pool.name));
    } catch (const Sched::Exception&) {
    }
    throw;
  }
  try {
    parent = Sched::GetParentGroupId(id);
  } catch (const Sched::Exception&) {
    DropUnreservedAnnex(id);
  }
  try {
    Sched::IncreaseMemMinMax(parent, static_cast<uint64_t>(pool.mem.max), 0);
  } catch (const Sched::Exception& e) {
    std::string message = e.what();
    std::string parentPath;
    try {
      parentPath = Sched::GroupIdToPath(parent);
    } catch (const Sched::Exception&) {
      DropUnreservedAnnex(id);
    }
    std::fprintf(stderr, "%s: %s\n", parentPath.c_str(), message.c_str());
    Sched::DeleteGroup(id);
  }
}

}  // namespace

int EnableCommand(int argc, char** argv) {
  int status = ParseCommandOptions(argc, argv, "h", kUsage, true);
  if (status == kKeepGoing) status = RequireOperands(argc, kUsage);
  if (status != kKeepGoing) return status;
  // A parent's restored reservation is worked out from the annex groups that
  // exist, and a new annex group is reserved after its creation: no disable
  // may come between.
  HostLock lock;
  Loader::ResourcePools definitions = Loader::LoadResourcePools({}, false);
  for (int i = optind; i < argc; ++i) {
    std::shared_ptr<Loader::ResourcePoolImpl> pool = FindDefinition(argv[i], definitions);
    try {
      RestoreExisting(*pool, definitions);
    } catch (const Sched::Exception& e) {
      // Any "not found" in the restoration means the group is missing; if it
      // is there after all, the creation says so.
      if (e.status() == Sched::kStatusNotFound) {
        CreateMissing(*pool);
      } else {
        std::fprintf(stderr, "%s: %s\n", pool->name.c_str(), e.what());
      }
    }
  }
  return 0;
}
