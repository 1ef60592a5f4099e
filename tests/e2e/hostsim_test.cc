// The hostsim tool, run as a user runs it, on a fresh simulated host per
// test. Kernel calls come from kni_probe, a separate process beside hostsim,
// so rules, traces and leaks are seen across processes as poolctl sees them.
#include <sys/xattr.h>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::RunResult;

const std::string kProbe =
    std::string(HOSTSIM_BIN).substr(0, std::string(HOSTSIM_BIN).rfind('/') + 1) + "kni_probe";

const std::string kDefaultGroups =
    "\t0\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
    "host\t1\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
    "host/opt\t3\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
    "host/system\t2\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
    "host/user\t4\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n";

const std::string kDefaultFacts =
    "0x00000000 cpus=16 vm=0 installer=0 memkb=67108864 maxvms=512 cmdline=\n";

class HostsimTest : public ::testing::Test {
 protected:
  // Runs hostsim and expects success; returns its output.
  std::string Ok(const std::vector<std::string>& args) {
    RunResult r = host_.Hostsim(args);
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    EXPECT_EQ(r.err, "") << args[0];
    return r.out;
  }
  std::string Probe(const std::vector<std::string>& steps) {
    RunResult r = e2e::Run(kProbe, steps, {host_.Env()});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  e2e::SimHost host_;
};

TEST_F(HostsimTest, AMissingFileIsTheDefaultHost) {
  EXPECT_EQ(Ok({"groups"}), kDefaultGroups);
  EXPECT_EQ(Probe({"facts", "checksig"}).substr(0, kDefaultFacts.size()), kDefaultFacts);
  EXPECT_EQ(Ok({"faults"}), "");
  EXPECT_EQ(Ok({"calls"}), "");
  EXPECT_EQ(Ok({"leaks"}), "0\n");
}

TEST_F(HostsimTest, InitResetsEverything) {
  Ok({"mkgroup", "host/opt/a"});
  Ok({"fail", "Get", "--status", "1", "--times", "0"});
  Ok({"trace", "on"});
  Probe({"getmem:3", "leak:2"});
  Ok({"kernel-build", "Jan  1 2000 00:00:00"});
  Ok({"facts", "--cpus", "2"});
  Ok({"init"});
  EXPECT_EQ(Ok({"groups"}), kDefaultGroups);
  EXPECT_EQ(Ok({"faults"}), "");
  EXPECT_EQ(Ok({"calls"}), "");
  EXPECT_EQ(Ok({"leaks"}), "0\n");
  std::string out = Probe({"checksig", "facts", "create:3:b"});
  EXPECT_EQ(out.substr(0, 11), "0x00000000 ");
  EXPECT_EQ(out.substr(out.find('\n') + 1), kDefaultFacts + "0x00000000 5\n");
  EXPECT_EQ(Ok({"calls"}), "") << "tracing is off again";
}

TEST_F(HostsimTest, FactOptions) {
  struct Case {
    std::vector<std::string> args;
    std::string facts;
  } cases[] = {
      {{"init", "--cpus", "64", "--mem-kb", "0x10", "--max-vms", "0", "--installer", "1", "--vm",
        "1", "--cmdline", "x=1 y"},
       "cpus=64 vm=1 installer=1 memkb=16 maxvms=0 cmdline=x=1 y"},
      {{"facts", "--cpus", "4294967295"},
       "cpus=4294967295 vm=1 installer=1 memkb=16 maxvms=0 cmdline=x=1 y"},
      {{"facts", "--vm", "0", "--mem-kb", "18446744073709551615"},
       "cpus=4294967295 vm=0 installer=1 memkb=18446744073709551615 maxvms=0 cmdline=x=1 y"},
      {{"cmdline", "--", "--quiet"},
       "cpus=4294967295 vm=0 installer=1 memkb=18446744073709551615 maxvms=0 cmdline=--quiet"},
      {{"cmdline", ""},
       "cpus=4294967295 vm=0 installer=1 memkb=18446744073709551615 maxvms=0 cmdline="},
      {{"init", "--installer", "0x1"},
       "cpus=16 vm=0 installer=1 memkb=67108864 maxvms=512 cmdline="},
  };
  for (const Case& c : cases) {
    Ok(c.args);
    EXPECT_EQ(Probe({"facts"}), "0x00000000 " + c.facts + "\n") << c.args[0] << " " << c.args[1];
  }
  Ok({"mkgroup", "host/opt/kept"});
  Ok({"facts", "--cpus", "8"});
  EXPECT_NE(Ok({"groups"}).find("host/opt/kept\t5\t"), std::string::npos);
  std::string longest(4095, 'c');
  Ok({"cmdline", longest});
  EXPECT_EQ(
      Probe({"facts"}),
      "0x00000000 cpus=8 vm=0 installer=1 memkb=67108864 maxvms=512 cmdline=" + longest + "\n");
}

// Every refusal: exit status 1, one line on standard error, nothing changed.
TEST_F(HostsimTest, RefusalsAreOneLine) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{}, "usage: hostsim COMMAND ... (\"hostsim help\" lists the commands)"},
      {{"frob"}, "unknown command frob (\"hostsim help\" lists the commands)"},
      {{"init", "--cpus"}, "init: option --cpus needs a value"},
      {{"init", "--bogus", "1"}, "init: unknown option --bogus"},
      {{"init", "--vm", "2"}, "init: invalid --vm 2"},
      {{"init", "--cpus", "4294967296"}, "init: invalid --cpus 4294967296"},
      {{"init", "--mem-kb", "18446744073709551616"}, "init: invalid --mem-kb 18446744073709551616"},
      {{"init", "--max-vms", "-1"}, "init: invalid --max-vms -1"},
      {{"init", "extra"}, "init: unexpected operand extra"},
      {{"facts", "--installer", "yes"}, "facts: invalid --installer yes"},
      {{"init", "--cmdline", std::string(4096, 'c')},
       "init: the boot command line holds at most 4095 bytes"},
      {{"cmdline", std::string(4096, 'c')},
       "cmdline: the boot command line holds at most 4095 bytes"},
      {{"cmdline"}, "cmdline: missing operand"},
      {{"kernel-build", "123456789012345678901"},
       "kernel-build: a build date has at most 20 characters"},
      {{"kernel-build", "--match", "x"}, "kernel-build: unexpected operand x"},
      {{"kernel-build"}, "kernel-build: missing operand"},
      {{"groups", "extra"}, "groups: unexpected operand extra"},
      {{"mkgroup", "host/none/x"}, "mkgroup: host/none: Not found"},
      {{"mkgroup", "host/opt"}, "mkgroup: host/opt: Already exists"},
      {{"mkgroup", "host/"}, "mkgroup: host/: Bad parameter"},
      {{"mkgroup", "host/opt/" + std::string(771, 'n')},
       "mkgroup: host/opt/" + std::string(771, 'n') + ": Name too long"},
      {{"mkgroup", "host/opt/x", "--cpu", "1,2,3"},
       "mkgroup: a record is MIN,MAX,SHARES,MINLIMIT: 1,2,3"},
      {{"mkgroup", "host/opt/x", "--cpu", "0,2147483648,0,0"},
       "mkgroup: invalid record field 2147483648"},
      {{"mkgroup", "host/opt/x", "--mem", "0,,0,0"}, "mkgroup: invalid record field "},
      {{"mkgroup", "host/opt/x", "--mem", "0,0,0,0,"}, "mkgroup: invalid record field "},
      {{"rmgroup", "host"}, "rmgroup: the root and host cannot be deleted"},
      {{"rmgroup", ""}, "rmgroup: the root and host cannot be deleted"},
      {{"rmgroup", "host/none"}, "rmgroup: host/none: Not found"},
      {{"setmem", "host/none", "0,0,0,0"}, "setmem: host/none: Not found"},
      {{"setmem", "host/opt", "0,0,0,9223372036854775808"},
       "setmem: invalid record field 9223372036854775808"},
      {{"setcpu", "host/opt", "0,0,0,-2147483649"}, "setcpu: invalid record field -2147483649"},
      {{"busy", "host/opt", "-1"}, "busy: invalid world count -1"},
      {{"busy", "host/opt"}, "busy: missing operand"},
      {{"stats", "host/opt", "1", "x"}, "stats: invalid RMINCHILDPEAK_KB x"},
      {{"fail", "Foo", "--status", "1"}, "fail: unknown call Foo"},
      {{"fail", "Get", "--node", "nope", "--status", "1"}, "fail: unknown node nope"},
      {{"fail", "Get", "--node", "KNI_NODE_sched_groups_delete", "--status", "1"},
       "fail: unknown node KNI_NODE_sched_groups_delete"},
      {{"fail", "ParamListAddInt", "--node", "sched_groups_delete", "--status", "1"},
       "fail: ParamListAddInt has no node"},
      {{"fail", "ParamListCreate", "--path", "host"}, "fail: ParamListCreate names no group"},
      {{"fail", "Get"}, "fail: --status is required"},
      {{"fail", "Get", "--status", "0"}, "fail: a rule must fail with a nonzero status"},
      {{"fail", "Get", "--status", "0x100000000"}, "fail: invalid status 0x100000000"},
      {{"fail", "Get", "--status", "1", "--times", "-1"}, "fail: invalid --times -1"},
      {{"faults", "--all"}, "faults: unknown option --all"},
      {{"trace", "maybe"}, "trace: trace takes on or off, not maybe"},
      {{"calls", "x"}, "calls: unexpected operand x"},
      {{"status-text", "nope"}, "status-text: invalid status nope"},
      {{"mark"}, "mark: missing operand"},
  };
  for (const Case& c : cases) {
    RunResult r = host_.Hostsim(c.args);
    std::string what = c.args.empty()
                           ? "(none)"
                           : c.args[0] + " " + (c.args.size() > 1 ? c.args[1].substr(0, 30) : "");
    EXPECT_EQ(r.status, 1) << what;
    EXPECT_EQ(r.err, "hostsim: " + c.err + "\n") << what;
    EXPECT_EQ(r.out, "") << what;
  }
  EXPECT_EQ(Ok({"groups"}), kDefaultGroups);
  EXPECT_EQ(Ok({"faults"}), "");
}

