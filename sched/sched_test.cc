#include "sched/sched.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "kni.h"
#include "platform/hostsim/hostsim_testing.h"
#include "tests/e2e/harness.h"

namespace {

using Sched::CpuAllocation;
using Sched::GroupId;
using Sched::MemAllocation;

// Ids of the default host's groups.
constexpr GroupId kHost = 1;
constexpr GroupId kHostOpt = 3;

const MemAllocation kMem = {512, -1, -1, -1, 0};
const CpuAllocation kCpu = {10, -1, 1000, -1, 0};

// Each test gets a fresh simulated host, used in-process by the library and
// by the hostsim tool for rules, traces and the group listing.
class SchedTest : public ::testing::Test {
 protected:
  void SetUp() override { hostsim::UseStateFile(host_.db()); }
  void TearDown() override { EXPECT_EQ(hostsim::LiveParamLists(), 0) << "leaked parameter lists"; }

  void Hostsim(const std::vector<std::string>& args) {
    e2e::RunResult r = host_.Hostsim(args);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  std::vector<std::string> Calls() {
    e2e::RunResult r = host_.Hostsim({"calls", "--clear"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  e2e::SimHost host_;
};

TEST_F(SchedTest, KeyTextsAreSentInOrder) {
  struct Case {
    const char* what;
    std::function<void()> op;
    std::string call;
  };
  const Case cases[] = {
      {"memory without shares", [] { Sched::SetMemAllocation(kHostOpt, kMem); },
       "KNI_Set\tsched_groups_memAllocationInMB\t3\tmin=512,max=-1,minLimit=-1\t0x00000000"},
      {"memory with a shares word",
       [] { Sched::SetMemAllocation(kHostOpt, MemAllocation{1, 2, -3, 4, 0}); },
       "KNI_Set\tsched_groups_memAllocationInMB\t3\tmin=1,max=2,minLimit=4,shares=-3\t0x00000000"},
      {"memory at the ends of the range",
       [] { Sched::SetMemAllocation(kHostOpt, MemAllocation{0, INT64_MAX, INT64_MIN, -1, 0}); },
       "KNI_Set\tsched_groups_memAllocationInMB\t3\tmin=0,max=9223372036854775807,minLimit=-1,"
       "shares=-9223372036854775808\t0x00000000"},
      {"cpu shares last", [] { Sched::SetCpuAllocation(kHostOpt, kCpu); },
       "KNI_Set\tsched_groups_cpuAllocationInPct\t3\tmin=10,max=-1,minLimit=-1,shares=1000\t"
       "0x00000000"},
      {"increase", [] { Sched::IncreaseMemMinMax(kHostOpt, 100, 0); },
       "KNI_Set\tsched_groups_increaseMemMinMaxInMB\t3\tmin=100,max=0\t0x00000000"},
      {"decrease", [] { Sched::DecreaseMemMinMax(kHostOpt, 0, 0); },
       "KNI_Set\tsched_groups_decreaseMemMinMaxInMB\t3\tmin=0,max=0\t0x00000000"},
      {"path lookup", [] { EXPECT_EQ(Sched::GroupPathToId("host/opt"), kHostOpt); },
       "KNI_Set\tsched_groupPathNameToID\t-\thost/opt\t0x00000000"},
      {"delete", [] { Sched::DeleteGroup(5); },
       "KNI_Set\tsched_groups_delete\t5\t-\t0x00000000"},
  };
  Hostsim({"mkgroup", "host/opt/x"});  // id 5
  for (const Case& c : cases) {
    Hostsim({"trace", "on"});
    c.op();
    EXPECT_EQ(Calls(), std::vector<std::string>{c.call}) << c.what;
  }
}

TEST_F(SchedTest, CreateGroupSplitsAtTheLastSlash) {
  Hostsim({"trace", "on"});
  Sched::CreateGroup("a", kMem, kCpu);
  Sched::CreateGroup("a/b", kMem, kCpu);
  Sched::CreateGroup("a/b/c", kMem, kCpu);
  std::vector<std::string> calls = Calls();
  ASSERT_EQ(calls.size(), 12u);
  EXPECT_EQ(calls[0], "KNI_Set\tsched_groupPathNameToID\t-\t\t0x00000000");
  EXPECT_EQ(calls[1], "KNI_Set\tsched_groups_groupCreate\t0\ta\t0x00000000");
  EXPECT_EQ(calls[8], "KNI_Set\tsched_groupPathNameToID\t-\ta/b\t0x00000000");
  EXPECT_EQ(calls[9], "KNI_Set\tsched_groups_groupCreate\t6\tc\t0x00000000");
  EXPECT_EQ(Sched::GroupIdToPath(Sched::GroupPathToId("a/b/c")), "a/b/c");
  EXPECT_EQ(Sched::GetParentGroupId(Sched::GroupPathToId("a/b/c")), Sched::GroupPathToId("a/b"));
  EXPECT_EQ(Sched::GetMemberGroups(0), (std::vector<GroupId>{kHost, 5}));
}

TEST_F(SchedTest, ReadsFillRecordsAndWritesNeverSendTheTrailingField) {
  Hostsim({"setmem", "host/opt", "7,70,-4,5"});
  MemAllocation mem = {};
  Sched::GetMemAllocation(kHostOpt, mem);
  EXPECT_EQ(mem.min, 7);
  EXPECT_EQ(mem.max, 70);
  EXPECT_EQ(mem.shares, -4);
  EXPECT_EQ(mem.minLimit, 5);
  EXPECT_EQ(mem.reserved, 0x00004D42u);
  CpuAllocation cpu = {};
  Sched::GetCpuAllocation(kHostOpt, cpu);
  EXPECT_EQ(cpu.reserved, 0x00004D42u);
  Hostsim({"trace", "on"});
  Sched::SetMemAllocation(kHostOpt, mem);
  EXPECT_EQ(Calls(), std::vector<std::string>{"KNI_Set\tsched_groups_memAllocationInMB\t3\t"
                                              "min=7,max=70,minLimit=5,shares=-4\t0x00000000"});
}

TEST_F(SchedTest, EmptyMemberListIsStillDestroyed) {
  EXPECT_TRUE(Sched::GetMemberGroups(kHostOpt).empty());
}

TEST_F(SchedTest, KernelRefusalsCarryCallAndStatus) {
  struct Case {
    std::function<void()> op;
    const char* message;
    uint32_t status;
  };
  const Case cases[] = {
      {[] { Sched::GroupPathToId("host/none"); }, "KNI_Set: Not found", 0x0BAD0003},
      {[] { Sched::GroupPathToId("host//opt"); }, "KNI_Set: Not found", 0x0BAD0003},
      {[] { Sched::CreateGroup("host/opt", kMem, kCpu); }, "KNI_Set: Already exists", 0x0BAD0005},
      {[] { Sched::CreateGroup("host/none/x", kMem, kCpu); }, "KNI_Set: Not found", 0x0BAD0003},
      {[] { Sched::DeleteGroup(kHost); }, "KNI_Set: Bad parameter", 0x0BAD0040},
      {[] { Sched::DeleteGroup(kHostOpt); }, "KNI_Set: Busy", 0x0BAD0004},
      {[] { Sched::DeleteGroup(999); }, "KNI_Set: Not found", 0x0BAD0003},
      {[] { Sched::GetMemberGroups(999); }, "KNI_GetInstanceListAlloc: Not found", 0x0BAD0003},
      {[] { Sched::GroupIdToPath(999); }, "KNI_Get: Not found", 0x0BAD0003},
      {[] { Sched::DecreaseMemMinMax(kHostOpt, 1, 0); }, "KNI_Set: Bad parameter", 0x0BAD0040},
  };
  Hostsim({"busy", "host/opt", "1"});
  for (const Case& c : cases) {
    try {
      c.op();
      ADD_FAILURE() << "no exception, expected " << c.message;
    } catch (const Sched::Exception& e) {
      EXPECT_STREQ(e.what(), c.message);
      EXPECT_EQ(e.status(), c.status) << c.message;
    }
  }
}

// Rolling back a half-made group: its own deletion may fail too, and then
// that failure is what the caller sees.
TEST_F(SchedTest, FailedRollbackReportsTheDeletion) {
  Hostsim({"fail", "Set", "--node", "sched_groups_cpuAllocationInPct", "--status", "0x0BAD0001"});
  Hostsim({"fail", "Set", "--node", "sched_groups_delete", "--status", "0x0BAD0004"});
  try {
    Sched::CreateGroup("host/opt/x", kMem, kCpu);
    ADD_FAILURE() << "no exception";
  } catch (const Sched::Exception& e) {
    EXPECT_STREQ(e.what(), "KNI_Set: Busy");
  }
}

// Every kernel call of every operation is failed in turn. The operation must
// raise the call's exception with the injected status, leak no list, and a
// failed creation must leave no group behind.
struct FaultCase {
  const char* name;
  std::function<void()> op;
};

const char* const kCalls[] = {"ParamListCreate", "ParamListAddInt", "ParamListAddString",
                              "Get",             "Set",             "GetInstanceListAlloc",
                              "ParamListGetUInt64"};

std::string KernelName(const std::string& call) { return "KNI_" + call; }

class SchedFaultTest : public SchedTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SchedFaultTest, EveryCallFailsCleanly) {
  const FaultCase& fc = GetParam();
  int injected = 0;
  for (const char* call : kCalls) {
    for (int skip = 0;; ++skip) {
      Hostsim({"init"});
      Hostsim({"mkgroup", "host/opt/victim"});
      Hostsim({"mkgroup", "host/opt/victim/child"});
      std::string before = host_.Groups();
      Hostsim({"trace", "on"});
      Hostsim({"fail", call, "--skip", std::to_string(skip), "--status", "0x0BAD0001"});
      bool threw = false;
      try {
        fc.op();
      } catch (const Sched::Exception& e) {
        threw = true;
        ++injected;
        std::string what = e.what();
        std::string expected = std::string(call) == "ParamListCreate"
                                   ? "KNI_ParamListCreate: Out of memory"
                                   : KernelName(call) + ": Failure";
        uint32_t status = std::string(call) == "ParamListCreate" ? 0x0BAD0014 : 0x0BAD0001;
        EXPECT_EQ(e.status(), status) << call << " #" << skip;
        bool created = false;
        for (const std::string& line : Calls()) {
          if (line.rfind("KNI_Set\tsched_groups_groupCreate\t", 0) == 0 &&
              line.substr(line.size() - 10) == "0x00000000") {
            created = true;
          }
        }
        if (created) {
          // Past the creation the failure is reported for the path, with the
          // call's own failure nested inside.
          EXPECT_EQ(what, "Initialize host/opt/new: " + std::string(ZRV_ReturnStatusToString(status)));
          try {
            std::rethrow_if_nested(e);
            ADD_FAILURE() << "nothing nested in " << what;
          } catch (const Sched::Exception& inner) {
            EXPECT_EQ(inner.what(), expected);
          }
        } else {
          EXPECT_EQ(what, expected) << call << " #" << skip;
        }
        if (std::string(fc.name) == "CreateGroup") {
          EXPECT_EQ(host_.Groups(), before);
        }
      }
      EXPECT_EQ(hostsim::LiveParamLists(), 0) << call << " #" << skip;
      if (!threw) break;  // the operation makes no more calls of this kind
    }
  }
  EXPECT_GT(injected, 0);
  std::printf("%s: %d kernel failures injected\n", fc.name, injected);
}

const FaultCase kFaultCases[] = {
    {"GroupPathToId", [] { Sched::GroupPathToId("host/opt/victim"); }},
    {"GroupIdToPath", [] { Sched::GroupIdToPath(kHostOpt); }},
    {"GetParentGroupId", [] { Sched::GetParentGroupId(kHostOpt); }},
    {"GetMemberGroups", [] { Sched::GetMemberGroups(kHost); }},
    {"CreateGroup", [] { Sched::CreateGroup("host/opt/new", kMem, kCpu); }},
    {"DeleteGroup", [] { Sched::DeleteGroup(6); }},
    {"GetMemAllocation", [] { MemAllocation m; Sched::GetMemAllocation(kHostOpt, m); }},
    {"SetMemAllocation", [] { Sched::SetMemAllocation(kHostOpt, MemAllocation{1, 2, 3, 4, 0}); }},
    {"GetCpuAllocation", [] { CpuAllocation c; Sched::GetCpuAllocation(kHostOpt, c); }},
    {"SetCpuAllocation", [] { Sched::SetCpuAllocation(kHostOpt, kCpu); }},
    {"IncreaseMemMinMax", [] { Sched::IncreaseMemMinMax(kHostOpt, 1, 1); }},
    {"DecreaseMemMinMax", [] { Sched::DecreaseMemMinMax(kHostOpt, 0, 0); }},
};

INSTANTIATE_TEST_SUITE_P(AllOperations, SchedFaultTest, ::testing::ValuesIn(kFaultCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
