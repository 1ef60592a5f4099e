// The configuration store over the state file. Handles hold only names: each
// call looks the state up afresh in a transaction of its own, which also uses
// up a pending fault and traces the call, so a value changed by another
// process meanwhile is seen at once.
#include "config_store.h"

#include <initializer_list>
#include <stdexcept>
#include <type_traits>

#include "platform/hostsim/library.h"
#include "platform/hostsim/state.h"
#include "platform/hostsim/text.h"

namespace KestrelConfigStore {
const std::string sGlobalNamespace = "global";
}  // namespace KestrelConfigStore

namespace hostsim {
namespace {

using KestrelConfigStore::ConfigStoreException;
using KestrelConfigStore::ConfigStoreObject;
using KestrelConfigStore::ConfigStoreObjectId;
using KestrelConfigStore::InvalidTypeException;
using KestrelConfigStore::SubObjectId;

// The texts a call was given, as the trace shows them.
std::string Inputs(std::initializer_list<std::string> texts) {
  std::string out;
  for (const std::string& text : texts) out += (out.empty() ? "" : ",") + Printable(text);
  return out;
}

// The fourth text of an object id and the second of a sub-object id name
// instances, which the simulated store does not have: only the empty text
// finds anything.
std::shared_ptr<ConfigStoreObject> FindObject(const char* call, const std::string& inputs,
                                              ConfigPlace place, const std::string& instance);

class Object : public ConfigStoreObject {
 public:
  explicit Object(ConfigPlace place) : place_(std::move(place)) {}

  bool GetValue(const char* name, int64_t* value) override { return Read(name, value); }
  bool GetValue(const char* name, double* value) override { return Read(name, value); }

  std::shared_ptr<ConfigStoreObject> GetSubObject(const SubObjectId& id) override {
    ConfigPlace place = place_;
    place.subObjects.push_back(id.name);
    return FindObject("GetSubObject", Inputs({id.name, id.instance}), std::move(place),
                      id.instance);
  }

 private:
  enum class Outcome { kFound, kAbsent, kWrongType, kStoreFault, kStdFault };

  template <typename T>
  bool Read(const char* name, T* value) {
    if (name == nullptr || value == nullptr) throw ConfigStoreException("GetValue: null argument");
    constexpr bool asDouble = std::is_same<T, double>::value;
    const char* const found = asDouble ? "double" : "int";
    Outcome outcome = Outcome::kAbsent;
    T read{};
    WithState([&](State& state) {
      if (std::optional<Rule> fault = state.rules().Consume(kStoreReadCall, "").other) {
        outcome = fault->kind == RuleKind::kStore ? Outcome::kStoreFault : Outcome::kStdFault;
      } else if (std::optional<ConfigValue> stored = state.settings().Value(place_, name)) {
        // An integer reads as a real number too; a text never does.
        const bool isDouble = stored->type == ConfigValue::Type::kDouble;
        const bool fits = stored->type == ConfigValue::Type::kInt || (isDouble && asDouble);
        outcome = fits ? Outcome::kFound : Outcome::kWrongType;
        // Only a value that fits is converted: a double such as NaN has no integer.
        if (fits) {
          read = isDouble ? static_cast<T>(stored->doubleValue) : static_cast<T>(stored->intValue);
        }
      }
      static const char* const kWords[] = {nullptr, "absent", "wrong-type", "store-failure",
                                           "std-failure"};
      state.log().Record({kStoreReadCall, "-", "-", Inputs({name}),
                          outcome == Outcome::kFound ? found : kWords[static_cast<int>(outcome)]});
    });
    switch (outcome) {
      case Outcome::kFound:
        *value = read;
        return true;
      case Outcome::kAbsent:
        return false;
      case Outcome::kWrongType:
        throw InvalidTypeException(std::string("value ") + name + " is not of type " + found);
      case Outcome::kStoreFault:
        throw ConfigStoreException("simulated store failure");
      case Outcome::kStdFault:
        break;
    }
    throw std::runtime_error("simulated store failure");
  }

  ConfigPlace place_;
};

std::shared_ptr<ConfigStoreObject> FindObject(const char* call, const std::string& inputs,
                                              ConfigPlace place, const std::string& instance) {
  bool exists = false;
  WithState([&](State& state) {
    exists = instance.empty() && state.settings().ObjectExists(place);
    state.log().Record({call, "-", "-", inputs, exists ? "found" : "none"});
  });
  if (!exists) return nullptr;
  return std::make_shared<Object>(std::move(place));
}

class Store : public KestrelConfigStore::ConfigStore {
 public:
  std::shared_ptr<ConfigStoreObject> GetObject(const ConfigStoreObjectId& id) override {
    return FindObject("GetObject", Inputs({id.key, id.component, id.group, id.instance}),
                      ConfigPlace{id.component, id.group, id.key, {}}, id.instance);
  }
};

}  // namespace
}  // namespace hostsim

namespace KestrelConfigStore {

// Only the global namespace has a store, and only while the host offers one.
std::shared_ptr<ConfigStore> ConfigStore::GetStore(const std::string& ns) {
  bool available = false;
  hostsim::WithState([&](hostsim::State& state) {
    available = ns == sGlobalNamespace && state.settings().StoreAvailable();
    state.log().Record({"GetStore", "-", "-", hostsim::Inputs({ns}), available ? "store" : "none"});
  });
  if (!available) return nullptr;
  return std::make_shared<hostsim::Store>();
}

}  // namespace KestrelConfigStore
