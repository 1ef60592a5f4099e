// The tool's crash rules and its check of the state file. Kernel calls come
// from kni_probe, a process of its own, so that a crash rule can kill it.
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::RunResult;

const std::string kProbe =
    std::string(HOSTSIM_BIN).substr(0, std::string(HOSTSIM_BIN).rfind('/') + 1) + "kni_probe";

constexpr int kKilled = 128 + 9;

class ToolTest : public ::testing::Test {
 protected:
  std::string Ok(const std::vector<std::string>& args) {
    RunResult r = host_.Hostsim(args);
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    EXPECT_EQ(r.err, "") << args[0];
    return r.out;
  }
  RunResult Probe(const std::vector<std::string>& steps) {
    return e2e::Run(kProbe, steps, {host_.Env()});
  }
  // The paths below host/opt, one per line.
  std::string OptGroups() {
    std::string out;
    std::string all = Ok({"groups"});
    for (size_t at = 0; at < all.size();) {
      size_t end = all.find('\n', at);
      std::string path = all.substr(at, all.find('\t', at) - at);
      if (path.compare(0, 9, "host/opt/") == 0) out += path + "\n";
      at = end + 1;
    }
    return out;
  }
  void Sql(const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(host_.db().c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << sql << ": " << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
  }

  e2e::SimHost host_;
};

// Each case starts from the default host with tracing on and one crash rule.
// The probe creates groups a and b below host/opt (id 3); a crash leaves
// exactly what the calls before it committed, and the rule is used up. A
// killed probe's output dies in its buffer.
TEST_F(ToolTest, CrashRulesKillAtTheMatchingCallOnce) {
  const std::string createA = "KNI_Set\tsched_groups_groupCreate\t3\ta\t0x00000000\n";
  const std::string createB = "KNI_Set\tsched_groups_groupCreate\t3\tb\t0x00000000\n";
  struct Case {
    std::vector<std::string> rule;
    int status;
    std::string out;
    std::string groups;
    std::string calls;
  } cases[] = {
      {{"Set"}, kKilled, "", "", ""},
      {{"Set", "--after"}, kKilled, "", "host/opt/a\n", createA},
      {{"Set", "--skip", "1"}, kKilled, "", "host/opt/a\n", createA},
      {{"Set", "--skip", "1", "--after"}, kKilled, "", "host/opt/a\nhost/opt/b\n",
       createA + createB},
      {{"Set", "--path", "host/opt/b"}, kKilled, "", "host/opt/a\n", createA},
      {{"Set", "--node", "sched_groups_groupCreate", "--skip", "1"}, kKilled, "",
       "host/opt/a\n", createA},
      {{"ParamListCreate", "--skip", "2"}, kKilled, "", "host/opt/a\n", createA},
      {{"ParamListAddString", "--path", "b", "--after"}, kKilled, "",
       "host/opt/a\n", createA},
      {{"ParamListAddInt"}, kKilled, "", "", ""},
      // Rules that meet no call stay, and the probe ends normally.
      {{"Set", "--node", "sched_groups_delete"}, 0, "0x00000000 5\n0x00000000 6\n",
       "host/opt/a\nhost/opt/b\n", createA + createB},
      {{"Get", "--skip", "0"}, 0, "0x00000000 5\n0x00000000 6\n", "host/opt/a\nhost/opt/b\n",
       createA + createB},
  };
  for (const Case& c : cases) {
    Ok({"init"});
    Ok({"trace", "on"});
    std::vector<std::string> crash = {"crash"};
    crash.insert(crash.end(), c.rule.begin(), c.rule.end());
    Ok(crash);
    std::string rules = Ok({"faults"});
    std::string what = crash[1] + " " + (crash.size() > 2 ? crash[2] + " " + crash.back() : "");
    RunResult r = Probe({"create:3:a", "create:3:b"});
    EXPECT_EQ(r.status, c.status) << what;
    EXPECT_EQ(r.out, c.out) << what;
    EXPECT_EQ(OptGroups(), c.groups) << what;
    EXPECT_EQ(Ok({"calls", "--clear"}), c.calls) << what;
    EXPECT_EQ(Ok({"faults"}), c.status == kKilled ? "" : rules) << what;
    EXPECT_EQ(Ok({"leaks"}), "0\n") << what;  // a killed process counts no leaks
    EXPECT_EQ(Ok({"check"}), "ok\n") << what;
    // Used up: the next process runs through.
    EXPECT_EQ(Probe({"create:3:c"}).status, 0) << what;
  }
}

TEST_F(ToolTest, CrashRulesAreListedRefusedAndCleared) {
  Ok({"fail", "Get", "--status", "7"});
  Ok({"crash", "Set", "--node", "sched_groups_delete", "--path", "host/opt", "--skip", "2"});
  Ok({"crash", "ParamListCreate", "--after"});
  EXPECT_EQ(Ok({"faults"}),
            "Get\t-\t-\t0x00000007\t0\t1\n"
            "Set\tsched_groups_delete\thost/opt\tcrash\t2\t1\n"
            "ParamListCreate\t-\t-\tcrash-after\t0\t1\n");
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } refusals[] = {
      {{"crash"}, "crash: missing operand"},
      {{"crash", "Foo"}, "crash: unknown call Foo"},
      {{"crash", "Get", "--status", "1"}, "crash: unknown option --status"},
      {{"crash", "Get", "--times", "1"}, "crash: unknown option --times"},
      {{"crash", "Get", "--node", "nope"}, "crash: unknown node nope"},
      {{"crash", "ParamListAddInt", "--node", "sched_groups_delete"},
       "crash: ParamListAddInt has no node"},
      {{"crash", "ParamListCreate", "--path", "host"}, "crash: ParamListCreate names no group"},
      {{"crash", "Get", "--skip", "-1"}, "crash: invalid --skip -1"},
      {{"check", "x"}, "check: unexpected operand x"},
  };
  for (const Case& c : refusals) {
    RunResult r = host_.Hostsim(c.args);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err, "hostsim: " + c.err + "\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(Ok({"faults", "--clear"}), "");
  EXPECT_EQ(Ok({"faults"}), "");
  Ok({"crash", "Get"});
  Ok({"init"});
  EXPECT_EQ(Ok({"faults"}), "");
}

// Each case damages a fresh host's file behind the tool's back; check names
// every problem, one line each, and fails.
TEST_F(ToolTest, CheckReportsEveryBrokenInvariant) {
  const std::string row = ", 0, -1, -1, -1, 0, -1, 1000, -1, 0, 0, 0)";
  struct Case {
    std::string sql;
    std::string out;
  } cases[] = {
      {"UPDATE groups SET parent = 99 WHERE id = 4", "group 4 (host/user): parent 99 does not exist\n"},
      {"DELETE FROM groups WHERE id = 0",
       "group 1 (host): parent 0 does not exist\n0 root groups\n"},
      {"UPDATE host SET next_group_id = 9; INSERT INTO groups VALUES (7, 8, 'a', 'x/a'" + row +
           ", (8, 7, 'x', 'x'" + row,
       "group 7 (x/a): its parents form a cycle\n"
       "group 8 (x): path does not match its parent's and its name\n"
       "group 8 (x): its parents form a cycle\n"},
      {"UPDATE groups SET name = 'o/t', path = 'host/o/t' WHERE id = 3",
       "group 3 (host/o/t): invalid name \"o/t\"\n"},
      {"UPDATE groups SET name = '', path = 'host/' WHERE id = 3",
       "group 3 (host/): invalid name \"\"\n"},
      {"UPDATE host SET next_group_id = 6; INSERT INTO groups VALUES (5, 1, 'opt', 'host/opt2'" +
           row,
       "group 5 (host/opt2): name taken twice below group 1\n"
       "group 5 (host/opt2): path does not match its parent's and its name\n"},
      {"UPDATE host SET next_group_id = 4", "group 4 (host/user): id not below the next id 4\n"},
      {"UPDATE groups SET mem_min = -1 WHERE id = 2",
       "group 2 (host/system): invalid memory record -1,-1,-1,-1\n"},
      {"UPDATE groups SET mem_max = -2 WHERE id = 2",
       "group 2 (host/system): invalid memory record 0,-2,-1,-1\n"},
      {"UPDATE groups SET cpu_min = 10, cpu_max = 9 WHERE id = 2",
       "group 2 (host/system): invalid cpu record 10,9,1000,-1\n"},
      {"UPDATE groups SET cpu_max = 2147483648 WHERE id = 2",
       "group 2 (host/system): invalid cpu record 0,2147483648,1000,-1\n"},
      {"UPDATE groups SET cpu_max = 'x' WHERE id = 2",
       "group 2: allocation record missing\n"},
  };
  for (const Case& c : cases) {
    Ok({"init"});
    Sql(c.sql);
    RunResult r = host_.Hostsim({"check"});
    EXPECT_EQ(r.status, 1) << c.sql;
    EXPECT_EQ(r.out, c.out) << c.sql;
    size_t lines = static_cast<size_t>(std::count(c.out.begin(), c.out.end(), '\n'));
    EXPECT_EQ(r.err, "hostsim: check: " + std::to_string(lines) +
                         (lines == 1 ? " problem\n" : " problems\n"))
        << c.sql;
  }
  Ok({"init"});
  EXPECT_EQ(Ok({"check"}), "ok\n");
  // What enabling an annex pool leaves in a parent disabled with -n: the
  // kernel raised the minimum and left the maximum at 0.
  Sql("UPDATE groups SET mem_min = 100, mem_max = 0, mem_shares = 0, mem_min_limit = 0"
      " WHERE id = 2");
  EXPECT_EQ(Ok({"check"}), "ok\n");
}

TEST_F(ToolTest, CheckNeedsAnExistingReadableFile) {
  RunResult missing = host_.Hostsim({"check"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "hostsim: check: " + host_.db() + ": unable to open database file\n");
  EXPECT_EQ(host_.Hostsim({"groups"}).status, 0);  // any other command makes the default host

  // Pages overwritten on disk: SQLite's own check, or the opening, says so.
  Sql("PRAGMA wal_checkpoint(TRUNCATE)");
  FILE* f = fopen(host_.db().c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fseek(f, 4096, SEEK_SET);
  std::string junk(static_cast<size_t>(size - 4096), '\x5a');
  fwrite(junk.data(), 1, junk.size(), f);
  fclose(f);
  RunResult broken = host_.Hostsim({"check"});
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.out + broken.err, "");
  EXPECT_EQ(broken.out.find("ok\n"), std::string::npos);
}

}  // namespace
