// How hostsim shows kernel values in its one-line-per-entry listings (the
// trace, the group list, the fault rules).
#ifndef PLATFORM_HOSTSIM_LISTING_H_
#define PLATFORM_HOSTSIM_LISTING_H_

#include <cstdint>
#include <string>

namespace hostsim {

// "0x" and 8 upper-case hex digits.
std::string StatusWord(uint32_t status);

// The text with control characters shown as \xHH, so that a name or input
// text holding a tab or a newline cannot split or shift a listed line.
std::string Printable(const std::string& text);

}  // namespace hostsim

#endif  // PLATFORM_HOSTSIM_LISTING_H_
