// The simulated host that sources_test runs on, shared by its tests. Its
// boot command line is set before any test runs, since a process reads that
// line once: "quiet memPool=4 swap:DISABLED dbg = yes".
#ifndef SOURCES_TESTING_H_
#define SOURCES_TESTING_H_

#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace Sources {
namespace testing {

extern const char kCmdLine[];

const e2e::SimHost& Host();

// Runs hostsim on the host; fails the test when it fails.
void Hostsim(const std::vector<std::string>& args);

}  // namespace testing
}  // namespace Sources

#endif  // SOURCES_TESTING_H_
