// One definition file's text in: a list of pools or a definition error out.
// Nothing else may escape, crash or hang, however the YAML is shaped
// (aliases that make a value contain itself included).
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "loader/load_internal.h"
#include "platform/hostsim/hostsim_testing.h"

namespace {

std::string stateDir;

void RemoveState() { (void)system(("rm -rf '" + stateDir + "'").c_str()); }

}  // namespace

// The host facts come from a default simulated host of the fuzzer's own.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/loader-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr) abort();
  stateDir = dir;
  hostsim::UseStateFile(stateDir + "/host.db");
  atexit(RemoveState);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Loader::ResourcePools pools;
  try {
    Loader::internal::AppendPools(
        YAML::Load(std::string(reinterpret_cast<const char*>(data), size)), pools);
  } catch (const std::exception&) {
    // The loader turns every such failure into a definition error of the file.
    return 0;
  }
  for (const auto& pool : pools) {
    if (pool->name.compare(0, 5, "host/") != 0) __builtin_trap();
    if (pool->annex && pool->isEnabled) __builtin_trap();
  }
  return 0;
}
