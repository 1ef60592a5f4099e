#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "cli/commands.h"

namespace {

const char kUsage[] =
    "poolctl enable <rps...>\n"
    "    Enable disabled resource pools, which must be defined by files in\n"
    "    /etc/rp.d. A resource pools is considered disabled if it does not\n"
    "    exist or has its memory maximum set to 0. A non-existing pool\n"
    "    is enabled by getting created with settings from the yaml definition.\n"
    "    An existing pool has its memory allocation restored from the yaml\n"
    "    definition.\n";

}  // namespace

int EnableCommand(int argc, char** argv) {
  switch (getopt(argc, argv, "h")) {
    case -1:
      break;
    case 'h':
      std::fputs(kUsage, stderr);
      return 0;
    default:
      std::fputs(kUsage, stderr);
      return 1;
  }
  if (optind >= argc) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  throw std::runtime_error("enable: not available yet");
}
