// disable takes pools out of service: it deletes their groups, or with -n
// keeps them with a zero memory allocation. Busy groups are retried every
// millisecond until the deadline.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "cli/commands.h"
#include "cli/definitions.h"
#include "common/host_lock.h"
#include "cli/options.h"
#include "loader/load.h"
#include "sched/sched.h"

namespace {

const char kUsage[] =
    "poolctl disable [flags] <rps...>\n"
    "    Disable and delete resource pools. A pool is disabled by having its\n"
    "    minimum and maximum memory allocation set to zero.\n"
    "Flags:\n"
    "    -w <seconds>    Optionally, wait upto <seconds> per resource pool,\n"
    "                    for it to become unused.\n"
    "    -n              Only disable, do not delete. Not applicable to\n"
    "                    annex groups.\n";

constexpr useconds_t kRetryPauseMicros = 1000;

// Deletes an annex group after handing its memory back to the parent. If the
// deletion fails the parent gets the memory again, and the failure is handled
// like any other: a busy group is waited for, anything else reported.
void DisableAnnex(Sched::GroupId id, const Loader::ResourcePoolImpl& pool) {
  Sched::GroupId parent = Sched::GetParentGroupId(id);
  uint64_t reserved = static_cast<uint64_t>(pool.mem.max);
  Sched::DecreaseMemMinMax(parent, reserved, 0);
  try {
    Sched::DeleteGroup(id);
  } catch (const Sched::Exception&) {
    Sched::IncreaseMemMinMax(parent, reserved, 0);
    throw;
  }
}

// One attempt for one name. Returns true when the name is done, false when
// its group is busy and the attempt should be repeated.
bool TryDisable(const std::string& name, const Loader::ResourcePools& definitions, bool deleteGroup,
                time_t deadline) {
  std::shared_ptr<Loader::ResourcePoolImpl> pool = FindDefinition(name, definitions);
  try {
    Sched::GroupId id = Sched::GroupPathToId(name);
    if (pool->annex) {
      DisableAnnex(id, *pool);
    } else if (deleteGroup) {
      Sched::DeleteGroup(id);
    } else {
      const Sched::MemAllocation zero = {0, 0, 0, 0, 0};
      Sched::SetMemAllocation(id, zero);
    }
    return true;
  } catch (const Sched::Exception& e) {
    switch (e.status()) {
      case Sched::kStatusNotFound:
        std::printf("%s: %s\n", name.c_str(), e.what());
        return true;
      case Sched::kStatusBusy:
      case Sched::kStatusInUse:
        if (time(nullptr) > deadline) throw Sched::Exception(name, Sched::kStatusBusy);
        return false;
      default:
        std::fprintf(stderr, "%s: %s\n", name.c_str(), e.what());
        throw;
    }
  }
}

// One attempt under the host lock. The lock is not kept over the pause, so a
// long wait for a busy group never holds up other poolctl processes.
bool DisableOnce(const std::string& name, const Loader::ResourcePools& definitions,
                 bool deleteGroup, time_t deadline) {
  HostLock lock;
  return TryDisable(name, definitions, deleteGroup, deadline);
}

}  // namespace

int DisableCommand(int argc, char** argv) {
  bool deleteGroup = true;
  time_t deadline = 0;  // lies in the past: no waiting
  int status = ParseCommandOptions(argc, argv, "hnw:", kUsage, false, [&](int opt) {
    if (opt == 'n') {
      deleteGroup = false;
    } else {
      // Fixed once for the whole run. Text that is no number counts as 0,
      // which still retries until the current second is over.
      deadline = time(nullptr) + static_cast<int32_t>(std::strtol(optarg, nullptr, 10));
    }
  });
  if (status == kKeepGoing) status = RequireOperands(argc, kUsage);
  if (status != kKeepGoing) return status;
  Loader::ResourcePools definitions = Loader::LoadResourcePools({}, false);
  for (int i = optind; i < argc; ++i) {
    while (!DisableOnce(argv[i], definitions, deleteGroup, deadline)) usleep(kRetryPauseMicros);
  }
  return 0;
}
