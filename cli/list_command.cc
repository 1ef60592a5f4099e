#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "cli/commands.h"

namespace {

const char kUsage[] =
    "poolctl list [flags] [files...]\n"
    "    List resource pools defined in yaml files. If no files are specified,\n"
    "    all yaml files in /etc/rp.d will be used.\n"
    "Flags:\n"
    "    -v              Use CSV format instead of table.\n";

}  // namespace

int ListCommand(int argc, char** argv) {
  bool csv = false;
  for (int opt; (opt = getopt(argc, argv, "hv")) != -1;) {
    switch (opt) {
      case 'v':
        csv = true;
        break;
      case 'h':
        std::fputs(kUsage, stderr);
        return 0;
      default:
        std::fputs(kUsage, stderr);
        return 1;
    }
  }
  (void)csv;
  throw std::runtime_error("list: not available yet");
}
