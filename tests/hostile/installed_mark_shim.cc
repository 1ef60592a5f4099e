// Loaded into poolctl with LD_PRELOAD: every file reads as carrying the
// installed mark, as if a symbolic link had been swapped to it between the
// check of the mark and the open. Only that attribute is forged; everything
// else goes to the C library.
#include <dlfcn.h>
#include <sys/types.h>
#include <sys/xattr.h>

#include <cstring>

namespace {

const char kInstalledAttribute[] = "user.lumen.installed";

ssize_t Forge(const char* name, void* value, size_t size) {
  if (std::strcmp(name, kInstalledAttribute) != 0) return -1;
  if (size < 1) return 1;
  *static_cast<unsigned char*>(value) = 0x01;
  return 1;
}

}  // namespace

extern "C" ssize_t getxattr(const char* path, const char* name, void* value, size_t size) {
  const ssize_t forged = Forge(name, value, size);
  if (forged >= 0) return forged;
  using Real = ssize_t (*)(const char*, const char*, void*, size_t);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getxattr"));
  return real(path, name, value, size);
}

extern "C" ssize_t fgetxattr(int fd, const char* name, void* value, size_t size) {
  const ssize_t forged = Forge(name, value, size);
  if (forged >= 0) return forged;
  using Real = ssize_t (*)(int, const char*, void*, size_t);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "fgetxattr"));
  return real(fd, name, value, size);
}
