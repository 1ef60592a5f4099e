#include "platform/hostsim/text.h"

#include <cinttypes>
#include <cstdio>

namespace hostsim {
namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The magnitude of a number text without its sign; none when the text is
// empty, holds a foreign character or does not fit 64 bits.
std::optional<uint64_t> Magnitude(std::string_view text, Radix radix) {
  uint64_t base = 10;
  if (radix == Radix::kDecimalOrHex && text.size() > 2 && text[0] == '0' &&
      (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    int digit = DigitValue(c);
    if (digit < 0 || static_cast<uint64_t>(digit) >= base) return std::nullopt;
    if (value > (UINT64_MAX - static_cast<uint64_t>(digit)) / base) return std::nullopt;
    value = value * base + static_cast<uint64_t>(digit);
  }
  return value;
}

}  // namespace

std::optional<int64_t> ParseSigned(std::string_view text, int64_t lo, int64_t hi, Radix radix) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  std::optional<uint64_t> magnitude = Magnitude(text, radix);
  if (!magnitude) return std::nullopt;
  // 128 bits hold both INT64_MIN's magnitude and any 64-bit magnitude.
  __int128 value = negative ? -static_cast<__int128>(*magnitude) : *magnitude;
  if (value < lo || value > hi) return std::nullopt;
  return static_cast<int64_t>(value);
}

std::optional<uint64_t> ParseUnsigned(std::string_view text, uint64_t hi, Radix radix) {
  std::optional<uint64_t> value = Magnitude(text, radix);
  if (!value || *value > hi) return std::nullopt;
  return value;
}

std::string StatusWord(uint32_t status) {
  char text[16];
  snprintf(text, sizeof text, "0x%08" PRIX32, status);
  return text;
}

std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace hostsim
