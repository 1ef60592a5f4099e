// What the host is set up with: the facts and the kernel's build date in the
// host's one row, the configuration store's values and the feature switches.
#include <cstring>

#include "platform/hostsim/sql.h"

namespace hostsim {
namespace {

// A sub-object path as one text: each name preceded by its length and ":",
// so that no two paths share a text, whatever bytes the names hold, and the
// text of a path begins with the text of each path above it.
std::string EncodePath(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += std::to_string(name.size()) + ":" + name;
  return text;
}

}  // namespace

Facts Settings::GetFacts() {
  Stmt q(state_, "SELECT num_pcpus, is_vm, is_installer, phys_kb, max_vms, boot_cmdline FROM host");
  q.HostRow();
  return {static_cast<uint32_t>(q.Int(0)), q.Int(1) != 0, q.Int(2) != 0, q.UInt(3),
          static_cast<uint32_t>(q.Int(4)), q.Text(5)};
}

void Settings::SetFacts(const Facts& f) {
  Stmt(state_,
       "UPDATE host SET num_pcpus = ?1, is_vm = ?2, is_installer = ?3, phys_kb = ?4,"
       " max_vms = ?5, boot_cmdline = ?6",
       f.numPCPUs, f.isVm, f.isInstaller, f.physKB, f.maxVMs, f.bootCmdLine)
      .Run();
}

std::optional<std::string> Settings::KernelBuild() {
  return Stmt(state_, "SELECT kernel_build FROM host").HostRow().OptText(0);
}

void Settings::SetKernelBuild(const std::optional<std::string>& date) {
  Stmt(state_, "UPDATE host SET kernel_build = ?1", date).Run();
}

bool Settings::StoreAvailable() {
  Stmt q(state_, "SELECT available FROM config_store");
  return !q.Step() || q.Int(0) != 0;
}

void Settings::SetStoreAvailable(bool available) {
  Stmt(state_, "INSERT OR REPLACE INTO config_store VALUES (1, ?1)", available).Run();
}

bool Settings::ObjectExists(const ConfigPlace& place) {
  const std::string path = EncodePath(place.subObjects);
  Stmt q(state_, "SELECT path FROM config_values WHERE component = ?1 AND grp = ?2 AND key = ?3",
         place.component, place.group, place.key);
  while (q.Step()) {
    if (q.Text(0).compare(0, path.size(), path) == 0) return true;
  }
  return false;
}

std::optional<ConfigValue> Settings::Value(const ConfigPlace& place, const std::string& name) {
  Stmt q(state_,
         "SELECT type, value, text FROM config_values"
         " WHERE component = ?1 AND grp = ?2 AND key = ?3 AND path = ?4 AND name = ?5",
         place.component, place.group, place.key, EncodePath(place.subObjects), name);
  if (!q.Step()) return std::nullopt;
  ConfigValue value;
  value.type = static_cast<ConfigValue::Type>(q.Int(0));
  if (value.type == ConfigValue::Type::kDouble) {
    int64_t bits = q.Int(1);
    std::memcpy(&value.doubleValue, &bits, sizeof bits);
  } else {
    value.intValue = q.Int(1);
  }
  value.text = q.Text(2);
  return value;
}

void Settings::SetValue(const ConfigPlace& place, const std::string& name,
                        const ConfigValue& value) {
  int64_t stored = value.intValue;
  if (value.type == ConfigValue::Type::kDouble) {
    std::memcpy(&stored, &value.doubleValue, sizeof stored);
  }
  Stmt(state_, "INSERT OR REPLACE INTO config_values VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
       place.component, place.group, place.key, EncodePath(place.subObjects), name, value.type,
       stored, value.text)
      .Run();
}

bool Settings::RemoveValue(const ConfigPlace& place, const std::string& name) {
  return Stmt(state_,
              "DELETE FROM config_values"
              " WHERE component = ?1 AND grp = ?2 AND key = ?3 AND path = ?4 AND name = ?5",
              place.component, place.group, place.key, EncodePath(place.subObjects), name)
             .Run() > 0;
}

std::optional<bool> Settings::Switch(const std::string& name) {
  Stmt q(state_, "SELECT on_ FROM switches WHERE name = ?1", name);
  if (!q.Step()) return std::nullopt;
  return q.Int(0) != 0;
}

void Settings::SetSwitch(const std::string& name, bool on) {
  Stmt(state_, "INSERT OR REPLACE INTO switches VALUES (?1, ?2)", name, on).Run();
}

bool Settings::RemoveSwitch(const std::string& name) {
  return Stmt(state_, "DELETE FROM switches WHERE name = ?1", name).Run() > 0;
}

}  // namespace hostsim
