#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include "cli/commands.h"

namespace {

const char kUsage[] =
    "poolctl disable [flags] <rps...>\n"
    "    Disable and delete resource pools. A pool is disabled by having its\n"
    "    minimum and maximum memory allocation set to zero.\n"
    "Flags:\n"
    "    -w <seconds>    Optionally, wait upto <seconds> per resource pool,\n"
    "                    for it to become unused.\n"
    "    -n              Only disable, do not delete. Not applicable to\n"
    "                    annex groups.\n";

}  // namespace

int DisableCommand(int argc, char** argv) {
  bool deleteGroups = true;
  time_t deadline = 0;  // lies in the past: no waiting
  for (int opt; (opt = getopt(argc, argv, "hnw:")) != -1;) {
    switch (opt) {
      case 'n':
        deleteGroups = false;
        break;
      case 'w':
        // Text that is no number counts as 0: wait until this second is over.
        deadline = time(nullptr) + static_cast<int32_t>(std::strtol(optarg, nullptr, 10));
        break;
      case 'h':
        std::fputs(kUsage, stderr);
        return 0;
      default:
        std::fputs(kUsage, stderr);
        return 1;
    }
  }
  if (optind >= argc) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  (void)deleteGroups;
  (void)deadline;
  throw std::runtime_error("disable: not available yet");
}
