#include "loader/definition_text.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <system_error>

#include "gtest/gtest.h"
#include "loader/exception.h"
#include "loader/testing.h"

namespace {

using Loader::internal::kMaxDefinitionBytes;

// "ok", or the error's text.
std::string Utf8(const std::string& text) {
  try {
    Loader::internal::CheckUtf8(text);
    return "ok";
  } catch (const YAML::Exception& e) {
    return e.what();
  }
}

std::string At(int line, int column) {
  return "yaml-cpp: error at line " + std::to_string(line) + ", column " +
         std::to_string(column) + ": invalid UTF-8";
}

TEST(CheckUtf8, WellFormedOrFirstBadByte) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "ok"},
      {"- name: caf\xC3\xA9\n", "ok"},
      {"\xE0\xA0\x80 \xED\x9F\xBF \xEE\x80\x80 \xF0\x90\x80\x80 \xF4\x8F\xBF\xBF", "ok"},
      {"\xEF\xBB\xBF- a\n", "ok"},
      {"- name: caf\xE9\n", At(1, 12)},
      {"a\nb\n  \x80", At(3, 3)},
      {"\xC0\x80", At(1, 1)},              // overlong NUL
      {"\xC1\xBF", At(1, 1)},              // overlong
      {"\xE0\x9F\xBF", At(1, 1)},          // overlong three-byte form
      {"\xF0\x8F\xBF\xBF", At(1, 1)},      // overlong four-byte form
      {"x\xED\xA0\x80", At(1, 2)},         // surrogate
      {"\xF4\x90\x80\x80", At(1, 1)},      // past U+10FFFF
      {"\xF5\x80\x80\x80", At(1, 1)},
      {"\xFF", At(1, 1)},
      {"ab\xE2\x82", At(1, 3)},            // cut off at the end
      {"ab\xE2\x82x", At(1, 3)},
      {"\xEF\xBB\xBF\xE9", At(1, 1)},      // the byte-order mark takes no column
      // Left to the library, which decodes these as UTF-16 or UTF-32.
      {"\xFF\xFE" "a\x00\xE9\x00", "ok"},
      {"\xFE\xFF\x00" "a\x00\xE9", "ok"},
      {"a\x00\xE9\x00", "ok"},
      {std::string("\x00\x00\x00\xE9", 4), "ok"},
  };
  for (const auto& [text, result] : cases) EXPECT_EQ(Utf8(text), result) << text;
}

class ReadDefinitionText : public loader_testing::DefinitionFolderTest {
 protected:
  // The text read, "not installed", or the error's text.
  static std::string Read(const std::string& path) {
    try {
      std::string text;
      return Loader::internal::ReadDefinitionText(path, text) ? text : "not installed";
    } catch (const std::exception& e) {
      return e.what();
    }
  }
};

TEST_F(ReadDefinitionText, OnlyMarkedRegularFilesWithinTheCap) {
  const std::string largest(kMaxDefinitionBytes, '#');
  ASSERT_EQ(mkdir(Path("dir").c_str(), 0755), 0);
  Mark(Path("dir"));
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0644), 0);
  ASSERT_EQ(symlink(Write("target", "- name: a\n").c_str(), Path("link").c_str()), 0);

  const std::pair<std::string, std::string> cases[] = {
      {Write("plain", "- name: a\n"), "- name: a\n"},
      {Write("empty", ""), ""},
      {Path("link"), "- name: a\n"},
      {Write("largest", largest), largest},
      {Write("larger", largest + "\n"), "file larger than 256 KiB"},
      {Write("unmarked", "- name: a\n", ""), "not installed"},
      {Path("missing"), "No such file or directory"},
      {Path("dir"), "Is a directory"},
      // Opening a FIFO for reading would wait for a writer without O_NONBLOCK.
      {Path("fifo"), "not a regular file"},
      {"/dev/null", "not a regular file"},
  };
  for (const auto& [path, result] : cases) EXPECT_EQ(Read(path), result) << path;
}

TEST_F(ReadDefinitionText, SocketIsRefused) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = Path("socket");
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(Read(path), "No such device or address");
  close(fd);
}

}  // namespace