TEST_F(HostsimTest, GroupCommandsChangeTheListing) {
  Ok({"mkgroup", "host/opt/b", "--mem", "1,2,-3,4", "--cpu", "5,-1,0x10,7"});  // 5
  Ok({"mkgroup", "host/opt/b/c"});                                             // 6
  Ok({"mkgroup", "host/opt-a"});                                               // 7
  Ok({"mkgroup", "top"});                                                      // 8
  Ok({"setmem", "host/opt-a", "-1,-9223372036854775808,9223372036854775807,0"});
  Ok({"setcpu", "host/opt-a", "-2147483648,2147483647,-4,0"});
  Ok({"busy", "host/opt/b/c", "3"});
  Ok({"busy", "host/opt/b/c", "0"});
  Ok({"busy", "host/opt/b", "2"});
  EXPECT_EQ(Ok({"groups"}),
            "\t0\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
            "host\t1\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
            "host/opt\t3\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
            "host/opt-a\t7\t-1\t-9223372036854775808\t9223372036854775807\t0\t-2147483648\t"
            "2147483647\t-4\t0\t0\n"
            "host/opt/b\t5\t1\t2\t-3\t4\t5\t-1\t16\t7\t2\n"
            "host/opt/b/c\t6\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
            "host/system\t2\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
            "host/user\t4\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n"
            "top\t8\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n");
  Ok({"stats", "host/opt/b", "1", "18446744073709551615"});
  EXPECT_EQ(Probe({"stats:5", "stats:6"}), "0x00000000 1,18446744073709551615\n0x00000000 0,0\n");
  Ok({"rmgroup", "host/opt/b"});  // busy, with a child: the tool deletes regardless
  Ok({"mkgroup", "host/opt/b"});
  EXPECT_EQ(Probe({"lookup:host/opt/b", "lookup:host/opt/b/c"}), "0x00000000 9\n0x0BAD0003\n");
}

