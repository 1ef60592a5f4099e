// poolctl list through the real binary, on definition files written and
// marked by each test.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::RunResult;
using e2e::SimHost;

const char kHeader[] =
    "name                                                    auto      memMin      memMax"
    " memMinLimit   memShares      cpuMin      cpuMax   cpuShares\n";
const char kCsvHeader[] = "name,auto,memMin,memMax,memMinLimit,memShares,cpuMin,cpuMax,cpuShares\n";

// Writes a definition file and marks it installed.
std::string Definition(const SimHost& host, const std::string& name, const std::string& text) {
  const std::string path = host.WriteFile(name, text);
  EXPECT_EQ(host.Hostsim({"mark", path}).status, 0);
  return path;
}

// Pools in two files; the listing merges them sorted by name.
std::vector<std::string> Pools(const SimHost& host) {
  return {Definition(host, "b.yaml",
                     "- name: host/opt/web\n"
                     "  memMin: 512\n  memMax: 2048\n  memMinLimit: 256\n  memShares: -4\n"
                     "  cpuMin: 10\n  cpuMax: 400\n  cpuShares: -2\n"
                     "- name: extra\n  annex: yes\n  mem: 100\n"),
          Definition(host, "a.yaml",
                     "- name: db\n"
                     "- name: x123456789012345678901234567890123456789012345\n"
                     "  memShares: -3\n  cpuShares: -5\n  cpuMax: !calc numPCPUs * 100\n")};
}

TEST(List, Table) {
  SimHost host;
  std::vector<std::string> args = Pools(host);
  args.insert(args.begin(), "list");
  const RunResult r = host.Poolctl(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, std::string(kHeader) + R"(host/opt/db                                              yes           0           -           -           -           0           -        1000
host/opt/extra                                            no         100         100           -           -           0           -        1000
host/opt/web                                             yes         512        2048         256        high          10         400         low
host/opt/x123456789012345678901234567890123456789012345         yes           0           -           -      normal           0        1600          -5
)");
}

TEST(List, Csv) {
  SimHost host;
  std::vector<std::string> args = Pools(host);
  args.insert(args.begin(), {"list", "-v"});
  const RunResult r = host.Poolctl(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string(kCsvHeader) +
                       "host/opt/db,yes,0,-,-,-,0,-,1000\n"
                       "host/opt/extra,no,100,100,-,-,0,-,1000\n"
                       "host/opt/web,yes,512,2048,256,high,10,400,low\n"
                       "host/opt/x123456789012345678901234567890123456789012345,yes,0,-,-,"
                       "normal,0,1600,-5\n");
}

// Every failure is one line naming the file; the header is already out.
TEST(List, DefinitionErrors) {
  struct {
    const char* text;
    const char* error;  // after "path: "
  } cases[] = {
      {"- name: a\n  Mem: 1\n", "line 2 column 3: invalid rp field"},
      {"- name: a\n  mem: [1\n", "line 3 column 1: end of sequence flow not found"},
      {"- name: a\n  cpuMax: 2147483648\n", "line 2 column 11: value out of range"},
      {"- name: a\n  isEnabled: 1\n", "line 2 column 14: bad conversion"},
      {"- name: a\n  memMax: !config {}\n", "line 2 column 11: missing default"},
      {"- name: a\n  mem: !calc numPCPUs +\n", "line 2 column 8: Missing numeric value. at ''"},
      {"name: a\n",
       "invalid node; this may result from using a map iterator as a sequence iterator, or "
       "vice-versa"},
  };
  SimHost host;
  const std::string good = Definition(host, "good.yaml", "- name: g\n");
  for (const auto& c : cases) {
    const std::string path = Definition(host, "bad.yaml", c.text);
    const RunResult r = host.Poolctl({"list", good, path});
    EXPECT_EQ(r.status, 1) << c.text;
    EXPECT_EQ(r.out, kHeader) << c.text;
    EXPECT_EQ(r.err, path + ": " + c.error + "\n") << c.text;
  }
  const std::string unmarked = host.WriteFile("unmarked.yaml", "- name: a\n");
  EXPECT_EQ(host.Poolctl({"list", unmarked}).err, unmarked + ": is not installed\n");
}

