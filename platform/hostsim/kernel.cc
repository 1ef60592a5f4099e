#include "platform/hostsim/kernel.h"

#include <algorithm>
#include <cstring>

#include "platform/hostsim/text.h"
#include "platform/kernel_records.h"

// Node numbers: the system's nodes from 0x0100, the scheduler's from 0x0200.
extern "C" {
const KNI_Node KNI_NODE_system_bootCmdLine = 0x0101;
const KNI_Node KNI_NODE_system_bootOption = 0x0102;
const KNI_Node KNI_NODE_hardware_cpu_cpuInfo = 0x0103;
const KNI_Node KNI_NODE_memory_comprehensive = 0x0104;
const KNI_Node KNI_NODE_system_supportedVMs = 0x0105;
const KNI_Node KNI_NODE_sched_groupPathNameToID = 0x0201;
const KNI_Node KNI_NODE_sched_groups_groupPathName = 0x0202;
const KNI_Node KNI_NODE_sched_groups_parentGroupID = 0x0203;
const KNI_Node KNI_NODE_sched_groups_members_groups = 0x0204;
const KNI_Node KNI_NODE_sched_groups_groupCreate = 0x0205;
const KNI_Node KNI_NODE_sched_groups_delete = 0x0206;
const KNI_Node KNI_NODE_sched_groups_memAllocationInMB = 0x0207;
const KNI_Node KNI_NODE_sched_groups_cpuAllocationInPct = 0x0208;
const KNI_Node KNI_NODE_sched_groups_increaseMemMinMaxInMB = 0x0209;
const KNI_Node KNI_NODE_sched_groups_decreaseMemMinMaxInMB = 0x020A;
const KNI_Node KNI_NODE_sched_groups_stats_memoryStats = 0x020B;
}

