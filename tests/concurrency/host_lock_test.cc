// The host lock in one process: what it does with whatever it finds under
// the lock file's name, and that it is really held.
#include "cli/host_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "gtest/gtest.h"

namespace {

class HostLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/poolctl-lock-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/poolctl.lock";
  }
  void TearDown() override {
    Clear();
    rmdir(dir_.c_str());
  }
  // Empties the folder for the next case.
  void Clear() {
    for (const char* name : {"/poolctl.lock", "/other", "/subdir"}) {
      std::string p = dir_ + name;
      if (unlink(p.c_str()) != 0) rmdir(p.c_str());
    }
    path_ = dir_ + "/poolctl.lock";
  }
  void Touch(const std::string& path, mode_t mode) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, mode);
    ASSERT_GE(fd, 0);
    fchmod(fd, mode);
    close(fd);
  }
  // Whether another open file description can take the lock now.
  bool Free() {
    int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
  }
  mode_t Mode(const std::string& path) {
    struct stat st = {};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
  }

  std::string dir_;
  std::string path_;
};

TEST_F(HostLockTest, HeldUntilDestroyedOnOurOwnPrivateFile) {
  {
    HostLock lock(path_.c_str());
    EXPECT_TRUE(lock.held());
    EXPECT_FALSE(Free());
    EXPECT_EQ(Mode(path_), 0600u);
  }
  EXPECT_TRUE(Free());
  Touch(path_, 0644);  // readable by others: anyone could hold it
  {
    HostLock lock(path_.c_str());
    EXPECT_TRUE(lock.held());
    EXPECT_EQ(Mode(path_), 0600u);
  }
}

// A name that another user may have prepared leaves the process without the
// lock, at once, and without changing or creating anything through it.
TEST_F(HostLockTest, UntrustedFilesAreNotUsed) {
  const std::string other = dir_ + "/other";
  struct Case {
    const char* what;
    std::function<void()> prepare;
  };
  const Case kCases[] = {
      {"missing folder", [&] { path_ = dir_ + "/subdir/poolctl.lock"; }},
      {"symbolic link",
       [&] {
         Touch(other, 0644);
         ASSERT_EQ(symlink(other.c_str(), path_.c_str()), 0);
       }},
      {"dangling link", [&] { ASSERT_EQ(symlink(other.c_str(), path_.c_str()), 0); }},
      {"hard link",
       [&] {
         Touch(other, 0644);
         ASSERT_EQ(link(other.c_str(), path_.c_str()), 0);
       }},
      {"fifo", [&] { ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0); }},
      {"folder", [&] { ASSERT_EQ(mkdir(path_.c_str(), 0700), 0); }},
      {"someone else's file",
       [&] {
         if (geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
         Touch(other, 0644);
         ASSERT_EQ(chown(other.c_str(), 65534, 65534), 0);
         ASSERT_EQ(rename(other.c_str(), path_.c_str()), 0);
       }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Clear();
    c.prepare();
    if (IsSkipped()) return;
    mode_t before = Mode(path_);
    mode_t otherBefore = Mode(other);
    HostLock lock(path_.c_str());
    EXPECT_FALSE(lock.held());
    EXPECT_EQ(Mode(path_), before);
    EXPECT_EQ(Mode(other), otherBefore);  // 0 when it did not exist and still does not
  }
}

}  // namespace
