// poolstat through the real binary: groups made by poolctl and hostsim on a
// fresh simulated host, compared with definition files named on the command
// line.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::RunResult;
using e2e::SimHost;

// A parent with an ordinary child and an annex child, and a pool that is not
// created by default.
const char kDefinitions[] =
    "- {name: vm, memMin: 1024, memMax: 4096, cpuShares: 2000}\n"
    "- {name: vm/guest, mem: 512, memShares: -3}\n"
    "- {name: vm/cache, annex: true, memMax: 256}\n"
    "- {name: batch, isEnabled: false, mem: 100}\n";

const char kCsvHeader[] =
    "name,state,source,memMin,memMax,memMinLimit,memShares,cpuMin,cpuMax,cpuShares,differs\n";

const char kUsage[] = "poolstat [flags] [files...]\n    Compare the scheduler groups...";

// The CSV lines of kDefinitions right after "poolctl load".
const char kLoaded[] =
    "host/opt/batch,inactive,declared,100,100,-,-,0,-,1000,\n"
    "host/opt/vm,ok,declared,1024,4096,-,-,0,-,2000,\n"
    "host/opt/vm,ok,live,1024,4096,-,-,0,-,2000,\n"
    "host/opt/vm/cache,inactive,declared,0,256,-,-,0,-,1000,\n"
    "host/opt/vm/guest,ok,declared,512,512,-,normal,0,-,1000,\n"
    "host/opt/vm/guest,ok,live,512,512,-,normal,0,-,1000,\n";

// Reads a poolstat JSON document with python's own parser and writes it out
// as poolstat's CSV, so that the two forms can be compared whole. Then a line
// with "matches" and one with every name as python's ascii() shows it.
const char kJsonToCsv[] = R"(import json, sys
d = json.load(sys.stdin)
def num(v): return '-' if v == -1 else str(v)
def shares(v): return {-1: '-', -2: 'low', -3: 'normal', -4: 'high'}.get(v, str(v))
keys = ['memMin', 'memMax', 'memMinLimit', 'memShares', 'cpuMin', 'cpuMax', 'cpuShares']
def line(*cells): out.append(','.join(cells[:3] + tuple(
    (shares if 'Shares' in k else num)(cells[3][k]) for k in keys) + cells[4:]))
assert list(d) == ['matches', 'pools', 'undeclared']
out = ['name,state,source,' + ','.join(keys) + ',differs']
for p in d['pools']:
    assert list(p) == ['name', 'state', 'differs', 'declared', 'live']
    assert list(p['declared']) == ['auto', 'annex'] + keys
    line(p['name'], p['state'], 'declared', p['declared'], ';'.join(p['differs']))
    if p['live'] is not None: line(p['name'], p['state'], 'live', p['live'], '')
for u in d['undeclared']: line(u['name'], 'undeclared', 'live', u['live'], '')
out.append('matches=' + str(d['matches']))
out.append(' '.join(ascii(p['name']) for p in d['pools'] + d['undeclared']))
sys.stdout.buffer.write(('\n'.join(out) + '\n').encode('utf-8', 'surrogateescape'))
)";

// kLoaded with some of its lines replaced: each edit names the beginning of
// one line and the text that takes its place (several lines, or none).
std::string Edited(const std::vector<std::pair<std::string, std::string>>& edits) {
  std::string text = kLoaded;
  for (const auto& edit : edits) {
    const size_t at = text.find(edit.first);
    if (at == std::string::npos) return "no line " + edit.first;
    text.replace(at, text.find('\n', at) + 1 - at, edit.second);
  }
  return text;
}

class PoolstatTest : public ::testing::Test {
 protected:
  void SetUp() override { file_ = Definition("pools.yaml", kDefinitions); }

  // Writes a definition file and marks it installed.
  std::string Definition(const std::string& name, const std::string& text) {
    const std::string path = host_.WriteFile(name, text);
    Sim({"mark", path});
    return path;
  }
  void Sim(const std::vector<std::string>& args) {
    const RunResult r = host_.Hostsim(args);
    ASSERT_EQ(r.status, 0) << args[0] << ": " << r.err;
  }
  void Poolctl(const std::vector<std::string>& args) {
    const RunResult r = host_.Poolctl(args);
    ASSERT_EQ(r.status, 0) << args[0] << ": " << r.err;
  }
  RunResult Poolstat(const std::vector<std::string>& args) {
    return e2e::Run(POOLSTAT_BIN, args, {host_.Env()});
  }
  // poolstat -v on the definitions; expects nothing on standard error.
  std::string Csv(int status) {
    const RunResult r = Poolstat({"-v", file_});
    EXPECT_EQ(r.status, status) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    return r.out;
  }

