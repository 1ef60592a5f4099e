// The entry point's routing and the legacy option mode, through the real
// binaries on a fresh simulated host per test.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::RunResult;
using e2e::SimHost;

const std::string kDisableUsage =
    "poolctl disable [flags] <rps...>\n"
    "    Disable and delete resource pools. A pool is disabled by having its\n"
    "    minimum and maximum memory allocation set to zero.\n"
    "Flags:\n"
    "    -w <seconds>    Optionally, wait upto <seconds> per resource pool,\n"
    "                    for it to become unused.\n"
    "    -n              Only disable, do not delete. Not applicable to\n"
    "                    annex groups.\n";
const std::string kUnloadUsage =
    "poolctl unload [files...]\n"
    "    Delete resource pools defined in yaml files. If no yaml files are\n"
    "    specified, all files from /etc/rp.d will be used.\n";
const std::string kEnableUsage =
    "poolctl enable <rps...>\n"
    "    Enable disabled resource pools, which must be defined by files in\n"
    "    /etc/rp.d. A resource pools is considered disabled if it does not\n"
    "    exist or has its memory maximum set to 0. A non-existing pool\n"
    "    is enabled by getting created with settings from the yaml definition.\n"
    "    An existing pool has its memory allocation restored from the yaml\n"
    "    definition.\n";
const std::string kLoadUsage =
    "poolctl load [flags] [files...]\n"
    "    Create enabled resource pools defined in yaml files. If no yaml files\n"
    "    are specified, all files from /etc/rp.d will be used.\n"
    "Flags:\n"
    "    -q              Silence diagnostic messages.\n";
const std::string kListUsage =
    "poolctl list [flags] [files...]\n"
    "    List resource pools defined in yaml files. If no files are specified,\n"
    "    all yaml files in /etc/rp.d will be used.\n"
    "Flags:\n"
    "    -v              Use CSV format instead of table.\n";
const std::string kLegacyUsage =
    "poolctl <options>\n"
    "   Legacy memory resource pool operations\n"
    "Options:\n"
    "    -e              Check if group is empty\n"
    "    -g path         Specify group path\n"
    "    -i              Print group configuration and stats\n"
    "    -m memMB        Size memory for the group\n"
    "    -w time         Time in seconds to poll and wait for group to become empty\n";
const std::string kHelpListing = kDisableUsage + "\n" + kUnloadUsage + "\n" + kEnableUsage +
                                 "\n" + kLoadUsage + "\n" + kListUsage + "\n";

struct Expect {
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string err;
};

void CheckAll(const SimHost& host, const std::vector<Expect>& cases) {
  for (const Expect& c : cases) {
    std::string cmd;
    for (const std::string& a : c.args) cmd += " '" + a + "'";
    RunResult r = host.Poolctl(c.args);
    EXPECT_EQ(r.status, c.status) << "poolctl" << cmd;
    EXPECT_EQ(r.out, c.out) << "poolctl" << cmd;
    EXPECT_EQ(r.err, c.err) << "poolctl" << cmd;
  }
}

void Sim(const SimHost& host, const std::vector<std::string>& args) {
  RunResult r = host.Hostsim(args);
  ASSERT_EQ(r.status, 0) << r.err;
}

int CountLines(const std::string& text, const std::string& prefix) {
  int n = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (text.compare(at, prefix.size(), prefix) == 0) ++n;
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return n;
}

TEST(Dispatch, RoutesHelpCommandsAndLegacy) {
  SimHost host;
  CheckAll(host, {
      {{"-h"}, 0, "", kHelpListing + kLegacyUsage},
      {{}, 1, "", kHelpListing + "poolctl: Group -g parameter was not specified\n"},
      {{"LIST"}, 1, "", "Unknown command LIST\nValid commands: disable unload enable load list\n"},
      {{""}, 1, "", "Unknown command \nValid commands: disable unload enable load list\n"},
      {{"--help"}, 1, "", "poolctl: invalid option -- '-'\n" + kLegacyUsage},
      {{"-g", "host", "list"}, 0, "", ""},
      {{"list", "-h"}, 0, "", kListUsage},
      {{"list", "-v", "-h"}, 0, "", kListUsage},
      {{"list", "-x"}, 1, "", "list: invalid option -- 'x'\n" + kListUsage},
      {{"load", "-h"}, 0, "", kLoadUsage},
      {{"load", "-z"}, 1, "", "load: invalid option -- 'z'\n" + kLoadUsage},
      {{"unload", "-q"}, 1, "", "unload: invalid option -- 'q'\n" + kUnloadUsage},
      {{"enable"}, 1, "", kEnableUsage},
      {{"enable", "-h", "vm"}, 0, "", kEnableUsage},
      {{"disable"}, 1, "", kDisableUsage},
      {{"disable", "-n", "-w", "3"}, 1, "", kDisableUsage},
      {{"disable", "-w"}, 1, "", "disable: option requires an argument -- 'w'\n" + kDisableUsage},
  });
}

