// The floor under `poolctl list`: loads each file named on the command line
// with YAML::LoadFile and does nothing else with it.
#include <cstdio>

#include "yaml-cpp/yaml.h"

int main(int argc, char** argv) {
  size_t entries = 0;
  for (int i = 1; i < argc; ++i) entries += YAML::LoadFile(argv[i]).size();
  std::printf("%zu entries\n", entries);
  return 0;
}
