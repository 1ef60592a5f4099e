// Table and CSV share the columns and value texts of "poolctl list".
#include <string>
#include <vector>

#include "common/table.h"
#include "poolstat/output.h"

namespace Poolstat {
namespace {

std::vector<std::string> Header() {
  return {"name",      "state",  "source", "memMin",    "memMax", "memMinLimit",
          "memShares", "cpuMin", "cpuMax", "cpuShares", "differs"};
}

std::string Join(const std::vector<const char*>& names, const char* separator) {
  std::string text;
  for (const char* name : names) text += (text.empty() ? "" : separator) + std::string(name);
  return text;
}

std::vector<std::string> Line(const std::string& name, const std::string& state,
                              const char* source, const Allocation& a,
                              const std::string& differs) {
  using namespace Table;
  return {name,
          state,
          source,
          FormatMemValue(a.mem.min),
          FormatMemValue(a.mem.max),
          FormatMemValue(a.mem.minLimit),
          FormatShares(a.mem.shares),
          FormatCpuValue(a.cpu.min),
          FormatCpuValue(a.cpu.max),
          FormatShares(a.cpu.shares),
          differs};
}

// In the table a pool's live line leaves name and state to the line above;
// CSV repeats them, so that every line stands alone.
std::string Format(const Report& report, const Table::Layout& layout, bool repeatName,
                   const char* differsSeparator) {
  std::string text = Table::FormatLine(layout, Header());
  for (const PoolDrift& p : report.pools) {
    const std::string state = StateName(p.state);
    text += Table::FormatLine(layout, Line(p.pool->name, state, "declared", p.pool->declared,
                                           Join(p.differs, differsSeparator)));
    if (!p.live) continue;
    text += Table::FormatLine(layout, Line(repeatName ? p.pool->name : "",
                                           repeatName ? state : "", "live", *p.live, ""));
  }
  for (const Group& g : report.undeclared) {
    text += Table::FormatLine(layout,
                              Line(g.path, StateName(State::kUndeclared), "live", g.live, ""));
  }
  return text;
}

}  // namespace

std::string FormatTable(const Report& report) { return Format(report, Table::kTable, false, ","); }

// The differing fields are joined by ";" so that every line has the same
// number of fields.
std::string FormatCsv(const Report& report) { return Format(report, Table::kCsv, true, ";"); }

}  // namespace Poolstat
