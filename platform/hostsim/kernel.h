// The simulated kernel: what each node does with the arguments of a call.
// The library's entry points unpack a call into a KernelCall and run it here,
// inside the transaction that also consumes fault rules and traces it.
#ifndef PLATFORM_HOSTSIM_KERNEL_H_
#define PLATFORM_HOSTSIM_KERNEL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kni.h"
#include "platform/hostsim/state.h"

// A parameter list lives in the calling process only; the kernel sees its
// entries when a call is made.
struct KNI_ParamList {
  uint32_t kind = KNI_PARAM_LIST_INPUT;
  uint32_t capacity = 0;
  std::vector<uint64_t> ints;      // an instance list's entries
  std::vector<std::string> texts;  // an input list's entries
};

namespace hostsim {

enum class CallKind { kGet, kSet, kGetInstanceListAlloc };

// Lists are live lists of this process, or null where the caller passed none.
struct KernelCall {
  CallKind kind = CallKind::kGet;
  KNI_Node node = 0;
  const KNI_ParamList* instances = nullptr;
  const KNI_ParamList* inputs = nullptr;
  void* out = nullptr;
  uint32_t outSize = 0;
  KNI_ParamList** listOut = nullptr;  // GetInstanceListAlloc's result
};

// The node's name without "KNI_NODE_"; null for a number no node has.
const char* NodeName(KNI_Node node);
bool IsNodeName(const std::string& name);

// The group path that fault rules match the call against: the instance
// group's, the new group's for a creation, the looked-up path for a lookup.
// None when the call names no group or names one that does not exist.
std::optional<std::string> SubjectPath(State& state, const KernelCall& call);

// Checks the arguments as the kernel does and performs the call. Nothing is
// changed and nothing written to the caller's buffer unless it succeeds;
// a GetInstanceListAlloc's ids go to *members.
uint32_t Perform(State& state, const KernelCall& call, std::vector<uint64_t>* members);

// Creates a group below parent, with the kernel's checks of name and path.
uint32_t CreateChild(State& state, const Group& parent, const std::string& name,
                     const Allocation& mem, const Allocation& cpu, uint64_t* id);

}  // namespace hostsim

#endif  // PLATFORM_HOSTSIM_KERNEL_H_
