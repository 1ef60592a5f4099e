// Every loader test runs on a fresh default simulated host of its own, so
// that the host facts are known: 16 CPUs, 64 GiB.
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "platform/hostsim/hostsim_testing.h"

namespace {

class SimulatedHost : public testing::Environment {
 public:
  void SetUp() override {
    char dir[] = "/tmp/loader-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    hostsim::UseStateFile(dir_ + "/host.db");
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }

 private:
  std::string dir_;
};

testing::Environment* const kHost = testing::AddGlobalTestEnvironment(new SimulatedHost);

}  // namespace
