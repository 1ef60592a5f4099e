// Values from the host through poolctl list: the boot command line, the
// configuration store and feature switches, each set up with hostsim.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::RunResult;
using e2e::SimHost;

const char kCsvHeader[] = "name,auto,memMin,memMax,memMinLimit,memShares,cpuMin,cpuMax,cpuShares\n";

std::string Definition(const SimHost& host, const std::string& text) {
  const std::string path = host.WriteFile("pools.yaml", text);
  EXPECT_EQ(host.Hostsim({"mark", path}).status, 0);
  return path;
}

void Hostsim(const SimHost& host, const std::vector<std::string>& args) {
  const RunResult r = host.Hostsim(args);
  ASSERT_EQ(r.status, 0) << r.err;
}

struct Case {
  const char* value;  // of memMin
  const char* row;    // the pool's CSV row after its name
};

// One pool per case, named p0, p1, ...: its memMin is the case's value.
std::string Pools(const std::vector<Case>& cases) {
  std::string text;
  for (size_t i = 0; i < cases.size(); ++i) {
    text += "- name: p" + std::to_string(i) + "\n  memMin: " + cases[i].value + "\n";
  }
  return text;
}

void ExpectRows(const SimHost& host, const std::vector<Case>& cases) {
  const RunResult r = host.Poolctl({"list", "-v", Definition(host, Pools(cases))});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string expected = kCsvHeader;
  for (size_t i = 0; i < cases.size(); ++i) {
    expected += "host/opt/p" + std::to_string(i) + "," + cases[i].row + "\n";
  }
  EXPECT_EQ(r.out, expected);
}

TEST(Sources, BootOptions) {
  SimHost host;
  Hostsim(host, {"cmdline", "quiet memPool=4 swap:DISABLED dbg = yes"});
  Hostsim(host, {"trace", "on"});
  ExpectRows(host, {
                       {"!bootOption {key: memPool, default: 7}", "yes,4,-,-,-,0,-,1000"},
                       {"!bootOption {key: swap, default: 7}", "yes,0,-,-,-,0,-,1000"},
                       {"!bootOption {key: quiet, default: 7}", "yes,1,-,-,-,0,-,1000"},
                       {"!bootOption {key: absent, default: 7}", "yes,7,-,-,-,0,-,1000"},
                       {"!bootOption {key: dbg, default: 7}", "yes,7,-,-,-,0,-,1000"},
                       {"!bootOption {key: Pool, default: 7}", "yes,4,-,-,-,0,-,1000"},
                       {"!bootOption {key: mem.ool, default: 7}", "yes,4,-,-,-,0,-,1000"},
                       {"!bootOption {key: mem, default: 7}", "yes,1,-,-,-,0,-,1000"},
                   });
  // Read once for the whole run, however many values use it.
  const std::string calls = host.Hostsim({"calls"}).out;
  size_t reads = 0;
  for (size_t at = 0; (at = calls.find("KNI_Get\tsystem_bootCmdLine\t", at)) != std::string::npos;
       ++at) {
    ++reads;
  }
  EXPECT_EQ(reads, 1u);
}

TEST(Sources, BootOptionAsBoolean) {
  SimHost host;
  Hostsim(host, {"cmdline", "poolA=enabled poolB=off"});
  const std::string path =
      Definition(host,
                 "- name: a\n  isEnabled: !bootOption {key: poolA, default: 0}\n"
                 "- name: b\n  isEnabled: !bootOption {key: poolB, default: 0}\n"
                 "- name: c\n  isEnabled: !bootOption {key: poolC, default: 0}\n");
  const RunResult r = host.Poolctl({"list", "-v", path});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string(kCsvHeader) +
                       "host/opt/a,yes,0,-,-,-,0,-,1000\n"
                       "host/opt/b,no,0,-,-,-,0,-,1000\n"  // "off" is no number: default 0
                       "host/opt/c,no,0,-,-,-,0,-,1000\n");
}

