#include "loader/load.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <system_error>

#include "gtest/gtest.h"
#include "loader/exception.h"
#include "loader/load_internal.h"

namespace {

class LoadTest : public testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/load-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    EXPECT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
  }

  // Writes a file and marks it installed with the given attribute value.
  std::string Write(const std::string& name, const std::string& text,
                    const std::string& mark = "\x01") {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    if (!mark.empty()) {
      EXPECT_EQ(setxattr(path.c_str(), "user.lumen.installed", mark.data(), mark.size(), 0), 0);
    }
    return path;
  }

  std::vector<std::string> Names(const std::vector<std::string>& paths, bool reverse) {
    std::vector<std::string> names;
    for (const auto& pool : Loader::LoadResourcePools(paths, reverse)) names.push_back(pool->name);
    return names;
  }

  std::string Error(const std::vector<std::string>& paths) {
    try {
      Loader::LoadResourcePools(paths, false);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "no error";
  }

  std::string dir_;
};

TEST_F(LoadTest, OnlyRegularFilesOutsideDotNamesAreDefinitions) {
  const std::string a = Write("a.yaml", "");
  Write(".hidden", "");
  ASSERT_EQ(mkdir((dir_ + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink(a.c_str(), (dir_ + "/link").c_str()), 0);
  EXPECT_EQ(Loader::internal::ListDefinitionFiles(dir_), std::vector<std::string>{a});

  // Directories that report no entry types.
  struct {
    const char* name;
    bool kept;
  } cases[] = {{"a.yaml", true}, {".hidden", false}, {"sub", false}, {"link", false},
               {"gone", false}};
  for (const auto& c : cases) {
    dirent entry{};
    entry.d_type = DT_UNKNOWN;
    std::strcpy(entry.d_name, c.name);
    EXPECT_EQ(Loader::internal::IsDefinitionEntry(dir_, entry), c.kept) << c.name;
  }
}

TEST_F(LoadTest, MissingDirectoryIsASystemError) {
  try {
    Loader::internal::ListDefinitionFiles(dir_ + "/none");
    ADD_FAILURE();
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.what(), dir_ + "/none: No such file or directory");
  }
}

TEST_F(LoadTest, OnlyTheOneByteMarkCounts) {
  const std::string pools = "- name: a\n";
  struct {
    const char* name;
    std::string mark;
  } cases[] = {{"none", ""}, {"digit", "1"}, {"two", std::string("\x01\x01", 2)},
               {"zero", std::string(1, '\0')}};
  for (const auto& c : cases) {
    const std::string path = Write(c.name, pools, c.mark);
    EXPECT_EQ(Error({path}), path + ": is not installed") << c.name;
  }
  EXPECT_EQ(Error({dir_ + "/missing"}), dir_ + "/missing: is not installed");
  EXPECT_EQ(Names({Write("good", pools)}, false), std::vector<std::string>{"host/opt/a"});
}

TEST_F(LoadTest, PoolsOfAllFilesSortByName) {
  const std::string one = Write("one", "- name: host/opt/b\n- name: a/b\n");
  const std::string two = Write("two", "- name: a\n");
  const std::vector<std::string> ascending = {"host/opt/a", "host/opt/a/b", "host/opt/b"};
  EXPECT_EQ(Names({one, two}, false), ascending);
  EXPECT_EQ(Names({two, one}, true),
            std::vector<std::string>(ascending.rbegin(), ascending.rend()));
  EXPECT_EQ(Names({two, two}, false), (std::vector<std::string>{"host/opt/a", "host/opt/a"}));
  // Documents that declare nothing.
  EXPECT_TRUE(Names({Write("empty", ""), Write("scalar", "just text\n"),
                     Write("emptymap", "{}\n")},
                    false)
                  .empty());
}

TEST_F(LoadTest, FileErrorKeepsItsCause) {
  const std::string path = Write("bad", "- name: a\n  Mem: 1\n");
  try {
    Loader::LoadResourcePools({path}, false);
    ADD_FAILURE();
  } catch (const Loader::FileError& e) {
    try {
      std::rethrow_if_nested(e);
      ADD_FAILURE() << "no cause";
    } catch (const Loader::Exception& cause) {
      EXPECT_STREQ(cause.what(), "yaml-cpp: error at line 2, column 3: invalid rp field");
    }
  }
}

}  // namespace
