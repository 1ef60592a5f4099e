// For tests on a fresh simulated host each: the host library in their own process, the
// hostsim tool and kni_probe in processes beside it, and no parameter list left at the end.
#ifndef PLATFORM_HOSTSIM_KERNEL_TESTING_H_
#define PLATFORM_HOSTSIM_KERNEL_TESTING_H_

#include <algorithm>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/hostsim/hostsim_testing.h"
#include "tests/harness/harness.h"

namespace hostsim {

// The build folder, where hostsim, poolctl and kni_probe lie side by side.
inline const std::string kBuild =
    std::string(HOSTSIM_BIN).substr(0, std::string(HOSTSIM_BIN).rfind('/') + 1);

// The parts of text between separators.
inline std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  for (size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
    parts.push_back(text.substr(at, (end = text.find(separator, at)) - at));
  }
  return parts;
}

// Command lines, ";" between them (leading NAME=value words replace the host's environment;
// "probe" runs kni_probe). All but the last succeed silently; expect is the last one's output,
// then its errors; with status 1, a text without a newline is the one line after "hostsim: ".
struct Step {
  std::string lines, expect;
  int status = 0;
};

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { UseStateFile(host_.db()); }
  void TearDown() override { EXPECT_EQ(LiveParamLists(), 0) << "leaked parameter lists"; }
  void Run(const std::vector<Step>& steps) {
    for (const Step& s : steps) {
      const std::vector<std::string> lines = Split(s.lines, ';');
      for (size_t i = 0; i + 1 < lines.size(); ++i) Run(lines[i], "", 0);
      Run(lines.back(), s.expect, s.status);
    }
  }
  void Run(const std::string& line, const std::string& expect, int status) {
    SCOPED_TRACE(line.substr(0, 70));
    std::vector<std::string> words = Split(line, ' '), env;
    for (; words[0].find('=') != std::string::npos; words.erase(words.begin())) env.push_back(words[0]);
    if (env.empty()) env.push_back(host_.Env());
    const bool probe = words[0] == "probe", bare = status == 1 && expect.find('\n') == std::string::npos;
    const std::string program = probe ? kBuild + "kni_probe" : HOSTSIM_BIN;
    e2e::RunResult r = e2e::Run(program, {words.begin() + probe, words.end()}, env);
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.out + r.err, bare ? "hostsim: " + expect + "\n" : expect);
    EXPECT_TRUE(status != 1 || std::count(r.err.begin(), r.err.end(), '\n') == 1);
  }
  e2e::SimHost host_;
};

}  // namespace hostsim

#endif  // PLATFORM_HOSTSIM_KERNEL_TESTING_H_