// The longest command line, almost all of it one value, on a 1 MB stack.
TEST(Sources, LongestBootOptionOnASmallStack) {
  SimHost host;
  Hostsim(host, {"cmdline", "quiet memPool=5" + std::string(4095 - 15, 'x')});
  const std::string path =
      Definition(host,
                 "- name: a\n  memMin: !bootOption {key: memPool, default: 7}\n"
                 "  memMax: !bootOption {key: absent, default: 9}\n");
  const RunResult r =
      e2e::Run("/bin/sh", {"-c", "ulimit -s 1024 && exec \"$0\" list -v \"$1\"", POOLCTL_BIN, path},
               {host.Env()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string(kCsvHeader) + "host/opt/a,yes,5,9,-,-,0,-,1000\n");
}

TEST(Sources, BootOptionErrors) {
  SimHost host;
  Hostsim(host, {"cmdline", "memPool=4"});
  struct {
    const char* value;
    const char* error;  // after "path: "
  } cases[] = {
      {"!bootOption {key: memPool}", "line 2 column 11: missing default"},
      {"!bootOption {key: '(', default: 7}", "Mismatched '(' and ')' in regular expression"},
  };
  for (const auto& c : cases) {
    const std::string path = Definition(host, std::string("- name: a\n  memMin: ") + c.value);
    const RunResult r = host.Poolctl({"list", path});
    EXPECT_EQ(r.status, 1) << c.value;
    EXPECT_EQ(r.err, path + ": " + c.error + "\n") << c.value;
  }
  Hostsim(host, {"fail", "Get", "--node", "system_bootCmdLine", "--status", "1"});
  const std::string path =
      Definition(host, "- name: a\n  memMin: !bootOption {key: memPool, default: 7}\n");
  EXPECT_EQ(host.Poolctl({"list", path}).err, path + ": KNI_Get failed\n");
}

TEST(Sources, ConfigValues) {
  SimHost host;
  const std::vector<std::string> object = {"config",  "set", "--component", "c",
                                           "--group", "g",   "--key",       "k"};
  const std::vector<std::vector<std::string>> values = {
      {"int", "--int", "12"},
      {"real", "--double", "3.75"},
      {"text", "--string", "5"},
      {"--sub", "s", "deep", "--int", "8"},
  };
  for (const auto& value : values) {
    std::vector<std::string> args = object;
    args.insert(args.end(), value.begin(), value.end());
    Hostsim(host, args);
  }
  ExpectRows(
      host, {
                {"!config {object: [c, g, k], key: int, default: 7}", "yes,12,-,-,-,0,-,1000"},
                {"!config {object: [c, g, k], key: real, default: 7}", "yes,3,-,-,-,0,-,1000"},
                {"!config {object: [c, g, k], key: text, default: 7}", "yes,7,-,-,-,0,-,1000"},
                {"!config {object: [c, g, k], key: [s, deep], default: 7}", "yes,8,-,-,-,0,-,1000"},
                {"!config {object: [c, g, x], key: int, default: 7}", "yes,7,-,-,-,0,-,1000"},
            });
}

// A missing store and a store failure give the default; any other failure
// of the library fails the definition at the value.
TEST(Sources, ConfigStoreFailures) {
  SimHost host;
  Hostsim(host, {"config", "set", "--key", "k", "v", "--int", "12"});
  const std::string path =
      Definition(host, "- name: a\n  memMin: !config {object: {key: k}, key: v, default: 7}\n");
  const std::string stored = std::string(kCsvHeader) + "host/opt/a,yes,12,-,-,-,0,-,1000\n";
  const std::string fallback = std::string(kCsvHeader) + "host/opt/a,yes,7,-,-,-,0,-,1000\n";
  EXPECT_EQ(host.Poolctl({"list", "-v", path}).out, stored);
  Hostsim(host, {"config", "store", "off"});
  EXPECT_EQ(host.Poolctl({"list", "-v", path}).out, fallback);
  Hostsim(host, {"config", "store", "on"});
  Hostsim(host, {"config", "fault", "store"});
  EXPECT_EQ(host.Poolctl({"list", "-v", path}).out, fallback);
  EXPECT_EQ(host.Poolctl({"list", "-v", path}).out, stored);
  Hostsim(host, {"config", "fault", "std"});
  const RunResult r = host.Poolctl({"list", "-v", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, path + ": line 2 column 11: simulated store failure\n");
}

TEST(Sources, FeatureSwitches) {
  SimHost host;
  Hostsim(host, {"fss", "set", "poolA", "on"});
  Hostsim(host, {"fss", "set", "poolB", "off"});
  const std::string path = Definition(host,
                                      "- name: a\n  isEnabled: !fss poolA\n  memMax: !fss poolA\n"
                                      "- name: b\n  isEnabled: !fss poolB\n  memMax: !fss poolB\n"
                                      "- name: c\n  isEnabled: !fss poolC\n  memMax: !fss poolC\n");
  const RunResult r = host.Poolctl({"list", "-v", path});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string(kCsvHeader) +
                       "host/opt/a,yes,0,1,-,-,0,-,1000\n"
                       "host/opt/b,no,0,0,-,-,0,-,1000\n"
                       "host/opt/c,no,0,0,-,-,0,-,1000\n");
  Hostsim(host, {"fss", "rm", "poolA"});
  EXPECT_EQ(host.Poolctl({"list", "-v", path}).out.substr(sizeof kCsvHeader - 1, 31),
            "host/opt/a,no,0,0,-,-,0,-,1000\n");
}

// What hostsim keeps of the store and the switches, and what init drops.
TEST(Sources, HostsimCommands) {
  SimHost host;
  const std::string path = Definition(host,
                                      "- name: a\n  isEnabled: !fss sw\n"
                                      "  memMin: !config {object: ~, key: [s, v], default: 7}\n");
  const std::string stored = std::string(kCsvHeader) + "host/opt/a,yes,12,-,-,-,0,-,1000\n";
  const std::string fallback = std::string(kCsvHeader) + "host/opt/a,no,7,-,-,-,0,-,1000\n";
  Hostsim(host, {"fss", "set", "sw", "on"});
  Hostsim(host, {"config", "set", "--sub", "s", "v", "--int", "12"});
  EXPECT_EQ(host.Poolctl({"list", "-v", path}).out, stored);
  Hostsim(host, {"init"});
  EXPECT_EQ(host.Poolctl({"list", "-v", path}).out, fallback);

  struct {
    std::vector<std::string> args;
    const char* error;
  } errors[] = {
      {{"config", "rm", "--sub", "s", "v"}, "hostsim: config: no value v there\n"},
      {{"fss", "rm", "sw"}, "hostsim: fss: no switch sw\n"},
      {{"fss", "set", "sw", "1"}, "hostsim: fss: a switch is on or off, not 1\n"},
      {{"config", "set", "v", "--int", "1", "--string", "1"},
       "hostsim: config: give one of --int, --double and --string\n"},
      {{"config", "set", "v", "--double", "1x"}, "hostsim: config: invalid --double 1x\n"},
      {{"config", "store", "maybe"}, "hostsim: config: store takes on or off, not maybe\n"},
      {{"config", "fault", "disk"}, "hostsim: config: fault takes store or std, not disk\n"},
      {{"config"}, "hostsim: config: missing subcommand\n"},
  };
  for (const auto& e : errors) {
    const RunResult r = host.Hostsim(e.args);
    EXPECT_EQ(r.status, 1) << e.error;
    EXPECT_EQ(r.err, e.error);
  }
}

}  // namespace
