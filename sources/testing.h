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

// Resolves the value of "v: " + text over the host facts: its number (or
// boolean) as text, or the error's message.
std::string Number(const std::string& text);
std::string Bool(const std::string& text);

// A definition error's message at line 1 of such a document.
std::string At(int column, const std::string& message);

}  // namespace testing
}  // namespace Sources

#endif  // SOURCES_TESTING_H_
