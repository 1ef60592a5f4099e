// "!calc" values through poolctl list: host facts from the simulated kernel,
// the mapping form with local variables, and the errors as the user sees them.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::RunResult;
using e2e::SimHost;

const char kCsvHeader[] = "name,auto,memMin,memMax,memMinLimit,memShares,cpuMin,cpuMax,cpuShares\n";

std::string Definition(const SimHost& host, const std::string& name, const std::string& text) {
  const std::string path = host.WriteFile(name, text);
  EXPECT_EQ(host.Hostsim({"mark", path}).status, 0);
  return path;
}

TEST(Calc, HostFacts) {
  const std::string definitions =
      "- name: cpus\n  cpuMax: !calc numPCPUs / 2\n"
      "- name: mem\n  memMax: !calc physKB / 1024 / 4\n"
      "- name: vms\n  cpuMin: !calc maxVMs / 3\n"
      "- name: installer\n  memMin: !calc 512 if isInstaller else 1024\n"
      "- name: vm\n  memMin: !calc 8 if isVm else 4\n"
      "  memMax: !calc 100 + zrvdefs.obx86_debug + zrvdefs.GCOV_ZORVEK\n"
      "  isEnabled: !calc isVm\n";
  struct {
    std::vector<std::string> facts;
    std::string csv;
  } cases[] = {
      {{"--cpus", "64", "--mem-kb", "16777216", "--max-vms", "300", "--installer", "1", "--vm", "1"},
       "host/opt/cpus,yes,0,-,-,-,0,32,1000\n"
       "host/opt/installer,yes,512,-,-,-,0,-,1000\n"
       "host/opt/mem,yes,0,4096,-,-,0,-,1000\n"
       "host/opt/vm,yes,8,100,-,-,0,-,1000\n"
       "host/opt/vms,yes,0,-,-,-,100,-,1000\n"},
      {{"--cpus", "7", "--mem-kb", "1048576", "--max-vms", "10", "--installer", "0", "--vm", "0"},
       "host/opt/cpus,yes,0,-,-,-,0,3,1000\n"
       "host/opt/installer,yes,1024,-,-,-,0,-,1000\n"
       "host/opt/mem,yes,0,256,-,-,0,-,1000\n"
       "host/opt/vm,no,4,100,-,-,0,-,1000\n"
       "host/opt/vms,yes,0,-,-,-,3,-,1000\n"},
  };
  for (const auto& c : cases) {
    SimHost host;
    std::vector<std::string> facts = c.facts;
    facts.insert(facts.begin(), "facts");
    ASSERT_EQ(host.Hostsim(facts).status, 0);
    const RunResult r = host.Poolctl({"list", "-v", Definition(host, "calc.yaml", definitions)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kCsvHeader + c.csv) << c.facts[1];
  }
}

// Local variables are resolved over the host facts; one that shares a fact's
// name changes only its own expression.
TEST(Calc, MappingForm) {
  SimHost host;
  ASSERT_EQ(host.Hostsim({"facts", "--cpus", "64", "--max-vms", "300"}).status, 0);
  const std::string path = Definition(host, "calc.yaml",
                                      "- name: local\n"
                                      "  memMax: !calc\n"
                                      "    =: perVm * vms\n"
                                      "    perVm: 64\n"
                                      "    vms: !calc maxVMs / 100\n"
                                      "  cpuMax: !calc {numPCPUs: 4, '=': numPCPUs * 100}\n"
                                      "  cpuMin: !calc numPCPUs\n"
                                      "  annex: !calc {'=': x, x: !calc 0/0}\n");
  const RunResult r = host.Poolctl({"list", "-v", path});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string(kCsvHeader) + "host/opt/local,no,0,192,-,-,64,400,1000\n");
}

// One line naming the file, the line and column of the value, and the
// language's message.
TEST(Calc, Errors) {
  const std::string deep(3000, '(');
  struct {
    std::string value;  // of "mem", on line 2 from column 8
    std::string error;  // after "path: "
  } cases[] = {
      {"!calc foo + 1", "line 2 column 8: unexpected symbol: foo at 'foo + 1'"},
      {"!calc (physKB + 2", "line 2 column 8: expected ) at ''"},
      {"!calc 1 if 0 else nosuchfact", "line 2 column 8: unexpected symbol: nosuchfact at 'nosuchfact'"},
      {"!calc", "line 2 column 8: Missing numeric value. at ''"},
      {"!calc [1]", "line 2 column 8: expected scalar or mapping"},
      {"!calc {x: 1}", "line 2 column 8: missing arithmetic expression"},
      {"!calc\n    x: 1\n    =: min(x 2)", "line 4 column 8: min expected ,"},
      {"!calc {'=': {a: 1}}", "line 2 column 20: bad conversion"},
      {"!calc {half: 3, x: !calc half + 1, '=': x}",
       "line 2 column 27: unexpected symbol: half at 'half + 1'"},
      {"!calc " + deep, "line 2 column 8: expression nested too deeply at '" + deep.substr(2000) + "'"},
  };
  SimHost host;
  for (const auto& c : cases) {
    const std::string path = Definition(host, "bad.yaml", "- name: a\n  mem: " + c.value + "\n");
    const RunResult r = host.Poolctl({"list", "-v", path});
    EXPECT_EQ(r.status, 1) << c.value;
    EXPECT_EQ(r.out, kCsvHeader) << c.value;
    EXPECT_EQ(r.err, path + ": " + c.error + "\n") << c.value;
  }
}

}  // namespace