TEST(Dispatch, SignatureMismatchStopsEverything) {
  SimHost host;
  Sim(host, {"kernel-build", "Jan  1 2000 00:00:00"});
  const std::string prefix =
      "error: md5 signature mismatch with running zorvek built on Jan  1 2000 00:00:00, "
      "my build date: ";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"-h"}, {"list"}, {"LIST"}, {"-g", "host", "-e"}}) {
    RunResult r = host.Poolctl(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(r.err.compare(0, prefix.size(), prefix), 0) << r.err;
    EXPECT_EQ(r.err.size(), prefix.size() + 21) << r.err;  // the 20-character date and a newline
  }
  Sim(host, {"kernel-build", "--match"});
  EXPECT_EQ(host.Poolctl({"-g", "host"}).status, 0);
}

TEST(Legacy, AnswersAndMessages) {
  SimHost host;
  Sim(host, {"mkgroup", "host/opt/a"});
  Sim(host, {"stats", "host/opt", "1", "0"});
  Sim(host, {"stats", "host/user", "1025", "18446744073709551615"});
  const std::string notSpecified = "poolctl: Group -g parameter was not specified\n";
  CheckAll(host, {
      {{"-g", "host/none"}, 1, "", "poolctl: Group host/none was not found: Not found\n"},
      {{"-g", "host/none", "-h"}, 1, "", "poolctl: Group host/none was not found: Not found\n"},
      {{"-g", "host/"}, 1, "", "poolctl: Group host/ was not found: Not found\n"},
      {{"-e"}, 1, "", notSpecified},
      {{"-i", "-m", "5"}, 1, "", notSpecified},
      {{"-g", "host"}, 0, "", ""},
      {{"-g", "host", "-h"}, 0, "", kLegacyUsage},
      {{"-g", "host", "-x"}, 1, "", "poolctl: invalid option -- 'x'\n" + kLegacyUsage},
      {{"-g", "host", "-m"}, 1, "", "poolctl: option requires an argument -- 'm'\n" + kLegacyUsage},
      {{"-g", "host/opt", "-e"}, 2, "not empty\n", ""},
      {{"-g", "host/opt/a", "-e"}, 0, "empty\n", ""},
      {{"-g", "host/opt", "-e", "-m", "512", "-i"}, 2, "not empty\n", ""},
      {{"-g", "host/opt", "-w", "0"}, 3, "", "poolctl: Timeout waiting for host/opt to be empty\n"},
      {{"-g", "host/opt", "-w", "-7"}, 3, "", "poolctl: Timeout waiting for host/opt to be empty\n"},
      {{"-g", "host/opt", "-i"}, 0, "{\n\"minMB\": 0,\n\"maxMB\": -1,\n\"rminpeakMB\": 1,\n\"rminchildpeakMB\": 0\n}\n", ""},
      {{"-g", "host/user", "-i"}, 0, "{\n\"minMB\": 0,\n\"maxMB\": -1,\n\"rminpeakMB\": 2,\n\"rminchildpeakMB\": 18014398509481984\n}\n", ""},
      {{"-g", "host/opt/a", "-m", ""}, 1, "", "poolctl: memory size (MB) is not specified\n"},
      {{"-g", "host/opt/a", "-m", "12abc"}, 1, "", "poolctl: incorrect value for memory size (MB) specified: 12abc\n"},
      {{"-g", "host/opt/a", "-m", "2147483648"}, 1, "", "poolctl: incorrect value for memory size (MB) specified: 2147483648\n"},
      {{"-g", "host/opt/a", "-m", "-2147483649"}, 1, "", "poolctl: incorrect value for memory size (MB) specified: -2147483649\n"},
      {{"-g", "host/opt/a", "-m", "99999999999999999999"}, 1, "", "poolctl: incorrect value for memory size (MB) specified: 99999999999999999999\n"},
      {{"-g", "host/opt/a", "-m", "-1"}, 4, "", "poolctl: Failed to set group host/opt/a mem: Bad parameter\n"},
      {{"-g", "host/opt/a", "-w", ""}, 1, "", "poolctl: wait time is not specified\n"},
      {{"-g", "host/opt/a", "-w", "5x"}, 1, "", "poolctl: incorrect value for wait time specified: 5x\n"},
      {{"-g", "host/opt/a", "-w", "9223372036855"}, 1, "", "poolctl: incorrect value for wait time specified: 9223372036855\n"},
      {{"-g", "host/opt/a", "-w", "-9223372036855"}, 1, "", "poolctl: incorrect value for wait time specified: -9223372036855\n"},
      {{"-g", "host/opt/a", "-e", "-w", "9223372036854"}, 0, "empty\n", ""},
      {{"-g", "host/opt/a", "-m", "2147483647"}, 0, "", ""},
  });
  EXPECT_NE(host.Groups().find("host/opt/a\t5\t2147483647\t2147483647\t"), std::string::npos)
      << host.Groups();
  EXPECT_NE(host.Groups().find("host/opt\t3\t0\t-1\t"), std::string::npos) << host.Groups();
}