TEST_F(HostsimTest, FaultRulesListedAndCleared) {
  Ok({"fail", "Get", "--node", "sched_groups_memAllocationInMB", "--path", "host/opt", "--status",
      "0x0BAD0004", "--skip", "2", "--times", "0"});
  Ok({"fail", "ParamListCreate"});
  Ok({"fail", "ParamListAddString", "--path", "a\tb", "--status", "3"});
  EXPECT_EQ(Ok({"faults"}),
            "Get\tsched_groups_memAllocationInMB\thost/opt\t0x0BAD0004\t2\t0\n"
            "ParamListCreate\t-\t-\t0x00000000\t0\t1\n"
            "ParamListAddString\t-\ta\\x09b\t0x00000003\t0\t1\n");
  EXPECT_EQ(Ok({"faults", "--clear"}), "");
  EXPECT_EQ(Ok({"faults"}), "");
}

// Each case starts from the default host with one rule; the probe's steps
// show which calls failed.
TEST_F(HostsimTest, FaultRulesMatchCallNodePathAndCount) {
  const std::string ok3 = "0x00000000 0,-1,-1,-1 0x00004D42\n";
  struct Case {
    std::vector<std::string> rule;
    std::vector<std::string> steps;
    std::string out;
    std::string left;  // faults afterwards
  } cases[] = {
      {{"Get", "--status", "0x0BAD0004"}, {"getmem:3", "getmem:3"}, "0x0BAD0004\n" + ok3, ""},
      {{"Get", "--node", "sched_groups_memAllocationInMB", "--status", "0x0BAD0004"},
       {"members:3", "getmem:3"},
       "0x00000000\n0x0BAD0004\n",
       ""},
      {{"Get", "--node", "sched_groups_groupPathName", "--status", "0x0BAD0004"},
       {"getmem:3"},
       ok3,
       "Get\tsched_groups_groupPathName\t-\t0x0BAD0004\t0\t1\n"},
      {{"Get", "--path", "host/opt", "--status", "0x0BAD0004"},
       {"getmem:1", "getmem:3", "getmem:3"},
       "0x00000000 0,-1,-1,-1 0x00004D42\n0x0BAD0004\n" + ok3,
       ""},
      {{"Get", "--skip", "1", "--times", "2", "--status", "7"},
       {"getmem:3", "getmem:3", "getmem:3", "getmem:3"},
       ok3 + "0x00000007\n0x00000007\n" + ok3,
       ""},
      {{"Get", "--times", "0", "--status", "7"},
       {"getmem:3", "getmem:3", "getmem:3"},
       "0x00000007\n0x00000007\n0x00000007\n",
       "Get\t-\t-\t0x00000007\t0\t0\n"},
      {{"Set", "--path", "host/opt/new", "--status", "0x0BAD0001"},
       {"create:3:other", "create:3:new", "create:3:new"},
       "0x00000000 5\n0x0BAD0001\n0x00000000 6\n",
       ""},
      {{"Set", "--node", "sched_groupPathNameToID", "--path", "host/user", "--status", "3"},
       {"lookup:host/opt", "lookup:host/user"},
       "0x00000000 3\n0x00000003\n",
       ""},
      {{"Set", "--node", "sched_groups_delete", "--status", "0x0BAD0004"},
       {"create:3:x", "delete:5", "delete:5"},
       "0x00000000 5\n0x0BAD0004\n0x00000000\n",
       ""},
      {{"GetInstanceListAlloc", "--path", "host", "--status", "0x0BAD0001"},
       {"members:3", "members:1", "members:1"},
       "0x00000000\n0x0BAD0001\n0x00000000 2,3,4\n",
       ""},
      {{"ParamListCreate", "--skip", "1"},
       {"getmem:3", "getmem:3", "getmem:3"},
       ok3 + "0x0BAD0014\n" + ok3,
       ""},
      {{"ParamListAddInt", "--path", "host/opt", "--status", "0x0BAD0041"},
       {"getmem:1", "getmem:3", "getmem:3"},
       "0x00000000 0,-1,-1,-1 0x00004D42\n0x0BAD0041\n" + ok3,
       ""},
      {{"ParamListAddString", "--path", "host/user", "--status", "0x0BAD0041"},
       {"lookup:host/opt", "lookup:host/user"},
       "0x00000000 3\n0x0BAD0041\n",
       ""},
      {{"ParamListGetUInt64", "--path", "host/opt", "--status", "0x0BAD0001"},
       {"members:1", "members:1"},
       "0x0BAD0001 2\n0x00000000 2,3,4\n",
       ""},
  };
  for (const Case& c : cases) {
    Ok({"init"});
    std::vector<std::string> fail = {"fail"};
    fail.insert(fail.end(), c.rule.begin(), c.rule.end());
    Ok(fail);
    std::string what = c.rule[0] + " " + c.rule[1] + " " + c.rule[2];
    EXPECT_EQ(Probe(c.steps), c.out) << what;
    EXPECT_EQ(Ok({"faults"}), c.left) << what;
  }
}

