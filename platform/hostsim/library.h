// What the configuration-store and feature-switch parts of the library share
// with the kernel interface: the process's one state file and its lock.
#ifndef PLATFORM_HOSTSIM_LIBRARY_H_
#define PLATFORM_HOSTSIM_LIBRARY_H_

#include <functional>

#include "platform/hostsim/state.h"

namespace hostsim {

// Runs fn(state) in one write transaction of the state file, holding the
// library's lock. A state file that cannot be used throws StateError (and is
// reported once on standard error). fn must not throw for a failure it
// simulates: that would roll back the trace and the fault it used up.
void WithState(const std::function<void(State&)>& fn);

}  // namespace hostsim

#endif  // PLATFORM_HOSTSIM_LIBRARY_H_
