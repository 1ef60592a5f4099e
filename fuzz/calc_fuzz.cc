// Any text given to the calc language ends in a value or in Calc::Exception
// at a position inside the text; nothing else may escape, crash or hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "calc/calc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Calc::Variables kHostFacts = {{"numPCPUs", 64}, {"maxVMs", 1024}, {"isInstaller", 0}, {"isVm", 1},
      {"physKB", 268435456.0}, {"zrvdefs.obx86_debug", 0}, {"zrvdefs.GCOV_ZORVEK", 0}};
  const std::string expression(reinterpret_cast<const char*>(data), size);
  try {
    Calc::Evaluate(expression, kHostFacts);
  } catch (const Calc::Exception& e) {
    if (e.position > expression.size()) __builtin_trap();
  }
  return 0;
}
