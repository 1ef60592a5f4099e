#include "loader/resource_pool.h"

#include <string>

#include "gtest/gtest.h"

namespace {

// The pool of a one-line map as "name enabled annex | mem min max shares
// minLimit | cpu min max shares minLimit", or the error text.
std::string Pool(const std::string& yaml) {
  try {
    const Loader::ResourcePoolImpl p(YAML::Load(yaml));
    std::string s = p.name + (p.isEnabled ? " yes" : " no") + (p.annex ? " annex |" : " |");
    for (int64_t v : {p.mem.min, p.mem.max, p.mem.shares, p.mem.minLimit}) s += " " + std::to_string(v);
    s += " |";
    for (int32_t v : {p.cpu.min, p.cpu.max, p.cpu.shares, p.cpu.minLimit}) s += " " + std::to_string(v);
    // Only the kernel fills the records' trailing fields.
    if (p.mem.reserved != 0 || p.cpu.reserved != 0) s += " reserved";
    return s;
  } catch (const YAML::Exception& e) {
    return e.what();
  }
}

TEST(ResourcePool, FromMap) {
  const std::string at = "yaml-cpp: error at line 1, column ";
  const std::pair<std::string, std::string> cases[] = {
      {"{name: vm}", "host/opt/vm yes | 0 -1 -1 -1 | 0 -1 1000 -1"},
      {"{name: host/a/b}", "host/a/b yes | 0 -1 -1 -1 | 0 -1 1000 -1"},
      {"{name: hostx}", "host/opt/hostx yes | 0 -1 -1 -1 | 0 -1 1000 -1"},
      {"{name: host}", "host/opt/host yes | 0 -1 -1 -1 | 0 -1 1000 -1"},
      {"{name: }", "host/opt/null yes | 0 -1 -1 -1 | 0 -1 1000 -1"},
      {"{name: a, mem: 512, memMax: 1024}", "host/opt/a yes | 512 1024 -1 -1 | 0 -1 1000 -1"},
      {"{name: a, memMax: 1024, mem: 512}", "host/opt/a yes | 512 512 -1 -1 | 0 -1 1000 -1"},
      {"{name: a, memMin: 3, memMax: 1.9, memShares: -3, memMinLimit: 7, cpuMin: -0.5, "
       "cpuMax: 50, cpuShares: -2}",
       "host/opt/a yes | 3 1 -3 7 | 0 50 -2 -1"},
      {"{name: a, memMax: !calc physKB / 1024, cpuMax: !calc numPCPUs * 100, isEnabled: no}",
       "host/opt/a no | 0 65536 -1 -1 | 0 1600 1000 -1"},
      {"{name: a, annex: yes}", "host/opt/a no annex | 0 -1 -1 -1 | 0 -1 1000 -1"},
      {"{name: a, isEnabled: no, annex: yes}", "host/opt/a no annex | 0 -1 -1 -1 | 0 -1 1000 -1"},
      // The largest and smallest values each field holds, and the first beyond.
      {"{name: a, memMin: -9223372036854775808, memMax: 9223372036854774784, "
       "cpuMin: -2147483648.9, cpuMax: 2147483647.9}",
       "host/opt/a yes | -9223372036854775808 9223372036854774784 -1 -1 | "
       "-2147483648 2147483647 1000 -1"},
      {"{name: a, memMax: 9223372036854775808}", at + "19: value out of range"},
      {"{name: a, memMin: -9223372036854777856}", at + "19: value out of range"},
      {"{name: a, cpuMax: 2147483648}", at + "19: value out of range"},
      {"{name: a, cpuMin: -2147483649}", at + "19: value out of range"},
      {"{name: a, memMax: .nan}", at + "19: value out of range"},
      {"{name: a, cpuShares: -.inf}", at + "22: value out of range"},
      {"[name, a]", at + "1: expected a map"},
      {"vm", at + "1: expected a map"},
      {"{name: a, MemMin: 1}", at + "11: invalid rp field"},
      {"{name: a, ~: 1}", at + "11: invalid rp field"},
      {"{name: ''}", at + "1: rp missing name"},
      {"{mem: 1}", at + "1: rp missing name"},
      {"{name: a, annex: yes, isEnabled: yes}", at + "1: Cannot enable annex by default"},
      {"{name: a, isEnabled: yes, annex: yes}", at + "1: Cannot enable annex by default"},
      {"{name: [a]}", at + "8: bad conversion"},
      {"{name: \"vm\\0x\"}", at + "8: invalid rp name"},
      {"{name: \"\\0\"}", at + "8: invalid rp name"},
      {"{[name]: a}", at + "2: bad conversion"},
  };
  for (const auto& [yaml, pool] : cases) EXPECT_EQ(Pool(yaml), pool) << yaml;
}

}  // namespace