  SimHost host_;
  std::string file_;
};

TEST_F(PoolstatTest, TableAfterLoad) {
  Poolctl({"load", file_});
  const RunResult r = Poolstat({file_});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string values = "           0           -        1000            \n";
  EXPECT_EQ(r.out,
            "name" + std::string(44, ' ') +
                "       state      source      memMin      memMax memMinLimit   memShares"
                "      cpuMin      cpuMax   cpuShares     differs\n"
                "host/opt/batch                                      inactive    declared"
                "         100         100           -           -" + values +
                "host/opt/vm                                               ok    declared"
                "        1024        4096           -           -           0           -"
                "        2000            \n"
                "                                                                    live"
                "        1024        4096           -           -           0           -"
                "        2000            \n"
                "host/opt/vm/cache                                   inactive    declared"
                "           0         256           -           -" + values +
                "host/opt/vm/guest                                         ok    declared"
                "         512         512           -      normal" + values +
                "                                                                    live"
                "         512         512           -      normal" + values);
}

// One change on the host per row, each from the state right after load.
TEST_F(PoolstatTest, ChangesOnTheHost) {
  Poolctl({"load", file_});
  host_.SaveState("loaded");
  const struct {
    std::vector<std::vector<std::string>> changes;
    int status;
    std::string lines;  // every line after the header
  } cases[] = {
      {{{"setmem", "host/opt/vm/guest", "512,1024,-3,-1"}}, 2,
       Edited({{"host/opt/vm/guest,ok,declared",
                "host/opt/vm/guest,drifted,declared,512,512,-,normal,0,-,1000,memMax\n"},
               {"host/opt/vm/guest,ok,live",
                "host/opt/vm/guest,drifted,live,512,1024,-,normal,0,-,1000,\n"}})},
      // An annex group holds its maximum in its parent's minimum.
      {{{"mkgroup", "host/opt/vm/cache", "--mem", "0,256,-1,-1"}}, 2,
       Edited({{"host/opt/vm,ok,declared",
                "host/opt/vm,drifted,declared,1024,4096,-,-,0,-,2000,memMin\n"},
               {"host/opt/vm,ok,live", "host/opt/vm,drifted,live,1024,4096,-,-,0,-,2000,\n"},
               {"host/opt/vm/cache,inactive,declared",
                "host/opt/vm/cache,ok,declared,0,256,-,-,0,-,1000,\n"
                "host/opt/vm/cache,ok,live,0,256,-,-,0,-,1000,\n"}})},
      {{{"mkgroup", "host/opt/zz"}, {"mkgroup", "host/opt/zz/deep", "--cpu", "1,2,3,4"},
        {"mkgroup", "host/opt/a"}, {"mkgroup", "host/user/elsewhere"}},
       0,
       std::string(kLoaded) +
           "host/opt/a,undeclared,live,0,-,-,-,0,-,1000,\n"
           "host/opt/zz,undeclared,live,0,-,-,-,0,-,1000,\n"
           "host/opt/zz/deep,undeclared,live,0,-,-,-,1,2,3,\n"},
  };
  for (const auto& c : cases) {
    host_.RestoreState("loaded");
    for (const auto& change : c.changes) Sim(change);
    EXPECT_EQ(Csv(c.status), kCsvHeader + c.lines) << c.changes[0][0] << " " << c.changes[0][1];
  }
}

