// kni_probe: makes kernel calls in a process of its own, for the tool's
// end-to-end tests (fault rules, traces, leaks and several processes at
// once). Each argument is one step; each step prints one line, beginning with
// the status of its kernel call.
//
//   lookup:PATH          path to id          create:PARENT_ID:NAME  new group
//   getmem:ID            memory record       setmem:ID:KEY=N,...    set memory keys
//   members:ID           child ids           delete:ID              delete group
//   checksig             signature check     leak:N                 N lists never destroyed
//   facts                host facts and boot command line
//   stats:ID             memory statistics (KB)
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kni.h"
#include "platform/kernel_records.h"

namespace {

struct ListDeleter {
  void operator()(KNI_ParamList* list) const { KNI_ParamListDestroy(list); }
};
using List = std::unique_ptr<KNI_ParamList, ListDeleter>;

std::vector<std::string> Split(const std::string& text, char sep, size_t maxParts) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (parts.size() + 1 < maxParts) {
    size_t at = text.find(sep, start);
    if (at == std::string::npos) break;
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

uint64_t Number(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 0); }

// A list holding the id or the texts; *status tells why there is none.
List Instance(uint64_t id, uint32_t* status) {
  List list(KNI_ParamListCreate(KNI_PARAM_LIST_INSTANCE, 1));
  *status = list ? KNI_ParamListAddInt(list.get(), id) : ZRV_NO_MEMORY;
  if (*status != ZRV_OK) list.reset();
  return list;
}

List Inputs(const std::vector<std::string>& texts, uint32_t* status) {
  List list(KNI_ParamListCreate(KNI_PARAM_LIST_INPUT, static_cast<uint32_t>(texts.size())));
  *status = list ? ZRV_OK : ZRV_NO_MEMORY;
  for (size_t i = 0; *status == ZRV_OK && i < texts.size(); ++i) {
    *status = KNI_ParamListAddString(list.get(), texts[i].c_str());
  }
  if (*status != ZRV_OK) list.reset();
  return list;
}

// The steps on a group, which make its instance list first, and their parts.
const std::map<std::string, size_t> kGroupSteps = {{"create", 3}, {"getmem", 2}, {"setmem", 3},
                                                   {"members", 2}, {"delete", 2}, {"stats", 2}};

// Runs one step: *status is its kernel call's, or that of the list call that
// failed before it; returns what the step read.
std::string Step(const std::vector<std::string>& s, uint32_t* status) {
  const std::string& op = s[0];
  auto groupStep = kGroupSteps.find(op);
  List inst;
  if (groupStep != kGroupSteps.end() && groupStep->second == s.size()) {
    inst = Instance(Number(s[1]), status);
    if (!inst) return "";
  }
  if ((op == "lookup" && s.size() == 2) || (op == "create" && inst)) {
    // Both send a path or a name and read a group's id back.
    const KNI_Node node =
        inst ? KNI_NODE_sched_groups_groupCreate : KNI_NODE_sched_groupPathNameToID;
    List in = Inputs({s.back()}, status);
    uint64_t id = 0;
    if (in) *status = KNI_Set(node, inst.get(), in.get(), &id, sizeof id);
    return *status == ZRV_OK ? std::to_string(id) : "";
  }
  if (op == "getmem" && inst) {
    KernelRecords::MemAllocation rec;
    *status = KNI_Get(KNI_NODE_sched_groups_memAllocationInMB, inst.get(), &rec, sizeof rec);
    if (*status != ZRV_OK) return "";
    char text[128];
    snprintf(text, sizeof text, "%" PRId64 ",%" PRId64 ",%" PRId64 ",%" PRId64 " 0x%08" PRIX32,
             rec.min, rec.max, rec.shares, rec.minLimit, rec.reserved);
    return text;
  }
  if (op == "setmem" && inst) {
    List in = Inputs(Split(s[2], ',', SIZE_MAX), status);
    if (in)
      *status = KNI_Set(KNI_NODE_sched_groups_memAllocationInMB, inst.get(), in.get(), nullptr, 0);
    return "";
  }
  if (op == "members" && inst) {
    KNI_ParamList* raw = nullptr;
    *status = KNI_GetInstanceListAlloc(KNI_NODE_sched_groups_members_groups, inst.get(), &raw);
    List members(raw);
    std::string ids;
    for (uint32_t i = 0; *status == ZRV_OK && i < KNI_ParamListUsedCount(members.get()); ++i) {
      uint64_t id = 0;
      *status = KNI_ParamListGetUInt64(members.get(), i, &id);
      if (*status == ZRV_OK) ids += (i == 0 ? "" : ",") + std::to_string(id);
    }
    return ids;
  }
  if (op == "delete" && inst) {
    *status = KNI_Set(KNI_NODE_sched_groups_delete, inst.get(), nullptr, nullptr, 0);
    return "";
  }
  if (op == "checksig" && s.size() == 1) {
    char kernel[KNI_BUILD_DATE_SIZE] = {};
    const char* tool = nullptr;
    *status = KNI_CheckSig(kernel, sizeof kernel, &tool);
    return std::string(kernel) + "|" + (tool != nullptr ? tool : "");
  }
  if (op == "facts" && s.size() == 1) {
    KernelRecords::Record<KNI_CPU_INFO_SIZE> cpu;
    KernelRecords::Record<KNI_BOOT_OPTION_SIZE> boot;
    KernelRecords::Record<KNI_MEMORY_SIZE> mem;
    KernelRecords::Record<KNI_SUPPORTED_VMS_SIZE> vms;
    auto cmdline = std::make_unique<KernelRecords::Record<KNI_BOOT_CMDLINE_SIZE>>();
    using namespace KernelRecords;
    *status = ReadRecord(KNI_NODE_hardware_cpu_cpuInfo, &cpu);
    if (*status == ZRV_OK) *status = ReadRecord(KNI_NODE_system_bootOption, &boot);
    if (*status == ZRV_OK) *status = ReadRecord(KNI_NODE_memory_comprehensive, &mem);
    if (*status == ZRV_OK) *status = ReadRecord(KNI_NODE_system_supportedVMs, &vms);
    if (*status == ZRV_OK) *status = ReadRecord(KNI_NODE_system_bootCmdLine, cmdline.get());
    if (*status != ZRV_OK) return "";
    return "cpus=" + std::to_string(FieldAt<uint32_t>(cpu, kCpuInfoNumPcpusAt)) +
           " vm=" + std::to_string(FieldAt<uint8_t>(cpu, kCpuInfoIsVmAt)) +
           " installer=" + std::to_string(FieldAt<uint8_t>(boot, kBootOptionIsInstallerAt)) +
           " memkb=" + std::to_string(FieldAt<uint64_t>(mem, kMemoryPhysKbAt)) +
           " maxvms=" + std::to_string(FieldAt<uint32_t>(vms, kSupportedVmsMaxVmsAt)) +
           " cmdline=" + reinterpret_cast<const char*>(cmdline->data());
  }
  if (op == "stats" && inst) {
    KernelRecords::Record<KNI_MEMORY_STATS_SIZE> buf{};
    *status = KNI_Get(KNI_NODE_sched_groups_stats_memoryStats, inst.get(), buf.data(), buf.size());
    if (*status != ZRV_OK) return "";
    using namespace KernelRecords;
    return std::to_string(FieldAt<uint64_t>(buf, kStatsRminpeakKbAt)) + "," +
           std::to_string(FieldAt<uint64_t>(buf, kStatsRminchildpeakKbAt));
  }
  if (op == "leak" && s.size() == 2) {
    *status = ZRV_OK;
    for (uint64_t i = Number(s[1]); i > 0; --i) {
      if (KNI_ParamListCreate(KNI_PARAM_LIST_INSTANCE, 1) == nullptr) *status = ZRV_NO_MEMORY;
    }
    return "";
  }
  fprintf(stderr, "kni_probe: unknown step %s\n", op.c_str());
  exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    uint32_t status = ZRV_FAILURE;
    std::string rest = Step(Split(argv[i], ':', 3), &status);
    printf("0x%08" PRIX32 "%s%s\n", status, rest.empty() ? "" : " ", rest.c_str());
  }
  return 0;
}
