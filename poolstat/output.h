// The forms of the drift report: a table for people, CSV and JSON for
// scripts, the Prometheus text format for a fleet's monitoring. Each returns the whole text, so that nothing is written before the
// report is complete.
#ifndef POOLSTAT_OUTPUT_H_
#define POOLSTAT_OUTPUT_H_

#include <string>

#include "drift/drift.h"

namespace Poolstat {

using Drift::Allocation;
using Drift::Group;
using Drift::PoolDrift;
using Drift::Report;
using Drift::State;
using Drift::StateName;

std::string FormatTable(const Report& report);
std::string FormatCsv(const Report& report);
std::string FormatJson(const Report& report);
std::string FormatPrometheus(const Report& report);

// A JSON string literal, quotes included. Control characters become \u00XX;
// each byte that is not part of a well-formed UTF-8 sequence becomes \ufffd,
// so the document is always valid UTF-8 (group names may hold any byte).
std::string JsonString(const std::string& text);

// A Prometheus label value, without its quotes: backslash, double quote and
// newline escaped, and each byte that is not part of well-formed UTF-8
// replaced by U+FFFD.
std::string PrometheusLabel(const std::string& text);

}  // namespace Poolstat

#endif  // POOLSTAT_OUTPUT_H_
