#include "loader/host_facts.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "kni.h"
#include "loader/exception.h"

namespace Loader {
namespace {

template <size_t N>
using Record = std::array<unsigned char, N>;

template <size_t N>
Record<N> ReadRecord(KNI_Node node) {
  Record<N> record{};
  if (KNI_Get(node, nullptr, record.data(), N) != ZRV_OK) {
    throw Exception(YAML::Mark::null_mark(), "KNI_Get failed");
  }
  return record;
}

// The records are packed; fields are copied out rather than cast in place.
template <typename T, size_t N>
double FieldAt(const Record<N>& record, size_t offset) {
  static_assert(std::is_unsigned<T>::value, "host facts are unsigned");
  T value;
  std::memcpy(&value, record.data() + offset, sizeof value);
  return static_cast<double>(value);
}

}  // namespace

const Calc::Variables& HostFacts() {
  // Each record is a static of its own: a read that throws leaves only that
  // record unread, and the records read before it are not read again.
  static const auto cpuInfo = ReadRecord<KNI_CPU_INFO_SIZE>(KNI_NODE_hardware_cpu_cpuInfo);
  static const auto bootOption = ReadRecord<KNI_BOOT_OPTION_SIZE>(KNI_NODE_system_bootOption);
  static const auto memory = ReadRecord<KNI_MEMORY_SIZE>(KNI_NODE_memory_comprehensive);
  static const auto supportedVms =
      ReadRecord<KNI_SUPPORTED_VMS_SIZE>(KNI_NODE_system_supportedVMs);
  static const Calc::Variables facts = {
      {"numPCPUs", FieldAt<uint32_t>(cpuInfo, 24)},
      {"maxVMs", FieldAt<uint32_t>(supportedVms, 0)},
      {"isInstaller", FieldAt<uint8_t>(bootOption, 3)},
      {"isVm", FieldAt<uint8_t>(cpuInfo, 36)},
      {"physKB", FieldAt<uint64_t>(memory, 0)},
      // Kernel build switches that definitions may test; they always read
      // as off.
      {"zrvdefs.obx86_debug", 0},
      {"zrvdefs.GCOV_ZORVEK", 0},
  };
  return facts;
}

}  // namespace Loader
