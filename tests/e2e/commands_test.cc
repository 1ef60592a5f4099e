// load, unload, enable and disable through the real binaries, each test on a
// fresh simulated host with its own private /etc/rp.d.
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::RunResult;
using e2e::SimHost;

// A parent with an ordinary child and an annex child, and a pool that is not
// created by default.
const char kDefinitions[] =
    "- name: vm\n"
    "  memMin: 1024\n"
    "  memMax: 4096\n"
    "  cpuShares: 2000\n"
    "- name: vm/guest\n"
    "  mem: 512\n"
    "- name: vm/cache\n"
    "  annex: true\n"
    "  memMax: 256\n"
    "- name: batch\n"
    "  isEnabled: false\n"
    "  mem: 100\n";

class Commands : public ::testing::Test {
 protected:
  void SetUp() override {
    definitions_ = host_.dir() + "/rp.d";
    ASSERT_EQ(mkdir(definitions_.c_str(), 0755), 0);
    AddDefinitions("pools.yaml", kDefinitions);
    RunResult probe = host_.PoolctlWithDefinitions(definitions_, {"list"});
    if (probe.status == e2e::kNoPrivateEtc) GTEST_SKIP() << "no private /etc here: " << probe.err;
    ASSERT_EQ(probe.status, 0) << probe.err;
  }

  void AddDefinitions(const std::string& name, const std::string& text) {
    std::string path = host_.WriteFile("rp.d/" + name, text);
    Sim({"mark", path});
  }
  void Sim(const std::vector<std::string>& args) {
    RunResult r = host_.Hostsim(args);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  RunResult Poolctl(const std::vector<std::string>& args) {
    return host_.PoolctlWithDefinitions(definitions_, args);
  }
  void Expect(const std::vector<std::string>& args, int status, const std::string& out,
              const std::string& err) {
    RunResult r = Poolctl(args);
    EXPECT_EQ(r.status, status) << args[0];
    EXPECT_EQ(r.out, out) << args[0];
    EXPECT_EQ(r.err, err) << args[0];
  }
  // hostsim groups without the ids, which change when a group is recreated.
  std::vector<std::string> GroupsWithoutIds() {
    std::vector<std::string> lines;
    std::istringstream in(host_.Groups());
    for (std::string line; std::getline(in, line);) {
      size_t path = line.find('\t');
      lines.push_back(line.substr(0, path) + line.substr(line.find('\t', path + 1)));
    }
    return lines;
  }
  // The group's line without its id, or "" when absent.
  std::string Group(const std::string& path) {
    for (const std::string& line : GroupsWithoutIds()) {
      if (line.compare(0, path.size() + 1, path + "\t") == 0) return line;
    }
    return "";
  }
  std::vector<std::string> Calls(const std::string& prefix) {
    RunResult r = host_.Hostsim({"calls", "--clear"});
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    }
    return lines;
  }

  SimHost host_;
  std::string definitions_;
};

TEST_F(Commands, LoadCreatesEnabledPoolsOnceAndUnloadRemovesThem) {
  Expect({"load"}, 0, "", "");
  EXPECT_EQ(Group("host/opt/vm"), "host/opt/vm\t1024\t4096\t-1\t-1\t0\t-1\t2000\t-1\t0");
  EXPECT_EQ(Group("host/opt/vm/guest"), "host/opt/vm/guest\t512\t512\t-1\t-1\t0\t-1\t1000\t-1\t0");
  EXPECT_EQ(Group("host/opt/vm/cache"), "");  // annex pools are never created by load
  EXPECT_EQ(Group("host/opt/batch"), "");
  Sim({"setmem", "host/opt/vm", "1,2,3,4"});
  Expect({"load"}, 0, "", "host/opt/vm exists; skipping.\nhost/opt/vm/guest exists; skipping.\n");
  Expect({"load", "-q"}, 0, "", "");
  EXPECT_EQ(Group("host/opt/vm"), "host/opt/vm\t1\t2\t3\t4\t0\t-1\t2000\t-1\t0");

  Sim({"mkgroup", "host/opt/batch"});
  Sim({"trace", "on"});
  Expect({"unload"}, 0, "", "");
  EXPECT_EQ(Calls("KNI_Set\tsched_groups_delete"),
            (std::vector<std::string>{"KNI_Set\tsched_groups_delete\t6\t-\t0x00000000",
                                      "KNI_Set\tsched_groups_delete\t5\t-\t0x00000000",
                                      "KNI_Set\tsched_groups_delete\t7\t-\t0x00000000"}));
  Expect({"unload"}, 0, "", "");
}

