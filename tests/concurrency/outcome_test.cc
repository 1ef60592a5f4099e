// Which endings of a poolctl run the concurrency driver accepts: what a
// command writes when another process changes the host under it, but never a
// crash, a sanitizer report, a message of another command or an error that no
// other process can cause.
#include "tests/concurrency/outcome.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

using concurrency::CheckOutcome;

const char kDefinitions[] =
    "name,auto,memMin,memMax,memMinLimit,memShares,cpuMin,cpuMax,cpuShares\n"
    "host/opt/vms,yes,49152,-,-,-,0,-,normal\n"
    "host/opt/vms/burst,no,8192,8192,-,-,0,800,low\n"
    "host/opt/vms/gold,yes,8192,-,-,high,400,-,4000\n";

TEST(Outcome, RacesAreAcceptedFaultsAreNamed) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
    std::string verdict;
  };
  const Case kCases[] = {
      {{"load"},
       0,
       "",
       "host/opt/vms exists; skipping.\nhost/opt/vms/gold exists; skipping.\n",
       ""},
      {{"load", "-q"},
       0,
       "",
       "host/opt/vms exists; skipping.\n",
       "unexpected line \"host/opt/vms exists; skipping.\""},
      {{"load"},
       0,
       "",
       "host/opt/vms/gold exists; skipping.\nhost/opt/vms exists; skipping.\n",
       "unexpected line \"host/opt/vms exists; skipping.\""},
      {{"load"},
       0,
       "",
       "host/opt/vms/burst exists; skipping.\n",
       "unexpected line \"host/opt/vms/burst exists; skipping.\""},
      {{"load"},
       1,
       "",
       "Failed to delete host/opt/vms/gold: KNI_Set: Not found\nKNI_Set: Not found\n",
       ""},
      {{"load"}, 1, "", "Initialize host/opt/vms/gold: Not found\n", ""},
      {{"load"},
       1,
       "",
       "KNI_ParamListCreate: Out of memory\n",
       "unexpected line \"KNI_ParamListCreate: Out of memory\""},
      {{"load"}, 134, "", "", "exit status 134"},
      {{"load"},
       1,
       "",
       "==7==ERROR: AddressSanitizer: heap-use-after-free\n",
       "unexpected line \"==7==ERROR: AddressSanitizer: heap-use-after-free\""},
      {{"unload"},
       1,
       "",
       "Failed to recreate host/opt/vms/gold: KNI_Set: Already exists\nKNI_Set: Group in use\n",
       ""},
      {{"unload"}, 1, "", "", "failed without a message"},
      {{"unload"}, 0, "x\n", "", "output \"x\n\""},
      {{"enable", "host/opt/vms/burst"}, 0, "", "host/opt/vms: KNI_Set: Not found\n", ""},
      {{"enable", "host/opt/vms/burst"},
       0,
       "",
       "host/opt/vms/gold: KNI_Set: Not found\n",
       "unexpected line \"host/opt/vms/gold: KNI_Set: Not found\""},
      {{"enable", "host/opt/vms/burst"}, 1, "", "KNI_Set: Already exists\n", ""},
      {{"enable", "host/opt/vms/burst"},
       1,
       "",
       "KNI_Set: Already exists",
       "unexpected line \"KNI_Set: Already exists (no newline)\""},
      {{"disable", "host/opt/vms/burst"}, 0, "host/opt/vms/burst: KNI_Get: Not found\n", "", ""},
      {{"disable", "host/opt/vms/burst"},
       0,
       "host/opt/vms/burst: KNI_Set: Not found\nhost/opt/vms/burst: KNI_Set: Not found\n",
       "",
       "reported twice: host/opt/vms/burst: KNI_Set: Not found"},
      {{"disable", "host/opt/vms/burst"},
       0,
       "host/opt/vms/burst: KNI_Set: Busy\n",
       "",
       "unexpected line \"host/opt/vms/burst: KNI_Set: Busy\""},
      {{"disable", "-w", "2", "host/opt/vms/gold"}, 1, "", "host/opt/vms/gold: Busy\n", ""},
      {{"disable", "-n", "host/opt/vms/burst"},
       1,
       "",
       "host/opt/vms/burst: KNI_Set: Bad parameter\nKNI_Set: Bad parameter\n",
       ""},
      {{"disable", "host/opt/vms/burst"},
       1,
       "",
       "host/opt/vms/burst: KNI_Set: Bad parameter\nKNI_Set: Not found\n",
       "unexpected line \"host/opt/vms/burst: KNI_Set: Bad parameter\""},
  };
  auto definitions = concurrency::ParseDefinitions(kDefinitions);
  for (const Case& c : kCases) {
    e2e::RunResult r;
    r.status = c.status;
    r.out = c.out;
    r.err = c.err;
    EXPECT_EQ(CheckOutcome(c.args, r, definitions), c.verdict) << c.args[0] << ": " << c.err;
  }
}

}  // namespace
