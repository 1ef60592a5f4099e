// The entry point in this process, on loader/testing.h's host, for argument
// vectors that no exec here hands a program; the rest runs the binary.
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "gtest/gtest.h"

// An empty argument vector: argc 0, argv[0] null. Whatever follows the null
// (on some kernels the first environment text, or another null) is no
// argument: the help listing, then the legacy mode's complaint.
TEST(Dispatch, EmptyArgumentVectorIsNoArgument) {
  std::string list = "list";
  for (std::vector<char*> argv : {std::vector<char*>{nullptr, nullptr}, {nullptr, &list[0], nullptr}}) {
    optind = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(PoolctlMain(0, argv.data()), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("poolctl disable [flags] <rps...>\n", 0), 0u) << err;
    EXPECT_EQ(err.substr(err.find("poolctl: ")), "poolctl: Group -g parameter was not specified\n");
  }
}
