/*
 * Kernel system-information interface: the host library through which
 * poolctl reads and changes kernel state. On the real host this header
 * comes with the system library; elsewhere hostsim implements it.
 */
#ifndef PLATFORM_KNI_H_
#define PLATFORM_KNI_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 0 is success; every other value is a failure. */
typedef uint32_t ZRV_ReturnStatus;

/* A node is a 16-bit number exported as a data object, read at each call. */
typedef uint16_t KNI_Node;

/* Opaque parameter list, owned by the caller. */
typedef struct KNI_ParamList KNI_ParamList;

enum {
  KNI_PARAM_LIST_INPUT = 0,    /* texts: the call's input arguments */
  KNI_PARAM_LIST_INSTANCE = 1  /* integers: the instance (group id) */
};

/* Status values callers tell apart. */
#define ZRV_OK 0x00000000u
#define ZRV_FAILURE 0x0BAD0001u
#define ZRV_NOT_FOUND 0x0BAD0003u
#define ZRV_BUSY 0x0BAD0004u
#define ZRV_EXISTS 0x0BAD0005u
#define ZRV_NO_MEMORY 0x0BAD0014u
#define ZRV_BAD_PARAM 0x0BAD0040u
#define ZRV_LIMIT_EXCEEDED 0x0BAD0041u
#define ZRV_NAME_TOO_LONG 0x0BAD0042u
#define ZRV_GROUP_IN_USE 0x0BAD0080u

/* Fixed sizes of the kernel records. */
#define KNI_BOOT_CMDLINE_SIZE 4096
#define KNI_BOOT_OPTION_SIZE 4
#define KNI_CPU_INFO_SIZE 38
#define KNI_MEMORY_SIZE 96
#define KNI_SUPPORTED_VMS_SIZE 4
#define KNI_GROUP_PATH_SIZE 780
#define KNI_MEM_ALLOCATION_SIZE 36
#define KNI_CPU_ALLOCATION_SIZE 20
#define KNI_MEMORY_STATS_SIZE 390
#define KNI_BUILD_DATE_SIZE 21

/* Host facts and the boot command line (read with KNI_Get, no instance list). */
extern const KNI_Node KNI_NODE_system_bootCmdLine;
extern const KNI_Node KNI_NODE_system_bootOption;
extern const KNI_Node KNI_NODE_hardware_cpu_cpuInfo;
extern const KNI_Node KNI_NODE_memory_comprehensive;
extern const KNI_Node KNI_NODE_system_supportedVMs;

/* Scheduler groups. */
extern const KNI_Node KNI_NODE_sched_groupPathNameToID;
extern const KNI_Node KNI_NODE_sched_groups_groupPathName;
extern const KNI_Node KNI_NODE_sched_groups_parentGroupID;
extern const KNI_Node KNI_NODE_sched_groups_members_groups;
extern const KNI_Node KNI_NODE_sched_groups_groupCreate;
extern const KNI_Node KNI_NODE_sched_groups_delete;
extern const KNI_Node KNI_NODE_sched_groups_memAllocationInMB;
extern const KNI_Node KNI_NODE_sched_groups_cpuAllocationInPct;
extern const KNI_Node KNI_NODE_sched_groups_increaseMemMinMaxInMB;
extern const KNI_Node KNI_NODE_sched_groups_decreaseMemMinMaxInMB;
extern const KNI_Node KNI_NODE_sched_groups_stats_memoryStats;

/* Parameter lists. Create returns null on failure; a capacity of 0 gives null. */
KNI_ParamList* KNI_ParamListCreate(uint32_t kind, uint32_t capacity);
ZRV_ReturnStatus KNI_ParamListAddInt(KNI_ParamList* list, uint64_t value);
/* The text is copied at once. */
ZRV_ReturnStatus KNI_ParamListAddString(KNI_ParamList* list, const char* text);
void KNI_ParamListDestroy(KNI_ParamList* list);
uint32_t KNI_ParamListUsedCount(const KNI_ParamList* list);
uint32_t KNI_ParamListNumInstances(const KNI_ParamList* list);
ZRV_ReturnStatus KNI_ParamListGetUInt64(const KNI_ParamList* list, uint32_t index,
                                        uint64_t* value);

/* Calls. */
ZRV_ReturnStatus KNI_Get(KNI_Node node, KNI_ParamList* instances, void* out,
                         uint32_t outSize);
ZRV_ReturnStatus KNI_Set(KNI_Node node, KNI_ParamList* instances, KNI_ParamList* inputs,
                         void* out, uint32_t outSize);
/* On success *out is a new list that the caller destroys. */
ZRV_ReturnStatus KNI_GetInstanceListAlloc(KNI_Node node, KNI_ParamList* instances,
                                          KNI_ParamList** out);

/*
 * Compares the tool's build with the running kernel's. Nonzero means they
 * differ; kernelDate then holds the kernel's build date (the caller puts a
 * NUL at index 20). *toolDate receives the tool's own build date text.
 */
ZRV_ReturnStatus KNI_CheckSig(char* kernelDate, uint32_t size, const char** toolDate);

/* A static text for every status. */
const char* ZRV_ReturnStatusToString(ZRV_ReturnStatus status);

#ifdef __cplusplus
}
#endif

#endif  /* PLATFORM_KNI_H_ */