// enable and disable read /etc/rp.d: they run in a private mount namespace;
// poolstat reads the same definitions from the named file.
TEST_F(PoolstatTest, AfterEnableAndDisable) {
  const std::string folder = host_.dir() + "/rp.d";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  Definition("rp.d/pools.yaml", kDefinitions);
  const auto poolctl = [&](const std::vector<std::string>& args) {
    return host_.PoolctlWithDefinitions(folder, args);
  };
  const RunResult probe = poolctl({"load"});
  if (probe.status == e2e::kNoPrivateEtc) GTEST_SKIP() << "no private /etc here: " << probe.err;
  ASSERT_EQ(probe.status, 0) << probe.err;

  // The annex's maximum is reserved in its parent, which therefore stays ok.
  ASSERT_EQ(poolctl({"enable", "host/opt/vm/cache"}).status, 0);
  EXPECT_EQ(Csv(0), kCsvHeader + Edited({{"host/opt/vm,ok,live",
                                          "host/opt/vm,ok,live,1280,4096,-,-,0,-,2000,\n"},
                                         {"host/opt/vm/cache,inactive,declared",
                                          "host/opt/vm/cache,ok,declared,0,256,-,-,0,-,1000,\n"
                                          "host/opt/vm/cache,ok,live,0,256,-,-,0,-,1000,\n"}}));

  ASSERT_EQ(poolctl({"disable", "host/opt/vm/cache"}).status, 0);
  ASSERT_EQ(poolctl({"disable", "-n", "host/opt/vm/guest"}).status, 0);
  EXPECT_EQ(Csv(2), kCsvHeader + Edited({{"host/opt/vm/guest,ok,declared",
                                          "host/opt/vm/guest,disabled,declared,512,512,-,normal,"
                                          "0,-,1000,memMin;memMax;memMinLimit;memShares\n"},
                                         {"host/opt/vm/guest,ok,live",
                                          "host/opt/vm/guest,disabled,live,0,0,0,0,0,-,1000,\n"}}));

  ASSERT_EQ(poolctl({"enable", "host/opt/vm/guest"}).status, 0);
  EXPECT_EQ(Csv(0), kCsvHeader + std::string(kLoaded));
}

// The JSON document, read by another parser, says what the CSV says.
TEST_F(PoolstatTest, JsonHasTheContentOfTheTable) {
  Poolctl({"load", file_});
  const std::string odd = "host/opt/odd\x01na\xffme\xc3\xa9\"\\";
  Sim({"mkgroup", odd});
  Sim({"setmem", "host/opt/vm/guest", "512,600,-4,-1"});
  const RunResult csv = Poolstat({"--csv", file_});
  const RunResult json = Poolstat({"--json", file_});
  ASSERT_EQ(json.status, 2) << json.err;
  ASSERT_EQ(csv.status, 2) << csv.err;
  const std::string script = host_.WriteFile("json_to_csv.py", kJsonToCsv);
  const std::string input = host_.WriteFile("report.json", json.out);
  const RunResult parsed =
      e2e::Run("/bin/sh", {"-c", "exec python3 \"$0\" < \"$1\"", script, input});
  if (parsed.status == 127) GTEST_SKIP() << "no python3 here to read the JSON";
  ASSERT_EQ(parsed.status, 0) << parsed.err << json.out;
  // The odd name: its control character escaped, its stray byte replaced.
  const std::string asJson = "host/opt/odd\x01na\xef\xbf\xbdme\xc3\xa9\"\\";
  std::string expected = csv.out;
  expected.replace(expected.find(odd), odd.size(), asJson);
  expected +=
      "matches=False\n"
      "'host/opt/batch' 'host/opt/vm' 'host/opt/vm/cache' 'host/opt/vm/guest' "
      "'host/opt/odd\\x01na\\ufffdme\\xe9\"\\\\'\n";
  EXPECT_EQ(parsed.out, expected);
}

// Expected texts that end in "..." are prefixes.
void ExpectText(const std::string& actual, const std::string& expected, const std::string& what) {
  const size_t dots = expected.size() >= 3 ? expected.size() - 3 : std::string::npos;
  if (dots != std::string::npos && expected.compare(dots, 3, "...") == 0) {
    EXPECT_EQ(actual.substr(0, dots), expected.substr(0, dots)) << what;
  } else {
    EXPECT_EQ(actual, expected) << what;
  }
}

