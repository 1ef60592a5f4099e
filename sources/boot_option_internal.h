// The search of the boot command line, apart from the process-wide cached
// line, so that tests can give it any line.
#ifndef SOURCES_BOOT_OPTION_INTERNAL_H_
#define SOURCES_BOOT_OPTION_INTERNAL_H_

#include <string>

namespace Sources {
namespace internal {

// What the option name gives on the command line, or fallback when the line
// does not mention it (steps after the reference has been read).
double BootOptionValue(const std::string& cmdline, const std::string& name, double fallback);

}  // namespace internal
}  // namespace Sources

#endif  // SOURCES_BOOT_OPTION_INTERNAL_H_
