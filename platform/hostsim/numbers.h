// Strict integer texts, shared by the kernel's key texts (decimal only) and
// the hostsim tool's arguments (decimal or 0x-hex). Nothing but the number
// is accepted: no spaces, no plus sign, no trailing characters.
#ifndef PLATFORM_HOSTSIM_NUMBERS_H_
#define PLATFORM_HOSTSIM_NUMBERS_H_

#include <cstdint>
#include <optional>
#include <string_view>

namespace hostsim {

enum class Radix { kDecimal, kDecimalOrHex };

// An optional '-' and the digits; the value must lie within [lo, hi].
std::optional<int64_t> ParseSigned(std::string_view text, int64_t lo, int64_t hi, Radix radix);
// The digits alone; the value must not exceed hi.
std::optional<uint64_t> ParseUnsigned(std::string_view text, uint64_t hi, Radix radix);

}  // namespace hostsim

#endif  // PLATFORM_HOSTSIM_NUMBERS_H_
