#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "loader/load.h"

namespace {

const char kUsage[] =
    "poolctl list [flags] [files...]\n"
    "    List resource pools defined in yaml files. If no files are specified,\n"
    "    all yaml files in /etc/rp.d will be used.\n"
    "Flags:\n"
    "    -v              Use CSV format instead of table.\n";

const int kColumns = 9;

struct Layout {
  int nameWidth;   // left-aligned
  int valueWidth;  // right-aligned
  const char* separator;
};

const Layout kTable = {48, 12, ""};
const Layout kCsv = {0, 0, ","};

std::string FormatMemValue(int64_t value) {
  return value == -1 ? "-" : std::to_string(value);
}

std::string FormatCpuValue(int32_t value) {
  return value == -1 ? "-" : std::to_string(value);
}

// Shares also take the kernel's three named levels.
std::string FormatShares(int64_t value) {
  switch (value) {
    case -1: return "-";
    case -2: return "low";
    case -3: return "normal";
    case -4: return "high";
    default: return std::to_string(value);
  }
}

// A listing that cannot be written whole must not end as a success.
void CheckOutput(bool written) {
  if (!written) throw std::system_error(errno, std::generic_category(), "standard output");
}

// Values wider than their column are written whole; the rest of the line
// moves right.
void WriteLine(const Layout& layout, const std::string (&columns)[kColumns]) {
  std::string line;
  for (int i = 0; i < kColumns; ++i) {
    const std::string& text = columns[i];
    const size_t width = static_cast<size_t>(i == 0 ? layout.nameWidth : layout.valueWidth);
    const std::string padding(text.size() < width ? width - text.size() : 0, ' ');
    line += i == 0 ? text + padding : padding + text;
    if (i + 1 < kColumns) line += layout.separator;
  }
  line += '\n';
  CheckOutput(std::fwrite(line.data(), 1, line.size(), stdout) == line.size());
}

void WritePool(const Layout& layout, const Loader::ResourcePoolImpl& pool) {
  WriteLine(layout, {pool.name, pool.isEnabled ? "yes" : "no", FormatMemValue(pool.mem.min),
                     FormatMemValue(pool.mem.max), FormatMemValue(pool.mem.minLimit),
                     FormatShares(pool.mem.shares), FormatCpuValue(pool.cpu.min),
                     FormatCpuValue(pool.cpu.max), FormatShares(pool.cpu.shares)});
}

}  // namespace

int ListCommand(int argc, char** argv) {
  const Layout* layout = &kTable;
  int status = ParseCommandOptions(argc, argv, "hv", kUsage, false, [&](int) { layout = &kCsv; });
  if (status != kKeepGoing) return status;
  // The header goes out first, so that it stands even when a file then fails.
  WriteLine(*layout, {"name", "auto", "memMin", "memMax", "memMinLimit", "memShares", "cpuMin",
                      "cpuMax", "cpuShares"});
  CheckOutput(std::fflush(stdout) == 0);
  const std::vector<std::string> files(argv + optind, argv + argc);
  // Nothing can fail between two rows, so they go out in large writes rather
  // than one system call per pool.
  for (const auto& pool : Loader::LoadResourcePools(files, false)) WritePool(*layout, *pool);
  CheckOutput(std::fflush(stdout) == 0);
  return 0;
}
