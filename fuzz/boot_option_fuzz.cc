// The boot option search against the plain search of the whole pattern: an
// option name, a newline, then a command line. The search cuts the value's
// pattern short and scans the value by hand, which must change no answer;
// lines are kept short enough for the plain search to be safe to run.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <regex>
#include <string>

#include "sources/boot_option_internal.h"

namespace {

constexpr double kDefault = -12345;

// The option's value as a number, as the resolver reads it.
double Convert(const std::string& value) {
  std::string upper = value;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  if (upper == "TRUE" || upper == "ENABLED") return 1.0;
  if (upper == "FALSE" || upper == "DISABLED") return 0.0;
  try {
    return std::stof(value);
  } catch (const std::exception&) {
    return kDefault;
  }
}

double Whole(const std::string& line, const std::string& name) {
  std::smatch m;
  if (std::regex_search(line, m, std::regex(name + "\\s*[:=]\\s*([^\\s]+)"))) {
    return Convert(m[1].str());
  }
  return std::regex_search(line, std::regex(name)) ? 1.0 : kDefault;
}

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  if (newline == std::string::npos || newline > 32 || size - newline - 1 > 64) return 0;
  const std::string name = input.substr(0, newline);
  const std::string line = input.substr(newline + 1);

  double safe = 0;
  try {
    safe = Sources::internal::BootOptionValue(line, name, kDefault);
  } catch (const std::regex_error& e) {
    if (e.code() == std::regex_constants::error_complexity ||
        e.code() == std::regex_constants::error_stack) {
      return 0;  // a name too costly to search: the plain search would not end
    }
    try {
      Whole(line, name);
    } catch (const std::regex_error& plain) {
      if (plain.code() == e.code()) return 0;
    }
    __builtin_trap();
  }
  if (!Same(safe, Whole(line, name))) __builtin_trap();
  return 0;
}