TEST_F(Commands, LoadUndoesItsCreationsWhenAPoolFails) {
  // Sorted last, below a parent that does not exist.
  AddDefinitions("z.yaml", "- name: host/zzz/pool\n");
  Sim({"trace", "on"});
  Expect({"load", "-q"}, 1, "", "KNI_Set: Not found\n");
  EXPECT_EQ(Calls("KNI_Set\tsched_groups_delete"),
            (std::vector<std::string>{"KNI_Set\tsched_groups_delete\t6\t-\t0x00000000",
                                      "KNI_Set\tsched_groups_delete\t5\t-\t0x00000000"}));
  EXPECT_EQ(Group("host/opt/vm"), "");

  // A creation that cannot be undone is reported, and the undo goes on.
  Sim({"fail", "Set", "--node", "sched_groups_delete", "--path", "host/opt/vm/guest", "--status",
       "0x0BAD0004"});
  Expect({"load"}, 1, "",
         "Failed to delete host/opt/vm/guest: KNI_Set: Busy\n"
         "Failed to delete host/opt/vm: KNI_Set: Group in use\n"
         "KNI_Set: Not found\n");
  EXPECT_EQ(Group("host/opt/vm"), "host/opt/vm\t1024\t4096\t-1\t-1\t0\t-1\t2000\t-1\t0");
}

TEST_F(Commands, UnloadRecreatesWhatItDeletedWithTheHostsValues) {
  Expect({"load"}, 0, "", "");
  Sim({"mkgroup", "host/opt/batch", "--mem", "7,8,-2,9", "--cpu", "1,2,3,4"});
  Sim({"setmem", "host/opt/vm/guest", "10,20,-1,-1"});
  Sim({"mkgroup", "host/opt/vm/cache"});
  Sim({"busy", "host/opt/vm", "1"});
  std::string before = host_.Groups();
  Expect({"unload"}, 1, "", "KNI_Set: Busy\n");
  // Ids change with the recreation; everything else is as before.
  EXPECT_EQ(Group("host/opt/vm/guest"), "host/opt/vm/guest\t10\t20\t-1\t-1\t0\t-1\t1000\t-1\t0");
  EXPECT_EQ(Group("host/opt/vm/cache"), "host/opt/vm/cache\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0");
  EXPECT_EQ(Group("host/opt/batch"), "host/opt/batch\t7\t8\t-2\t9\t1\t2\t3\t4\t0");
  EXPECT_EQ(Group("host/opt/vm"), "host/opt/vm\t1024\t4096\t-1\t-1\t0\t-1\t2000\t-1\t1");
}

TEST_F(Commands, EnableAndDisableKeepTheAnnexReservation) {
  Expect({"load"}, 0, "", "");
  Expect({"enable", "host/opt/vm/cache"}, 0, "", "");
  EXPECT_EQ(Group("host/opt/vm"), "host/opt/vm\t1280\t4096\t-1\t-1\t0\t-1\t2000\t-1\t0");
  EXPECT_EQ(Group("host/opt/vm/cache"), "host/opt/vm/cache\t0\t256\t-1\t-1\t0\t-1\t1000\t-1\t0");
  // An existing annex group is left alone, even when emptied.
  Sim({"setmem", "host/opt/vm/cache", "0,0,0,0"});
  Expect({"enable", "host/opt/vm/cache"}, 0, "", "");
  EXPECT_EQ(Group("host/opt/vm/cache"), "host/opt/vm/cache\t0\t0\t0\t0\t0\t-1\t1000\t-1\t0");

  Expect({"disable", "-n", "host/opt/vm/cache"}, 0, "", "");  // annex groups always go
  EXPECT_EQ(Group("host/opt/vm/cache"), "");
  EXPECT_EQ(Group("host/opt/vm"), "host/opt/vm\t1024\t4096\t-1\t-1\t0\t-1\t2000\t-1\t0");
}

