// Reading the scheduler groups from the host and judging them against the
// definitions. Only reading kernel calls are made here.
#ifndef DRIFT_LIVE_H_
#define DRIFT_LIVE_H_

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "drift/drift.h"
#include "loader/load.h"

namespace Drift {

// The group's allocations, or nothing when there is no such group (also when
// it vanishes while it is read). Other kernel failures throw Sched::Exception.
std::optional<Allocation> ReadGroup(const std::string& path);

// Every group below the one at path, at any depth, in no particular order;
// none when that group does not exist. More than limit groups is a
// std::runtime_error rather than an endless walk.
std::vector<Group> ReadGroupsBelow(const std::string& path, size_t limit);

// What the loaded definitions declare, in their order.
std::vector<Pool> Declarations(const Loader::ResourcePools& loaded);

// Every pool's group and every group below host/opt, read and compared with
// the pools. The report points into pools, which must outlive it.
Report JudgeHost(const std::vector<Pool>& pools);

}  // namespace Drift

#endif  // DRIFT_LIVE_H_
