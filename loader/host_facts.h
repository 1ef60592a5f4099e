// Host facts: named properties of the running host (CPUs, memory, ...) that
// definitions may compute their values from.
#ifndef LOADER_HOST_FACTS_H_
#define LOADER_HOST_FACTS_H_

#include "calc/calc.h"

namespace Loader {

// The fact table, read from the kernel on the first call and kept until the
// process ends. Throws Loader::Exception "KNI_Get failed" (no position) when
// a kernel read fails; the next call tries that read again.
const Calc::Variables& HostFacts();

}  // namespace Loader

#endif  // LOADER_HOST_FACTS_H_
