// poolctl through the real binary on a simulated host whose /etc/rp.d is a folder of the test's
// own: the routing, the legacy mode, the commands and the host lock. A row starts from a saved
// host, runs hostsim's set-up commands and one poolctl, and gives the whole output and the groups
// below host/opt after it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <tuple>

#include "gtest/gtest.h"
#include "tests/harness/harness.h"

namespace {

const std::string kDisable =
    "poolctl disable [flags] <rps...>\n    Disable and delete resource pools. A pool is disabled by having its\n    minimum "
    "and maximum memory allocation set to zero.\nFlags:\n    -w <seconds>    Optionally, wait upto <seconds> per resource "
    "pool,\n                    for it to become unused.\n    -n              Only disable, do not delete. Not applicable "
    "to\n                    annex groups.\n";
const std::string kUnload =
    "poolctl unload [files...]\n    Delete resource pools defined in yaml files. If no yaml files are\n    specified, all "
    "files from /etc/rp.d will be used.\n";
const std::string kEnable =
    "poolctl enable <rps...>\n    Enable disabled resource pools, which must be defined by files in\n    /etc/rp.d. A "
    "resource pools is considered disabled if it does not\n    exist or has its memory maximum set to 0. A non-existing "
    "pool\n    is enabled by getting created with settings from the yaml definition.\n    An existing pool has its memory "
    "allocation restored from the yaml\n    definition.\n";
const std::string kLoad =
    "poolctl load [flags] [files...]\n    Create enabled resource pools defined in yaml files. If no yaml files\n    are "
    "specified, all files from /etc/rp.d will be used.\nFlags:\n    -q              Silence diagnostic messages.\n";
const std::string kList =
    "poolctl list [flags] [files...]\n    List resource pools defined in yaml files. If no files are specified,\n    all "
    "yaml files in /etc/rp.d will be used.\nFlags:\n    -v              Use CSV format instead of table.\n";
const std::string kLegacy =
    "poolctl <options>\n   Legacy memory resource pool operations\nOptions:\n    -e              Check if group is empty\n  "
    "  -g path         Specify group path\n    -i              Print group configuration and stats\n    -m memMB        "
    "Size memory for the group\n    -w time         Time in seconds to poll and wait for group to become empty\n";
const std::string kHelp = kDisable + "\n" + kUnload + "\n" + kEnable + "\n" + kLoad + "\n" + kList + "\n";
const std::string kHeader = "name" + std::string(52, ' ') +
                            "auto      memMin      memMax memMinLimit   memShares      cpuMin      cpuMax   cpuShares\n";
const std::string kCsvHeader = "name,auto,memMin,memMax,memMinLimit,memShares,cpuMin,cpuMax,cpuShares\n";

// A parent with an ordinary child and an annex child, and pools that are not created by
// default, in two files.
const char kDefinitions[] = "- {name: vm, memMin: 1024, memMax: 4096, cpuShares: 2000}\n- {name: vm/guest, mem: 512}\n"
                            "- {name: vm/cache, annex: true, memMax: 256}\n- {name: batch, isEnabled: false, mem: 100}\n";
const char kMoreDefinitions[] =
    "- {name: host/opt/web, isEnabled: no, memMinLimit: 256, memShares: -4, cpuMin: 10, cpuMax: 400, cpuShares: -2}\n"
    "- {name: x1234567890123456789012345678901234567890123, isEnabled: no, memShares: -3, cpuShares: -5, memMax: !calc numPCPUs}\n";

// Groups below host/opt as Tree() shows them: name, memory and CPU records, worlds.
const std::string kVm = "vm,1024,4096,-1,-1,0,-1,2000,-1,0";
const std::string kGuest = "; vm/guest,512,512,-1,-1,0,-1,1000,-1,0";
const std::string kCache = "; vm/cache,0,256,-1,-1,0,-1,1000,-1,0";
const std::string kLoaded = kVm + kGuest, kCached = "vm,1280,4096,-1,-1,0,-1,2000,-1,0" + kCache + kGuest;

// start: the host as saved: E without groups, L after load, C after load and enable of vm/cache,
// A with host/opt/a and memory statistics for the legacy mode. tree: the groups below host/opt
// after the run, "=" for as before it.
struct Row {
  char start;
  std::string setup;  // hostsim commands, ";" between them
  std::vector<std::string> args;
  int status;
  std::string out, err, tree = "=";
};

class Poolctl : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir((host_.dir() + "/rp.d").c_str(), 0755), 0);
    host_.Setup("mark " + host_.WriteFile("rp.d/pools.yaml", kDefinitions) + " " + host_.WriteFile("rp.d/more.yaml", kMoreDefinitions));
    if (Run({"list"}).status == e2e::kNoPrivateEtc) GTEST_SKIP() << "no private /etc here";
    host_.SaveState("E");
    host_.Setup("mkgroup host/opt/a --mem 10,20,-1,-1; stats host/opt/a 1 0; stats host/user 1025 18446744073709551615");
    host_.SaveState("A");
    host_.RestoreState("E");
    ASSERT_EQ(Run({"load"}).status, 0);
    host_.SaveState("L");
    ASSERT_EQ(Run({"enable", "host/opt/vm/cache"}).status, 0);
    host_.SaveState("C");
  }
  // The routing and the legacy mode read no definitions: they run as started from a shell,
  // where their option parser names the program "poolctl".
  e2e::RunResult Run(const std::vector<std::string>& args) {
    return rpd_.empty() ? host_.Poolctl(args) : host_.PoolctlWithDefinitions(rpd_, args);
  }
  // The lines of "hostsim groups" below host/opt, the ids left out.
  std::string Tree() {
    std::istringstream in(host_.Groups());
    std::string tree;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("host/opt/", 0) != 0) continue;
      const size_t id = line.find('\t');
      line.erase(id, line.find('\t', id + 1) - id);
      std::replace(line.begin(), line.end(), '\t', ',');
      tree += (tree.empty() ? "" : "; ") + line.substr(9);
    }
    return tree;
  }
  // The tool's own build date in standard error reads as @DATE@.
  void Check(const Row& row) {
    host_.RestoreState(std::string(1, row.start));
    host_.Setup(row.setup);
    SCOPED_TRACE(row.start + (" " + row.setup + " | ") + ::testing::PrintToString(row.args));
    const std::string before = Tree();
    e2e::RunResult r = Run(row.args);
    const size_t date = row.err.find("@DATE@");
    if (date != std::string::npos && r.err.size() == row.err.size() + 14) r.err.replace(date, 20, "@DATE@");
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(row.status, row.out, row.err));
    EXPECT_EQ(Tree(), row.tree == "=" ? before : row.tree);
  }

  e2e::SimHost host_;
  std::string rpd_ = host_.dir() + "/rp.d";  // /etc/rp.d of the runs; "" for the machine's own
};

