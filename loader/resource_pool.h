// The resource pool record: one scheduler group that should exist on the
// host, with its memory and CPU allocation, as one pool map declares it.
#ifndef LOADER_RESOURCE_POOL_H_
#define LOADER_RESOURCE_POOL_H_

#include <cstddef>
#include <string>
#include <type_traits>

#include "kni.h"
#include "sched/sched.h"
#include "yaml-cpp/yaml.h"

namespace Loader {

// Built complete from one pool map, or not at all; held through shared
// pointers and never copied. The commands may refill mem and cpu in place
// from the kernel.
struct ResourcePoolImpl {
  explicit ResourcePoolImpl(const YAML::Node& node);
  ResourcePoolImpl(const ResourcePoolImpl&) = delete;
  ResourcePoolImpl& operator=(const ResourcePoolImpl&) = delete;

  std::string name;  // always begins with "host/"
  std::string file;  // the definition file it came from, as named; empty when from none
  bool isEnabled = true;
  // -1 is unset; these go to the kernel as they are.
  Sched::MemAllocation mem = {0, -1, -1, -1, 0};
  Sched::CpuAllocation cpu = {0, -1, 1000, -1, 0};
  // An annex pool borrows its memory from its parent group, so it is never
  // created by default.
  bool annex = false;
};

// The commands hand references to mem and cpu straight to the kernel.
static_assert(sizeof(ResourcePoolImpl::mem) == KNI_MEM_ALLOCATION_SIZE &&
                  std::is_same<decltype(ResourcePoolImpl::mem), Sched::MemAllocation>::value,
              "pool memory record is the kernel's");
static_assert(sizeof(ResourcePoolImpl::cpu) == KNI_CPU_ALLOCATION_SIZE &&
                  std::is_same<decltype(ResourcePoolImpl::cpu), Sched::CpuAllocation>::value,
              "pool CPU record is the kernel's");

}  // namespace Loader

#endif  // LOADER_RESOURCE_POOL_H_
