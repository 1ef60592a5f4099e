#include "sources/testing.h"

#include "gtest/gtest.h"
#include <exception>

#include "loader/host_facts.h"
#include "loader/value.h"
#include "platform/hostsim/hostsim_testing.h"

namespace Sources {
namespace testing {

const char kCmdLine[] = "quiet memPool=4 swap:DISABLED dbg = yes";

const e2e::SimHost& Host() {
  static const e2e::SimHost host;
  return host;
}

void Hostsim(const std::vector<std::string>& args) {
  const e2e::RunResult r = Host().Hostsim(args);
  ASSERT_EQ(r.status, 0) << r.err;
}

std::string Number(const std::string& text) {
  try {
    return std::to_string(ResolveNumber(YAML::Load("v: " + text)["v"], Loader::HostFacts()));
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::string Bool(const std::string& text) {
  try {
    return ResolveBool(YAML::Load("v: " + text)["v"], Loader::HostFacts()) ? "true" : "false";
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::string At(int column, const std::string& message) {
  return "yaml-cpp: error at line 1, column " + std::to_string(column) + ": " + message;
}

namespace {

class SimulatedHost : public ::testing::Environment {
 public:
  void SetUp() override {
    Hostsim({"init", "--cmdline", kCmdLine});
    hostsim::UseStateFile(Host().db());
    // The first value resolved in a process reads the host facts. Read them
    // now, so that a test's trace holds its own calls only, whichever test
    // runs first (ctest runs each test in a process of its own).
    Loader::HostFacts();
  }
};

::testing::Environment* const kHost = ::testing::AddGlobalTestEnvironment(new SimulatedHost);

}  // namespace
}  // namespace testing
}  // namespace Sources