TEST_F(HostsimTest, TraceRecordsKernelCallsInOrder) {
  Probe({"getmem:3"});
  EXPECT_EQ(Ok({"calls"}), "") << "traced while off";
  Ok({"trace", "on"});
  Ok({"mkgroup", "host/opt/by-tool"});  // the tool's own work is never traced
  Probe({"lookup:host/opt", "create:3:a\tb", "setmem:3:min=1,max=2", "getmem:999", "members:1",
         "delete:6", "checksig", "leak:1"});
  const std::string calls =
      "KNI_Set\tsched_groupPathNameToID\t-\thost/opt\t0x00000000\n"
      "KNI_Set\tsched_groups_groupCreate\t3\ta\\x09b\t0x00000000\n"
      "KNI_Set\tsched_groups_memAllocationInMB\t3\tmin=1,max=2\t0x00000000\n"
      "KNI_Get\tsched_groups_memAllocationInMB\t999\t-\t0x0BAD0003\n"
      "KNI_GetInstanceListAlloc\tsched_groups_members_groups\t1\t-\t0x00000000\n"
      "KNI_Set\tsched_groups_delete\t6\t-\t0x00000000\n"
      "KNI_CheckSig\t-\t-\t-\t0x00000000\n";
  EXPECT_EQ(Ok({"calls"}), calls);
  EXPECT_EQ(Ok({"calls", "--clear"}), calls);
  EXPECT_EQ(Ok({"calls"}), "");
  Ok({"trace", "off"});
  Probe({"getmem:3"});
  EXPECT_EQ(Ok({"calls"}), "");
}

