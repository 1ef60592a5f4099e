#include "platform/hostsim/listing.h"

#include <cinttypes>
#include <cstdio>

namespace hostsim {

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
