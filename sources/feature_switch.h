// The "!fss" tag: a definition value that is the state of a host feature
// switch.
#ifndef SOURCES_FEATURE_SWITCH_H_
#define SOURCES_FEATURE_SWITCH_H_

#include "yaml-cpp/yaml.h"

// The node's scalar text names the switch, unchanged. True when the host
// knows the switch and it is on; a switch the host does not know is off.
// Throws Loader::Exception when the node is not a scalar.
bool ResolveFeatureSwitch(const YAML::Node& node);

#endif  // SOURCES_FEATURE_SWITCH_H_
