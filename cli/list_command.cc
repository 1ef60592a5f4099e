#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "common/table.h"
#include "loader/load.h"

namespace {

const char kUsage[] =
    "poolctl list [flags] [files...]\n"
    "    List resource pools defined in yaml files. If no files are specified,\n"
    "    all yaml files in /etc/rp.d will be used.\n"
    "Flags:\n"
    "    -v              Use CSV format instead of table.\n";

void WriteLine(const Table::Layout& layout, const std::vector<std::string>& columns) {
  Table::WriteOutput(Table::FormatLine(layout, columns));
}

void WritePool(const Table::Layout& layout, const Loader::ResourcePoolImpl& pool) {
  using namespace Table;
  WriteLine(layout, {pool.name, pool.isEnabled ? "yes" : "no", FormatMemValue(pool.mem.min),
                     FormatMemValue(pool.mem.max), FormatMemValue(pool.mem.minLimit),
                     FormatShares(pool.mem.shares), FormatCpuValue(pool.cpu.min),
                     FormatCpuValue(pool.cpu.max), FormatShares(pool.cpu.shares)});
}

}  // namespace

int ListCommand(int argc, char** argv) {
  const Table::Layout* layout = &Table::kTable;
  int status =
      ParseCommandOptions(argc, argv, "hv", kUsage, false, [&](int) { layout = &Table::kCsv; });
  if (status != kKeepGoing) return status;
  // The header goes out first, so that it stands even when a file then fails.
  WriteLine(*layout, {"name", "auto", "memMin", "memMax", "memMinLimit", "memShares", "cpuMin",
                      "cpuMax", "cpuShares"});
  Table::CheckOutput(std::fflush(stdout) == 0);
  const std::vector<std::string> files(argv + optind, argv + argc);
  // Nothing can fail between two rows, so they go out in large writes rather
  // than one system call per pool.
  for (const auto& pool : Loader::LoadResourcePools(files, false)) WritePool(*layout, *pool);
  Table::CheckOutput(std::fflush(stdout) == 0);
  return 0;
}
