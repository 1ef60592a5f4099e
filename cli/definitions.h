// Looking up loaded pool definitions by name, shared by enable and disable.
#ifndef CLI_DEFINITIONS_H_
#define CLI_DEFINITIONS_H_

#include <memory>
#include <string>

#include "loader/load.h"

// The first definition whose name is exactly this text (no prefixing, no case
// folding); std::runtime_error "<name> not found" when there is none.
std::shared_ptr<Loader::ResourcePoolImpl> FindDefinition(const std::string& name,
                                                         const Loader::ResourcePools& definitions);

#endif  // CLI_DEFINITIONS_H_
