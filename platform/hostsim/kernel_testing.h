// For tests that call the host library in their own process: a fresh
// simulated host per test, set up with the hostsim tool where the interface
// cannot (worlds, rules), and no parameter list left over at the end.
#ifndef PLATFORM_HOSTSIM_KERNEL_TESTING_H_
#define PLATFORM_HOSTSIM_KERNEL_TESTING_H_

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/hostsim/hostsim_testing.h"
#include "tests/e2e/harness.h"

namespace hostsim {

// The parts of text between separators.
inline std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  for (size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
    parts.push_back(text.substr(at, (end = text.find(separator, at)) - at));
  }
  return parts;
}

class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override { UseStateFile(host_.db()); }
  void TearDown() override { EXPECT_EQ(LiveParamLists(), 0) << "leaked parameter lists"; }
  // Runs each ";"-separated hostsim command line, its words separated by
  // single blanks; each must succeed.
  void Hostsim(const std::string& commands) {
    for (const std::string& line : Split(commands, ';')) {
      e2e::RunResult r = line.empty() ? e2e::RunResult{0, "", ""} : host_.Hostsim(Split(line, ' '));
      EXPECT_EQ(r.status, 0) << line << ": " << r.err;
    }
  }
  e2e::SimHost host_;
};

}  // namespace hostsim

#endif  // PLATFORM_HOSTSIM_KERNEL_TESTING_H_
