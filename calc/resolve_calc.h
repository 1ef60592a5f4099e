// The "!calc" tag: a definition value computed by the calc language.
#ifndef CALC_RESOLVE_CALC_H_
#define CALC_RESOLVE_CALC_H_

#include "calc/calc.h"
#include "yaml-cpp/yaml.h"

// A scalar is one expression over the table. A mapping names local variables,
// each any numeric value resolved over the table, and its "=" entry holds the
// expression, which sees the table and the local variables. Errors are
// Loader::Exception at the offending node; the YAML library's own errors pass
// through unchanged. The table is never modified.
double ResolveCalc(const YAML::Node& node, const Calc::Variables& table);

#endif  // CALC_RESOLVE_CALC_H_
