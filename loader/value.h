// Typed values: every numeric or boolean value of a definition is a plain
// literal or a tagged expression worked out on the running host.
#ifndef LOADER_VALUE_H_
#define LOADER_VALUE_H_

#include "calc/calc.h"
#include "yaml-cpp/yaml.h"

// Both dispatch on the node's tag ("!calc", "!config", "!bootOption", "!fss",
// or a plain literal) and throw on failure. The resolvers call them again for
// nested values, so they are re-entrant and keep no state.
double ResolveNumber(const YAML::Node& node, const Calc::Variables& table);
bool ResolveBool(const YAML::Node& node, const Calc::Variables& table);

namespace Loader {

// Bounds the work of all the values resolved while it lives; the loader keeps
// one per definition file. Each value is bounded on its own as well, but
// aliases let a small file name one expensive value many times over.
class ResolutionBudget {
 public:
  ResolutionBudget();
  ~ResolutionBudget();
  ResolutionBudget(const ResolutionBudget&) = delete;
  ResolutionBudget& operator=(const ResolutionBudget&) = delete;

 private:
  long saved_;
};

}  // namespace Loader

#endif  // LOADER_VALUE_H_
