// Loading the pool definitions: the installed definition files of /etc/rp.d,
// or the files named by the caller.
#ifndef LOADER_LOAD_H_
#define LOADER_LOAD_H_

#include <memory>
#include <string>
#include <vector>

#include "loader/resource_pool.h"

namespace Loader {

using ResourcePools = std::vector<std::shared_ptr<ResourcePoolImpl>>;

// Every pool of every file, sorted by name: ascending, so that parents come
// before their children, or descending when reverse is set. An empty path
// list means every definition file of /etc/rp.d. The first failing file ends
// the load with a FileError that begins with its path; /etc/rp.d that cannot
// be read is a std::system_error.
ResourcePools LoadResourcePools(const std::vector<std::string>& paths, bool reverse);

}  // namespace Loader

#endif  // LOADER_LOAD_H_