TEST_F(Poolctl, RoutingAndLegacyMode) {
  const std::string bad = "kernel-build 2000-01-01T00:00:00", valid = "\nValid commands: disable unload enable load list\n";
  const std::string mismatch = "error: md5 signature mismatch with running zorvek built on 2000-01-01T00:00:00, my build date: @DATE@\n";
  const std::string a = "host/opt/a", p = "poolctl: ", timeout = p + "Timeout waiting for host/opt";
  const std::string badMem = p + "incorrect value for memory size (MB) specified: ", badWait = p + "incorrect value for wait time specified: ";
  rpd_ = "";
  const Row rows[] = {
      {'E', "", {"-h"}, 0, "", kHelp + kLegacy},
      {'E', "", {}, 1, "", kHelp + "poolctl: Group -g parameter was not specified\n"},
      {'E', "", {"LIST"}, 1, "", "Unknown command LIST" + valid},
      {'E', "", {"--help"}, 1, "", "poolctl: invalid option -- '-'\n" + kLegacy},
      {'E', "", {"-g", "host", "list"}, 0, "", ""},
      {'E', "", {"list", "-x"}, 1, "", "list: invalid option -- 'x'\n" + kList},
      {'E', "", {"load", "-z"}, 1, "", "load: invalid option -- 'z'\n" + kLoad},
      {'E', "", {"unload", "-q"}, 1, "", "unload: invalid option -- 'q'\n" + kUnload},
      {'E', "", {"enable"}, 1, "", kEnable},
      {'E', "", {"enable", "-h", "vm"}, 0, "", kEnable},
      {'E', "", {"disable"}, 1, "", kDisable},
      // The signature is checked before anything else, help and the legacy mode included.
      {'E', bad, {"-h"}, 1, "", mismatch},
      {'E', bad, {"list"}, 1, "", mismatch},
      {'E', bad, {"-g", "host", "-e"}, 1, "", mismatch},
      // The legacy mode: a -g that fails ends it before later options are looked at.
      {'A', "", {"-g", "host/none", "-h"}, 1, "", p + "Group host/none was not found: Not found\n"},
      {'A', "fail ParamListCreate --status 1", {"-g", a}, 1, "", p + "Group host/opt/a was not found: Out of memory\n"},
      // -e comes first, then -w, then -i and -m.
      {'A', "", {"-g", "host/opt", "-e", "-m", "512", "-i"}, 2, "not empty\n", ""},
      {'A', "", {"-g", a, "-e", "-w", "9223372036854"}, 0, "empty\n", ""},
      {'A', "fail GetInstanceListAlloc --status 0x0BAD0001", {"-g", a, "-e"}, 4, "", p + "Failed to check group host/opt/a: Failure\n"},
      // -w 0 gives up before the first look, even at an empty group.
      {'A', "", {"-g", a, "-w", "0"}, 3, "", timeout + "/a to be empty\n"},
      {'A', "", {"-g", a, "-w", "5"}, 0, "empty\n", ""},
      {'A', "", {"-g", a, "-w", "5", "-m", "512"}, 0, "empty\n", "", "a,512,512,-1,-1,0,-1,1000,-1,0"},
      // A failed count is taken as a group still in use.
      {'A', "fail GetInstanceListAlloc --status 1 --times 2", {"-g", a, "-w", "5"}, 0, "empty\n", ""},
      // The statistics show the allocation before the change; KB round up to MB.
      {'A', "", {"-g", a, "-i", "-m", "300"}, 0, "{\n\"minMB\": 10,\n\"maxMB\": 20,\n\"rminpeakMB\": 1,\n\"rminchildpeakMB\": 0\n}\n", "", "a,300,300,-1,-1,0,-1,1000,-1,0"},
      {'A', "", {"-g", "host/user", "-i"}, 0, "{\n\"minMB\": 0,\n\"maxMB\": -1,\n\"rminpeakMB\": 2,\n\"rminchildpeakMB\": 18014398509481984\n}\n", ""},
      {'A', "fail Get --node sched_groups_stats_memoryStats --status 0x0BAD0001", {"-g", a, "-i"}, 4, "", p + "Failed to get groups host/opt/a stats: Failure\n"},
      {'A', "", {"-g", a, "-m", ""}, 1, "", p + "memory size (MB) is not specified\n"},
      {'A', "", {"-g", a, "-m", "12abc"}, 1, "", badMem + "12abc\n"},
      {'A', "", {"-g", a, "-m", "2147483648"}, 1, "", badMem + "2147483648\n"},
      {'A', "", {"-g", a, "-m", "-2147483649"}, 1, "", badMem + "-2147483649\n"},
      {'A', "", {"-g", a, "-m", "2147483647"}, 0, "", "", "a,2147483647,2147483647,-1,-1,0,-1,1000,-1,0"},
      {'A', "", {"-g", a, "-m", "-1"}, 4, "", p + "Failed to set group host/opt/a mem: Bad parameter\n"},
      {'A', "", {"-g", a, "-w", ""}, 1, "", p + "wait time is not specified\n"},
      {'A', "", {"-g", a, "-w", "5x"}, 1, "", badWait + "5x\n"},
      {'A', "", {"-g", a, "-w", "9223372036855"}, 1, "", badWait + "9223372036855\n"},
      // A group that stays in use is looked at ten times a second, then given up on.
      {'A', "trace on", {"-g", "host/opt", "-w", "1", "-m", "5"}, 3, "", timeout + " to be empty\n"},
  };
  for (const Row& row : rows) Check(row);
  const std::string calls = host_.Hostsim({"calls"}).out;
  size_t polls = 0;
  for (size_t at = 0; (at = calls.find("GetInstanceListAlloc", at)) != std::string::npos; ++at) ++polls;
  EXPECT_EQ(polls, 10u) << calls;
}

