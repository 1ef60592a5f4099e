// Every function and object that the host headers declare, each function
// aborting. The programs link against this library only to prove that they
// need nothing of the host but what its headers declare.
#include <cstdio>
#include <cstdlib>

#include "config_store.h"
#include "feature_state.h"
#include "kni.h"

namespace {

[[noreturn]] void Stub(const char* name) {
  std::fprintf(stderr, "host stub: %s called\n", name);
  std::abort();
}

}  // namespace

extern "C" {

const KNI_Node KNI_NODE_system_bootCmdLine = 0;
const KNI_Node KNI_NODE_system_bootOption = 0;
const KNI_Node KNI_NODE_hardware_cpu_cpuInfo = 0;
const KNI_Node KNI_NODE_memory_comprehensive = 0;
const KNI_Node KNI_NODE_system_supportedVMs = 0;
const KNI_Node KNI_NODE_sched_groupPathNameToID = 0;
const KNI_Node KNI_NODE_sched_groups_groupPathName = 0;
const KNI_Node KNI_NODE_sched_groups_parentGroupID = 0;
const KNI_Node KNI_NODE_sched_groups_members_groups = 0;
const KNI_Node KNI_NODE_sched_groups_groupCreate = 0;
const KNI_Node KNI_NODE_sched_groups_delete = 0;
const KNI_Node KNI_NODE_sched_groups_memAllocationInMB = 0;
const KNI_Node KNI_NODE_sched_groups_cpuAllocationInPct = 0;
const KNI_Node KNI_NODE_sched_groups_increaseMemMinMaxInMB = 0;
const KNI_Node KNI_NODE_sched_groups_decreaseMemMinMaxInMB = 0;
const KNI_Node KNI_NODE_sched_groups_stats_memoryStats = 0;

KNI_ParamList* KNI_ParamListCreate(uint32_t, uint32_t) { Stub("KNI_ParamListCreate"); }
ZRV_ReturnStatus KNI_ParamListAddInt(KNI_ParamList*, uint64_t) { Stub("KNI_ParamListAddInt"); }
ZRV_ReturnStatus KNI_ParamListAddString(KNI_ParamList*, const char*) {
  Stub("KNI_ParamListAddString");
}
void KNI_ParamListDestroy(KNI_ParamList*) { Stub("KNI_ParamListDestroy"); }
uint32_t KNI_ParamListUsedCount(const KNI_ParamList*) { Stub("KNI_ParamListUsedCount"); }
uint32_t KNI_ParamListNumInstances(const KNI_ParamList*) { Stub("KNI_ParamListNumInstances"); }
ZRV_ReturnStatus KNI_ParamListGetUInt64(const KNI_ParamList*, uint32_t, uint64_t*) {
  Stub("KNI_ParamListGetUInt64");
}
ZRV_ReturnStatus KNI_Get(KNI_Node, KNI_ParamList*, void*, uint32_t) { Stub("KNI_Get"); }
ZRV_ReturnStatus KNI_Set(KNI_Node, KNI_ParamList*, KNI_ParamList*, void*, uint32_t) {
  Stub("KNI_Set");
}
ZRV_ReturnStatus KNI_GetInstanceListAlloc(KNI_Node, KNI_ParamList*, KNI_ParamList**) {
  Stub("KNI_GetInstanceListAlloc");
}
ZRV_ReturnStatus KNI_CheckSig(char*, uint32_t, const char**) { Stub("KNI_CheckSig"); }
const char* ZRV_ReturnStatusToString(ZRV_ReturnStatus) { Stub("ZRV_ReturnStatusToString"); }

void FeatureState_Init(void) { Stub("FeatureState_Init"); }
const uint8_t* GetFeatureState_Slow(const char*) { Stub("GetFeatureState_Slow"); }

}  // extern "C"

namespace KestrelConfigStore {

const std::string sGlobalNamespace;

std::shared_ptr<ConfigStore> ConfigStore::GetStore(const std::string&) {
  Stub("ConfigStore::GetStore");
}

}  // namespace KestrelConfigStore