namespace hostsim {
namespace {

using Status = uint32_t;
using Record = std::vector<unsigned char>;

// The kernel fills the trailing word of both allocation records with this
// mark; a caller that sends a record back unchanged can be told from one that
// zeroes it.
constexpr uint32_t kAllocationTrailer = 0x00004D42;

// What fault rules with a path match a call of the node against.
enum class Subject { kNone, kInstance, kNewChild, kLookedUp };

struct NodeDef {
  KNI_Node number;
  const char* name;
  Subject subject;
  Status (*get)(State&, const KernelCall&);
  Status (*set)(State&, const KernelCall&);
  Status (*alloc)(State&, const KernelCall&, std::vector<uint64_t>*);
};

void PutLE(unsigned char* at, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

bool IsInputList(const KNI_ParamList* list) {
  return list != nullptr && list->kind == KNI_PARAM_LIST_INPUT;
}
bool OneText(const KNI_ParamList* list) { return IsInputList(list) && list->texts.size() == 1; }
// Group nodes take an instance list holding exactly the group's id.
bool OneId(const KNI_ParamList* list) {
  return list != nullptr && list->kind == KNI_PARAM_LIST_INSTANCE && list->ints.size() == 1;
}
bool OutIs(const KernelCall& c, uint32_t size) { return c.out != nullptr && c.outSize == size; }

Status Deliver(const KernelCall& c, const Record& record) {
  std::memcpy(c.out, record.data(), record.size());
  return ZRV_OK;
}

Status InstanceGroup(State& state, const KernelCall& c, Group* group) {
  if (!OneId(c.instances)) return ZRV_BAD_PARAM;
  std::optional<Group> found = state.groups().Find(c.instances->ints[0]);
  if (!found) return ZRV_NOT_FOUND;
  *group = std::move(*found);
  return ZRV_OK;
}

// Host facts: no instance list, a buffer of exactly the record's size.
template <uint32_t kSize, void (*Fill)(const Facts&, unsigned char*)>
Status GetFact(State& state, const KernelCall& c) {
  if (c.instances != nullptr || !OutIs(c, kSize)) return ZRV_BAD_PARAM;
  Record record(kSize, 0);
  Fill(state.settings().GetFacts(), record.data());
  return Deliver(c, record);
}

void FillBootCmdLine(const Facts& f, unsigned char* r) {
  std::memcpy(r, f.bootCmdLine.data(),
              std::min<size_t>(f.bootCmdLine.size(), KNI_BOOT_CMDLINE_SIZE - 1));
}
void FillBootOption(const Facts& f, unsigned char* r) {
  r[KernelRecords::kBootOptionIsInstallerAt] = f.isInstaller;
}
void FillCpuInfo(const Facts& f, unsigned char* r) {
  PutLE(r + KernelRecords::kCpuInfoNumPcpusAt, f.numPCPUs, 4);
  r[KernelRecords::kCpuInfoIsVmAt] = f.isVm;
}
void FillMemory(const Facts& f, unsigned char* r) {
  PutLE(r + KernelRecords::kMemoryPhysKbAt, f.physKB, 8);
}
void FillSupportedVMs(const Facts& f, unsigned char* r) {
  PutLE(r + KernelRecords::kSupportedVmsMaxVmsAt, f.maxVMs, 4);
}

// Records of one group: its id as instance, a buffer of exactly the size.
template <uint32_t kSize, Status (*Fill)(const Group&, unsigned char*)>
Status GetGroupRecord(State& state, const KernelCall& c) {
  if (!OutIs(c, kSize)) return ZRV_BAD_PARAM;
  Group group;
  if (Status status = InstanceGroup(state, c, &group)) return status;
  Record record(kSize, 0);
  if (Status status = Fill(group, record.data())) return status;
  return Deliver(c, record);
}

Status FillPathName(const Group& g, unsigned char* r) {
  std::memcpy(r, g.path.data(), std::min<size_t>(g.path.size(), KNI_GROUP_PATH_SIZE - 1));
  return ZRV_OK;
}
Status FillParentId(const Group& g, unsigned char* r) {
  if (!g.parent) return ZRV_NOT_FOUND;  // the root has none
  PutLE(r, *g.parent, 8);
  return ZRV_OK;
}
// The group's memory or CPU record; the CPU record keeps each field in its
// low 32 bits.
template <Allocation Group::*kRecord>
Status FillAllocation(const Group& g, unsigned char* r) {
  using Record = std::conditional_t<kRecord == &Group::cpu, KernelRecords::CpuAllocation,
                                    KernelRecords::MemAllocation>;
  using Field = decltype(Record::min);
  const Allocation& a = g.*kRecord;
  const Record record = {static_cast<Field>(a.min), static_cast<Field>(a.max),
                         static_cast<Field>(a.shares), static_cast<Field>(a.minLimit),
                         kAllocationTrailer};
  std::memcpy(r, &record, sizeof record);
  return ZRV_OK;
}
Status FillMemoryStats(const Group& g, unsigned char* r) {
  PutLE(r + KernelRecords::kStatsRminpeakKbAt, g.rminpeakKB, 8);
  PutLE(r + KernelRecords::kStatsRminchildpeakKbAt, g.rminchildpeakKB, 8);
  return ZRV_OK;
}

Status SetPathToId(State& state, const KernelCall& c) {
  if (c.instances != nullptr || !OneText(c.inputs) || !OutIs(c, 8)) return ZRV_BAD_PARAM;
  // Paths are stored whole, and no name holds "/", so a path with an empty
  // component ("host//opt", "host/") matches no group.
  std::optional<Group> group = state.groups().Find(c.inputs->texts[0]);
  if (!group) return ZRV_NOT_FOUND;
  Record record(8);
  PutLE(record.data(), group->id, 8);
  return Deliver(c, record);
}

Status SetCreate(State& state, const KernelCall& c) {
  if (!OneText(c.inputs) || !OutIs(c, 8)) return ZRV_BAD_PARAM;
  Group parent;
  if (Status status = InstanceGroup(state, c, &parent)) return status;
  uint64_t id = 0;
  if (Status status =
          CreateChild(state, parent, c.inputs->texts[0], kNewGroupMem, kNewGroupCpu, &id)) {
    return status;
  }
  Record record(8);
  PutLE(record.data(), id, 8);
  return Deliver(c, record);
}

Status SetDelete(State& state, const KernelCall& c) {
  if (c.inputs != nullptr || c.outSize != 0) return ZRV_BAD_PARAM;
  Group group;
  if (Status status = InstanceGroup(state, c, &group)) return status;
  if (group.path.empty() || group.path == "host") return ZRV_BAD_PARAM;
  if (group.worlds > 0) return ZRV_BUSY;
  if (!state.groups().ChildIds(group.id).empty()) return ZRV_GROUP_IN_USE;
  state.groups().DeleteSubtree(group);
  return ZRV_OK;
}

// "key=value": the key is everything before the first "=".
bool SplitKey(const std::string& text, std::string_view* key, std::string_view* value) {
  size_t eq = text.find('=');
  if (eq == std::string::npos) return false;
  *key = std::string_view(text).substr(0, eq);
  *value = std::string_view(text).substr(eq + 1);
  return true;
}

int64_t* AllocationField(Allocation& a, std::string_view key) {
  if (key == "min") return &a.min;
  if (key == "max") return &a.max;
  if (key == "minLimit") return &a.minLimit;
  if (key == "shares") return &a.shares;
  return nullptr;
}

// The keys sent are applied to a copy, and the copy is checked whole, so a
// refused call changes nothing, not even the keys before the bad one.
template <bool kCpu>
Status SetAllocation(State& state, const KernelCall& c) {
  if (!IsInputList(c.inputs) || c.outSize != 0) return ZRV_BAD_PARAM;
  Group group;
  if (Status status = InstanceGroup(state, c, &group)) return status;
  const int64_t lo = kCpu ? INT32_MIN : INT64_MIN;
  const int64_t hi = kCpu ? INT32_MAX : INT64_MAX;
  Allocation& record = kCpu ? group.cpu : group.mem;
  Allocation next = record;
  for (const std::string& text : c.inputs->texts) {
    std::string_view key, digits;
    if (!SplitKey(text, &key, &digits)) return ZRV_BAD_PARAM;
    int64_t* field = AllocationField(next, key);
    std::optional<int64_t> value = ParseSigned(digits, lo, hi, Radix::kDecimal);
    if (field == nullptr || !value) return ZRV_BAD_PARAM;
    *field = *value;
  }
  if (next.min < 0 || (next.max != -1 && next.max < next.min)) return ZRV_BAD_PARAM;
  record = next;
  state.groups().Update(group);
  return ZRV_OK;
}

// Moves one bound by amount (sign +1 or -1); none when it would leave the
// field's range or fall below 0.
std::optional<int64_t> Shift(int64_t bound, uint64_t amount, int sign) {
  __int128 moved = static_cast<__int128>(bound) + sign * static_cast<__int128>(amount);
  if (moved < 0 || moved > INT64_MAX) return std::nullopt;
  return static_cast<int64_t>(moved);
}

// An unset maximum (-1) stays unset whatever the amount.
template <int kSign>
Status SetShiftMemory(State& state, const KernelCall& c) {
  if (!IsInputList(c.inputs) || c.outSize != 0) return ZRV_BAD_PARAM;
  Group group;
  if (Status status = InstanceGroup(state, c, &group)) return status;
  uint64_t minAmount = 0, maxAmount = 0;
  for (const std::string& text : c.inputs->texts) {
    std::string_view key, digits;
    if (!SplitKey(text, &key, &digits)) return ZRV_BAD_PARAM;
    std::optional<uint64_t> amount = ParseUnsigned(digits, UINT64_MAX, Radix::kDecimal);
    uint64_t* field = key == "min" ? &minAmount : key == "max" ? &maxAmount : nullptr;
    if (field == nullptr || !amount) return ZRV_BAD_PARAM;
    *field = *amount;
  }
  std::optional<int64_t> min = Shift(group.mem.min, minAmount, kSign);
  std::optional<int64_t> max =
      group.mem.max == -1 ? std::optional<int64_t>(-1) : Shift(group.mem.max, maxAmount, kSign);
  if (!min || !max) return ZRV_BAD_PARAM;
  group.mem.min = *min;
  group.mem.max = *max;
  state.groups().Update(group);
  return ZRV_OK;
}

Status AllocMembers(State& state, const KernelCall& c, std::vector<uint64_t>* members) {
  if (c.listOut == nullptr) return ZRV_BAD_PARAM;
  Group group;
  if (Status status = InstanceGroup(state, c, &group)) return status;
  *members = state.groups().ChildIds(group.id);
  return ZRV_OK;
}

// A node's number and its name without "KNI_NODE_".
#define NODE(name) KNI_NODE_##name, #name

const NodeDef kNodes[] = {
    {NODE(system_bootCmdLine), Subject::kNone, GetFact<KNI_BOOT_CMDLINE_SIZE, FillBootCmdLine>,
     nullptr, nullptr},
    {NODE(system_bootOption), Subject::kNone, GetFact<KNI_BOOT_OPTION_SIZE, FillBootOption>,
     nullptr, nullptr},
    {NODE(hardware_cpu_cpuInfo), Subject::kNone, GetFact<KNI_CPU_INFO_SIZE, FillCpuInfo>, nullptr,
     nullptr},
    {NODE(memory_comprehensive), Subject::kNone, GetFact<KNI_MEMORY_SIZE, FillMemory>, nullptr,
     nullptr},
    {NODE(system_supportedVMs), Subject::kNone, GetFact<KNI_SUPPORTED_VMS_SIZE, FillSupportedVMs>,
     nullptr, nullptr},
    {NODE(sched_groupPathNameToID), Subject::kLookedUp, nullptr, SetPathToId, nullptr},
    {NODE(sched_groups_groupPathName), Subject::kInstance,
     GetGroupRecord<KNI_GROUP_PATH_SIZE, FillPathName>, nullptr, nullptr},
    {NODE(sched_groups_parentGroupID), Subject::kInstance, GetGroupRecord<8, FillParentId>, nullptr,
     nullptr},
    {NODE(sched_groups_members_groups), Subject::kInstance, nullptr, nullptr, AllocMembers},
    {NODE(sched_groups_groupCreate), Subject::kNewChild, nullptr, SetCreate, nullptr},
    {NODE(sched_groups_delete), Subject::kInstance, nullptr, SetDelete, nullptr},
    {NODE(sched_groups_memAllocationInMB), Subject::kInstance,
     GetGroupRecord<KNI_MEM_ALLOCATION_SIZE, FillAllocation<&Group::mem>>,
     SetAllocation<false>, nullptr},
    {NODE(sched_groups_cpuAllocationInPct), Subject::kInstance,
     GetGroupRecord<KNI_CPU_ALLOCATION_SIZE, FillAllocation<&Group::cpu>>,
     SetAllocation<true>, nullptr},
    {NODE(sched_groups_increaseMemMinMaxInMB), Subject::kInstance, nullptr, SetShiftMemory<+1>,
     nullptr},
    {NODE(sched_groups_decreaseMemMinMaxInMB), Subject::kInstance, nullptr, SetShiftMemory<-1>,
     nullptr},
    {NODE(sched_groups_stats_memoryStats), Subject::kInstance,
     GetGroupRecord<KNI_MEMORY_STATS_SIZE, FillMemoryStats>, nullptr, nullptr},
};

#undef NODE

const NodeDef* FindNode(KNI_Node number) {
  for (const NodeDef& def : kNodes) {
    if (def.number == number) return &def;
  }
  return nullptr;
}

}  // namespace

const char* NodeName(KNI_Node node) {
  const NodeDef* def = FindNode(node);
  return def != nullptr ? def->name : nullptr;
}

bool IsNodeName(const std::string& name) {
  return std::any_of(std::begin(kNodes), std::end(kNodes),
                     [&](const NodeDef& def) { return name == def.name; });
}

std::optional<std::string> SubjectPath(State& state, const KernelCall& c) {
  const NodeDef* def = FindNode(c.node);
  if (def == nullptr || def->subject == Subject::kNone) return std::nullopt;
  if (def->subject == Subject::kLookedUp) {
    if (!OneText(c.inputs)) return std::nullopt;
    return c.inputs->texts[0];
  }
  if (!OneId(c.instances)) return std::nullopt;
  std::optional<Group> group = state.groups().Find(c.instances->ints[0]);
  if (!group) return std::nullopt;
  if (def->subject == Subject::kInstance) return group->path;
  if (!OneText(c.inputs)) return std::nullopt;
  return ChildPath(group->path, c.inputs->texts[0]);
}

uint32_t Perform(State& state, const KernelCall& c, std::vector<uint64_t>* members) {
  const NodeDef* def = FindNode(c.node);
  if (def == nullptr) return ZRV_BAD_PARAM;
  switch (c.kind) {
    case CallKind::kGet:
      return def->get != nullptr ? def->get(state, c) : ZRV_BAD_PARAM;
    case CallKind::kSet:
      return def->set != nullptr ? def->set(state, c) : ZRV_BAD_PARAM;
    case CallKind::kGetInstanceListAlloc:
      return def->alloc != nullptr ? def->alloc(state, c, members) : ZRV_BAD_PARAM;
  }
  return ZRV_BAD_PARAM;
}

uint32_t CreateChild(State& state, const Group& parent, const std::string& name,
                     const Allocation& mem, const Allocation& cpu, uint64_t* id) {
  if (name.empty() || name.find('/') != std::string::npos) return ZRV_BAD_PARAM;
  // Every path must come back whole, NUL included, from the path-name node.
  if (ChildPath(parent.path, name).size() >= KNI_GROUP_PATH_SIZE) return ZRV_NAME_TOO_LONG;
  if (state.groups().Find(ChildPath(parent.path, name))) return ZRV_EXISTS;
  *id = state.groups().Add(parent, name, mem, cpu);
  return ZRV_OK;
}

}  // namespace hostsim
