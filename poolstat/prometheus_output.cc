// The report in the Prometheus text format, for a node exporter's textfile
// collector: gauges only, each family's samples together, values as the raw
// kernel numbers (-1 for unset).
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "common/utf8.h"
#include "poolstat/output.h"

namespace Poolstat {
namespace {

const State kStates[] = {State::kOk,       State::kMissing,    State::kInactive, State::kDisabled,
                         State::kDrifted,  State::kUndeclared, State::kInvalid};

// One pool or undeclared group as its samples show it.
struct Series {
  std::string label;          // the pool label's value, escaped
  State state;
  const Allocation* declared;  // null for an undeclared group
  const Allocation* live;      // null when the group does not exist
};

std::string Family(const char* name, const char* help) {
  return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
}

std::string Values(const char* family, const std::string& label, const Allocation& a) {
  // Copied out: the kernel's records are packed, so their fields may not be
  // bound to references.
  const int64_t values[] = {a.mem.min, a.mem.max, a.mem.minLimit, a.mem.shares,
                            a.cpu.min, a.cpu.max, a.cpu.minLimit, a.cpu.shares};
  const char* const fields[] = {"memMin", "memMax", "memMinLimit", "memShares",
                                "cpuMin", "cpuMax", "cpuMinLimit", "cpuShares"};
  std::string text;
  for (size_t i = 0; i < 8; ++i) {
    text += std::string(family) + "{pool=\"" + label + "\",field=\"" + fields[i] + "\"} " +
            std::to_string(values[i]) + "\n";
  }
  return text;
}

}  // namespace

std::string PrometheusLabel(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (const size_t length = Utf8::SequenceLength(text, i)) {
      out.append(text, i, length);
      i += length;
      continue;
    } else {
      out += "\xef\xbf\xbd";  // U+FFFD
    }
    ++i;
  }
  return out;
}

// A name declared twice, or two names that read the same once their
// ill-formed bytes are replaced, give one series: the first. The counts
// count the series.
std::string FormatPrometheus(const Report& report) {
  std::vector<Series> all;
  std::set<std::string> labels;
  const auto add = [&](const std::string& name, State state, const Allocation* declared,
                       const Allocation* live) {
    std::string label = PrometheusLabel(name);
    if (labels.insert(label).second) all.push_back({std::move(label), state, declared, live});
  };
  for (const PoolDrift& p : report.pools) {
    add(p.pool->name, p.state, &p.pool->declared, p.live ? &*p.live : nullptr);
  }
  for (const Group& g : report.undeclared) add(g.path, State::kUndeclared, nullptr, &g.live);

  std::string text = Family("poolstat_pool_state",
                            "Whether the pool is in the state: 1 for its state, 0 for the others.");
  for (const Series& s : all) {
    for (State state : kStates) {
      text += "poolstat_pool_state{pool=\"" + s.label + "\",state=\"" + StateName(state) +
              "\"} " + (state == s.state ? "1" : "0") + "\n";
    }
  }
  text += Family("poolstat_pool_declared", "A value the pool's definition declares, -1 for unset.");
  for (const Series& s : all) {
    if (s.declared) text += Values("poolstat_pool_declared", s.label, *s.declared);
  }
  text += Family("poolstat_pool_live", "A value of the pool's group on the host, -1 for unset.");
  for (const Series& s : all) {
    if (s.live) text += Values("poolstat_pool_live", s.label, *s.live);
  }
  text += Family("poolstat_pools", "The number of pools and undeclared groups in the state.");
  for (State state : kStates) {
    size_t count = 0;
    for (const Series& s : all) count += s.state == state;
    text += std::string("poolstat_pools{state=\"") + StateName(state) + "\"} " +
            std::to_string(count) + "\n";
  }
  return text;
}

}  // namespace Poolstat
