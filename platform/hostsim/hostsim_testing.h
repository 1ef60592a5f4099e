// For tests that drive the library in their own process: which state file
// it uses, and how many parameter lists the process still holds.
#ifndef PLATFORM_HOSTSIM_HOSTSIM_TESTING_H_
#define PLATFORM_HOSTSIM_HOSTSIM_TESTING_H_

#include <string>

namespace hostsim {
// From the next call on, this process's library uses the state file at path
// (created with the default host when missing); closes any open one.
void UseStateFile(const std::string& path);
// Parameter lists this process has created and not destroyed yet.
long LiveParamLists();
}  // namespace hostsim

#endif  // PLATFORM_HOSTSIM_HOSTSIM_TESTING_H_