TEST_F(PoolstatTest, OptionsAndErrors) {
  Poolctl({"load", file_});
  const std::string bad = Definition("bad.yaml", "- name: a\n  Mem: 1\n");
  const std::string unmarked = host_.WriteFile("unmarked.yaml", "- name: a\n");
  // The kernel takes paths as C strings: this name must never be read as vm.
  const std::string nul = Definition("nul.yaml", "- name: \"vm\\0x\"\n  mem: 5\n");
  const std::string usage = kUsage;
  const struct {
    std::vector<std::vector<std::string>> setup;  // hostsim commands
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {{}, {"-h", file_}, 0, "", usage},
      {{}, {"-v", "--help"}, 0, "", usage},
      {{}, {"-x", file_}, 1, "", "poolstat: invalid option -- 'x'\n" + usage},
      {{}, {"--table"}, 1, "", "poolstat: unrecognized option '--table'\n" + usage},
      {{}, {"-j", "-v", file_}, 0, kCsvHeader + std::string("..."), ""},
      {{}, {file_, "--csv", "--json"}, 0, "{\"matches\": true,\n...", ""},
      {{}, {file_, bad}, 1, "", bad + ": line 2 column 3: invalid rp field\n"},
      {{}, {unmarked}, 1, "", unmarked + ": is not installed\n"},
      {{}, {"-v", nul}, 1, "", nul + ": line 1 column 9: invalid rp name\n"},
      {{{"kernel-build", "Jan  1 2000 00:00:00"}}, {"-h"}, 1, "",
       "error: md5 signature mismatch with running zorvek built on Jan  1 2000 00:00:00, my "
       "build date: ..."},
      {{{"fail", "Get", "--node", "sched_groups_cpuAllocationInPct", "--status", "0x0BAD0001"}},
       {file_}, 1,
       "", "KNI_Get: Failure\n"},
      {{{"fail", "ParamListCreate", "--status", "0"}}, {"-j", file_}, 1, "",
       "KNI_ParamListCreate: Out of memory\n"},
      // Groups that vanish while they are read are simply not there.
      {{{"fail", "Get", "--node", "sched_groups_memAllocationInMB", "--path", "host/opt/vm/guest",
         "--status", "0x0BAD0003"},
        {"mkgroup", "host/opt/gone"},
        {"fail", "Get", "--node", "sched_groups_groupPathName", "--path", "host/opt/gone",
         "--status", "0x0BAD0003"}},
       {"-v", file_}, 2,
       kCsvHeader + Edited({{"host/opt/vm/guest,ok,declared",
                             "host/opt/vm/guest,missing,declared,512,512,-,normal,0,-,1000,\n"},
                            {"host/opt/vm/guest,ok,live", ""}}),
       ""},
  };
  host_.SaveState("loaded");
  for (const auto& c : cases) {
    host_.RestoreState("loaded");
    for (const auto& command : c.setup) Sim(command);
    const RunResult r = Poolstat(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << r.err;
    ExpectText(r.out, c.out, c.args[0]);
    ExpectText(r.err, c.err, c.args[0]);
    EXPECT_EQ(host_.Hostsim({"leaks"}).out, "0\n") << c.args[0];
  }
}

TEST_F(PoolstatTest, UnwritableOutputFails) {
  const RunResult r = e2e::Run("/bin/sh", {"-c", "exec \"$0\" \"$1\" >/dev/full", POOLSTAT_BIN, file_},
                               {host_.Env()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "standard output: No space left on device\n");
}

// poolstat changes nothing, and asks the kernel only reading questions.
TEST_F(PoolstatTest, OnlyReads) {
  Poolctl({"load", file_});
  Sim({"mkgroup", "host/opt/stray"});
  Sim({"mkgroup", "host/opt/stray/deep"});
  Sim({"setmem", "host/opt/vm", "0,0,0,0"});
  const std::string before = host_.Groups();
  Sim({"trace", "on"});
  for (const char* format : {"-v", "-j", "--csv"}) EXPECT_EQ(Poolstat({format, file_}).status, 2);
  EXPECT_EQ(host_.Groups(), before);
  const std::string calls = host_.Hostsim({"calls"}).out;
  std::istringstream lines(calls);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    const std::string call = line.substr(0, line.find('\t'));
    const bool reads = call == "KNI_CheckSig" || call == "KNI_Get" ||
                       call == "KNI_GetInstanceListAlloc" ||
                       line.rfind("KNI_Set\tsched_groupPathNameToID\t", 0) == 0;
    EXPECT_TRUE(reads) << line;
  }
  EXPECT_GT(count, 30) << calls;
  EXPECT_EQ(host_.Hostsim({"leaks"}).out, "0\n");
}

// An exec may hand a program no arguments at all, not even its name. This
// machine's own /etc/rp.d is then read, whatever it holds.
TEST_F(PoolstatTest, EmptyArgumentVector) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::string env = host_.Env();
    char* const argv[] = {nullptr};
    char* const envp[] = {&env[0], nullptr};
    dup2(open("/dev/null", O_WRONLY), 1);
    dup2(1, 2);
    execve(POOLSTAT_BIN, argv, envp);
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 2) << status;
}

}  // namespace
