// The host lock in one process: held on our own private file only, and never
// taken through a name that someone else may have prepared.
#include "common/host_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

#include "gtest/gtest.h"

namespace {

mode_t Mode(const char* path) {
  struct stat st = {};
  return lstat(path, &st) == 0 ? st.st_mode & 07777 : 0;
}

// Whether another open file description can take the lock now.
bool Free(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  return close(fd) == 0 && free;
}

// A file that others may read.
bool File(const char* path) {
  return close(open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644)) == 0 && chmod(path, 0644) == 0;
}

TEST(HostLock, HeldOnItsOwnFileOnly) {
  char folder[] = "/tmp/poolctl-lock-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string lock = std::string(folder) + "/poolctl.lock", other = std::string(folder) + "/other";
  const char *p = lock.c_str(), *o = other.c_str();
  // What lies under the lock's name (false: it cannot be made here), and whether the lock is
  // then held: anything but our own plain file leaves the process without it, at once, changing
  // nothing through the name. The last row removes the folder.
  const std::pair<std::function<bool()>, bool> kCases[] = {
      {[] { return true; }, true},
      {[] { return close(STDIN_FILENO), true; }, true},  // the file opened as descriptor 0
      {[&] { return File(p); }, true},  // ours, readable by others: made ours alone
      {[&] { return File(o) && symlink(o, p) == 0; }, false},
      {[&] { return symlink(o, p) == 0; }, false},  // a dangling link
      {[&] { return File(o) && link(o, p) == 0; }, false},
      {[&] { return mkfifo(p, 0600) == 0; }, false},
      {[&] { return mkdir(p, 0700) == 0; }, false},
      {[&] { return geteuid() == 0 && File(p) && chown(p, 65534, 65534) == 0; }, false},  // another's
      {[&] { return rmdir(folder) == 0; }, false},  // no folder, which is not made either
  };
  int row = 0;
  for (const auto& [prepare, held] : kCases) {
    SCOPED_TRACE(row++);
    for (const char* f : {p, o}) unlink(f) == 0 || rmdir(f);
    if (!prepare()) continue;
    mode_t before = Mode(p), otherBefore = Mode(o);
    auto hostLock = std::make_unique<HostLock>(p);
    EXPECT_EQ(hostLock->held(), held);
    EXPECT_TRUE(!held || !Free(p));
    EXPECT_EQ(Mode(p), held ? 0600u : before);
    EXPECT_EQ(Mode(o), otherBefore);  // 0 when it did not exist and still does not
    hostLock.reset();
    EXPECT_TRUE(!held || Free(p));
  }
}

}  // namespace