TEST_F(Poolctl, CommandsAndList) {
  // One pool per tag, each value read from the host.
  const std::string a = host_.WriteFile("a.yaml",
      "- {name: calc, memMin: !calc 512 if isInstaller else 1024, memMax: !calc physKB / 4096, memMinLimit: !calc 100 + zrvdefs.obx86_debug"
      " + zrvdefs.GCOV_ZORVEK, cpuMin: !calc maxVMs / 3, cpuMax: !calc numPCPUs / 2, isEnabled: !calc isVm}\n- {name: boot,"
      " memMin: !bootOption {key: memPool, default: 7}, memMax: !bootOption {key: no, default: 9}, isEnabled: !bootOption {key: memPool, default: 0}}\n");
  const std::string b = host_.WriteFile("b.yaml",
      "- {name: config, memMin: !config {object: [c, g, k], key: [int], default: 7}, memMax: !config {object: [c, g, k], key: [s, deep], default: 7},"
      " cpuMax: !config {object: [c, g, x], key: int, default: 70}}\n- {name: fss, isEnabled: !fss poolC, memMax: !fss poolA, cpuMax: !fss poolB,"
      " cpuMin: !calc numPCPUs, memMin: !bootOption {key: memPool, default: 7}}\n");
  const std::string tagHost = "mark " + a + " " + b + "; facts --cpus 7 --mem-kb 1048576 --max-vms 10 --installer 1; cmdline memPool=4;"
      "fss set poolA on; fss set poolB off; config set --component c --group g --key k int --int 12;"
      "config set --component c --group g --key k --sub s deep --double 8.75; trace on";
  const std::string none = "           -           -           0           -        1000\n";
  const std::string x = "host/opt/x1234567890123456789012345678901234567890123";
  const std::string table = kHeader + "host/opt/batch" + std::string(44, ' ') + "no         100         100" + none +
      "host/opt/vm" + std::string(46, ' ') + "yes        1024        4096" + none.substr(0, 56) + "2000\n" +
      "host/opt/vm/cache" + std::string(41, ' ') + "no           0         256" + none +
      "host/opt/vm/guest" + std::string(40, ' ') + "yes         512         512" + none +
      "host/opt/web" + std::string(46, ' ') + "no           0           -         256        high          10         400         low\n" +
      x + "          no           0          16           -      normal           0           -          -5\n";
  const std::string vm = "host/opt/vm", guest = "host/opt/vm/guest", cache = "host/opt/vm/cache";
  const std::string bad = host_.WriteFile("bad.yaml", "- name: host/zzz/pool\n"), failure = " --status 0x0BAD0001";
  host_.Setup("mark " + bad);
  const Row rows[] = {
      {'E', "", {"load"}, 0, "", "", kLoaded},
      // Existing groups keep their allocations; -q keeps quiet about them.
      {'L', "setmem " + vm + " 1,2,3,4", {"load"}, 0, "", "host/opt/vm exists; skipping.\nhost/opt/vm/guest exists; skipping.\n"},
      {'L', "", {"load", "-q"}, 0, "", ""},
      // Children go before their parents; pools not created by default go too; missing ones pass.
      {'L', "mkgroup host/opt/batch", {"unload"}, 0, "", "", ""},
      // A failed load deletes what it created, last first, and says what it could not delete.
      {'E', "fail Set --node sched_groups_delete --path " + vm + failure, {"load", host_.dir() + "/rp.d/pools.yaml", bad}, 1, "",
       "Failed to delete host/opt/vm: KNI_Set: Failure\nKNI_Set: Not found\n", kVm},
      // A failed unload recreates what it deleted with the host's own records.
      {'L', "mkgroup " + cache + "; setmem " + guest + " 10,20,-2,5; setcpu " + guest + " 1,2,3,4; busy " + vm + " 1; fail Set --node sched_groups_groupCreate --path " + cache + failure,
       {"unload"}, 1, "", "Failed to recreate host/opt/vm/cache: KNI_Set: Failure\nKNI_Set: Busy\n", "vm,1024,4096,-1,-1,0,-1,2000,-1,1; vm/guest,10,20,-2,5,1,2,3,4,0"},
      // An annex group takes its maximum from its parent's minimum, and gives it back.
      {'L', "", {"enable", cache}, 0, "", "", kCached},
      {'C', "setmem " + cache + " 0,0,0,0", {"enable", cache}, 0, "", ""},
      {'C', "", {"disable", "-n", cache}, 0, "", "", kLoaded},
      {'L', "fail Get --node sched_groups_parentGroupID" + failure, {"enable", cache}, 1, "", "KNI_Get: Failure\n"},
      {'L', "fail Set --node sched_groups_increaseMemMinMaxInMB" + failure, {"enable", cache}, 0, "", "host/opt/vm: KNI_Set: Failure\n"},
      // A restored parent covers its annex children again; a stranger reserves nothing, and
      // shares the definition leaves unset are not sent.
      {'C', "mkgroup " + vm + "/stranger; setmem " + vm + " 0,0,0,0", {"enable", vm, vm}, 0, "", "",
       "vm,1280,4096,0,-1,0,-1,2000,-1,0" + kCache + kGuest + "; vm/stranger,0,-1,-1,-1,0,-1,1000,-1,0"},
      {'E', "", {"enable", vm, guest}, 0, "", "", kLoaded},
      {'L', "setmem " + vm + " 0,0,0,0; fail GetInstanceListAlloc" + failure, {"enable", vm, guest}, 0, "", "host/opt/vm: KNI_GetInstanceListAlloc: Failure\n"},
      {'L', "", {"enable", "vm"}, 1, "", "vm not found\n"},
      // Names before an unknown one stay disabled; missing groups are reported on stdout.
      {'L', "", {"disable", guest, "nope"}, 1, "", "nope not found\n", kVm},
      {'E', "", {"disable", "host/opt/batch", guest}, 0, "host/opt/batch: KNI_Set: Not found\nhost/opt/vm/guest: KNI_Set: Not found\n", ""},
      {'L', "", {"disable", "-n", guest}, 0, "", "", kVm + "; vm/guest,0,0,0,0,0,-1,1000,-1,0"},
      {'L', "fail Set --node sched_groups_memAllocationInMB" + failure, {"disable", "-n", guest}, 1, "", "host/opt/vm/guest: KNI_Set: Failure\nKNI_Set: Failure\n"},
      // A busy group ends the command at once; a wait that is no number is a wait of none.
      {'L', "busy " + guest + " 2", {"disable", guest}, 1, "", "host/opt/vm/guest: Busy\n"},
      {'L', "busy " + guest + " 2", {"disable", "-w", "soon", guest}, 1, "", "host/opt/vm/guest: Busy\n"},
      // An annex group that cannot be deleted gets its memory back; only "not found" passes.
      {'C', "busy " + cache + " 1", {"disable", cache}, 1, "", "host/opt/vm/cache: Busy\n"},
      {'C', "fail Set --node sched_groups_delete" + failure, {"disable", cache}, 1, "", "host/opt/vm/cache: KNI_Set: Failure\nKNI_Set: Failure\n"},
      {'C', "fail Set --node sched_groups_delete --status 0x0BAD0003", {"disable", cache}, 0, "host/opt/vm/cache: KNI_Set: Not found\n", ""},
      // list: the pools of /etc/rp.d's two files, merged and sorted by name.
      {'E', "", {"list"}, 0, table, ""},
      {'E', "", {"list", "-v"}, 0, kCsvHeader + "host/opt/batch,no,100,100,-,-,0,-,1000\nhost/opt/vm,yes,1024,4096,-,-,0,-,2000\n"
           "host/opt/vm/cache,no,0,256,-,-,0,-,1000\nhost/opt/vm/guest,yes,512,512,-,-,0,-,1000\nhost/opt/web,no,0,-,256,high,10,400,low\n" +
           x + ",no,0,16,-,normal,0,-,-5\n", ""},
      {'E', "", {"list", "-v", "-h"}, 0, "", kList},
      // A failure is one line after the header; the listing ends.
      {'E', "fail Get --node hardware_cpu_cpuInfo --status 1", {"list"}, 1, kHeader, "/etc/rp.d/more.yaml: KNI_Get failed\n"},
      {'E', tagHost, {"list", "-v", a, b}, 0, kCsvHeader + "host/opt/boot,yes,4,9,-,-,0,-,1000\nhost/opt/calc,no,512,256,100,-,3,3,1000\n"
           "host/opt/config,yes,12,8,-,-,0,70,1000\nhost/opt/fss,no,4,1,-,-,7,0,1000\n", ""},
  };
  for (const Row& row : rows) Check(row);
  // The last row's run read the host's facts and its boot command line once, however many files use them.
  std::istringstream calls(host_.Hostsim({"calls"}).out);
  std::string reads;
  for (std::string call, node; calls >> call >> node; calls.ignore(1 << 20, '\n')) {
    if (call == "KNI_Get") reads += node + " ";
  }
  EXPECT_EQ(reads, "hardware_cpu_cpuInfo system_bootOption memory_comprehensive system_supportedVMs system_bootCmdLine ");
  // /etc/rp.d empty, or missing.
  rpd_ = host_.dir() + "/empty";
  ASSERT_EQ(mkdir(rpd_.c_str(), 0755), 0);
  Check({'E', "", {"list"}, 0, kHeader, ""});
  rpd_ = host_.dir() + "/none";
  Check({'E', "", {"list"}, 1, kHeader, "/etc/rp.d: No such file or directory\n"});
  const e2e::RunResult full = e2e::Run("/bin/sh", {"-c", "exec \"$0\" list \"$1\" >/dev/full", POOLCTL_BIN, host_.dir() + "/rp.d/pools.yaml"}, {host_.Env()});
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "standard output: No space left on device\n");
}

