// The entry point in this process, for argument vectors that no exec on this
// machine hands a program; everything else is tested through the binary.
#include <string>
#include <vector>

#include "cli/commands.h"
#include "gtest/gtest.h"
#include "platform/hostsim/hostsim_testing.h"
#include "tests/e2e/harness.h"

namespace {

// An empty argument vector: argc 0, argv[0] null. Whatever follows the null
// (on some kernels the first environment text, or another null) is not an
// argument and must not be routed as one.
TEST(DispatchTest, EmptyArgumentVectorIsNoArgument) {
  e2e::SimHost host;
  hostsim::UseStateFile(host.db());
  std::string list = "list";
  const std::vector<std::vector<char*>> vectors = {
      {nullptr, nullptr},
      {nullptr, &list[0], nullptr},
  };
  const std::string legacyMessage = "poolctl: Group -g parameter was not specified\n";
  for (std::vector<char*> argv : vectors) {
    optind = 1;
    testing::internal::CaptureStderr();
    int status = PoolctlMain(0, argv.data());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err.rfind("poolctl disable [flags] <rps...>\n", 0), 0u) << err;
    ASSERT_GE(err.size(), legacyMessage.size()) << err;
    EXPECT_EQ(err.substr(err.size() - legacyMessage.size()), legacyMessage);
  }
}

}  // namespace
