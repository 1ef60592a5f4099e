// One definition file's text through the loader: pools or a definition error
// out, nothing else. The host's boot command line, configuration store and
// feature switches all hold something, so that every tag reaches its source.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "loader/definition_text.h"
#include "loader/load_internal.h"
#include "platform/hostsim/hostsim_testing.h"
#include "platform/hostsim/state.h"

namespace {

std::string stateDir;

void RemoveState() { (void)system(("rm -rf '" + stateDir + "'").c_str()); }

void SetUpHost(const std::string& path) {
  std::unique_ptr<hostsim::State> state = hostsim::State::Open(path);
  state->Write([&] {
    hostsim::Facts facts = state->GetFacts();
    facts.bootCmdLine = "quiet memPool=4 swap:DISABLED dbg = yes big=3e38 tiny=0.1 on=enabled";
    state->SetFacts(facts);
    const hostsim::ConfigPlace object = {"c", "g", "k", {}};
    const hostsim::ConfigPlace sub = {"c", "g", "k", {"a", "b"}};
    hostsim::ConfigValue value;
    value.intValue = 5;
    state->SetConfigValue(object, "int", value);
    state->SetConfigValue({"", "", "", {}}, "int", value);
    value.type = hostsim::ConfigValue::Type::kDouble;
    value.doubleValue = 2.5;
    state->SetConfigValue(object, "real", value);
    state->SetConfigValue(sub, "real", value);
    value.type = hostsim::ConfigValue::Type::kText;
    value.text = "text";
    state->SetConfigValue(object, "text", value);
    state->SetSwitch("on", true);
    state->SetSwitch("off", false);
  });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/loader-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr) abort();
  stateDir = dir;
  SetUpHost(stateDir + "/host.db");
  hostsim::UseStateFile(stateDir + "/host.db");
  atexit(RemoveState);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Loader::ResourcePools pools;
  try {
    Loader::internal::AppendPools(
        Loader::internal::ParseDefinitionText(std::string(reinterpret_cast<const char*>(data), size)),
        pools);
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
