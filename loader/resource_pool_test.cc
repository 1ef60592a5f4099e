#include "loader/resource_pool.h"

#include <string>

#include "gtest/gtest.h"

namespace {

struct Expected {
  const char* yaml;
  const char* name;
  bool isEnabled;
  bool annex;
  int64_t mem[4];  // min, max, shares, minLimit
  int32_t cpu[4];
};

TEST(ResourcePool, Fields) {
  const Expected cases[] = {
      {"{name: vm}", "host/opt/vm", true, false, {0, -1, -1, -1}, {0, -1, 1000, -1}},
      {"{name: host/a/b}", "host/a/b", true, false, {0, -1, -1, -1}, {0, -1, 1000, -1}},
      {"{name: hostx}", "host/opt/hostx", true, false, {0, -1, -1, -1}, {0, -1, 1000, -1}},
      {"{name: host}", "host/opt/host", true, false, {0, -1, -1, -1}, {0, -1, 1000, -1}},
      {"{name: }", "host/opt/null", true, false, {0, -1, -1, -1}, {0, -1, 1000, -1}},
      {"{name: a, name: b}", "host/opt/b", true, false, {0, -1, -1, -1}, {0, -1, 1000, -1}},
      {"{name: a, mem: 512}", "host/opt/a", true, false, {512, 512, -1, -1}, {0, -1, 1000, -1}},
      {"{name: a, mem: 512, memMax: 1024}", "host/opt/a", true, false, {512, 1024, -1, -1},
       {0, -1, 1000, -1}},
      {"{name: a, memMax: 1024, mem: 512}", "host/opt/a", true, false, {512, 512, -1, -1},
       {0, -1, 1000, -1}},
      {"{name: a, memMin: 3, memMax: 1.9, memShares: -3, memMinLimit: 7, cpuMin: -0.5, "
       "cpuMax: 50, cpuShares: -2}",
       "host/opt/a", true, false, {3, 1, -3, 7}, {0, 50, -2, -1}},
      {"{name: a, isEnabled: no}", "host/opt/a", false, false, {0, -1, -1, -1}, {0, -1, 1000, -1}},
      {"{name: a, annex: yes}", "host/opt/a", false, true, {0, -1, -1, -1}, {0, -1, 1000, -1}},
      {"{name: a, isEnabled: no, annex: yes}", "host/opt/a", false, true, {0, -1, -1, -1},
       {0, -1, 1000, -1}},
      {"{name: a, memMax: !calc physKB / 1024, cpuMax: !calc numPCPUs * 100}", "host/opt/a",
       true, false, {0, 65536, -1, -1}, {0, 1600, 1000, -1}},
      // The largest and smallest values each field can hold.
      {"{name: a, memMin: -9223372036854775808, memMax: 9223372036854774784, "
       "cpuMin: -2147483648.9, cpuMax: 2147483647.9}",
       "host/opt/a", true, false, {INT64_MIN, 9223372036854774784, -1, -1},
       {INT32_MIN, INT32_MAX, 1000, -1}},
  };
  for (const Expected& c : cases) {
    const Loader::ResourcePoolImpl pool(YAML::Load(c.yaml));
    EXPECT_EQ(pool.name, c.name) << c.yaml;
    EXPECT_EQ(pool.isEnabled, c.isEnabled) << c.yaml;
    EXPECT_EQ(pool.annex, c.annex) << c.yaml;
    const int64_t mem[] = {pool.mem.min, pool.mem.max, pool.mem.shares, pool.mem.minLimit};
    const int32_t cpu[] = {pool.cpu.min, pool.cpu.max, pool.cpu.shares, pool.cpu.minLimit};
    EXPECT_TRUE(std::equal(mem, mem + 4, c.mem)) << c.yaml;
    EXPECT_TRUE(std::equal(cpu, cpu + 4, c.cpu)) << c.yaml;
    // Packed fields are copied out before gtest binds references to them.
    EXPECT_EQ(uint32_t{pool.mem.reserved}, 0u);
    EXPECT_EQ(uint32_t{pool.cpu.reserved}, 0u);
  }
}

TEST(ResourcePool, Errors) {
  const std::string at = "yaml-cpp: error at line 1, column ";
  struct {
    const char* yaml;
    std::string error;
  } cases[] = {
      {"[name, a]", at + "1: expected a map"},
      {"vm", at + "1: expected a map"},
      {"{name: a, MemMin: 1}", at + "11: invalid rp field"},
      {"{name: a, ~: 1}", at + "11: invalid rp field"},
      {"{name: ''}", at + "1: rp missing name"},
      {"{mem: 1}", at + "1: rp missing name"},
      {"{name: a, annex: yes, isEnabled: yes}", at + "1: Cannot enable annex by default"},
      {"{name: a, isEnabled: yes, annex: yes}", at + "1: Cannot enable annex by default"},
      {"{name: [a]}", at + "8: bad conversion"},
      {"{[name]: a}", at + "2: bad conversion"},
      {"{name: a, mem: x}", at + "16: bad conversion"},
      // Values no field of the kernel's records can hold.
      {"{name: a, memMax: 9223372036854775808}", at + "19: value out of range"},
      {"{name: a, memMin: -9223372036854777856}", at + "19: value out of range"},
      {"{name: a, cpuMax: 2147483648}", at + "19: value out of range"},
      {"{name: a, cpuMin: -2147483649}", at + "19: value out of range"},
      {"{name: a, memMax: .nan}", at + "19: value out of range"},
      {"{name: a, memMax: .inf}", at + "19: value out of range"},
      {"{name: a, cpuShares: -.inf}", at + "22: value out of range"},
  };
  for (const auto& c : cases) {
    try {
      Loader::ResourcePoolImpl pool(YAML::Load(c.yaml));
      ADD_FAILURE() << c.yaml << " gave a pool";
    } catch (const YAML::Exception& e) {
      EXPECT_EQ(e.what(), c.error) << c.yaml;
    }
  }
}

}  // namespace
