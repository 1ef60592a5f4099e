// The boot option search against the plain search of the whole pattern, on an
// option name, a newline, then a command line short enough for the plain one.
// The line ends at its first NUL, as the one read from the kernel does.
#include <cctype>
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
  std::string value = m[1].str();
  for (char& c : value) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (value == "TRUE" || value == "ENABLED") return 1.0;
  if (value == "FALSE" || value == "DISABLED") return 0.0;
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
  const std::string name = input.substr(0, newline);
  const std::string tail = input.substr(newline + 1), line = tail.substr(0, tail.find('\0'));
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