TEST_F(HostsimTest, LeaksAddUpAcrossProcesses) {
  Probe({"leak:2"});
  Probe({"leak:3", "getmem:3"});
  Probe({"getmem:3"});
  EXPECT_EQ(Ok({"leaks"}), "5\n");
  EXPECT_EQ(Ok({"leaks", "--clear"}), "5\n");
  EXPECT_EQ(Ok({"leaks"}), "0\n");
}

TEST_F(HostsimTest, KernelBuildPinsAndFollows) {
  struct Case {
    std::vector<std::string> args;
    std::string prefix;  // of the probe's signature line
  } cases[] = {
      {{"kernel-build", "Jan  1 2000 00:00:00"}, "0x0BAD0001 Jan  1 2000 00:00:00|"},
      {{"kernel-build", ""}, "0x0BAD0001 |"},
      {{"kernel-build", "--match"}, "0x00000000 "},
  };
  for (const Case& c : cases) {
    Ok(c.args);
    std::string line = Probe({"checksig"});
    EXPECT_EQ(line.substr(0, c.prefix.size()), c.prefix) << c.args[1];
    EXPECT_EQ(line.size(), c.prefix.size() + (c.prefix == "0x00000000 " ? 42 : 21)) << line;
  }
}

TEST_F(HostsimTest, StatusTexts) {
  struct Case {
    const char* status;
    const char* text;
  } cases[] = {
      {"0", "Success\n"},
      {"0x0BAD0001", "Failure\n"},
      {"195887107", "Not found\n"},
      {"0x0bad0004", "Busy\n"},
      {"0x0BAD0005", "Already exists\n"},
      {"0x0BAD0014", "Out of memory\n"},
      {"0x0BAD0040", "Bad parameter\n"},
      {"0x0BAD0041", "Limit exceeded\n"},
      {"0x0BAD0042", "Name too long\n"},
      {"0x0BAD0080", "Group in use\n"},
      {"0x0BAD0081", "Unknown status 0x0BAD0081\n"},
      {"4294967295", "Unknown status 0xFFFFFFFF\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Ok({"status-text", c.status}), c.text) << c.status;
}

TEST_F(HostsimTest, InstallCopiesAndMarks) {
  std::string a = host_.WriteFile("a.yaml", "- name: a\n");
  std::string b = host_.WriteFile("b.yaml", "");
  std::string dir = host_.dir() + "/etc/rp.d";
  Ok({"install", a, "--to", dir, b});
  for (const char* name : {"a.yaml", "b.yaml"}) {
    std::string copy = dir + "/" + name;
    char mark[8];
    ASSERT_EQ(getxattr(copy.c_str(), "user.lumen.installed", mark, sizeof mark), 1) << name;
    EXPECT_EQ(mark[0], 1);
    std::ifstream in(copy);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), std::string(name) == "a.yaml" ? "- name: a\n" : "");
  }
  char mark[8];
  EXPECT_LT(getxattr(a.c_str(), "user.lumen.installed", mark, sizeof mark), 0)
      << "the original is marked";
  Ok({"mark", a});
  EXPECT_EQ(getxattr(a.c_str(), "user.lumen.installed", mark, sizeof mark), 1);

  RunResult r = host_.Hostsim({"mark", host_.dir() + "/none"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "hostsim: mark: " + host_.dir() + "/none: No such file or directory\n");
  r = host_.Hostsim({"install", a, "--to", a});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "hostsim: install: " + a + ": Not a directory\n");
}