TEST_F(Commands, EnableRestoresADisabledParentWithItsAnnexChildren) {
  AddDefinitions("more.yaml",
                 "- {name: vm/small, annex: true, memMax: 50}\n"
                 "- {name: vm/big, annex: true, memMax: 100}\n");
  Expect({"load"}, 0, "", "");
  Expect({"enable", "host/opt/vm/big", "host/opt/vm/small"}, 0, "", "");
  Sim({"mkgroup", "host/opt/vm/stranger"});  // declared nowhere: reserves nothing
  Expect({"disable", "-n", "host/opt/vm"}, 0, "", "");
  EXPECT_EQ(Group("host/opt/vm"), "host/opt/vm\t0\t0\t0\t0\t0\t-1\t2000\t-1\t0");
  Expect({"enable", "host/opt/vm", "host/opt/vm"}, 0, "", "");
  // Shares the definition leaves unset are not sent, so the zero stays.
  EXPECT_EQ(Group("host/opt/vm"), "host/opt/vm\t1174\t4096\t0\t-1\t0\t-1\t2000\t-1\t0");
}

TEST_F(Commands, EnableAndDisableReportPerName) {
  Expect({"load"}, 0, "", "");
  Expect({"enable", "vm"}, 1, "", "vm not found\n");
  Expect({"disable", "host/opt/vm/guest", "nope"}, 1, "", "nope not found\n");
  EXPECT_EQ(Group("host/opt/vm/guest"), "");  // names before the unknown one stay disabled
  Expect({"disable", "host/opt/batch", "host/opt/vm/guest"}, 0,
         "host/opt/batch: KNI_Set: Not found\nhost/opt/vm/guest: KNI_Set: Not found\n", "");
  Expect({"enable", "host/opt/vm/guest"}, 0, "", "");
  Sim({"fail", "Set", "--node", "sched_groups_memAllocationInMB", "--status", "0x0BAD0001"});
  Expect({"disable", "-n", "host/opt/vm/guest"}, 1, "",
         "host/opt/vm/guest: KNI_Set: Failure\nKNI_Set: Failure\n");
  Sim({"setmem", "host/opt/vm", "0,0,0,0"});
  Sim({"fail", "GetInstanceListAlloc", "--status", "0x0BAD0001"});
  Expect({"enable", "host/opt/vm", "host/opt/vm/guest"}, 0, "",
         "host/opt/vm: KNI_GetInstanceListAlloc: Failure\n");
}

TEST_F(Commands, DisableWaitsForBusyGroupsUntilTheDeadline) {
  Expect({"load"}, 0, "", "");
  Sim({"busy", "host/opt/vm/guest", "2"});
  Expect({"disable", "host/opt/vm/guest"}, 1, "", "host/opt/vm/guest: Busy\n");
  Expect({"disable", "-w", "soon", "host/opt/vm/guest"}, 1, "", "host/opt/vm/guest: Busy\n");
  std::unique_ptr<e2e::Process> waiting(
      host_.StartPoolctlWithDefinitions(definitions_, {"disable", "-w", "5", "host/opt/vm/guest"}));
  sleep(1);
  Sim({"busy", "host/opt/vm/guest", "0"});
  RunResult r = waiting->Wait();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(Group("host/opt/vm/guest"), "");
}

