// One definition file's text through the loader, on the tests' host: pools or
// a definition error out, nothing else.
#include <cstddef>
#include <cstdint>
#include <string>

#include "loader/definition_text.h"
#include "loader/load_internal.h"
#include "loader/testing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  loader_testing::Host();  // made on the first input
  Loader::ResourcePools pools;
  try {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Loader::internal::AppendPools(Loader::internal::ParseDefinitionText(text), pools);
  } catch (const std::exception&) {
    return 0;  // the loader makes every such failure a definition error of the file
  }
  for (const auto& pool : pools) {
    if (pool->name.compare(0, 5, "host/") != 0 || (pool->annex && pool->isEnabled)) __builtin_trap();
  }
  return 0;
}
