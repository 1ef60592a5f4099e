// Loaded into poolctl with LD_PRELOAD: every file reads as carrying the installed mark, as if a
// link had been swapped between the check of the mark and the open. All else is the C library's.
#include <dlfcn.h>
#include <sys/types.h>

#include <cstring>

#include "platform/kernel_records.h"

// The mark's one byte, or what the C library's own function answers.
template <typename File>
ssize_t Forged(const char* call, File file, const char* name, void* value, size_t size) {
  if (std::strcmp(name, KernelRecords::kInstalledAttribute) != 0) {
    using Real = ssize_t (*)(File, const char*, void*, size_t);
    return reinterpret_cast<Real>(dlsym(RTLD_NEXT, call))(file, name, value, size);
  }
  if (size >= 1) *static_cast<unsigned char*>(value) = 0x01;
  return 1;
}

extern "C" ssize_t getxattr(const char* path, const char* name, void* value, size_t size) {
  return Forged("getxattr", path, name, value, size);
}
extern "C" ssize_t fgetxattr(int fd, const char* name, void* value, size_t size) {
  return Forged("fgetxattr", fd, name, value, size);
}
