// The kernel's records as this project reads and writes them: where each
// field it uses lies, the two allocation records byte for byte, the installed
// mark of definition files, and the one way a record is read. The host's own
// headers give only the records' sizes; the simulated host fills the same
// places.
#ifndef PLATFORM_KERNEL_RECORDS_H_
#define PLATFORM_KERNEL_RECORDS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "kni.h"

namespace KernelRecords {

// Host facts, little-endian and unaligned: the byte where each field starts.
constexpr size_t kCpuInfoNumPcpusAt = 24;        // uint32_t
constexpr size_t kCpuInfoIsVmAt = 36;            // uint8_t
constexpr size_t kBootOptionIsInstallerAt = 3;   // uint8_t
constexpr size_t kMemoryPhysKbAt = 0;            // uint64_t
constexpr size_t kSupportedVmsMaxVmsAt = 0;      // uint32_t

// A group's memory statistics: the peaks of its reserved minimum and of its
// children's, in KB.
constexpr size_t kStatsRminpeakKbAt = 317;       // uint64_t
constexpr size_t kStatsRminchildpeakKbAt = 382;  // uint64_t

// The allocation records, byte for byte: a read fills them in place and a
// pool definition hands its embedded copies straight to the kernel.
#pragma pack(push, 1)
struct MemAllocation {
  int64_t min;
  int64_t max;        // -1: unset
  int64_t shares;     // -1: unset, then not sent
  int64_t minLimit;   // -1: unset
  uint32_t reserved;  // filled by the kernel on reading; never sent
};

struct CpuAllocation {
  int32_t min;
  int32_t max;
  int32_t shares;
  int32_t minLimit;
  uint32_t reserved;
};
#pragma pack(pop)

static_assert(sizeof(MemAllocation) == KNI_MEM_ALLOCATION_SIZE, "memory record size");
static_assert(offsetof(MemAllocation, max) == 8 && offsetof(MemAllocation, shares) == 16 &&
                  offsetof(MemAllocation, minLimit) == 24 &&
                  offsetof(MemAllocation, reserved) == 32,
              "memory record layout");
static_assert(sizeof(CpuAllocation) == KNI_CPU_ALLOCATION_SIZE, "CPU record size");
static_assert(offsetof(CpuAllocation, max) == 4 && offsetof(CpuAllocation, shares) == 8 &&
                  offsetof(CpuAllocation, minLimit) == 12 &&
                  offsetof(CpuAllocation, reserved) == 16,
              "CPU record layout");

// Definition files are read only when they carry this extended attribute,
// set to the byte 1, as the host's installer leaves them. Linux keeps
// user-defined attributes in the "user." namespace.
inline constexpr char kInstalledAttribute[] = "user.lumen.installed";

template <size_t N>
using Record = std::array<unsigned char, N>;

// Reads the record of a node that takes no instance list, zeroed first;
// returns the kernel's status, which the caller words as its own.
template <size_t N>
ZRV_ReturnStatus ReadRecord(KNI_Node node, Record<N>* record) {
  record->fill(0);
  return KNI_Get(node, nullptr, record->data(), N);
}

// The field of type T at offset, copied out: the records are packed. An
// offset past the record's end is a fault of ours.
template <typename T, size_t N>
T FieldAt(const Record<N>& record, size_t offset) {
  static_assert(std::is_arithmetic<T>::value, "record fields are numbers");
  if (offset > N || N - offset < sizeof(T)) throw std::out_of_range("kernel record field");
  T value;
  std::memcpy(&value, record.data() + offset, sizeof value);
  return value;
}

}  // namespace KernelRecords

#endif  // PLATFORM_KERNEL_RECORDS_H_
