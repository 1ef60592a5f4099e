#include "cli/definitions.h"

#include <stdexcept>

std::shared_ptr<Loader::ResourcePoolImpl> FindDefinition(const std::string& name,
                                                         const Loader::ResourcePools& definitions) {
  for (const auto& definition : definitions) {
    if (definition->name == name) return definition;
  }
  throw std::runtime_error(name + " not found");
}
