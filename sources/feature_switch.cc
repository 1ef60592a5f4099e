#include "sources/feature_switch.h"

#include <cstdint>

#include "feature_state.h"
#include "loader/exception.h"

bool ResolveFeatureSwitch(const YAML::Node& node) {
  if (!node.IsScalar()) throw Loader::Exception(node.Mark(), "!fss Node is not a scalar.");
  // The library asks for its initialisation before every lookup, not only
  // before the first.
  FeatureState_Init();
  const uint8_t* state = GetFeatureState_Slow(node.Scalar().c_str());
  return state != nullptr && *state != 0;
}
