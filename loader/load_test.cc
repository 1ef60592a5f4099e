#include "loader/load.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "gtest/gtest.h"
#include "loader/exception.h"
#include "loader/load_internal.h"
#include "loader/testing.h"

namespace {

class LoadTest : public loader_testing::DefinitionFolderTest {
 protected:
  // The pool names, or the error text.
  std::string Load(const std::vector<std::string>& paths, bool reverse = false) {
    try {
      std::string names;
      for (const auto& pool : Loader::LoadResourcePools(paths, reverse)) names += pool->name + " ";
      return names;
    } catch (const std::exception& e) {
      return e.what();
    }
  }
};

TEST_F(LoadTest, DefinitionFilesAreRegularFilesWithoutDot) {
  const std::string a = Write("a.yaml", "");
  Write(".hidden", "");
  ASSERT_EQ(mkdir((dir_ + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink(a.c_str(), (dir_ + "/link").c_str()), 0);
  EXPECT_EQ(Loader::internal::ListDefinitionFiles(dir_), std::vector<std::string>{a});

  // Some filesystems report no entry types.
  const std::pair<const char*, bool> cases[] = {
      {"a.yaml", true}, {".hidden", false}, {"sub", false}, {"link", false}, {"gone", false}};
  for (const auto& [name, kept] : cases) {
    dirent entry{};
    entry.d_type = DT_UNKNOWN;
    std::strcpy(entry.d_name, name);
    EXPECT_EQ(Loader::internal::IsDefinitionEntry(dir_, entry), kept) << name;
  }
}

TEST_F(LoadTest, OnlyTheOneByteMarkCounts) {
  const std::pair<const char*, std::string> cases[] = {
      {"none", ""}, {"digit", "1"}, {"two", "\x01\x01"}, {"zero", std::string(1, '\0')}};
  for (const auto& [name, mark] : cases) {
    const std::string path = Write(name, "- name: a\n", mark);
    EXPECT_EQ(Load({path}), path + ": is not installed") << name;
  }
  EXPECT_EQ(Load({dir_ + "/missing"}), dir_ + "/missing: is not installed");
}

TEST_F(LoadTest, SortedAcrossFiles) {
  const std::string one = Write("one", "- name: host/opt/b\n- name: a/b\n");
  const std::string two = Write("two", "- name: a\n");
  EXPECT_EQ(Load({one, two}), "host/opt/a host/opt/a/b host/opt/b ");
  EXPECT_EQ(Load({two, one}, true), "host/opt/b host/opt/a/b host/opt/a ");
  EXPECT_EQ(Load({two, two}), "host/opt/a host/opt/a ");
  EXPECT_EQ(Load({Write("empty", ""), Write("scalar", "text\n"), Write("map", "{}\n")}), "");
}

TEST_F(LoadTest, FileErrorKeepsItsCause) {
  try {
    Loader::LoadResourcePools({Write("bad", "- name: a\n  Mem: 1\n")}, false);
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

// What reaches the user for a file the library must never see as it is.
TEST_F(LoadTest, FileLevelErrors) {
  ASSERT_EQ(mkdir((dir_ + "/dir").c_str(), 0755), 0);
  Mark(dir_ + "/dir");
  std::string fanOut = "- name: a\n  memMin: !calc\n    l0: &l0 1\n";
  for (int k = 1; k <= 10; ++k) {
    const std::string prev = "*l" + std::to_string(k - 1);
    fanOut += "    l" + std::to_string(k) + ": &l" + std::to_string(k) + " !calc {a: " + prev +
              ", b: " + prev + ", '=': a + b}\n";
  }
  fanOut += "    '=': 1\n";
  for (int i = 0; i < 32; ++i) fanOut += "- {name: b, memMin: *l10}\n";

  const std::pair<std::string, std::string> cases[] = {
      {Write("latin1", "- name: caf\xE9\n"), "latin1: line 1 column 12: invalid UTF-8"},
      {dir_ + "/dir", "dir: Is a directory"},
      {Write("large", std::string(300 * 1024, '#')), "large: file larger than 256 KiB"},
      {Write("fan-out", fanOut), "fan-out: line 3 column 9: file too complex"},
  };
  for (const auto& [path, error] : cases) EXPECT_EQ(Load({path}), dir_ + "/" + error) << path;
}

}  // namespace
