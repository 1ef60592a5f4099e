#include "sources/config_reference.h"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config_store.h"
#include "loader/exception.h"
#include "loader/value.h"

namespace {

namespace store = KestrelConfigStore;

struct Reference {
  store::ConfigStoreObjectId object;
  std::vector<std::string> subObjects;  // outermost first
  std::string name;
};

store::ConfigStoreObjectId ReadObjectId(const YAML::Node& spec) {
  store::ConfigStoreObjectId id;
  if (spec.IsMap()) {
    for (const auto& entry : spec) {
      const std::string field = entry.first.as<std::string>();
      if (field == "component") {
        id.component = entry.second.as<std::string>();
      } else if (field == "group") {
        id.group = entry.second.as<std::string>();
      } else if (field == "key") {
        id.key = entry.second.as<std::string>();
      } else {
        throw Loader::Exception(entry.first.Mark(), "invalid objectID field");
      }
    }
  } else if (spec.IsSequence()) {
    // A list shorter than three fails on the missing entry; entries past the
    // third are not read.
    id.component = spec[0].as<std::string>();
    id.group = spec[1].as<std::string>();
    id.key = spec[2].as<std::string>();
  } else if (spec.IsScalar()) {
    throw Loader::Exception(spec.Mark(), "invalid config object specification");
  }
  return id;  // null: every field empty
}

// Walks the entries in document order, handing "default" to resolveDefault
// the moment it is met; then checks what is missing.
Reference ReadReference(const YAML::Node& node,
                        const std::function<void(const YAML::Node&)>& resolveDefault) {
  if (!node.IsMap()) throw Loader::Exception(node.Mark(), "invalid config specification");
  Reference ref;
  bool haveObject = false, haveDefault = false;
  for (const auto& entry : node) {
    const std::string key = entry.first.as<std::string>();
    const YAML::Node& value = entry.second;
    if (key == "object") {
      ref.object = ReadObjectId(value);
      haveObject = true;
    } else if (key == "key") {
      if (value.IsScalar()) {
        ref.name = value.as<std::string>();
      } else if (value.IsSequence() && value.size() > 0) {
        const size_t last = value.size() - 1;
        for (size_t i = 0; i < last; ++i) ref.subObjects.push_back(value[i].as<std::string>());
        ref.name = value[last].as<std::string>();
      }
    } else if (key == "default") {
      resolveDefault(value);
      haveDefault = true;
    } else {
      throw Loader::Exception(value.Mark(), "invalid config field");
    }
  }
  if (!haveDefault) throw Loader::Exception(node.Mark(), "missing default");
  if (!haveObject) throw Loader::Exception(node.Mark(), "missing object");
  if (ref.name.empty()) throw Loader::Exception(node.Mark(), "missing value");
  return ref;
}

// The stored number, or none where the default applies: no store, object,
// sub-object or value, or any failure the store reports as its own.
std::optional<double> ReadStore(const Reference& ref) {
  std::shared_ptr<store::ConfigStore> configStore =
      store::ConfigStore::GetStore(store::sGlobalNamespace);
  if (!configStore) return std::nullopt;
  std::shared_ptr<store::ConfigStoreObject> object = configStore->GetObject(ref.object);
  for (const std::string& name : ref.subObjects) {
    if (!object) break;
    object = object->GetSubObject(store::SubObjectId(name, ""));
  }
  if (!object) return std::nullopt;
  try {
    int64_t integer = 0;
    if (object->GetValue(ref.name.c_str(), &integer)) return static_cast<double>(integer);
  } catch (const store::InvalidTypeException&) {
    // Stored as a real number; a text fails this read as well.
    double real = 0;
    if (object->GetValue(ref.name.c_str(), &real)) return real;
  }
  return std::nullopt;
}

std::optional<double> ReadStoreAt(const YAML::Node& node, const Reference& ref) {
  try {
    return ReadStore(ref);
  } catch (const store::ConfigStoreException&) {
    return std::nullopt;
  } catch (const std::exception& e) {
    // A failure that is not the store's own answer (a broken library, no
    // memory) must not pass for an absent value: the value fails instead.
    std::throw_with_nested(Loader::Exception(node.Mark(), e.what()));
  }
}

}  // namespace

double ResolveConfigNumber(const YAML::Node& node, const Calc::Variables& table) {
  double fallback = 0;
  const Reference ref =
      ReadReference(node, [&](const YAML::Node& value) { fallback = ResolveNumber(value, table); });
  return ReadStoreAt(node, ref).value_or(fallback);
}

bool ResolveConfigBool(const YAML::Node& node, const Calc::Variables& table) {
  bool fallback = false;
  const Reference ref =
      ReadReference(node, [&](const YAML::Node& value) { fallback = ResolveBool(value, table); });
  std::optional<double> stored = ReadStoreAt(node, ref);
  if (!stored) return fallback;
  return *stored != 0.0;  // a NaN counts as true
}
