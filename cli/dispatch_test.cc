// The entry point in this process, on loader/testing.h's host, for the empty
// argument vector, which no exec here hands a program.
#include <unistd.h>

#include <string>

#include "cli/commands.h"
#include "gtest/gtest.h"

// Whatever follows argv[0]'s null (on some kernels the first environment text,
// or another null) is no argument: the help listing, then the legacy mode's complaint.
TEST(Dispatch, EmptyArgumentVectorIsNoArgument) {
  std::string list = "list";
  for (char* next : {static_cast<char*>(nullptr), &list[0]}) {
    char* argv[] = {nullptr, next, nullptr};
    optind = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(PoolctlMain(0, argv), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("poolctl disable [flags] <rps...>\n", 0), 0u) << err;
    EXPECT_EQ(err.substr(err.find("poolctl: ")), "poolctl: Group -g parameter was not specified\n");
  }
}
