// poolsync: the scheduler groups that exist brought back to the pool
// definitions, read as "poolctl list" reads them. It never creates or
// deletes a group.
#include <getopt.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "common/signature.h"
#include "common/table.h"
#include "poolsync/sync.h"

namespace {

const char kUsage[] =
    "poolsync [flags] [files...]\n"
    "    Bring the scheduler groups of this host that exist back to the\n"
    "    resource pools defined in yaml files. If no files are specified, all\n"
    "    yaml files in /etc/rp.d will be used. No group is created or deleted.\n"
    "    Exit status: 0 when every existing pool matches, 1 on an error or an\n"
    "    invalid definition, 2 with -n when something would change.\n"
    "Flags:\n"
    "    -n              Show what would change; change nothing.\n"
    "    -q              Do not name the pools and groups left alone.\n"
    "    -h, --help      Show this text.\n"
    "    --version       Show the version.\n";

constexpr int kVersion = 256;  // --version has no short form

// Returns -1 when the run should go on, else the exit status.
int ParseOptions(int argc, char** argv, Poolsync::Options* options) {
  static const option kLongOptions[] = {{"help", no_argument, nullptr, 'h'},
                                        {"version", no_argument, nullptr, kVersion},
                                        {nullptr, 0, nullptr, 0}};
  for (int opt; (opt = getopt_long(argc, argv, "nqh", kLongOptions, nullptr)) != -1;) {
    switch (opt) {
      case 'n': options->dryRun = true; break;
      case 'q': options->quiet = true; break;
      case 'h': return Table::WriteAnswer(kUsage);
      case kVersion: return Table::WriteAnswer("poolsync (poolctl) " POOLCTL_VERSION "\n");
      default:
        std::fputs(kUsage, stderr);
        return 1;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  CheckKernelSignatureOrExit();
  Poolsync::Options options;
  std::vector<std::string> files;
  // An exec with an empty argument vector gives the parser nothing to read:
  // no options, no files.
  if (argc > 0) {
    const int status = ParseOptions(argc, argv, &options);
    if (status >= 0) return status;
    files.assign(argv + optind, argv + argc);
  }
  try {
    return Poolsync::Sync(files, options);
  } catch (const std::exception& e) {
    // Only the outermost message, as poolctl prints it.
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