TEST(Legacy, InfoShowsTheAllocationBeforeTheChange) {
  SimHost host;
  Sim(host, {"setmem", "host/opt", "10,20,-1,-1"});
  CheckAll(host, {{{"-g", "host/opt", "-i", "-m", "300"}, 0,
                   "{\n\"minMB\": 10,\n\"maxMB\": 20,\n\"rminpeakMB\": 0,\n\"rminchildpeakMB\": 0\n}\n",
                   ""}});
  EXPECT_NE(host.Groups().find("host/opt\t3\t300\t300\t-1\t-1\t"), std::string::npos)
      << host.Groups();
}

TEST(Legacy, WaitPollsTenTimesASecondThenTimesOut) {
  SimHost host;
  Sim(host, {"trace", "on"});
  RunResult r = host.Poolctl({"-g", "host", "-w", "1", "-m", "5"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "poolctl: Timeout waiting for host to be empty\n");
  RunResult calls = host.Hostsim({"calls"});
  EXPECT_EQ(CountLines(calls.out, "KNI_GetInstanceListAlloc\t"), 10) << calls.out;
  EXPECT_EQ(CountLines(calls.out, "KNI_Set\tsched_groups_memAllocationInMB"), 0) << calls.out;
}

// One process waits while another empties the group through the same state file.
TEST(Legacy, WaitSeesAnotherProcessEmptyTheGroup) {
  SimHost host;
  Sim(host, {"mkgroup", "host/opt/a"});
  Sim(host, {"mkgroup", "host/opt/a/child"});
  std::unique_ptr<e2e::Process> waiter(host.StartPoolctl({"-g", "host/opt/a", "-w", "5", "-m", "512"}));
  usleep(400000);
  Sim(host, {"rmgroup", "host/opt/a/child"});
  RunResult r = waiter->Wait();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "empty\n");
  EXPECT_EQ(r.err, "");
  EXPECT_NE(host.Groups().find("host/opt/a\t5\t512\t512\t"), std::string::npos) << host.Groups();
}

// Every kernel call of every legacy action fails in turn: the action ends
// with its status and one message, and no parameter list is left behind.
TEST(Legacy, EveryKernelFailureIsReportedWithoutLeaks) {
  struct Action {
    std::vector<std::string> args;
    int status;           // when a call after the path lookup fails
    std::string message;  // its message, after "poolctl: "
  };
  const Action actions[] = {
      {{"-g", "host/opt", "-e"}, 4, "Failed to check group host/opt: "},
      {{"-g", "host/opt", "-i"}, 4, "Failed to get groups host/opt stats: "},
      {{"-g", "host/opt", "-m", "5"}, 4, "Failed to set group host/opt mem: "},
  };
  const char* calls[] = {"ParamListCreate", "ParamListAddInt", "ParamListAddString", "Get",
                         "Set", "GetInstanceListAlloc"};
  SimHost host;
  int injected = 0;
  for (const Action& a : actions) {
    for (const char* call : calls) {
      for (int skip = 0;; ++skip) {
        Sim(host, {"faults", "--clear"});
        Sim(host, {"fail", call, "--skip", std::to_string(skip), "--status", "0x0BAD0001"});
        RunResult r = host.Poolctl(a.args);
        RunResult left = host.Hostsim({"faults"});
        bool consumed = left.out.find(call) == std::string::npos;
        if (!consumed) break;
        ++injected;
        std::string text = std::string(call) == "ParamListCreate" ? "Out of memory" : "Failure";
        std::string lookup = "poolctl: Group host/opt was not found: " + text + "\n";
        if (r.err == lookup) {
          EXPECT_EQ(r.status, 1);
        } else {
          EXPECT_EQ(r.err, "poolctl: " + a.message + text + "\n") << call << " #" << skip;
          EXPECT_EQ(r.status, a.status) << call << " #" << skip;
        }
        RunResult leaks = host.Hostsim({"leaks"});
        EXPECT_EQ(leaks.out, "0\n") << a.args.back() << " " << call << " #" << skip;
      }
    }
  }
  EXPECT_GE(injected, 12);
  std::printf("%d kernel failures injected\n", injected);
}

}  // namespace
