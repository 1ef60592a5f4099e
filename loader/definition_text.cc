#include "loader/definition_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "common/utf8.h"
#include "loader/exception.h"
#include "platform/kernel_records.h"

namespace Loader {

namespace internal {
namespace {

[[noreturn]] void ThrowErrno() { throw std::system_error(errno, std::generic_category()); }

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { close(fd_); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool CarriesMark(int fd) {
  unsigned char mark = 0;
  return fgetxattr(fd, KernelRecords::kInstalledAttribute, &mark, 1) == 1 && mark == 0x01;
}

// Files of /proc and the like report a size of 0 and have content all the
// same, so the size from fstat is only a hint: reading goes on to the end.
void ReadAll(int fd, std::string& text) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno();
    }
    if (n == 0) return;
    if (text.size() + static_cast<size_t>(n) > kMaxDefinitionBytes) {
      throw Exception(YAML::Mark::null_mark(),
                      "file larger than " + std::to_string(kMaxDefinitionBytes / 1024) + " KiB");
    }
    text.append(buffer, static_cast<size_t>(n));
  }
}

// The library reads a stream as UTF-32 or UTF-16 when it begins with a
// byte-order mark of either, or when a NUL among its first bytes shows the
// wide encoding without one; everything else is UTF-8.
bool DecodedAsWide(const std::string& text) {
  if (text.empty()) return false;
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  if (byte(0) == 0x00) return true;
  if (text.size() < 2) return false;
  if (byte(1) == 0x00) return true;
  return (byte(0) == 0xFE && byte(1) == 0xFF) || (byte(0) == 0xFF && byte(1) == 0xFE);
}

// Positions as the library counts them: lines end at a line feed, columns
// count bytes, and a leading byte-order mark takes no column.
YAML::Mark MarkAt(const std::string& text, size_t offset) {
  YAML::Mark mark;
  mark.pos = static_cast<int>(offset);
  size_t lineStart = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++mark.line;
      lineStart = i + 1;
    }
  }
  mark.column = static_cast<int>(offset - lineStart);
  return mark;
}

}  // namespace

bool ReadDefinitionText(const std::string& path, std::string& text) {
  // O_NONBLOCK: a FIFO put in the file's place would otherwise block the
  // open until a writer comes.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) ThrowErrno();
  const FileDescriptor file(fd);
  struct stat st;
  if (fstat(fd, &st) != 0) ThrowErrno();
  if (S_ISDIR(st.st_mode)) throw std::system_error(EISDIR, std::generic_category());
  if (!S_ISREG(st.st_mode)) throw Exception(YAML::Mark::null_mark(), "not a regular file");
  if (!CarriesMark(fd)) return false;
  text.clear();
  ReadAll(fd, text);
  return true;
}

void CheckUtf8(const std::string& text) {
  if (DecodedAsWide(text)) return;
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8::SequenceLength(text, i);
    if (length == 0) throw Exception(MarkAt(text, i), "invalid UTF-8");
    i += length;
  }
}

YAML::Node ParseDefinitionText(const std::string& text) {
  CheckUtf8(text);
  return YAML::Load(text);
}

}  // namespace internal
}  // namespace Loader