// An annex group whose deletion fails gets its parent's memory back and the
// failure is not hidden: busy is waited for, anything else reported.
TEST_F(Commands, FailedAnnexDeletionGivesTheMemoryBackAndSaysSo) {
  Expect({"load"}, 0, "", "");
  Expect({"enable", "host/opt/vm/cache"}, 0, "", "");
  const std::string parent = "host/opt/vm\t1280\t4096\t-1\t-1\t0\t-1\t2000\t-1\t0";
  Sim({"busy", "host/opt/vm/cache", "1"});
  Expect({"disable", "host/opt/vm/cache"}, 1, "", "host/opt/vm/cache: Busy\n");
  EXPECT_EQ(Group("host/opt/vm"), parent);
  Sim({"busy", "host/opt/vm/cache", "0"});
  Sim({"fail", "Set", "--node", "sched_groups_delete", "--status", "0x0BAD0001"});
  Expect({"disable", "host/opt/vm/cache"}, 1, "",
         "host/opt/vm/cache: KNI_Set: Failure\nKNI_Set: Failure\n");
  EXPECT_EQ(Group("host/opt/vm"), parent);
  Sim({"fail", "Set", "--node", "sched_groups_delete", "--status", "0x0BAD0003"});
  Expect({"disable", "host/opt/vm/cache"}, 0, "host/opt/vm/cache: KNI_Set: Not found\n", "");
  EXPECT_EQ(Group("host/opt/vm"), parent);
  EXPECT_NE(Group("host/opt/vm/cache"), "");
}

// Every kernel call each command makes is failed in turn, once. Whatever
// fails, the host ends exactly as it was before the run and no parameter
// list is left behind.
TEST_F(Commands, EveryKernelFailureLeavesTheHostAsItWas) {
  struct Scenario {
    const char* name;
    std::vector<std::vector<std::string>> setup;  // poolctl runs before the failing one
    std::vector<std::string> args;
  };
  const Scenario scenarios[] = {
      {"load", {}, {"load"}},
      {"unload", {{"load"}, {"enable", "host/opt/vm/cache"}}, {"unload"}},
      {"enable annex", {{"load"}}, {"enable", "host/opt/vm/cache"}},
      {"enable parent", {{"load"}, {"enable", "host/opt/vm/cache"}, {"disable", "-n", "host/opt/vm"}},
       {"enable", "host/opt/vm"}},
      {"disable annex", {{"load"}, {"enable", "host/opt/vm/cache"}}, {"disable", "host/opt/vm/cache"}},
      {"disable -n", {{"load"}}, {"disable", "-n", "host/opt/vm/guest"}},
  };
  const char* calls[] = {"ParamListCreate", "ParamListAddInt", "ParamListAddString", "Get", "Set",
                         "GetInstanceListAlloc", "ParamListGetUInt64"};
  int injected = 0;
  for (const Scenario& s : scenarios) {
    Sim({"init"});
    for (const auto& args : s.setup) ASSERT_EQ(Poolctl(args).status, 0) << s.name;
    std::vector<std::string> before = GroupsWithoutIds();
    host_.SaveState("before");
    for (const char* call : calls) {
      for (int skip = 0;; ++skip) {
        host_.RestoreState("before");
        Sim({"fail", call, "--skip", std::to_string(skip), "--status", "0x0BAD0001"});
        RunResult r = Poolctl(s.args);
        if (host_.Hostsim({"faults"}).out.find(call) != std::string::npos) {
          EXPECT_EQ(r.status, 0) << s.name << ": " << r.err;  // no call left to fail
          break;
        }
        ++injected;
        std::string where = std::string(s.name) + ", " + call + " #" + std::to_string(skip);
        EXPECT_EQ(GroupsWithoutIds(), before) << where << "\n" << r.err;
        EXPECT_TRUE(r.status == 0 || r.status == 1) << where;
        EXPECT_NE(r.err, "") << where;
        EXPECT_EQ(host_.Hostsim({"leaks"}).out, "0\n") << where;
      }
    }
  }
  EXPECT_GT(injected, 100);
  std::printf("%d kernel failures injected\n", injected);
}

}  // namespace
