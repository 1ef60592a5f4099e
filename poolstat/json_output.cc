// The report as one JSON document, keys in a fixed order, numbers as the raw
// kernel values (-1 for unset), one pool per line.
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/utf8.h"
#include "poolstat/output.h"

namespace Poolstat {
namespace {

std::string Bool(bool value) { return value ? "true" : "false"; }

std::string Number(const char* key, int64_t value) {
  return JsonString(key) + ": " + std::to_string(value);
}

std::string Values(const Allocation& a) {
  return Number("memMin", a.mem.min) + ", " + Number("memMax", a.mem.max) + ", " +
         Number("memMinLimit", a.mem.minLimit) + ", " + Number("memShares", a.mem.shares) +
         ", " + Number("cpuMin", a.cpu.min) + ", " + Number("cpuMax", a.cpu.max) + ", " +
         Number("cpuMinLimit", a.cpu.minLimit) + ", " + Number("cpuShares", a.cpu.shares);
}

std::string LiveValues(const std::optional<Allocation>& live) {
  return live ? "{" + Values(*live) + "}" : "null";
}

// Only an invalid pool has a reason.
std::string Reason(const PoolDrift& p) {
  return p.state == State::kInvalid ? ", \"reason\": " + JsonString(p.reason) : "";
}

std::string PoolObject(const PoolDrift& p) {
  std::string differs;
  for (const char* name : p.differs) differs += (differs.empty() ? "" : ", ") + JsonString(name);
  return "{\"name\": " + JsonString(p.pool->name) + ", \"state\": " +
         JsonString(StateName(p.state)) + ", \"differs\": [" + differs + "]" + Reason(p) +
         ", \"declared\": {\"auto\": " + Bool(p.pool->isEnabled) +
         ", \"annex\": " + Bool(p.pool->annex) + ", " + Values(p.pool->declared) +
         "}, \"live\": " + LiveValues(p.live) + "}";
}

std::string GroupObject(const Group& g) {
  return "{\"name\": " + JsonString(g.path) + ", \"live\": " + LiveValues(g.live) + "}";
}

// "[]" when empty, else one element per line.
template <typename Items, typename Format>
std::string Array(const Items& items, Format format) {
  if (items.empty()) return "[]";
  std::string text = "[\n";
  for (size_t i = 0; i < items.size(); ++i) {
    text += "  " + format(items[i]) + (i + 1 < items.size() ? ",\n" : "\n");
  }
  return text + "]";
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (const size_t length = Utf8::SequenceLength(text, i)) {
      out.append(text, i, length);
      i += length;
      continue;
    } else {
      out += "\\ufffd";
    }
    ++i;
  }
  return out + "\"";
}

std::string FormatJson(const Report& report) {
  return "{\"matches\": " + Bool(report.Matches()) +
         ",\n\"pools\": " + Array(report.pools, PoolObject) +
         ",\n\"undeclared\": " + Array(report.undeclared, GroupObject) + "}\n";
}

}  // namespace Poolstat