// The commands that change groups take turns through the host lock, judged by the order of
// events, never by how long something took. Whether the process waits in flock for the file with
// this inode: /proc/locks lists such waiters with an arrow, the owner's pid, "device:inode".
bool WaitsForLock(pid_t pid, ino_t inode) {
  std::ifstream locks("/proc/locks");
  const std::string owner = " " + std::to_string(pid) + " ", file = ":" + std::to_string(inode) + " ";
  for (std::string line; std::getline(locks, line);) {
    const auto has = [&line](const std::string& part) { return line.find(part) != std::string::npos; };
    if (has("-> FLOCK") && has(owner) && has(file)) return true;
  }
  return false;
}

// Whether the process has ended, without collecting it.
bool Ended(pid_t pid) {
  siginfo_t info = {};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Polls until the condition holds. The bound only keeps a broken build from hanging the test
// run; no check depends on it.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 30000 && !condition(); ++i) usleep(1000);
  return condition();
}

TEST_F(Poolctl, HostLock) {
  // Without a /run/lock of its own the test would hold the machine's lock.
  if (!e2e::PrivateLockFolder()) GTEST_SKIP() << "no private /run/lock here";
  // Each changing command waits while another process holds the lock, and changes nothing before
  // it has it; list and the legacy mode never wait.
  const int lock = open("/run/lock/poolctl.lock", O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
  struct stat st = {};
  ASSERT_TRUE(lock >= 0 && fstat(lock, &st) == 0);
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"load"}, true}, {{"unload"}, true}, {{"enable", "host/opt/vm"}, true}, {{"disable", "-n", "host/opt/vm"}, true},
      {{"list"}, false}, {{"-g", "host/user", "-e"}, false}};
  for (const auto& [args, waits] : cases) {
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    const std::string before = Tree();
    std::unique_ptr<e2e::Process> p(host_.StartPoolctlWithDefinitions(rpd_, args));
    ASSERT_TRUE(Eventually([&] { return WaitsForLock(p->pid(), st.st_ino) || Ended(p->pid()); }));
    EXPECT_EQ(WaitsForLock(p->pid(), st.st_ino), waits) << args[0];
    EXPECT_EQ(Tree(), before) << args[0];
    ASSERT_EQ(flock(lock, LOCK_UN), 0);
    EXPECT_EQ(p->Wait().status, 0) << args[0];
  }
  close(lock);
  EXPECT_EQ(Tree(), "vm,0,0,0,0,0,-1,2000,-1,0");  // each did its work once the lock was free
  // A disable that waits for a busy group holds the lock only for each attempt: a load finishes
  // while it still waits, and the disable then succeeds once the group is free. Were the lock
  // held over the whole wait, the load could only run after the disable had given up.
  host_.RestoreState("L");
  host_.Setup("busy host/opt/vm/guest 1; trace on");
  std::unique_ptr<e2e::Process> disable(host_.StartPoolctlWithDefinitions(rpd_, {"disable", "-w", "30", "host/opt/vm/guest"}));
  // Until an attempt has met the busy group.
  ASSERT_TRUE(Eventually([&] { return host_.Hostsim({"calls"}).out.find("delete\t6\t-\t0x0BAD0004") != std::string::npos; }));
  EXPECT_EQ(Run({"load", "-q"}).status, 0);
  EXPECT_FALSE(Ended(disable->pid()));
  host_.Setup("busy host/opt/vm/guest 0");
  const e2e::RunResult r = disable->Wait();
  EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), std::string()));
  EXPECT_EQ(Tree(), kVm);
}

}  // namespace
