// The simulated host as its users meet it: the hostsim tool, kernel calls from kni_probe
// processes beside it (so that rules, traces, leaks and crashes are seen across processes),
// and the kernel interface in this process.
#include <sqlite3.h>
#include <sys/xattr.h>

#include <cstring>
#include <memory>

#include "kni.h"
#include "platform/hostsim/kernel_testing.h"
#include "platform/kernel_records.h"

namespace {

using Tool = hostsim::HostTest;
using Kernel = hostsim::HostTest;

const std::string kNew = "\t0\t-1\t-1\t-1\t0\t-1\t1000\t-1\t0\n";  // a new group's line after path and id
const std::string kDefaultGroups =
    "\t0" + kNew + "host\t1" + kNew + "host/opt\t3" + kNew + "host/system\t2" + kNew + "host/user\t4" + kNew;
const std::string kHeader =
    "path\tid\tmemMin\tmemMax\tmemShares\tmemMinLimit\tcpuMin\tcpuMax\tcpuShares\tcpuMinLimit\tworlds\n";
const std::string kMemOk = "0x00000000 0,-1,-1,-1 0x00004D42\n";  // the probe's getmem of a new group

// HOSTSIM_DB names the state file, created with the default host when missing; unset, each
// user has one of their own.
TEST_F(Tool, StateFileDefaultHostAndFacts) {
  EXPECT_EQ(std::string(POOLCTL_BIN), hostsim::kBuild + "poolctl");
  const std::string d = host_.dir(), c4095(4095, 'c');
  Run({{"groups", kDefaultGroups}, {"faults", ""}, {"calls", ""}, {"leaks", "0\n"},
       {"probe facts", "0x00000000 cpus=16 vm=0 installer=0 memkb=67108864 maxvms=512 cmdline=\n"},
       {"init --cpus 64 --mem-kb 0x10 --max-vms 0 --installer 1 --vm 1 --cmdline x=1\ty", ""},
       {"probe facts", "0x00000000 cpus=64 vm=1 installer=1 memkb=16 maxvms=0 cmdline=x=1\ty\n"},
       {"mkgroup host/opt/kept;cmdline -- --quiet;facts --cpus 4294967295 --vm 0 --mem-kb 18446744073709551615", ""},
       {"probe facts lookup:host/opt/kept", "0x00000000 cpus=4294967295 vm=0 installer=1 "
        "memkb=18446744073709551615 maxvms=0 cmdline=--quiet\n0x00000000 5\n"},
       {"init --installer 0X1;cmdline " + c4095, ""},
       {"probe facts", "0x00000000 cpus=16 vm=0 installer=1 memkb=67108864 maxvms=512 cmdline=" + c4095 + "\n"},
       {"HOSTSIM_DB=" + d + " groups", "groups: " + d + ": unable to open database file", 1},
       {"HOSTSIM_DB=" + d + " probe getmem:3", "0x0BAD0014\nhostsim: " + d + ": unable to open database file\n"},
       {"HOSTSIM_DB= HOME=" + d + " mkgroup host/opt/mine", ""},
       {"HOSTSIM_DB=" + d + "/.local/state/hostsim/host.db probe lookup:host/opt/mine", "0x00000000 5\n"}});
}

// The listing is byte-ordered by path; a group goes with its subtree, busy or not; ids are
// never reused; init puts everything back.
TEST_F(Tool, GroupCommandsAndInit) {
  const std::string listed = "\t0" + kNew + "host\t1" + kNew + "host/opt\t3" + kNew + "host/opt-a\t7\t-1\t"
      "-9223372036854775808\t9223372036854775807\t0\t-2147483648\t2147483647\t-4\t0\t0\nhost/opt/b\t5\t1\t2\t-3\t"
      "4\t5\t-1\t16\t7\t2\nhost/opt/b/c\t6" + kNew + "host/system\t2" + kNew + "host/user\t4" + kNew + "top\t8" + kNew;
  Run({{"mkgroup host/opt/b --mem 1,2,-3,4 --cpu 5,-1,0x10,7;mkgroup host/opt/b/c;mkgroup host/opt-a;mkgroup top", ""},
       {"setmem host/opt-a -1,-9223372036854775808,9223372036854775807,0;setcpu host/opt-a -2147483648,2147483647,-4,0;"
        "stats host/opt/b 1 18446744073709551615;busy host/opt/b/c 3;busy host/opt/b/c 0;busy host/opt/b 2", ""},
       {"groups", listed}, {"groups --header", kHeader + listed},
       {"rmgroup host/opt/b;mkgroup host/opt/b;probe lookup:host/opt/b lookup:host/opt/b/c", "0x00000000 9\n0x0BAD0003\n"},
       {"fail Get --status 1 --times 0;crash Set;trace on;probe leak:2", "0x00000000\n"},
       {"init", ""}, {"groups", kDefaultGroups}, {"faults", ""}, {"leaks", "0\n"}, {"probe getmem:3", kMemOk},
       {"calls", ""}});
}

// The kernel's rules for the tree, each probe step's line in turn: groups 5 to 8 are z (1
// world) with z/c and a with a/c. A path fills its 780-byte buffer with "host/opt/", 770 more
// bytes and the NUL. Worlds are checked before children.
TEST_F(Tool, KernelCreatesLooksUpAndDeletesGroups) {
  const std::string n770(770, 'n'), nf = "0x0BAD0003\n", bad = "0x0BAD0040\n", inUse = "0x0BAD0080\n";
  Run({{"mkgroup host/opt/z;mkgroup host/opt/z/c;mkgroup host/opt/a;mkgroup host/opt/a/c;busy host/opt/z 1", ""},
       {"probe create:999:a create:1:opt create:1: create:1:a/b create:3:" + n770 + "n create:3:" + n770 +
        " create:0:top", nf + "0x0BAD0005\n" + bad + bad + "0x0BAD0042\n0x00000000 9\n0x00000000 10\n"},
       {"probe lookup: lookup:top lookup:host/opt/" + n770 + " lookup:host//opt lookup:host/ lookup:/host "
        "lookup:Host lookup:host/op lookup:opt", "0x00000000 0\n0x00000000 10\n0x00000000 9\n" + nf + nf + nf +
        nf + nf + nf},
       {"probe delete:0 delete:1 delete:999 delete:5 delete:7 delete:8 delete:8 delete:3 members:3",
        bad + bad + nf + "0x0BAD0004\n" + inUse + "0x00000000\n" + nf + inUse + "0x00000000 5,7,9\n"}});
}

// The kernel's build date follows the library's own, so that the signature check passes after
// every rebuild, until a date is pinned.
TEST_F(Tool, SignatureFollowsTheLibraryUntilPinned) {
  const std::string sig = e2e::Run(hostsim::kBuild + "kni_probe", {"checksig"}, {host_.Env()}).out;
  const std::string date = sig.substr(sig.find('|') + 1, 20);
  EXPECT_EQ(sig, "0x00000000 " + date + "|" + date + "\n");
  Run({{"kernel-build 2020-01-01T00:00:00Z", ""}, {"probe checksig", "0x0BAD0001 2020-01-01T00:00:00Z|" + date + "\n"},
       {"kernel-build --match;probe checksig", sig}, {"kernel-build ;probe checksig", "0x0BAD0001 |" + date + "\n"},
       {"init;probe checksig", sig}});
}

// Every refusal is one line on standard error with status 1, and changes nothing.
TEST_F(Tool, RefusalsAreOneLine) {
  const std::string c4096(4096, 'c'), help = " (\"hostsim help\" lists the commands)";
  Run({{"frob", "unknown command frob" + help, 1}, {"init x", "init: unexpected operand x", 1},
       {"init --cpus", "init: option --cpus needs a value", 1}, {"facts --vm 2", "facts: invalid --vm 2", 1},
       {"init --mem-kb 18446744073709551616", "init: invalid --mem-kb 18446744073709551616", 1},
       {"cmdline " + c4096, "cmdline: the boot command line holds at most 4095 bytes", 1},
       {"kernel-build 123456789012345678901", "kernel-build: a build date has at most 20 characters", 1},
       {"mkgroup host/opt", "mkgroup: host/opt: Already exists", 1},
       {"mkgroup host/opt/x --cpu 1,2,3", "mkgroup: a record is MIN,MAX,SHARES,MINLIMIT: 1,2,3", 1},
       {"mkgroup host/opt/x --cpu 0,2147483648,0,0", "mkgroup: invalid record field 2147483648", 1},
       {"rmgroup ", "rmgroup: the root and host cannot be deleted", 1},
       {"setmem host/none 0,0,0,0", "setmem: host/none: Not found", 1}, {"fail Foo", "fail: unknown call Foo", 1},
       {"fail Get --node KNI_NODE_sched_groups_delete --status 1", "fail: unknown node KNI_NODE_sched_groups_delete", 1},
       {"fail ParamListAddInt --node sched_groups_delete --status 1", "fail: ParamListAddInt has no node", 1},
       {"fail ParamListCreate --path host", "fail: ParamListCreate names no group", 1},
       {"fail Get", "fail: --status is required", 1}, {"crash Get --status 1", "crash: unknown option --status", 1},
       {"trace maybe", "trace: trace takes on or off, not maybe", 1}, {"fss rm f", "fss: no switch f", 1},
       {"config set x", "config: give one of --int, --double and --string", 1}, {"faults", ""},
       {"groups --headers", "groups: unknown option --headers", 1}, {"--version x", "--version: unexpected operand x", 1},
       {"groups", kDefaultGroups}});
  const e2e::RunResult none = e2e::Run(HOSTSIM_BIN, {}, {host_.Env()});
  EXPECT_EQ(none.out + none.err + std::to_string(none.status), "hostsim: usage: hostsim COMMAND ..." + help + "\n1");
  const e2e::RunResult version = e2e::Run(HOSTSIM_BIN, {"--version"}, {host_.Env()});  // on stdout
  EXPECT_EQ(version.out + "|" + version.err + std::to_string(version.status),
            "hostsim (poolctl) " POOLCTL_VERSION "\n|0");
}

// Rules on a fresh host, the probe's steps, what they print, and the rules left. Every
// matching rule counts a call against its skips; the oldest one that skips no more fires.
TEST_F(Tool, FaultRulesMatchCallNodePathAndCount) {
  const std::string ok = kMemOk, stats = "0x00000000 0,0\n";
  const struct { std::string rules, steps, out, left; } cases[] = {
      {"fail Get --node sched_groups_memAllocationInMB --status 4", "members:3 getmem:3", "0x00000000\n0x00000004\n", ""},
      {"fail Get --skip 1 --status 5;fail Get --status 6", "getmem:3 getmem:3 getmem:3", "0x00000006\n0x00000005\n" + ok, ""},
      {"fail Get --node sched_groups_memAllocationInMB --skip 1 --times 2 --status 11;fail Get --path host/opt --skip 2 "
       "--times 0 --status 22;fail Set --status 33", "getmem:3 stats:3 stats:4 getmem:3 getmem:3 getmem:3 stats:3",
       ok + stats + stats + "0x0000000B\n0x0000000B\n0x00000016\n0x00000016\n",
       "Get\t-\thost/opt\t0x00000016\t0\t0\nSet\t-\t-\t0x00000021\t0\t1\n"},
      {"fail Set --node sched_groupPathNameToID --path host/user --status 3", "lookup:host/opt lookup:host/user",
       "0x00000000 3\n0x00000003\n", ""},
      {"fail ParamListAddInt --path host/opt --status 0x0BAD0041", "getmem:1 getmem:3", ok + "0x0BAD0041\n", ""},
      {"fail ParamListGetUInt64 --path host/opt --status 1", "members:1 members:1", "0x00000001 2\n0x00000000 2,3,4\n", ""},
      {"fail ParamListCreate --skip 9;fail ParamListAddString --path a\tb --status 3", "leak:0", "0x00000000\n",
       "ParamListCreate\t-\t-\t0x00000000\t9\t1\nParamListAddString\t-\ta\\x09b\t0x00000003\t0\t1\n"},
  };
  for (const auto& c : cases) Run({{"init;" + c.rules + ";probe " + c.steps, c.out}, {"faults", c.left}});
  Run({{"faults --clear", ""}, {"faults", ""}});
}

// The probe creates a and b below host/opt under one crash rule. A killed probe's output dies
// in its buffer; the file keeps exactly what the calls before the crash committed, and the
// rule is used up.
TEST_F(Tool, CrashRulesKillAtTheMatchingCallOnce) {
  const std::string a = "KNI_Set\tsched_groups_groupCreate\t3\ta\t0x00000000\n";
  const std::string ab = a + "KNI_Set\tsched_groups_groupCreate\t3\tb\t0x00000000\n";
  const std::string none = "0x0BAD0003\n0x0BAD0003\n", onlyA = "0x00000000 5\n0x0BAD0003\n",
                    both = "0x00000000 5\n0x00000000 6\n";
  const struct { const char* rule; std::string calls, groups, left; } cases[] = {  // left: not fired
      {"Set --node sched_groups_delete --path host/opt --skip 2", ab, both, "Set\tsched_groups_delete\thost/opt\tcrash\t2\t1\n"},
      {"Set", "", none, ""}, {"Set --after", a, onlyA, ""}, {"Set --skip 1", a, onlyA, ""},
      {"Set --skip 1 --after", ab, both, ""}, {"Set --path host/opt/b", a, onlyA, ""},
      {"ParamListCreate --skip 2", a, onlyA, ""}, {"ParamListAddString --path b --after", a, onlyA, ""},
      {"ParamListAddInt", "", none, ""},
      {"Get --after", ab, both, "Get\t-\t-\tcrash-after\t0\t1\n"},
  };
  for (const auto& c : cases) {
    const bool fired = c.left.empty();
    Run({{std::string("init;trace on;crash ") + c.rule + ";probe create:3:a create:3:b", fired ? "" : both, fired ? 137 : 0},
         {"calls --clear", c.calls}, {"faults", c.left}, {"leaks", "0\n"}, {"check", "ok\n"},
         {"probe lookup:host/opt/a lookup:host/opt/b", c.groups}});
  }
  // A crash after a kernel call leaves a fail rule to count the call too; a list call ends at
  // its crash, before the fail rules.
  Run({{"init;crash Set --after;fail Set --status 3;crash ParamListAddString --after;"
        "fail ParamListAddString --status 4 --skip 1;probe create:3:a", "", 137},
       {"faults", "Set\t-\t-\t0x00000003\t0\t1\nParamListAddString\t-\t-\t0x00000004\t1\t1\n"
        "Set\t-\t-\tcrash-after\t0\t1\n"},
       {"probe create:3:a", "", 137}, {"faults", "ParamListAddString\t-\t-\t0x00000004\t0\t1\n"},
       {"groups", kDefaultGroups}});
}

// Neither the tool's own work nor anything while tracing is off is traced.
TEST_F(Tool, TraceLeaksAndStatusTexts) {
  const std::string calls =
      "KNI_Set\tsched_groupPathNameToID\t-\thost/opt\t0x00000000\nKNI_Set\tsched_groups_groupCreate\t3\ta\\x09b\t"
      "0x00000000\nKNI_Set\tsched_groups_memAllocationInMB\t3\tmin=1,max=2\t0x00000000\nKNI_Get\tsched_groups_"
      "memAllocationInMB\t999\t-\t0x0BAD0003\nKNI_GetInstanceListAlloc\tsched_groups_members_groups\t1\t-\t"
      "0x00000000\nKNI_Set\tsched_groups_delete\t6\t-\t0x00000000\nKNI_CheckSig\t-\t-\t-\t0x00000000\n";
  Run({{"probe getmem:3", kMemOk}, {"calls", ""},
       {"trace on;mkgroup host/opt/by-tool;probe lookup:host/opt create:3:a\tb setmem:3:min=1,max=2 getmem:999 members:1 "
        "delete:6 leak:1", "0x00000000 3\n0x00000000 6\n0x00000000\n0x0BAD0003\n0x00000000 2,3,4\n0x00000000\n0x00000000\n"}});
  e2e::Run(hostsim::kBuild + "kni_probe", {"checksig"}, {host_.Env()});  // its dates vary
  Run({{"calls", calls}, {"calls --clear", calls}, {"calls", ""}, {"trace off", ""}, {"probe getmem:1", kMemOk},
       {"calls", ""}, {"probe leak:3 getmem:1", "0x00000000\n" + kMemOk}, {"leaks", "4\n"}, {"leaks --clear", "4\n"},
       {"leaks", "0\n"}});
  const char* const texts[] = {"0 Success", "0x0BAD0001 Failure", "195887107 Not found", "0x0bad0004 Busy",
      "0x0BAD0005 Already exists", "0x0BAD0014 Out of memory", "0x0BAD0040 Bad parameter", "0x0BAD0041 Limit exceeded",
      "0x0BAD0042 Name too long", "0x0BAD0080 Group in use", "0x0BAD0081 Unknown status 0x0BAD0081",
      "4294967295 Unknown status 0xFFFFFFFF"};
  for (const std::string t : texts) Run({{"status-text " + t.substr(0, t.find(' ')), t.substr(t.find(' ') + 1) + "\n"}});
}

// Damage made behind the tool's back: check names every problem, one line each, and fails; it
// never creates a missing file.
TEST_F(Tool, CheckNamesEveryBrokenInvariant) {
  const std::string g2 = "group 2 (host/system): ", one = "hostsim: check: 1 problem\n";
  const std::string two = "hostsim: check: 2 problems\n";
  const struct { std::string sql, out; } cases[] = {  // out "": check passes
      {"UPDATE groups SET parent = 99 WHERE id = 2", g2 + "parent 99 does not exist\n" + one},
      {"DELETE FROM groups WHERE id = 0", "group 1 (host): parent 0 does not exist\n0 root groups\n" + two},
      {"UPDATE groups SET parent = 2 WHERE id = 2",
       g2 + "path does not match its parent's and its name\n" + g2 + "its parents form a cycle\n" + two},
      {"UPDATE groups SET name = 'o/t', path = 'host/o/t' WHERE id = 3", "group 3 (host/o/t): invalid name \"o/t\"\n" + one},
      {"UPDATE host SET next_group_id = 4", "group 4 (host/user): id not below the next id 4\n" + one},
      {"UPDATE groups SET mem_min = -1 WHERE id = 2", g2 + "invalid memory record -1,-1,-1,-1\n" + one},
      {"UPDATE groups SET cpu_max = 2147483648 WHERE id = 2", g2 + "invalid cpu record 0,2147483648,1000,-1\n" + one},
      {"UPDATE groups SET cpu_max = 'x' WHERE id = 2", "group 2: allocation record missing\n" + one},
      // what enabling an annex pool leaves in a parent disabled with -n
      {"UPDATE groups SET mem_min = 100, mem_max = 0, mem_shares = 0 WHERE id = 2", ""},
  };
  Run({{"check", "check: " + host_.db() + ": unable to open database file", 1}});
  for (const auto& c : cases) {
    Run({{"init", ""}});
    sqlite3* db = nullptr;
    sqlite3_open(host_.db().c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, c.sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << c.sql;
    sqlite3_close(db);
    Run({{"check", c.out.empty() ? "ok\n" : c.out, c.out.empty() ? 0 : 1}});
  }
}

TEST_F(Tool, InstallCopiesAndMarks) {
  const std::string a = host_.WriteFile("a.yaml", "- name: a\n"), dir = host_.dir() + "/etc/rp.d";
  Run({{"install " + a + " --to " + dir + " " + host_.WriteFile("b.yaml", ""), ""},
       {"mark " + host_.dir() + "/none", "mark: " + host_.dir() + "/none: No such file or directory", 1},
       {"install " + a + " --to " + a, "install: " + a + ": Not a directory", 1}});
  auto marked = [](const std::string& file) {
    char mark[8] = {};
    return getxattr(file.c_str(), KernelRecords::kInstalledAttribute, mark, sizeof mark) == 1 && mark[0] == 1;
  };
  EXPECT_EQ(e2e::Run("/usr/bin/cmp", {a, dir + "/a.yaml"}).status, 0);
  EXPECT_TRUE(marked(dir + "/a.yaml") && marked(dir + "/b.yaml") && !marked(a));
  Run({{"mark " + a, ""}});
  EXPECT_TRUE(marked(a));
}

// A list as full as its capacity: ids for an instance list, texts for an input list.
using List = std::unique_ptr<KNI_ParamList, void (*)(KNI_ParamList*)>;
List MakeList(uint32_t kind, const std::string& commaSeparated) {
  const std::vector<std::string> items = hostsim::Split(commaSeparated, ',');
  List list(KNI_ParamListCreate(kind, items.size()), KNI_ParamListDestroy);
  for (const std::string& item : items) {
    if (kind == KNI_PARAM_LIST_INSTANCE) KNI_ParamListAddInt(list.get(), std::stoull(item));
    else KNI_ParamListAddString(list.get(), item.c_str());
  }
  return list;
}

const KNI_Node kMem = KNI_NODE_sched_groups_memAllocationInMB, kCpu = KNI_NODE_sched_groups_cpuAllocationInPct,
               kInc = KNI_NODE_sched_groups_increaseMemMinMaxInMB, kDec = KNI_NODE_sched_groups_decreaseMemMinMaxInMB;

// Sends the texts to host/opt's node.
uint32_t Set(KNI_Node node, const std::string& texts) {
  return KNI_Set(node, MakeList(KNI_PARAM_LIST_INSTANCE, "3").get(), MakeList(KNI_PARAM_LIST_INPUT, texts).get(),
                 nullptr, 0);
}

// "min,max,shares,minLimit" of host/opt's memory or CPU record, " unmarked" when the record
// does not end in the kernel's mark.
std::string Record(KNI_Node node) {
  const bool cpu = node == kCpu;
  const uint32_t size = cpu ? KNI_CPU_ALLOCATION_SIZE : KNI_MEM_ALLOCATION_SIZE;
  unsigned char buf[KNI_MEM_ALLOCATION_SIZE];
  EXPECT_EQ(KNI_Get(node, MakeList(KNI_PARAM_LIST_INSTANCE, "3").get(), buf, size), ZRV_OK);
  int64_t wide[4];
  int32_t narrow[4];
  std::memcpy(wide, buf, sizeof wide);
  std::memcpy(narrow, buf, sizeof narrow);
  std::string text;
  for (int i = 0; i < 4; ++i) text += (i == 0 ? "" : ",") + std::to_string(cpu ? narrow[i] : wide[i]);
  return text + (std::memcmp(buf + size - 4, "\x42\x4D\0\0", 4) == 0 ? "" : " unmarked");
}

// The rows run in turn on host/opt, each on the record the ones before left: keys are applied
// to a copy, which is checked before it is kept. after "": refused as a bad parameter, and
// nothing changed.
TEST_F(Kernel, KeysChangeRecordsWithinTheirBounds) {
  const struct { KNI_Node node; const char* texts; const char* after; } cases[] = {
      {kMem, "min=10,max=100", "10,100,-1,-1"}, {kMem, "min=7,min=008", "8,100,-1,-1"},
      {kMem, "max=-1,min=101", "101,-1,-1,-1"}, {kMem, "min=0,max=0", "0,0,-1,-1"},
      {kMem, "max=9223372036854775807,minLimit=-9223372036854775808", "0,9223372036854775807,-1,-9223372036854775808"},
      {kCpu, "max=2147483648", ""}, {kCpu, "max=2147483647,shares=-2147483648", "0,2147483647,-2147483648,-1"},
      {kCpu, "shares=-2147483649", ""}, {kMem, "min=100,max=-1,shares=7,minLimit=3", "100,-1,7,3"},
      {kInc, "min=5,max=7", "105,-1,7,3"}, {kMem, "min=100,max=200", "100,200,7,3"}, {kDec, "min=0,max=201", ""},
      {kDec, "min=101,max=0", ""}, {kDec, "min=100,max=50", "0,150,7,3"}, {kInc, "min=1,max=0", "1,150,7,3"},
      {kInc, "shares=1", ""}, {kInc, "min=9223372036854775807", ""}, {kInc, "min=18446744073709551616", ""},
      {kMem, "min=10,max=100,shares=-1,minLimit=-1", "10,100,-1,-1"},
      {kCpu, "min=10,max=100,shares=-1,minLimit=-1", "10,100,-1,-1"},
  };
  const char* const refused[] = {
      "max=9223372036854775808", "minLimit=-9223372036854775809", "min=-1", "max=9", "min=101", "max=-2",
      "min=50,bogus=1", "min=50,max=1x", "min=", "=5", "min", "min= 5", "min=+5", "min=0x10", "min=-", "MIN=5"};
  auto check = [](KNI_Node node, const std::string& texts, const char* after) {
    const KNI_Node record = node == kCpu ? kCpu : kMem;
    const std::string before = Record(record);
    EXPECT_EQ(Set(node, texts), *after ? ZRV_OK : ZRV_BAD_PARAM) << texts;
    EXPECT_EQ(Record(record), *after ? after : before) << texts;
  };
  for (const auto& c : cases) check(c.node, c.texts, c.after);
  for (const char* texts : refused) {
    for (KNI_Node node : {kMem, kCpu}) check(node, texts, "");
  }
}

// A list holds one kind up to its capacity; a destroyed one is refused, not followed.
TEST_F(Kernel, ParameterListsKeepKindAndCapacity) {
  EXPECT_EQ(KNI_ParamListCreate(2, 1), nullptr);
  EXPECT_EQ(KNI_ParamListCreate(KNI_PARAM_LIST_INPUT, 0), nullptr);
  List ints = MakeList(KNI_PARAM_LIST_INSTANCE, "7"), texts = MakeList(KNI_PARAM_LIST_INPUT, "x");
  KNI_ParamList* gone = KNI_ParamListCreate(KNI_PARAM_LIST_INSTANCE, 1);
  KNI_ParamListDestroy(gone);
  uint64_t value = 0;
  char buf[KNI_MEM_ALLOCATION_SIZE];
  EXPECT_EQ(KNI_ParamListAddString(ints.get(), "x"), ZRV_BAD_PARAM);  // the wrong kind
  EXPECT_EQ(KNI_ParamListAddInt(texts.get(), 7), ZRV_BAD_PARAM);
  EXPECT_EQ(KNI_ParamListAddInt(ints.get(), 9), ZRV_LIMIT_EXCEEDED);  // past the capacity
  EXPECT_EQ(KNI_ParamListAddString(texts.get(), "z"), ZRV_LIMIT_EXCEEDED);
  EXPECT_EQ(KNI_ParamListGetUInt64(ints.get(), 0, &value), ZRV_OK);
  EXPECT_EQ(KNI_ParamListGetUInt64(ints.get(), 1, &value), ZRV_BAD_PARAM);  // past the end
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(KNI_Get(kMem, gone, buf, KNI_MEM_ALLOCATION_SIZE), ZRV_BAD_PARAM);
}

}  // namespace
