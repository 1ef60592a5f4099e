#include "loader/resource_pool.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

#include "loader/exception.h"
#include "loader/host_facts.h"
#include "loader/value.h"

namespace Loader {
namespace {

using std::string_view_literals::operator""sv;

// Truncates toward zero into a field of type T. A value the field cannot hold
// has no defined conversion and would reach the kernel as garbage.
template <typename T>
T ToField(double value, const YAML::Node& node) {
  constexpr double kLowest = static_cast<double>(std::numeric_limits<T>::min());
  constexpr double kPastHighest = -kLowest;  // 2^63 or 2^31, one past the highest
  const double whole = std::trunc(value);
  if (!(whole >= kLowest && whole < kPastHighest)) {  // also false for NaN
    throw Exception(node.Mark(), "value out of range");
  }
  return static_cast<T>(whole);
}

int64_t MemField(const YAML::Node& value, const Calc::Variables& facts) {
  return ToField<int64_t>(ResolveNumber(value, facts), value);
}

int32_t CpuField(const YAML::Node& value, const Calc::Variables& facts) {
  return ToField<int32_t>(ResolveNumber(value, facts), value);
}

}  // namespace

ResourcePoolImpl::ResourcePoolImpl(const YAML::Node& node) {
  const Calc::Variables& facts = HostFacts();
  if (!node.IsMap()) throw Exception(node.Mark(), "expected a map");

  bool enabledGiven = false;
  for (const auto& entry : node) {
    const YAML::Node& value = entry.second;
    // Later keys overwrite earlier ones, "mem" and "memMin"/"memMax" included.
    const std::string text = entry.first.as<std::string>();
    const std::string_view key = text;
    if (key == "name"sv) {
      name = value.as<std::string>();
      // The kernel takes group paths as C strings: a name holding a NUL
      // ("vm\0x") would reach it cut short and act on another pool's group.
      if (name.find('\0') != std::string::npos) throw Exception(value.Mark(), "invalid rp name");
    } else if (key == "mem"sv) {
      mem.min = mem.max = MemField(value, facts);
    } else if (key == "memMin"sv) {
      mem.min = MemField(value, facts);
    } else if (key == "memMax"sv) {
      mem.max = MemField(value, facts);
    } else if (key == "memMinLimit"sv) {
      mem.minLimit = MemField(value, facts);
    } else if (key == "memShares"sv) {
      mem.shares = MemField(value, facts);
    } else if (key == "cpuMin"sv) {
      cpu.min = CpuField(value, facts);
    } else if (key == "cpuMax"sv) {
      cpu.max = CpuField(value, facts);
    } else if (key == "cpuShares"sv) {
      cpu.shares = CpuField(value, facts);
    } else if (key == "isEnabled"sv) {
      isEnabled = ResolveBool(value, facts);
      enabledGiven = true;
    } else if (key == "annex"sv) {
      annex = ResolveBool(value, facts);
    } else {
      throw Exception(entry.first.Mark(), "invalid rp field");
    }
  }

  if (name.empty()) throw Exception(node.Mark(), "rp missing name");
  // Every pool lives below host/; a name without that prefix goes under host/opt.
  if (name.compare(0, 5, "host/") != 0) name = "host/opt/" + name;
  // Annex pools come in only through enable, which also reserves their memory
  // in the parent group; load must never create one on its own.
  if (annex) {
    if (enabledGiven && isEnabled) {
      throw Exception(node.Mark(), "Cannot enable annex by default");
    }
    isEnabled = false;
  }
}

}  // namespace Loader
