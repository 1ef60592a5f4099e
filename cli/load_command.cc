// load and unload treat the definitions as one unit: a failure other than the
// expected one undoes this run's changes, last first, before it is reported.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "common/host_lock.h"
#include "cli/options.h"
#include "loader/load.h"
#include "sched/sched.h"

namespace {

const char kLoadUsage[] =
    "poolctl load [flags] [files...]\n"
    "    Create enabled resource pools defined in yaml files. If no yaml files\n"
    "    are specified, all files from /etc/rp.d will be used.\n"
    "Flags:\n"
    "    -q              Silence diagnostic messages.\n";

const char kUnloadUsage[] =
    "poolctl unload [files...]\n"
    "    Delete resource pools defined in yaml files. If no yaml files are\n"
    "    specified, all files from /etc/rp.d will be used.\n";

std::vector<std::string> Operands(int argc, char** argv) {
  return std::vector<std::string>(argv + optind, argv + argc);
}

// Deletes the groups this run created, last first; a group that cannot be
// deleted is reported and the rest are still tried.
void UndoLoad(const Loader::ResourcePools& created) {
  for (auto pool = created.rbegin(); pool != created.rend(); ++pool) {
    try {
      Sched::DeleteGroup(Sched::GroupPathToId((*pool)->name));
    } catch (const Sched::Exception& e) {
      std::fprintf(stderr, "Failed to delete %s: %s\n", (*pool)->name.c_str(), e.what());
    }
  }
}

// Recreates the groups this run deleted, parents before children, with the
// allocations they had just before.
void UndoUnload(const Loader::ResourcePools& deleted) {
  for (auto pool = deleted.rbegin(); pool != deleted.rend(); ++pool) {
    try {
      Sched::CreateGroup((*pool)->name, (*pool)->mem, (*pool)->cpu);
    } catch (const Sched::Exception& e) {
      std::fprintf(stderr, "Failed to recreate %s: %s\n", (*pool)->name.c_str(), e.what());
    }
  }
}

}  // namespace

int LoadCommand(int argc, char** argv) {
  bool quiet = false;
  int status = ParseCommandOptions(argc, argv, "hq", kLoadUsage, false, [&](int) { quiet = true; });
  if (status != kKeepGoing) return status;
  // Held to the end: the undo must meet only this run's own creations.
  HostLock lock;
  // Ascending names: every parent is created before its children.
  Loader::ResourcePools pools = Loader::LoadResourcePools(Operands(argc, argv), false);
  Loader::ResourcePools created;
  for (const auto& pool : pools) {
    if (!pool->isEnabled) continue;  // annex pools included: they are never enabled
    try {
      Sched::CreateGroup(pool->name, pool->mem, pool->cpu);
      created.push_back(pool);
    } catch (const Sched::Exception& e) {
      if (e.status() != Sched::kStatusExists) {
        UndoLoad(created);
        throw;
      }
      // An existing group is left as it is, allocations included.
      if (!quiet) std::fprintf(stderr, "%s exists; skipping.\n", pool->name.c_str());
    }
  }
  return 0;
}

int UnloadCommand(int argc, char** argv) {
  int status = ParseCommandOptions(argc, argv, "h", kUnloadUsage, true);
  if (status != kKeepGoing) return status;
  // Held to the end: the undo recreates groups that nobody else may have
  // recreated or changed meanwhile.
  HostLock lock;
  // Descending names: children go before their parents.
  Loader::ResourcePools pools = Loader::LoadResourcePools(Operands(argc, argv), true);
  Loader::ResourcePools deleted;
  for (const auto& pool : pools) {
    try {
      Sched::GroupId id = Sched::GroupPathToId(pool->name);
      // Remember what the host had, so that an undo can put it back.
      Sched::GetMemAllocation(id, pool->mem);
      Sched::GetCpuAllocation(id, pool->cpu);
      Sched::DeleteGroup(id);
      deleted.push_back(pool);
    } catch (const Sched::Exception& e) {
      if (e.status() == Sched::kStatusNotFound) continue;
      UndoUnload(deleted);
      throw;
    }
  }
  return 0;
}
