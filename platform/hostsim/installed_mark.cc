#include "platform/hostsim/installed_mark.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/kernel_records.h"

namespace hostsim {
namespace {

const char kMarkValue = 0x01;

[[noreturn]] void Fail(const std::string& what) { throw FileError(what + ": " + strerror(errno)); }

// Makes dir and its missing parents.
void MakeFolders(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    std::string prefix = dir.substr(0, slash);
    if (!prefix.empty() && mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) Fail(prefix);
    if (slash == std::string::npos) break;
  }
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) Fail(dir);
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    Fail(dir);
  }
}

std::string ReadWhole(const std::string& file) {
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail(file);
  std::string content;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int saved = errno;
      close(fd);
      errno = saved;
      Fail(file);
    }
    if (n == 0) break;
    content.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return content;
}

bool WriteWhole(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void MarkInstalled(const std::string& file) {
  if (setxattr(file.c_str(), KernelRecords::kInstalledAttribute, &kMarkValue, 1, 0) != 0) {
    Fail(file);
  }
}

void InstallFile(const std::string& file, const std::string& dir) {
  std::string name = file.substr(file.rfind('/') + 1);
  if (name.empty() || name == "." || name == "..") {
    errno = EISDIR;
    Fail(file);
  }
  std::string content = ReadWhole(file);
  MakeFolders(dir);
  // Written under a hidden name, marked, then renamed into place: the loader
  // skips names beginning with ".", so it never sees a partial copy.
  std::string temp = dir + "/." + name + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) Fail(dir);
  bool ok = WriteWhole(fd, content) && fchmod(fd, 0644) == 0 &&
            fsetxattr(fd, KernelRecords::kInstalledAttribute, &kMarkValue, 1, 0) == 0;
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  std::string target = dir + "/" + name;
  if (ok && rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    errno = saved;
    Fail(target);
  }
}

}  // namespace hostsim