TEST(List, HostFactsAreReadOncePerProcess) {
  SimHost host;
  std::vector<std::string> args = Pools(host);
  args.insert(args.begin(), "list");
  ASSERT_EQ(host.Hostsim({"trace", "on"}).status, 0);
  ASSERT_EQ(host.Poolctl(args).status, 0);
  std::string gets;
  std::string calls = host.Hostsim({"calls"}).out;
  for (size_t at = 0; (at = calls.find("KNI_Get\t", at)) != std::string::npos; ++at) {
    gets += calls.substr(at, calls.find('\n', at) + 1 - at);
  }
  EXPECT_EQ(gets,
            "KNI_Get\thardware_cpu_cpuInfo\t-\t-\t0x00000000\n"
            "KNI_Get\tsystem_bootOption\t-\t-\t0x00000000\n"
            "KNI_Get\tmemory_comprehensive\t-\t-\t0x00000000\n"
            "KNI_Get\tsystem_supportedVMs\t-\t-\t0x00000000\n");
}

TEST(List, FailedHostFactReadNamesTheFile) {
  SimHost host;
  const std::vector<std::string> files = Pools(host);
  ASSERT_EQ(host.Hostsim({"fail", "Get", "--node", "system_bootOption", "--status", "1"}).status, 0);
  const RunResult r = host.Poolctl({"list", files[0], files[1]});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kHeader);
  EXPECT_EQ(r.err, files[0] + ": KNI_Get failed\n");
}

TEST(List, UnwritableOutputFails) {
  SimHost host;
  const std::string script = std::string("exec \"$0\" list \"$1\" >/dev/full");
  const RunResult r = e2e::Run("/bin/sh", {"-c", script, POOLCTL_BIN, Pools(host)[0]},
                               {host.Env()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "standard output: No space left on device\n");
}

// Runs poolctl list in a private mount namespace whose /etc is an overlay of
// the machine's: /etc/rp.d is set up there by the setup commands (after it
// has been removed), and the machine's own /etc/rp.d is never touched.
// Status 77: the namespace or the overlay is not permitted here.
RunResult ListInPrivateEtc(const SimHost& host, const std::string& setup) {
  const std::string script =
      "set -eu\n"
      "work=$1 poolctl=$2 hostsim=$3\n"
      "upper=$(mktemp -d $work/upper.XXXXXX) scratch=$(mktemp -d $work/scratch.XXXXXX)\n"
      "touch $upper/.private-etc\n"
      "mount -t overlay overlay -o lowerdir=/etc,upperdir=$upper,workdir=$scratch /etc"
      " 2>/dev/null || exit 77\n"
      "[ -e /etc/.private-etc ] || exit 77\n"
      "rm -rf /etc/rp.d\n" +
      setup + "\nexec $poolctl list\n";
  return e2e::Run("/usr/bin/unshare", {"-m", "/bin/sh", "-c", script, "sh", host.dir(),
                                       POOLCTL_BIN, HOSTSIM_BIN},
                  {host.Env()});
}

TEST(List, DefinitionFolder) {
  const RunResult probe = e2e::Run("/usr/bin/unshare", {"-m", "/bin/true"});
  if (probe.status != 0) GTEST_SKIP() << "no private mount namespace: " << probe.err;
  SimHost host;
  host.WriteFile("a.yaml", "- name: a\n");
  host.WriteFile("hidden", "- name: hidden\n");
  const std::string install =
      "mkdir /etc/rp.d /etc/rp.d/sub\n"
      "cp $work/a.yaml /etc/rp.d/a.yaml && $hostsim mark /etc/rp.d/a.yaml\n"
      "cp $work/hidden /etc/rp.d/.hidden\n"
      "cp $work/hidden /etc/rp.d/sub/b.yaml && $hostsim mark /etc/rp.d/sub/b.yaml\n"
      "ln -s /etc/rp.d/a.yaml /etc/rp.d/link.yaml";
  struct {
    std::string setup;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {"", 1, kHeader, "/etc/rp.d: No such file or directory\n"},
      {"mkdir /etc/rp.d", 0, kHeader, ""},
      {install, 0, std::string(kHeader) + "host/opt/a" + std::string(38, ' ') +
                       "         yes           0           -           -           -"
                       "           0           -        1000\n",
       ""},
  };
  for (const auto& c : cases) {
    const RunResult r = ListInPrivateEtc(host, c.setup);
    if (r.status == 77) GTEST_SKIP() << "no private mount namespace with an overlay: " << r.err;
    EXPECT_EQ(r.status, c.status) << c.setup;
    EXPECT_EQ(r.out, c.out) << c.setup;
    EXPECT_EQ(r.err, c.err) << c.setup;
  }
}

}  // namespace
