// Scheduler group operations: the only road from the commands to the
// kernel's scheduler groups. Each operation builds its own parameter lists,
// makes its kernel call, frees the lists and returns or throws.
#ifndef SCHED_SCHED_H_
#define SCHED_SCHED_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/kernel_records.h"

namespace Sched {

using GroupId = uint64_t;

// Kernel statuses the commands tell apart.
constexpr uint32_t kStatusNotFound = 0x0BAD0003;  // no such group
constexpr uint32_t kStatusBusy = 0x0BAD0004;      // worlds still attached: retry later
constexpr uint32_t kStatusExists = 0x0BAD0005;    // the name is taken
constexpr uint32_t kStatusInUse = 0x0BAD0080;     // child groups remain: retry later

// The kernel's allocation records, byte for byte.
using MemAllocation = KernelRecords::MemAllocation;
using CpuAllocation = KernelRecords::CpuAllocation;

// A kernel failure: "context: status text", with the kernel status kept.
class Exception : public std::runtime_error {
 public:
  Exception(const std::string& context, uint32_t status);
  uint32_t status() const { return status_; }

 private:
  uint32_t status_;
};

GroupId GroupPathToId(const std::string& path);
std::string GroupIdToPath(GroupId id);
GroupId GetParentGroupId(GroupId id);
std::vector<GroupId> GetMemberGroups(GroupId id);

// Creates the group and applies both records; if applying them fails the new
// group is deleted again and "Initialize <path>" is thrown with the cause
// nested.
void CreateGroup(const std::string& path, const MemAllocation& mem, const CpuAllocation& cpu);
void DeleteGroup(GroupId id);

void GetMemAllocation(GroupId id, MemAllocation& mem);
void SetMemAllocation(GroupId id, const MemAllocation& mem);
void GetCpuAllocation(GroupId id, CpuAllocation& cpu);
void SetCpuAllocation(GroupId id, const CpuAllocation& cpu);

// Raise or lower the group's memory minimum and maximum by the amounts (MB).
void IncreaseMemMinMax(GroupId id, uint64_t minAmount, uint64_t maxAmount);
void DecreaseMemMinMax(GroupId id, uint64_t minAmount, uint64_t maxAmount);

}  // namespace Sched

#endif  // SCHED_SCHED_H_
