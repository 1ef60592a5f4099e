// poolsync through the real binary: groups changed behind poolctl's back on a simulated host,
// repaired from definition files named on the command line, then judged by poolstat.

#include "gtest/gtest.h"
#include "tests/harness/harness.h"

namespace {

// A parent whose annex reservation lifts its minimum above its maximum, an ordinary child, a pool
// that load does not create, and a pool without a maximum.
const char kDefinitions[] =
    "- {name: vm, memMin: 3900, memMax: 4096, cpuShares: 2000}\n- {name: vm/guest, mem: 512, memShares: -3}\n"
    "- {name: vm/cache, annex: true, memMax: 256}\n- {name: batch, isEnabled: false, mem: 100}\n"
    "- {name: gold, memMin: 8192, memShares: -4}\n";

// The exact lines and statuses of poolsync after each change to the host right after load
// ("annexed": with the annex group and its reservation); then poolstat's status. Output that
// ends in "..." is a prefix.
TEST(Poolsync, Rows) {
  const e2e::SimHost host;
  const std::string file = host.WriteFile("pools.yaml", kDefinitions);
  const std::string bad = host.WriteFile("bad.yaml", "- {name: bad, memMin: 10, memMax: 5}\n");
  const std::string system = host.WriteFile("system.yaml", "- {name: host/system/mgmt, memMin: 384, memMax: 1024}\n");
  host.Setup("mark " + file + " " + bad + " " + system);
  ASSERT_EQ(host.Poolctl({"load", file}).status, 0);
  host.SaveState("loaded");
  host.Setup("mkgroup host/opt/vm/cache --mem 0,256,-1,-1; setmem host/opt/vm 4156,4096,-1,-1");
  host.SaveState("annexed");
  const std::string gold = "host/opt/gold: memMin 1024 -> 8192, memMax 2048 -> -, memShares - -> high\n";
  const std::string batch = "host/opt/batch: inactive; poolctl enable creates it\n";
  const std::string cache = "host/opt/vm/cache: inactive; poolctl enable creates it\n";
  const std::string usage = "poolsync [flags] [files...]\n    Bring the scheduler groups...";
  struct {
    const char* state;
    std::string setup;  // hostsim commands, ";" between them
    std::vector<std::string> args;
    int status;
    std::string out, err;
    int poolstat;  // after the run, -1: not run
  } rows[] = {
      {"loaded", "setmem host/opt/gold 1024,2048,-1,-1", {"-q", file}, 0, gold, "", 0},
      {"loaded", "setmem host/opt/gold 1024,2048,-1,-1", {"-n", "-q", file}, 2, gold, "", 2},
      {"loaded", "setcpu host/opt/vm/guest 5,-1,500,50", {file, "-q"}, 0, "host/opt/vm/guest: cpuMin 5 -> 0, cpuMinLimit 50 -> -, cpuShares 500 -> 1000\n", "", 0},
      {"loaded", "rmgroup host/opt/gold; mkgroup host/opt/gold", {"-q", file}, 0, "host/opt/gold: memMin 0 -> 8192, memShares - -> high\n", "", 0},
      {"annexed", "setmem host/opt/vm 3644,4096,-1,-1", {"-q", file}, 0, "host/opt/vm: memMin 3644 -> 4156\n", "", 0},
      {"annexed", "setmem host/opt/vm 100,5000,-4,-1", {"-q", file}, 0, "host/opt/vm: memMin 100 -> 4156, memMax 5000 -> 4096\n", "", 0},
      {"annexed", "setmem host/opt/vm 100,5000,-4,-1", {"-n", "-q", file}, 2, "host/opt/vm: memMin 100 -> 4156, memMax 5000 -> 4096\n", "", 2},
      {"loaded", "", {file}, 0, batch + cache, "", 0},
      {"loaded", "", {"-n", file}, 0, batch + cache, "", 0},
      // Left alone: what exists no more, what is out of service, and what no definition read names.
      {"loaded", "rmgroup host/opt/gold; setmem host/opt/vm/guest 0,0,0,0; mkgroup host/opt/zz", {file}, 0, batch +
           "host/opt/gold: missing; poolctl load creates it\n" + cache + "host/opt/vm/guest: disabled; poolctl enable brings it back\n"
           "host/opt/zz: undeclared; poolsync repairs it once a definition names it\n", "", 2},
      // A child no definition read declares may hold a reservation in its parent.
      {"annexed", "rmgroup host/opt/vm/cache; mkgroup host/opt/vm/other; setmem host/opt/vm 10,4096,-1,-1", {file}, 0, batch +
           "host/opt/vm: drifted, with undeclared child host/opt/vm/other; poolsync with the child's definition too repairs it\n" + cache +
           "host/opt/vm/other: undeclared; poolsync repairs it once a definition names it\n", "", 2},
      {"annexed", "rmgroup host/opt/vm/cache; mkgroup host/opt/vm/other; setmem host/opt/vm 10,4096,-1,-1", {"-q", file}, 0, "", "", 2},
      {"loaded", "mkgroup host/system/mgmt --mem 484,1024,-1,-1; mkgroup host/system/mgmt/extra --mem 100,100,-1,-1", {system}, 0,
       "host/system/mgmt: drifted, with undeclared child host/system/mgmt/extra; poolsync with the child's definition too repairs it\n"
       "host/opt/gold: undeclared; poolsync repairs it once a definition names it\nhost/opt/vm: undeclared; poolsync repairs it once a "
       "definition names it\nhost/opt/vm/guest: undeclared; poolsync repairs it once a definition names it\n", "", 0},
      {"loaded", "setmem host/opt/gold 1024,2048,-1,-1", {"-q", file, bad}, 1, "", "host/opt/bad: invalid: ...", -1},
      {"loaded", "", {"-n", "--version", file}, 0, "poolsync (poolctl) " POOLCTL_VERSION "\n", "", -1},
      {"loaded", "", {"-q", "--help"}, 0, usage, "", -1},
      {"loaded", "", {"-x", file}, 1, "", "poolsync: invalid option -- 'x'\n" + usage, -1},
      {"loaded", "kernel-build 2000-01-01T00:00:00", {"-h"}, 1, "", "error: md5 signature mismatch with running zorvek built on 2000-01-01T00:00:00, my build date: ...", -1},
  };
  for (const auto& row : rows) {
    host.RestoreState(row.state);
    host.Setup(row.setup + "; trace on");
    SCOPED_TRACE(row.setup + " | " + ::testing::PrintToString(row.args));
    const std::string before = host.Groups();
    e2e::RunResult r = e2e::Run(POOLSYNC_BIN, row.args, {host.Env()});
    e2e::ExpectText(r.out, row.out);
    e2e::ExpectText(r.err, row.err);
    EXPECT_EQ(r.status, row.status);
    // Without a change line, and with -n, every kernel call is a question.
    if (r.out.find(" -> ") == std::string::npos || row.status == 2) {
      EXPECT_EQ(host.Groups(), before);
      host.ExpectOnlyReadingCalls();
    }
    EXPECT_EQ(host.Hostsim({"leaks"}).out, "0\n");
    if (row.poolstat >= 0) {
      EXPECT_EQ(e2e::Run(POOLSTAT_BIN, {file}, {host.Env()}).status, row.poolstat);
    }
    // A repaired host needs nothing more.
    if (row.status == 0) {
      EXPECT_EQ(e2e::Run(POOLSYNC_BIN, {"-n", "-q", file}, {host.Env()}).out, "");
    }
  }
}

}  // namespace
