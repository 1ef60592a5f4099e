#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "cli/commands.h"

namespace {

const char kLoadUsage[] =
    "poolctl load [flags] [files...]\n"
    "    Create enabled resource pools defined in yaml files. If no yaml files\n"
    "    are specified, all files from /etc/rp.d will be used.\n"
    "Flags:\n"
    "    -q              Silence diagnostic messages.\n";

const char kUnloadUsage[] =
    "poolctl unload [files...]\n"
    "    Delete resource pools defined in yaml files. If no yaml files are\n"
    "    specified, all files from /etc/rp.d will be used.\n";

}  // namespace

int LoadCommand(int argc, char** argv) {
  bool quiet = false;
  for (int opt; (opt = getopt(argc, argv, "hq")) != -1;) {
    switch (opt) {
      case 'q':
        quiet = true;
        break;
      case 'h':
        std::fputs(kLoadUsage, stderr);
        return 0;
      default:
        std::fputs(kLoadUsage, stderr);
        return 1;
    }
  }
  (void)quiet;
  throw std::runtime_error("load: not available yet");
}

int UnloadCommand(int argc, char** argv) {
  // unload has no options of its own: one look for -h or a stray option.
  switch (getopt(argc, argv, "h")) {
    case -1:
      break;
    case 'h':
      std::fputs(kUnloadUsage, stderr);
      return 0;
    default:
      std::fputs(kUnloadUsage, stderr);
      return 1;
  }
  throw std::runtime_error("unload: not available yet");
}
