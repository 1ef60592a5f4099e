// Each group operation on a fresh simulated host: what it returns, or the exception it throws
// (text, status and nested cause), with no parameter list left behind on any path.
#include "sched/sched.h"

#include <functional>

#include "platform/hostsim/kernel_testing.h"

namespace {

using Sched::GroupId;

// "min,max,shares,minLimit mark"; both records end in the kernel's mark 0x4D42 (19778).
template <typename Record>
std::string Read(void (*get)(GroupId, Record&), GroupId id) {
  Record r = {9, 9, 9, 9, 9};
  get(id, r);
  return std::to_string(r.min) + "," + std::to_string(r.max) + "," + std::to_string(r.shares) + "," +
         std::to_string(r.minLimit) + " " + std::to_string(r.reserved);
}
std::string Mem(GroupId id) { return Read(Sched::GetMemAllocation, id); }
std::string Cpu(GroupId id) { return Read(Sched::GetCpuAllocation, id); }
std::string Members(GroupId id) {
  std::string text;
  for (GroupId m : Sched::GetMemberGroups(id)) text += std::to_string(m) + ";";
  return text;
}
std::string Create(const std::string& path) {
  Sched::CreateGroup(path, {512, -1, -1, -1, 0}, {10, -1, 1000, -1, 0});
  return std::to_string(Sched::GroupPathToId(path));
}

// What op returns, or the text and status of what it throws, then each nested cause after " / ".
std::string Outcome(const std::function<std::string()>& op) {
  try {
    return op();
  } catch (const Sched::Exception& e) {
    char status[16];
    snprintf(status, sizeof status, " 0x%08X", e.status());
    const std::string cause = Outcome([&] { std::rethrow_if_nested(e); return std::string(); });
    return e.what() + (status + (cause.empty() ? "" : " / " + cause));
  }
}

using SchedTest = hostsim::HostTest;

// Each row starts from the default host and its set-up; " +x" marks that host/opt/x is there afterwards.
TEST_F(SchedTest, OperationsAndTheirFailures) {
  const struct { const char* setup; std::function<std::string()> op; const char* result; } cases[] = {
      {"setmem host/opt 7,70,-4,5;setcpu host/opt 1,2,3,4", [] { return Mem(3) + " " + Cpu(3); },
       "7,70,-4,5 19778 1,2,3,4 19778"},
      {"mkgroup host/opt/z;mkgroup host/user/b;mkgroup host/opt/a", [] {
         return Members(3) + Members(5) + Sched::GroupIdToPath(7) + std::to_string(Sched::GetParentGroupId(7)); },
       "5;7;host/opt/a3"},
      {"mkgroup host/opt/x;rmgroup host/opt/x", [] { std::string id = Create("top"); return id + " " + Members(0); },
       "6 1;6;"},
      {"mkgroup host/opt/x --mem 0,-1,9,-1", [] {  // unset shares are not sent
         Sched::SetMemAllocation(5, {1, 2, -1, 4, 0});
         Sched::SetCpuAllocation(5, {5, 6, 7, 8, 0});
         Sched::IncreaseMemMinMax(5, 5, 7);
         Sched::DecreaseMemMinMax(5, 1, 2);
         return Mem(5) + " " + Cpu(5); }, "5,7,9,4 19778 5,6,7,8 19778 +x"},
      {"", [] { std::string id = Create("host/opt/x"); return id + " " + Mem(5) + " " + Cpu(5); },
       "5 512,-1,-1,-1 19778 10,-1,1000,-1 19778 +x"},
      {"mkgroup host/opt/x", [] { Sched::DeleteGroup(5); return ""; }, ""},
      {"", [] { return Create("host/opt"); }, "KNI_Set: Already exists 0x0BAD0005"},
      {"", [] { return Sched::GroupIdToPath(99); }, "KNI_Get: Not found 0x0BAD0003"},
      {"", [] { return Members(99); }, "KNI_GetInstanceListAlloc: Not found 0x0BAD0003"},
      {"fail ParamListCreate", [] { return Create("host/opt/x"); }, "KNI_ParamListCreate: Out of memory 0x0BAD0014"},
      {"fail ParamListAddInt --status 7", [] { return Cpu(3); }, "KNI_ParamListAddInt: Unknown status 0x00000007 0x00000007"},
      {"fail ParamListGetUInt64 --status 0x0BAD0001", [] { return Members(1); },
       "KNI_ParamListGetUInt64: Failure 0x0BAD0001"},
      // A group without its allocations must not stay behind.
      {"fail Set --node sched_groups_memAllocationInMB --status 0x0BAD0001", [] { return Create("host/opt/x"); },
       "Initialize host/opt/x: Failure 0x0BAD0001 / KNI_Set: Failure 0x0BAD0001"},
      {"fail ParamListAddString --path shares=1000 --status 0x0BAD0041", [] { return Create("host/opt/x"); },
       "Initialize host/opt/x: Limit exceeded 0x0BAD0041 / KNI_ParamListAddString: Limit exceeded 0x0BAD0041"},
      // If the deletion fails too, that failure is reported and the group stays.
      {"fail Set --node sched_groups_cpuAllocationInPct --status 1;fail Set --node sched_groups_delete --status "
       "0x0BAD0004", [] { return Create("host/opt/x"); }, "KNI_Set: Busy 0x0BAD0004 +x"},
  };
  for (const auto& c : cases) {
    Run({{*c.setup ? "init;" + std::string(c.setup) : "init", ""}});
    std::string result = Outcome(c.op);
    if (host_.Groups().find("host/opt/x\t") != std::string::npos) result += " +x";
    EXPECT_EQ(result, c.result) << c.setup;
  }
}

}  // namespace