TEST_F(HostsimTest, AnUnusableStateFileIsReported) {
  RunResult r = e2e::Run(HOSTSIM_BIN, {"groups"}, {"HOSTSIM_DB=" + host_.dir()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "hostsim: groups: " + host_.dir() + ": unable to open database file\n");
  r = e2e::Run(kProbe, {"getmem:3"}, {"HOSTSIM_DB=" + host_.dir()});
  EXPECT_EQ(r.out, "0x0BAD0014\n") << "no list without a state file";
  EXPECT_EQ(r.err, "hostsim: " + host_.dir() + ": unable to open database file\n");
}

TEST_F(HostsimTest, DefaultStateFileIsPerUser) {
  RunResult r =
      e2e::Run(HOSTSIM_BIN, {"mkgroup", "host/opt/mine"}, {"HOSTSIM_DB=", "HOME=" + host_.dir()});
  ASSERT_EQ(r.status, 0) << r.err;
  r = e2e::Run(HOSTSIM_BIN, {"groups"},
               {"HOSTSIM_DB=" + host_.dir() + "/.local/state/hostsim/host.db"});
  EXPECT_NE(r.out.find("host/opt/mine\t5\t"), std::string::npos) << r.out;
}

// Writers in several processes at once, the tool and the library mixed: all
// their groups arrive, each with its own id.
TEST_F(HostsimTest, ConcurrentProcessesLoseNothing) {
  Ok({"init"});
  constexpr int kProbes = 3, kPerProbe = 40, kTools = 24;
  std::vector<std::unique_ptr<e2e::Process>> running;
  for (int p = 0; p < kProbes; ++p) {
    std::vector<std::string> steps;
    for (int i = 0; i < kPerProbe; ++i)
      steps.push_back("create:3:p" + std::to_string(p) + "-" + std::to_string(i));
    running.emplace_back(new e2e::Process(kProbe, steps, {host_.Env()}));
  }
  for (int t = 0; t < kTools; ++t) {
    running.emplace_back(new e2e::Process(
        HOSTSIM_BIN, {"mkgroup", "host/user/t" + std::to_string(t)}, {host_.Env()}));
  }
  for (auto& p : running) {
    RunResult r = p->Wait();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("0x0BAD"), std::string::npos) << "a probe's creation failed: " << r.out;
  }
  std::set<std::string> ids;
  std::istringstream groups(Ok({"groups"}));
  int lines = 0;
  for (std::string line; std::getline(groups, line); ++lines) {
    std::string rest = line.substr(line.find('\t') + 1);
    ids.insert(rest.substr(0, rest.find('\t')));
  }
  EXPECT_EQ(lines, 5 + kProbes * kPerProbe + kTools);
  EXPECT_EQ(ids.size(), static_cast<size_t>(lines));
}

}  // namespace
