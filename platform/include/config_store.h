// The host's configuration store: named values kept in objects, which may
// hold sub-objects of their own. On the real host this header comes with the
// store's library; elsewhere hostsim implements it.
#ifndef PLATFORM_CONFIG_STORE_H_
#define PLATFORM_CONFIG_STORE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "host_ctl_exception.h"

namespace KestrelConfigStore {

// Any failure of the store.
class ConfigStoreException : public HostCtl::Lib::HostCtlException {
 public:
  using HostCtl::Lib::HostCtlException::HostCtlException;
};

// A value read through the overload of another type.
class InvalidTypeException : public ConfigStoreException {
 public:
  using ConfigStoreException::ConfigStoreException;
};

// The namespace of the host-wide store.
extern const std::string sGlobalNamespace;

// Names an object of the store.
struct ConfigStoreObjectId {
  ConfigStoreObjectId() = default;
  ConfigStoreObjectId(std::string key, std::string component, std::string group,
                      std::string instance)
      : key(std::move(key)),
        component(std::move(component)),
        group(std::move(group)),
        instance(std::move(instance)) {}

  std::string key;
  std::string component;
  std::string group;
  std::string instance;
};

// Names a sub-object within its parent object.
struct SubObjectId {
  SubObjectId() = default;
  SubObjectId(std::string name, std::string instance)
      : name(std::move(name)), instance(std::move(instance)) {}

  std::string name;
  std::string instance;
};

class StoreObject {
 public:
  virtual ~StoreObject() = default;

  // True when the value exists and was stored through the pointer, false
  // when there is no such value. A value of another type throws
  // InvalidTypeException; any other failure a ConfigStoreException.
  virtual bool GetValue(const char* name, int64_t* value) = 0;
  virtual bool GetValue(const char* name, double* value) = 0;
};

class ConfigStoreObject : public StoreObject {
 public:
  // Empty when the object has no such sub-object.
  virtual std::shared_ptr<ConfigStoreObject> GetSubObject(const SubObjectId& id) = 0;
};

class ConfigStore {
 public:
  virtual ~ConfigStore() = default;

  // Empty when the host offers no store for the namespace.
  static std::shared_ptr<ConfigStore> GetStore(const std::string& ns);

  // Empty when there is no such object.
  virtual std::shared_ptr<ConfigStoreObject> GetObject(const ConfigStoreObjectId& id) = 0;
};

}  // namespace KestrelConfigStore

#endif  // PLATFORM_CONFIG_STORE_H_
