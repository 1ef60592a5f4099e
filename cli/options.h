// Option parsing shared by the five commands: "-h" prints the command's
// usage and ends it with 0; an option it does not know (getopt has already
// named it) prints the usage and ends it with 1.
#ifndef CLI_OPTIONS_H_
#define CLI_OPTIONS_H_

#include <unistd.h>

#include <cstdio>

constexpr int kKeepGoing = -1;

// Parses the options with getopt, handing every option other than -h to
// onOption. With once set, getopt is called a single time: commands without
// options of their own only look for -h or a stray option. Returns kKeepGoing
// when the command should run, else its exit status.
template <typename OnOption>
int ParseCommandOptions(int argc, char** argv, const char* optstring, const char* usage,
                        bool once, OnOption onOption) {
  for (int opt; (opt = getopt(argc, argv, optstring)) != -1;) {
    if (opt == 'h' || opt == '?' || opt == ':') {
      std::fputs(usage, stderr);
      return opt == 'h' ? 0 : 1;
    }
    onOption(opt);
    if (once) break;
  }
  return kKeepGoing;
}

inline int ParseCommandOptions(int argc, char** argv, const char* optstring, const char* usage,
                               bool once) {
  return ParseCommandOptions(argc, argv, optstring, usage, once, [](int) {});
}

// Commands that work on named pools need at least one name.
inline int RequireOperands(int argc, const char* usage) {
  if (optind < argc) return kKeepGoing;
  std::fputs(usage, stderr);
  return 1;
}

#endif  // CLI_OPTIONS_H_
