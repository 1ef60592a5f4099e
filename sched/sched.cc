#include "sched/sched.h"

#include <cstring>
#include <exception>

#include "kni.h"
#include "sched/param_list.h"

namespace Sched {
namespace {

// Turns a nonzero status into the exception that names the call.
void Check(ZRV_ReturnStatus status, const char* call) {
  if (status != ZRV_OK) throw Exception(call, status);
}

ParamList CreateList(uint32_t kind, uint32_t capacity) {
  ParamList list = MakeParamList(kind, capacity);
  if (!list) throw Exception("KNI_ParamListCreate", ZRV_NO_MEMORY);
  return list;
}

ParamList InstanceList() { return CreateList(KNI_PARAM_LIST_INSTANCE, 1); }

void AddId(const ParamList& list, GroupId id) {
  Check(KNI_ParamListAddInt(list.get(), id), "KNI_ParamListAddInt");
}

void AddText(const ParamList& list, const char* text) {
  Check(KNI_ParamListAddString(list.get(), text), "KNI_ParamListAddString");
}

// Adds one "key=decimal" text; the text lives only until it is added.
template <typename T>
void AddKey(const ParamList& list, const char* key, T value) {
  AddText(list, (std::string(key) + "=" + std::to_string(value)).c_str());
}

// Reads a fixed-size record of one group.
void GetRecord(KNI_Node node, GroupId id, void* out, uint32_t size) {
  ParamList instance = InstanceList();
  AddId(instance, id);
  Check(KNI_Get(node, instance.get(), out, size), "KNI_Get");
}

// Sends key texts to one group; keys() adds them to the input list.
template <typename AddKeys>
void SetKeys(KNI_Node node, GroupId id, uint32_t capacity, AddKeys keys) {
  ParamList instance = InstanceList();
  ParamList input = CreateList(KNI_PARAM_LIST_INPUT, capacity);
  AddId(instance, id);
  keys(input);
  Check(KNI_Set(node, instance.get(), input.get(), nullptr, 0), "KNI_Set");
}

void ChangeMemMinMax(KNI_Node node, GroupId id, uint64_t minAmount, uint64_t maxAmount) {
  SetKeys(node, id, 2, [&](const ParamList& input) {
    AddKey(input, "min", minAmount);
    AddKey(input, "max", maxAmount);
  });
}

// Memory and CPU records alike; unset shares (-1) are not sent, so the
// kernel keeps what the group has.
template <typename Record>
void SetAllocation(KNI_Node node, GroupId id, const Record& record) {
  SetKeys(node, id, 4, [&](const ParamList& input) {
    AddKey(input, "min", record.min);
    AddKey(input, "max", record.max);
    AddKey(input, "minLimit", record.minLimit);
    if (record.shares != -1) AddKey(input, "shares", record.shares);
  });
}

}  // namespace

Exception::Exception(const std::string& context, uint32_t status)
    : std::runtime_error(context + ": " + ZRV_ReturnStatusToString(status)), status_(status) {}

GroupId GroupPathToId(const std::string& path) {
  ParamList input = CreateList(KNI_PARAM_LIST_INPUT, 1);
  AddText(input, path.c_str());
  GroupId id = 0;
  Check(KNI_Set(KNI_NODE_sched_groupPathNameToID, nullptr, input.get(), &id, sizeof id),
        "KNI_Set");
  return id;
}

std::string GroupIdToPath(GroupId id) {
  char path[KNI_GROUP_PATH_SIZE] = {};
  GetRecord(KNI_NODE_sched_groups_groupPathName, id, path, sizeof path);
  // A kernel that fills the whole buffer without a NUL must not make us read past it.
  return std::string(path, strnlen(path, sizeof path));
}

GroupId GetParentGroupId(GroupId id) {
  GroupId parent = 0;
  GetRecord(KNI_NODE_sched_groups_parentGroupID, id, &parent, sizeof parent);
  return parent;
}

std::vector<GroupId> GetMemberGroups(GroupId id) {
  ParamList instance = InstanceList();
  AddId(instance, id);
  KNI_ParamList* raw = nullptr;
  ZRV_ReturnStatus status =
      KNI_GetInstanceListAlloc(KNI_NODE_sched_groups_members_groups, instance.get(), &raw);
  ParamList members(raw);  // owned from here on, whatever the status
  Check(status, "KNI_GetInstanceListAlloc");
  uint32_t count = KNI_ParamListUsedCount(members.get());
  std::vector<GroupId> ids;
  ids.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t child = 0;
    Check(KNI_ParamListGetUInt64(members.get(), i, &child), "KNI_ParamListGetUInt64");
    ids.push_back(child);
  }
  members.reset();  // the kernel's list goes before our instance list
  return ids;
}

void CreateGroup(const std::string& path, const MemAllocation& mem, const CpuAllocation& cpu) {
  size_t slash = path.rfind('/');
  std::string parentPath = slash == std::string::npos ? std::string() : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

  ParamList instance = InstanceList();
  ParamList input = CreateList(KNI_PARAM_LIST_INPUT, 1);
  AddId(instance, GroupPathToId(parentPath));
  AddText(input, name.c_str());
  GroupId id = 0;
  Check(KNI_Set(KNI_NODE_sched_groups_groupCreate, instance.get(), input.get(), &id, sizeof id),
        "KNI_Set");
  try {
    SetMemAllocation(id, mem);
    SetCpuAllocation(id, cpu);
  } catch (const Exception& e) {
    // A group without its allocations must not stay behind. If the deletion
    // fails too, its own exception replaces this one.
    DeleteGroup(id);
    std::throw_with_nested(Exception("Initialize " + path, e.status()));
  }
}

void DeleteGroup(GroupId id) {
  ParamList instance = InstanceList();
  AddId(instance, id);
  Check(KNI_Set(KNI_NODE_sched_groups_delete, instance.get(), nullptr, nullptr, 0), "KNI_Set");
}

void GetMemAllocation(GroupId id, MemAllocation& mem) {
  GetRecord(KNI_NODE_sched_groups_memAllocationInMB, id, &mem, sizeof mem);
}

void SetMemAllocation(GroupId id, const MemAllocation& mem) {
  SetAllocation(KNI_NODE_sched_groups_memAllocationInMB, id, mem);
}

void GetCpuAllocation(GroupId id, CpuAllocation& cpu) {
  GetRecord(KNI_NODE_sched_groups_cpuAllocationInPct, id, &cpu, sizeof cpu);
}

void SetCpuAllocation(GroupId id, const CpuAllocation& cpu) {
  SetAllocation(KNI_NODE_sched_groups_cpuAllocationInPct, id, cpu);
}

void IncreaseMemMinMax(GroupId id, uint64_t minAmount, uint64_t maxAmount) {
  ChangeMemMinMax(KNI_NODE_sched_groups_increaseMemMinMaxInMB, id, minAmount, maxAmount);
}

void DecreaseMemMinMax(GroupId id, uint64_t minAmount, uint64_t maxAmount) {
  ChangeMemMinMax(KNI_NODE_sched_groups_decreaseMemMinMaxInMB, id, minAmount, maxAmount);
}

}  // namespace Sched
