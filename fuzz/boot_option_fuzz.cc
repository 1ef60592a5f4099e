// The boot option search against the plain search of the whole pattern: an
// option name, a newline, then a command line, short enough for the plain
// search to be safe to run. The search cuts the value's pattern short and
// scans the value by hand, which must change no answer.
#include <strings.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <regex>
#include <string>

#include "sources/boot_option_internal.h"

namespace {

double WholePatternValue(const std::string& line, const std::string& name) {
  std::smatch m;
  if (!std::regex_search(line, m, std::regex(name + "\\s*[:=]\\s*([^\\s]+)"))) {
    return std::regex_search(line, std::regex(name)) ? 1.0 : -1.0;
  }
  const std::string value = m[1].str();
  if (strcasecmp(value.c_str(), "TRUE") == 0 || strcasecmp(value.c_str(), "ENABLED") == 0) return 1.0;
  if (strcasecmp(value.c_str(), "FALSE") == 0 || strcasecmp(value.c_str(), "DISABLED") == 0) return 0.0;
  try {
    return std::stof(value);
  } catch (const std::exception&) {  // no number, or none a float holds
    return -1.0;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  if (newline == std::string::npos || newline > 32 || size - newline - 1 > 64) return 0;
  const std::string name = input.substr(0, newline), line = input.substr(newline + 1);
  double safe = 0;
  try {
    safe = Sources::internal::BootOptionValue(line, name, -1.0);
  } catch (const std::regex_error& e) {
    // A name too costly to search: the plain search would not end.
    if (e.code() == std::regex_constants::error_complexity || e.code() == std::regex_constants::error_stack) return 0;
    try {
      WholePatternValue(line, name);
    } catch (const std::regex_error& plain) {
      if (plain.code() == e.code()) return 0;
    }
    __builtin_trap();
  }
  const double whole = WholePatternValue(line, name);
  if (safe != whole && !(std::isnan(safe) && std::isnan(whole))) __builtin_trap();
  return 0;
}
