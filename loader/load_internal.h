// Steps of the loader exposed for tests and the fuzzer; the commands use
// load.h only.
#ifndef LOADER_LOAD_INTERNAL_H_
#define LOADER_LOAD_INTERNAL_H_

#include <dirent.h>

#include <string>
#include <vector>

#include "loader/load.h"

namespace Loader {
namespace internal {

// Whether a directory entry is a definition file: a regular file whose name
// does not begin with ".". Entries whose type the directory does not report
// are looked at with lstat.
bool IsDefinitionEntry(const std::string& dir, const dirent& entry);

// The paths of the definition files of dir, in the order the directory gives.
std::vector<std::string> ListDefinitionFiles(const std::string& dir);

// Appends one pool per entry of a loaded definition document.
void AppendPools(const YAML::Node& document, ResourcePools& pools);

}  // namespace internal
}  // namespace Loader

#endif  // LOADER_LOAD_INTERNAL_H_
