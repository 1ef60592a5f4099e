// Every loader test runs on a fresh default simulated host of its own, so
// that the host facts are known: 16 CPUs, 64 GiB.
#include "loader/testing.h"

#include <stdlib.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "gtest/gtest.h"
#include "loader/definition_text.h"
#include "platform/hostsim/hostsim_testing.h"

namespace {

bool MakeTempDir(const char* prefix, std::string& dir) {
  dir = std::string("/tmp/") + prefix + "-XXXXXX";
  return mkdtemp(&dir[0]) != nullptr;
}

void RemoveDir(const std::string& dir) {
  EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0) << dir;
}

class SimulatedHost : public testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(MakeTempDir("loader-test", dir_));
    hostsim::UseStateFile(dir_ + "/host.db");
  }
  void TearDown() override { RemoveDir(dir_); }

 private:
  std::string dir_;
};

testing::Environment* const kHost = testing::AddGlobalTestEnvironment(new SimulatedHost);

}  // namespace

namespace loader_testing {

void DefinitionFolderTest::SetUp() { ASSERT_TRUE(MakeTempDir("definitions", dir_)); }

void DefinitionFolderTest::TearDown() { RemoveDir(dir_); }

std::string DefinitionFolderTest::Write(const std::string& name, const std::string& text,
                                        const std::string& mark) {
  const std::string path = Path(name);
  std::ofstream(path, std::ios::binary) << text;
  if (!mark.empty()) {
    EXPECT_EQ(setxattr(path.c_str(), Loader::internal::kInstalledAttribute, mark.data(),
                       mark.size(), 0),
              0);
  }
  return path;
}

void DefinitionFolderTest::Mark(const std::string& path) {
  EXPECT_EQ(setxattr(path.c_str(), Loader::internal::kInstalledAttribute, "\x01", 1, 0), 0);
}

}  // namespace loader_testing
