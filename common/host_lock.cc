#include "common/host_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The lock lives in a folder that every user may write to, so whatever is
// found under its name may have been put there to harm us. Only our own
// plain file with a single link is used, opened without following links and
// without blocking (a FIFO would block the open), and readable by us alone:
// flock needs no write permission, so anyone who can open the file could
// hold the lock forever and stall every poolctl of the host.
int OpenLockFile(const char* path) {
  int fd = open(path, O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  struct stat st = {};
  bool trusted =
      fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid();
  if (trusted && (st.st_mode & 077) != 0) trusted = fchmod(fd, 0600) == 0;
  if (!trusted) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

HostLock::HostLock(const char* path) : fd_(OpenLockFile(path)) {
  if (fd_ < 0) return;
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    close(fd_);
    fd_ = -1;
    return;
  }
}

HostLock::~HostLock() {
  if (fd_ >= 0) close(fd_);  // closing the only descriptor releases the lock
}
