// poolstat: the scheduler groups on this host next to the pool definitions.
// It reads the definitions as "poolctl list" does and makes only reading
// kernel calls.
#include <getopt.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "common/signature.h"
#include "common/table.h"
#include "drift/live.h"
#include "loader/load.h"
#include "poolstat/output.h"

namespace {

const char kUsage[] =
    "poolstat [flags] [files...]\n"
    "    Compare the scheduler groups of this host with the resource pools\n"
    "    defined in yaml files. If no files are specified, all yaml files in\n"
    "    /etc/rp.d will be used. Nothing on the host is changed.\n"
    "    Exit status: 0 when every pool matches, 2 when a pool is missing,\n"
    "    disabled, drifted or invalid, 1 on an error.\n"
    "Flags:\n"
    "    -v, --csv       Use CSV format instead of table.\n"
    "    -j, --json      Use JSON format instead of table.\n"
    "    --prometheus    Use the Prometheus text format instead of table; the\n"
    "                    exit status is then 0 once the report is written.\n"
    "    -h, --help      Show this text.\n"
    "    --version       Show the version.\n";

constexpr int kMismatch = 2;

using Formatter = std::string (*)(const Drift::Report&);

constexpr int kVersion = 256;  // --version and --prometheus have no short form
constexpr int kPrometheus = 257;

// Returns -1 when the report should be made, else the exit status.
int ParseOptions(int argc, char** argv, Formatter* format) {
  static const option kLongOptions[] = {{"help", no_argument, nullptr, 'h'},
                                        {"version", no_argument, nullptr, kVersion},
                                        {"csv", no_argument, nullptr, 'v'},
                                        {"json", no_argument, nullptr, 'j'},
                                        {"prometheus", no_argument, nullptr, kPrometheus},
                                        {nullptr, 0, nullptr, 0}};
  for (int opt; (opt = getopt_long(argc, argv, "hvj", kLongOptions, nullptr)) != -1;) {
    switch (opt) {
      case 'v': *format = Poolstat::FormatCsv; break;
      case 'j': *format = Poolstat::FormatJson; break;
      case kPrometheus: *format = Poolstat::FormatPrometheus; break;
      case 'h': return Table::WriteAnswer(kUsage);
      case kVersion: return Table::WriteAnswer("poolstat (poolctl) " POOLCTL_VERSION "\n");
      default:
        std::fputs(kUsage, stderr);
        return 1;
    }
  }
  return -1;
}

int Run(const std::vector<std::string>& files, Formatter format) {
  const std::vector<Drift::Pool> pools =
      Drift::Declarations(Loader::LoadResourcePools(files, false));
  const Drift::Report report = Drift::JudgeHost(pools);
  Table::WriteOutput(format(report));
  Table::CheckOutput(std::fflush(stdout) == 0);
  // The metrics carry the states: a written report is a success.
  return report.Matches() || format == Poolstat::FormatPrometheus ? 0 : kMismatch;
}

}  // namespace

int main(int argc, char** argv) {
  CheckKernelSignatureOrExit();
  Formatter format = Poolstat::FormatTable;
  std::vector<std::string> files;
  // An exec with an empty argument vector gives the parser nothing to read:
  // no options, no files.
  if (argc > 0) {
    const int status = ParseOptions(argc, argv, &format);
    if (status >= 0) return status;
    files.assign(argv + optind, argv + argc);
  }
  try {
    return Run(files, format);
  } catch (const std::exception& e) {
    // Only the outermost message, as poolctl prints it.
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
