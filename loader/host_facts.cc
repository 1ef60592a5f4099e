#include "loader/host_facts.h"

#include <cstdint>

#include "kni.h"
#include "loader/exception.h"
#include "platform/kernel_records.h"

namespace Loader {
namespace {

using KernelRecords::FieldAt;

template <size_t N>
KernelRecords::Record<N> ReadOrThrow(KNI_Node node) {
  KernelRecords::Record<N> record;
  if (KernelRecords::ReadRecord(node, &record) != ZRV_OK) {
    throw Exception(YAML::Mark::null_mark(), "KNI_Get failed");
  }
  return record;
}

}  // namespace

const Calc::Variables& HostFacts() {
  // Each record is a static of its own: a read that throws leaves only that
  // record unread, and the records read before it are not read again.
  static const auto cpuInfo = ReadOrThrow<KNI_CPU_INFO_SIZE>(KNI_NODE_hardware_cpu_cpuInfo);
  static const auto bootOption = ReadOrThrow<KNI_BOOT_OPTION_SIZE>(KNI_NODE_system_bootOption);
  static const auto memory = ReadOrThrow<KNI_MEMORY_SIZE>(KNI_NODE_memory_comprehensive);
  static const auto supportedVms =
      ReadOrThrow<KNI_SUPPORTED_VMS_SIZE>(KNI_NODE_system_supportedVMs);
  static const Calc::Variables facts = {
      {"numPCPUs", FieldAt<uint32_t>(cpuInfo, KernelRecords::kCpuInfoNumPcpusAt)},
      {"maxVMs", FieldAt<uint32_t>(supportedVms, KernelRecords::kSupportedVmsMaxVmsAt)},
      {"isInstaller", FieldAt<uint8_t>(bootOption, KernelRecords::kBootOptionIsInstallerAt)},
      {"isVm", FieldAt<uint8_t>(cpuInfo, KernelRecords::kCpuInfoIsVmAt)},
      {"physKB", static_cast<double>(FieldAt<uint64_t>(memory, KernelRecords::kMemoryPhysKbAt))},
      // Kernel build switches that definitions may test; they always read
      // as off.
      {"zrvdefs.obx86_debug", 0},
      {"zrvdefs.GCOV_ZORVEK", 0},
  };
  return facts;
}

}  // namespace Loader
