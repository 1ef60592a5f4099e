// The boot option search against the plain search of the whole pattern, on an
// option name, a newline, then a command line short enough for the plain one.
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
  } catch (const std::regex_error&) {
    return 0;  // no regular expression, or one so costly that the plain search might never end
  }
  const double whole = WholePatternValue(line, name);
  if (safe != whole && !(std::isnan(safe) && std::isnan(whole))) __builtin_trap();
  return 0;
}
