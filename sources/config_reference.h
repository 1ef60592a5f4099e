// The "!config" tag: a definition value kept in the host's configuration
// store, with a default for when the store, the object or the value is not
// there.
#ifndef SOURCES_CONFIG_REFERENCE_H_
#define SOURCES_CONFIG_REFERENCE_H_

#include "calc/calc.h"
#include "yaml-cpp/yaml.h"

// The node is a mapping of "object", "key" and "default". The default is
// resolved over the table (as a number, or as a boolean for the second form)
// even when the store holds the value, so its errors always surface. Shape
// errors are Loader::Exception at the offending node. Store failures give the
// default; an unexpected library failure is a Loader::Exception at the node
// with that failure nested in it.
double ResolveConfigNumber(const YAML::Node& node, const Calc::Variables& table);
bool ResolveConfigBool(const YAML::Node& node, const Calc::Variables& table);

#endif  // SOURCES_CONFIG_REFERENCE_H_
