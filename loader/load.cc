#include "loader/load.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <system_error>

#include "loader/definition_text.h"
#include "loader/exception.h"
#include "loader/load_internal.h"
#include "loader/value.h"
#include "platform/kernel_records.h"

namespace Loader {
namespace {

const char kDefinitionDir[] = "/etc/rp.d";

// A file counts only once it carries the one-byte mark 0x01; the mark is read
// through symbolic links, and a missing file has none.
bool IsInstalled(const std::string& path) {
  unsigned char mark = 0;
  return getxattr(path.c_str(), KernelRecords::kInstalledAttribute, &mark, 1) == 1 && mark == 0x01;
}

FileError NotInstalled(const std::string& path) {
  return FileError(path, "is not installed", YAML::Mark::null_mark());
}

// Every failure of a file, wherever it arose, is reported with the file's
// path, keeping the original failure nested inside.
void LoadDefinitionFile(const std::string& path, ResourcePools& pools) {
  if (!IsInstalled(path)) throw NotInstalled(path);
  try {
    std::string text;
    if (!internal::ReadDefinitionText(path, text)) throw NotInstalled(path);
    const size_t before = pools.size();
    internal::AppendPools(internal::ParseDefinitionText(text), pools);
    for (size_t i = before; i < pools.size(); ++i) pools[i]->file = path;
  } catch (const FileError&) {
    throw;
  } catch (const YAML::Exception& e) {
    std::throw_with_nested(FileError(path, e.msg, e.mark));
  } catch (const std::exception& e) {
    std::throw_with_nested(FileError(path, e.what(), YAML::Mark::null_mark()));
  }
}

}  // namespace

namespace internal {
namespace {

struct DirCloser {
  void operator()(DIR* stream) const { closedir(stream); }
};

}  // namespace

bool IsDefinitionEntry(const std::string& dir, const dirent& entry) {
  if (entry.d_name[0] == '.') return false;
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_REG;
  // Some filesystems do not report entry types; skipping such entries would
  // make every command silently see no definitions.
  struct stat st;
  return lstat((dir + "/" + entry.d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> ListDefinitionFiles(const std::string& dir) {
  std::unique_ptr<DIR, DirCloser> stream(opendir(dir.c_str()));
  if (stream == nullptr) throw std::system_error(errno, std::generic_category(), dir);
  std::vector<std::string> paths;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(stream.get());
    if (entry == nullptr) break;
    if (IsDefinitionEntry(dir, *entry)) paths.push_back(dir + "/" + entry->d_name);
  }
  // A read error must not pass for the end of the directory.
  if (errno != 0) throw std::system_error(errno, std::generic_category(), dir);
  return paths;
}

void AppendPools(const YAML::Node& document, ResourcePools& pools) {
  // A null or scalar document declares nothing. A map is walked like a
  // sequence and fails at its first entry, which is no node of its own.
  if (document.IsNull() || document.IsScalar()) return;
  const ResolutionBudget budget;
  for (const YAML::Node& entry : document) {
    pools.push_back(std::make_shared<ResourcePoolImpl>(entry));
  }
}

}  // namespace internal

ResourcePools LoadResourcePools(const std::vector<std::string>& paths, bool reverse) {
  const std::vector<std::string> files =
      paths.empty() ? internal::ListDefinitionFiles(kDefinitionDir) : paths;
  ResourcePools pools;
  for (const std::string& path : files) LoadDefinitionFile(path, pools);
  if (reverse) {
    std::sort(pools.begin(), pools.end(),
              [](const auto& a, const auto& b) { return b->name < a->name; });
  } else {
    std::sort(pools.begin(), pools.end(),
              [](const auto& a, const auto& b) { return a->name < b->name; });
  }
  return pools;
}

}  // namespace Loader
