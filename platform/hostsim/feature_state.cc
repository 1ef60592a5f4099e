// Feature switches over the state file. Each lookup reads the switch afresh
// and copies its state into a byte that this process keeps for the switch,
// so the pointer handed out stays valid until exit.
#include "feature_state.h"

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/hostsim/library.h"
#include "platform/hostsim/state.h"
#include "platform/hostsim/text.h"

namespace {

// A lookup before any FeatureState_Init finds nothing, so that a caller that
// forgets it is caught on the simulated host.
std::atomic<bool> initialised{false};

std::mutex bytesMutex;
// Never destroyed: callers may read their bytes while the process exits.
std::map<std::string, uint8_t>& Bytes() {
  static auto* bytes = new std::map<std::string, uint8_t>();
  return *bytes;
}

}  // namespace

extern "C" {

void FeatureState_Init(void) {
  try {
    hostsim::WithState([](hostsim::State& state) {
      state.log().Record({"FeatureState_Init", "-", "-", "-", "ok"});
    });
  } catch (const std::exception&) {
    // Reported by the library; the lookups fail on their own.
  }
  initialised = true;
}

const uint8_t* GetFeatureState_Slow(const char* name) {
  if (name == nullptr) return nullptr;
  try {
    const bool ready = initialised;
    std::optional<bool> on;
    hostsim::WithState([&](hostsim::State& state) {
      if (ready) on = state.settings().Switch(name);
      state.log().Record({"GetFeatureState_Slow", "-", "-", hostsim::Printable(name),
                          !ready ? "uninitialised" : !on ? "unknown" : *on ? "on" : "off"});
    });
    if (!on) return nullptr;
    std::lock_guard<std::mutex> lock(bytesMutex);
    uint8_t& byte = Bytes()[name];
    byte = *on ? 1 : 0;
    return &byte;
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // extern "C"
