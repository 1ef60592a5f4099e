// Table and CSV share the columns and value texts of "poolctl list".
#include <string>
#include <vector>

#include "common/table.h"
#include "poolstat/output.h"

namespace Poolstat {
namespace {

std::vector<std::string> Header() {
  return {"name",   "state",  "source",      "memMin",    "memMax",  "memMinLimit", "memShares",
          "cpuMin", "cpuMax", "cpuMinLimit", "cpuShares", "differs"};
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
          FormatCpuValue(a.cpu.minLimit),
          FormatShares(a.cpu.shares),
          differs};
}

// The table keeps its columns apart: a value that fills its column or runs
// past it gets one space before it, and the list of differing fields, as
// wide as it needs, comes last, left-aligned after two spaces and unpadded.
std::string TableLine(std::vector<std::string> columns) {
  const std::string differs = columns.back();
  columns.pop_back();
  for (size_t i = 1; i < columns.size(); ++i) {
    if (columns[i].size() >= static_cast<size_t>(Table::kTable.valueWidth)) {
      columns[i].insert(0, 1, ' ');
    }
  }
  std::string line = Table::FormatLine(Table::kTable, columns);
  if (!differs.empty()) line.insert(line.size() - 1, "  " + differs);
  return line;
}

// The last cell, the differing fields or an invalid pool's reason, keeps the
// field count: commas become semicolons and line breaks spaces.
std::string CsvLine(std::vector<std::string> columns) {
  for (char& c : columns.back()) {
    if (c == ',') c = ';';
    if (c == '\n' || c == '\r') c = ' ';
  }
  return Table::FormatLine(Table::kCsv, columns);
}

// In the table a pool's live line leaves name and state to the line above;
// CSV repeats them, so that every line stands alone.
std::string Format(const Report& report, std::string (*format)(std::vector<std::string>),
                   bool repeatName, const char* differsSeparator) {
  std::string text = format(Header());
  for (const PoolDrift& p : report.pools) {
    const std::string state = StateName(p.state);
    // An invalid pool's line gives the reason in place of the differing fields.
    text += format(Line(p.pool->name, state, "declared", p.pool->declared,
                        p.state == State::kInvalid ? p.reason : Join(p.differs, differsSeparator)));
    if (!p.live) continue;
    text += format(Line(repeatName ? p.pool->name : "", repeatName ? state : "", "live",
                        *p.live, ""));
  }
  for (const Group& g : report.undeclared) {
    text += format(Line(g.path, StateName(State::kUndeclared), "live", g.live, ""));
  }
  return text;
}

}  // namespace

std::string FormatTable(const Report& report) { return Format(report, TableLine, false, ","); }

// The differing fields are joined by ";" so that every line has the same
// number of fields.
std::string FormatCsv(const Report& report) { return Format(report, CsvLine, true, ";"); }

}  // namespace Poolstat
