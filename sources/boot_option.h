// The "!bootOption" tag: a definition value taken from the kernel boot
// command line, so that a pool can be tuned at boot without editing files.
#ifndef SOURCES_BOOT_OPTION_H_
#define SOURCES_BOOT_OPTION_H_

#include "calc/calc.h"
#include "yaml-cpp/yaml.h"

// The node is a mapping of "key", the option name as a regular expression,
// and "default", any numeric value resolved over the table (always, so its
// errors surface). "name=value" or "name:value" on the command line gives
// 1.0 for TRUE or ENABLED, 0.0 for FALSE or DISABLED (in any case), else the
// value's leading number in single precision, else the default; a bare
// "name" gives 1.0; no mention gives the default.
//
// The command line is read from the kernel on the first call and kept until
// the process ends; a failed read throws Loader::Exception "KNI_Get failed"
// without a position and is tried again next time. Shape errors are
// Loader::Exception at the node; an invalid regular expression, or one too
// costly to search, throws std::regex_error.
double ResolveBootOption(const YAML::Node& node, const Calc::Variables& table);

#endif  // SOURCES_BOOT_OPTION_H_
