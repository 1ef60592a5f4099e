// Reading the scheduler groups from the host. Only reading kernel calls are
// made here: poolstat never changes the host.
#ifndef POOLSTAT_LIVE_H_
#define POOLSTAT_LIVE_H_

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "poolstat/drift.h"

namespace Poolstat {

// The group's allocations, or nothing when there is no such group (also when
// it vanishes while it is read). Other kernel failures throw Sched::Exception.
std::optional<Allocation> ReadGroup(const std::string& path);

// Every group below the one at path, at any depth, in no particular order;
// none when that group does not exist. More than limit groups is a
// std::runtime_error rather than an endless walk.
std::vector<Group> ReadGroupsBelow(const std::string& path, size_t limit);

}  // namespace Poolstat

#endif  // POOLSTAT_LIVE_H_
