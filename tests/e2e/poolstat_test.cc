// poolstat through the real binary: groups made by poolctl and hostsim on a simulated host,
// compared with definition files named on the command line.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "gtest/gtest.h"
#include "tests/harness/harness.h"

namespace {

// A parent with an ordinary child and an annex child, and a pool that is not created by default;
// and two of them alone.
const char kDefinitions[] =
    "- {name: vm, memMin: 1024, memMax: 4096, cpuShares: 2000}\n- {name: vm/guest, mem: 512, memShares: -3}\n"
    "- {name: vm/cache, annex: true, memMax: 256}\n- {name: batch, isEnabled: false, mem: 100}\n";
const char kTwo[] = "- {name: vm/guest, mem: 512, memShares: -3}\n- {name: batch, isEnabled: false, mem: 100}\n";
const char kBad[] = "- {name: batch, memMin: 200, memMax: 100}\n";

const std::string kCsvHeader = "name,state,source,memMin,memMax,memMinLimit,memShares,cpuMin,cpuMax,cpuMinLimit,cpuShares,differs\n";
const std::string kUsage = "poolstat [flags] [files...]\n    Compare the scheduler groups...";
// The CSV lines of kDefinitions right after "poolctl load".
const std::string kBatch = "host/opt/batch,inactive,declared,100,100,-,-,0,-,-,1000,\n";
const std::string kVm = "host/opt/vm,ok,declared,1024,4096,-,-,0,-,-,2000,\nhost/opt/vm,ok,live,1024,4096,-,-,0,-,-,2000,\n";
const std::string kCache = "host/opt/vm/cache,inactive,declared,0,256,-,-,0,-,-,1000,\n";
const std::string kGuest = "host/opt/vm/guest,ok,declared,512,512,-,normal,0,-,-,1000,\nhost/opt/vm/guest,ok,live,512,512,-,normal,0,-,-,1000,\n";
const std::string kLoaded = kCsvHeader + kBatch + kVm + kCache + kGuest;

// JSON written with ' for ".
std::string Json(std::string text) {
  std::replace(text.begin(), text.end(), '\'', '"');
  return text;
}

// One row per case, each from the host right after load. Expected texts that end in "..." are
// prefixes. poolstat only ever reads: the groups stay, and every kernel call it makes is a question.
TEST(Poolstat, Rows) {
  const e2e::SimHost host;
  const std::string file = host.WriteFile("pools.yaml", kDefinitions), two = host.WriteFile("two.yaml", kTwo);
  const std::string bad = host.WriteFile("bad.yaml", kBad);
  host.Setup("mark " + file + " " + two + " " + bad);
  ASSERT_EQ(host.Poolctl({"load", file}).status, 0);
  host.SaveState("loaded");
  const std::string guest = "host/opt/vm/guest", rest = "'memMinLimit': -1, 'memShares': -1, 'cpuMin': 0, 'cpuMax': -1, 'cpuMinLimit': -1, ";
  const std::string header = "name" + std::string(44, ' ') + "       state      source      memMin      memMax memMinLimit   memShares"
      "      cpuMin      cpuMax cpuMinLimit   cpuShares  differs\n";
  const std::string table = header + "host/opt/batch" + std::string(38, ' ') + "inactive    declared         100"
      "         100           -           -           0           -           -        1000\n";
  const std::string guestValues = "         512         512           -      normal           0           -           -        1000";
  const std::string vmLine = "host/opt/vm" + std::string(39, ' ') + "undeclared        live        1024        4096           -           -"
      "           0           -           -        2000\n";
  struct {
    std::string setup;  // hostsim commands, ";" between them
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } rows[] = {
      {"", {two}, 0, table + guest + std::string(41, ' ') + "ok    declared" + guestValues + "\n" + std::string(68, ' ') + "live" + guestValues +
           "\n" + vmLine, ""},
      // The differing fields come last, apart from the values; a value wider than its column keeps a space before it.
      {"setmem " + guest + " 0,123456789012,-4,-1; setcpu " + guest + " 0,-1,1000,50", {two}, 2, table + guest + std::string(36, ' ') +
           "drifted    declared" + guestValues + "  memMin,memMax,memShares,cpuMinLimit\n" + std::string(68, ' ') + "live           0"
           " 123456789012           -        high           0           -          50        1000\n" + vmLine, ""},
      {"setmem " + guest + " 512,1024,-3,-1", {"-v", file}, 2, kCsvHeader + kBatch + kVm + kCache +
           "host/opt/vm/guest,drifted,declared,512,512,-,normal,0,-,-,1000,memMax\nhost/opt/vm/guest,drifted,live,512,1024,-,normal,0,-,-,1000,\n", ""},
      // A live annex group holds its maximum in its parent's minimum.
      {"setmem host/opt/vm 1280,4096,-1,-1; mkgroup host/opt/vm/cache --mem 0,256,-1,-1", {"--csv", file}, 0, kCsvHeader + kBatch +
           "host/opt/vm,ok,declared,1024,4096,-,-,0,-,-,2000,\nhost/opt/vm,ok,live,1280,4096,-,-,0,-,-,2000,\n"
           "host/opt/vm/cache,ok,declared,0,256,-,-,0,-,-,1000,\nhost/opt/vm/cache,ok,live,0,256,-,-,0,-,-,1000,\n" + kGuest, ""},
      {"setmem " + guest + " 0,0,0,0", {"-v", file}, 2, kCsvHeader + kBatch + kVm + kCache + "host/opt/vm/guest,disabled,declared,512,512,-,"
           "normal,0,-,-,1000,memMin;memMax;memMinLimit;memShares\nhost/opt/vm/guest,disabled,live,0,0,0,0,0,-,-,1000,\n", ""},
      {"mkgroup host/opt/zz; mkgroup host/opt/zz/deep --cpu 1,2,3,4; mkgroup host/opt/a; mkgroup host/user/elsewhere", {"-v", file}, 0,
       kLoaded + "host/opt/a,undeclared,live,0,-,-,-,0,-,-,1000,\nhost/opt/zz,undeclared,live,0,-,-,-,0,-,-,1000,\n"
           "host/opt/zz/deep,undeclared,live,0,-,-,-,1,2,4,3,\n", ""},
      // Nothing below host/opt: every pool missing or inactive, nothing undeclared.
      {"rmgroup host/opt/vm", {"-v", file}, 2, kCsvHeader + kBatch + "host/opt/vm,missing,declared,1024,4096,-,-,0,-,-,2000,\n" + kCache +
           "host/opt/vm/guest,missing,declared,512,512,-,normal,0,-,-,1000,\n", ""},
      // Groups that vanish while they are read are simply not there.
      {"fail Get --node sched_groups_memAllocationInMB --path " + guest + " --status 0x0BAD0003; mkgroup host/opt/gone; "
       "fail Get --node sched_groups_groupPathName --path host/opt/gone --status 0x0BAD0003", {"-v", file}, 2,
       kCsvHeader + kBatch + kVm + kCache + "host/opt/vm/guest,missing,declared,512,512,-,normal,0,-,-,1000,\n", ""},
      // JSON: differing fields listed, a pool without a group has no live values, names whole.
      {"setmem " + guest + " 512,600,-4,-1; mkgroup host/opt/caf\xc3\xa9", {two, "-j"}, 2, Json(
           "{'matches': false,\n'pools': [\n  {'name': 'host/opt/batch', 'state': 'inactive', 'differs': [], 'declared': {'auto': false, "
           "'annex': false, 'memMin': 100, 'memMax': 100, " + rest + "'cpuShares': 1000}, 'live': null},\n  {'name': 'host/opt/vm/guest', "
           "'state': 'drifted', 'differs': ['memMax', 'memShares'], 'declared': {'auto': true, 'annex': false, 'memMin': 512, 'memMax': 512, "
           "'memMinLimit': -1, 'memShares': -3, 'cpuMin': 0, 'cpuMax': -1, 'cpuMinLimit': -1, 'cpuShares': 1000}, 'live': {'memMin': 512, 'memMax': 600, "
           "'memMinLimit': -1, 'memShares': -4, 'cpuMin': 0, 'cpuMax': -1, 'cpuMinLimit': -1, 'cpuShares': 1000}}\n],\n'undeclared': [\n  {'name': "
           "'host/opt/caf\xc3\xa9', 'live': {'memMin': 0, 'memMax': -1, " + rest + "'cpuShares': 1000}},\n  {'name': 'host/opt/vm', "
           "'live': {'memMin': 1024, 'memMax': 4096, " + rest + "'cpuShares': 2000}}\n]}\n"), ""},
      // An invalid pool: its reason in place of the differing fields, in every format.
      {"rmgroup host/opt/vm", {bad}, 2, header + "host/opt/batch" + std::string(39, ' ') + "invalid    declared         200         100           -"
           "           -           0           -           -        1000  memMax 100 below memMin 200\n", ""},
      {"", {two, bad, "-v"}, 2, kCsvHeader + "host/opt/batch,invalid,declared,100,100,-,-,0,-,-,1000,also declared in " + bad + "\nhost/opt/batch,"
           "invalid,declared,200,100,-,-,0,-,-,1000,memMax 100 below memMin 200; also declared in " + two + "\n" + kGuest +
           "host/opt/vm,undeclared,live,1024,4096,-,-,0,-,-,2000,\n", ""},
      {"rmgroup host/opt/vm", {bad, "-j"}, 2, Json("{'matches': false,\n'pools': [\n  {'name': 'host/opt/batch', 'state': 'invalid', 'differs': [], "
           "'reason': 'memMax 100 below memMin 200', 'declared': {'auto': true, 'annex': false, 'memMin': 200, 'memMax': 100, " + rest +
           "'cpuShares': 1000}, 'live': null}\n],\n'undeclared': []}\n"), ""},
      // Prometheus: every pool and undeclared group, its state among all, its values; a written report is status 0.
      {"rmgroup host/opt/vm; mkgroup host/opt/u", {bad, "--prometheus"}, 0,
           "# HELP poolstat_pool_state Whether the pool is in the state: 1 for its state, 0 for the others.\n# TYPE poolstat_pool_state gauge\n"
           "poolstat_pool_state{pool=\"host/opt/batch\",state=\"ok\"} 0\npoolstat_pool_state{pool=\"host/opt/batch\",state=\"missing\"} 0\n"
           "poolstat_pool_state{pool=\"host/opt/batch\",state=\"inactive\"} 0\npoolstat_pool_state{pool=\"host/opt/batch\",state=\"disabled\"} 0\n"
           "poolstat_pool_state{pool=\"host/opt/batch\",state=\"drifted\"} 0\npoolstat_pool_state{pool=\"host/opt/batch\",state=\"undeclared\"} 0\n"
           "poolstat_pool_state{pool=\"host/opt/batch\",state=\"invalid\"} 1\npoolstat_pool_state{pool=\"host/opt/u\",state=\"ok\"} 0\n"
           "poolstat_pool_state{pool=\"host/opt/u\",state=\"missing\"} 0\npoolstat_pool_state{pool=\"host/opt/u\",state=\"inactive\"} 0\n"
           "poolstat_pool_state{pool=\"host/opt/u\",state=\"disabled\"} 0\npoolstat_pool_state{pool=\"host/opt/u\",state=\"drifted\"} 0\n"
           "poolstat_pool_state{pool=\"host/opt/u\",state=\"undeclared\"} 1\npoolstat_pool_state{pool=\"host/opt/u\",state=\"invalid\"} 0\n"
           "# HELP poolstat_pool_declared A value the pool's definition declares, -1 for unset.\n# TYPE poolstat_pool_declared gauge\n"
           "poolstat_pool_declared{pool=\"host/opt/batch\",field=\"memMin\"} 200\npoolstat_pool_declared{pool=\"host/opt/batch\",field=\"memMax\"} 100\n"
           "poolstat_pool_declared{pool=\"host/opt/batch\",field=\"memMinLimit\"} -1\n"
           "poolstat_pool_declared{pool=\"host/opt/batch\",field=\"memShares\"} -1\npoolstat_pool_declared{pool=\"host/opt/batch\",field=\"cpuMin\"} 0\n"
           "poolstat_pool_declared{pool=\"host/opt/batch\",field=\"cpuMax\"} -1\n"
           "poolstat_pool_declared{pool=\"host/opt/batch\",field=\"cpuMinLimit\"} -1\n"
           "poolstat_pool_declared{pool=\"host/opt/batch\",field=\"cpuShares\"} 1000\n"
           "# HELP poolstat_pool_live A value of the pool's group on the host, -1 for unset.\n# TYPE poolstat_pool_live gauge\n"
           "poolstat_pool_live{pool=\"host/opt/u\",field=\"memMin\"} 0\npoolstat_pool_live{pool=\"host/opt/u\",field=\"memMax\"} -1\n"
           "poolstat_pool_live{pool=\"host/opt/u\",field=\"memMinLimit\"} -1\npoolstat_pool_live{pool=\"host/opt/u\",field=\"memShares\"} -1\n"
           "poolstat_pool_live{pool=\"host/opt/u\",field=\"cpuMin\"} 0\npoolstat_pool_live{pool=\"host/opt/u\",field=\"cpuMax\"} -1\n"
           "poolstat_pool_live{pool=\"host/opt/u\",field=\"cpuMinLimit\"} -1\npoolstat_pool_live{pool=\"host/opt/u\",field=\"cpuShares\"} 1000\n"
           "# HELP poolstat_pools The number of pools and undeclared groups in the state.\n# TYPE poolstat_pools gauge\npoolstat_pools{state=\"ok\"} 0\n"
           "poolstat_pools{state=\"missing\"} 0\npoolstat_pools{state=\"inactive\"} 0\npoolstat_pools{state=\"disabled\"} 0\n"
           "poolstat_pools{state=\"drifted\"} 0\npoolstat_pools{state=\"undeclared\"} 1\npoolstat_pools{state=\"invalid\"} 1\n", ""},
      {"", {"-h", file}, 0, kUsage, ""},
      {"", {"-v", "--help"}, 0, kUsage, ""},
      {"", {"--version", "-x", file}, 0, "poolstat (poolctl) " POOLCTL_VERSION "\n", ""},
      {"", {"-x", file}, 1, "", "poolstat: invalid option -- 'x'\n" + kUsage},
      {"", {"-j", "-v", file}, 0, kLoaded, ""},
      {"", {file, "--csv", "--json"}, 0, "{\"matches\": true,\n...", ""},
      {"kernel-build 2000-01-01T00:00:00", {"-h"}, 1, "", "error: md5 signature mismatch with running zorvek built on 2000-01-01T00:00:00, my build date: ..."},
      {"fail Get --node sched_groups_cpuAllocationInPct --status 0x0BAD0001", {file}, 1, "", "KNI_Get: Failure\n"},
  };
  for (const auto& row : rows) {
    host.RestoreState("loaded");
    host.Setup(row.setup + "; trace on");
    SCOPED_TRACE(row.setup + " | " + ::testing::PrintToString(row.args));
    const std::string before = host.Groups();
    e2e::RunResult r = e2e::Run(POOLSTAT_BIN, row.args, {host.Env()});
    e2e::ExpectText(r.out, row.out);
    e2e::ExpectText(r.err, row.err);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(host.Groups(), before);
    host.ExpectOnlyReadingCalls();
    EXPECT_EQ(host.Hostsim({"leaks"}).out, "0\n");
  }
  const e2e::RunResult full = e2e::Run("/bin/sh", {"-c", "exec \"$0\" \"$1\" >/dev/full", POOLSTAT_BIN, file}, {host.Env()});
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "standard output: No space left on device\n");
  // An exec may hand a program no arguments at all, not even its name. This machine's own
  // /etc/rp.d is then read, whatever it holds.
  const pid_t pid = fork();
  if (pid == 0) {
    std::string env = host.Env();
    char* const argv[] = {nullptr};
    char* const envp[] = {&env[0], nullptr};
    dup2(open("/dev/null", O_WRONLY), 1);
    dup2(1, 2);
    execve(POOLSTAT_BIN, argv, envp);
    _exit(127);
  }
  int status = 0;
  ASSERT_TRUE(pid > 0 && waitpid(pid, &status, 0) == pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 2) << status;
}

}  // namespace
