// Texts as hostsim reads and shows them: strict integers, and the values of
// its one-line-per-entry listings (the trace, the group list, the rules).
#ifndef PLATFORM_HOSTSIM_TEXT_H_
#define PLATFORM_HOSTSIM_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hostsim {

// Integer texts, shared by the kernel's key texts (decimal only) and the
// hostsim tool's arguments (decimal or 0x-hex). Nothing but the number is
// accepted: no spaces, no plus sign, no trailing characters.
enum class Radix { kDecimal, kDecimalOrHex };

// An optional '-' and the digits; the value must lie within [lo, hi].
std::optional<int64_t> ParseSigned(std::string_view text, int64_t lo, int64_t hi, Radix radix);
// The digits alone; the value must not exceed hi.
std::optional<uint64_t> ParseUnsigned(std::string_view text, uint64_t hi, Radix radix);

// "0x" and 8 upper-case hex digits.
std::string StatusWord(uint32_t status);

// The text with control characters shown as \xHH, so that a name or input
// text holding a tab or a newline cannot split or shift a listed line.
std::string Printable(const std::string& text);

}  // namespace hostsim

#endif  // PLATFORM_HOSTSIM_TEXT_H_
