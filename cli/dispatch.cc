#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "cli/commands.h"
#include "common/signature.h"
#include "kni.h"

namespace {

struct Command {
  const char* word;
  CommandHandler handler;
};

// Kept in the order in which help and the list of valid commands show them.
const Command kCommandTable[] = {
    {"disable", DisableCommand}, {"unload", UnloadCommand}, {"enable", EnableCommand},
    {"load", LoadCommand},       {"list", ListCommand},
};

const Command* FindCommand(const char* word) {
  for (const Command& c : kCommandTable) {
    if (std::strcmp(c.word, word) == 0) return &c;
  }
  return nullptr;
}

// Every command prints its own usage for "-h"; help is their concatenation.
void PrintHelpListing() {
  for (const Command& c : kCommandTable) {
    std::string word = c.word;
    char help[] = "-h";
    char* argv[] = {&word[0], help, nullptr};
    c.handler(2, argv);
    optind = 1;  // the next handler parses from the start again
    std::fputc('\n', stderr);
    std::fflush(stderr);
  }
}

void PrintUnknownCommand(const char* word) {
  std::string text = std::string("Unknown command ") + word + "\nValid commands:";
  for (const Command& c : kCommandTable) text += std::string(" ") + c.word;
  text += "\n";
  std::fputs(text.c_str(), stderr);
}

}  // namespace

int PoolctlMain(int argc, char** argv) {
  CheckKernelSignatureOrExit();
  // An empty vector (argc 0, which an exec with no arguments can give) has no
  // argv[1] to look at: it counts as no argument at all.
  if (argc < 2 || std::strcmp(argv[1], "-h") == 0) {
    PrintHelpListing();
    return LegacyMain(argc, argv);
  }
  if (argv[1][0] == '-') return LegacyMain(argc, argv);
  const Command* command = FindCommand(argv[1]);
  if (command == nullptr) {
    PrintUnknownCommand(argv[1]);
    return 1;
  }
  try {
    return command->handler(argc - 1, argv + 1);
  } catch (const std::exception& e) {
    // Only the outermost message: a nested cause stays attached, unprinted.
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
