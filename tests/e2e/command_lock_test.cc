// The commands that change groups take turns through the host lock: one
// waits while another process holds it, list and the legacy mode never do,
// and a waiting disable -w lets the others through between its attempts.
// Every check is on the order of events (the lock's waiter list, the host's
// groups, which process ended first), never on how long something took.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::Process;
using e2e::RunResult;
using e2e::SimHost;

const char kLockPath[] = "/run/lock/poolctl.lock";

const char kDefinitions[] =
    "- name: vm\n"
    "  memMin: 1024\n"
    "- name: vm/guest\n"
    "  mem: 512\n";

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Whether the process is blocked in flock on the file with this inode; the
// kernel lists such waiters in /proc/locks with an arrow.
bool WaitsForLock(pid_t pid, ino_t inode) {
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream in(line);
    std::string number, arrow, kind, advisory, mode, owner, file;
    in >> number >> arrow >> kind >> advisory >> mode >> owner >> file;
    if (arrow == "->" && kind == "FLOCK" && owner == std::to_string(pid) &&
        EndsWith(file, ":" + std::to_string(inode))) {
      return true;
    }
  }
  return false;
}

// Whether the process has ended; it stays a zombie until it is waited for.
bool Ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(") ");
  return close == std::string::npos || text[close + 2] == 'Z';
}

// Polls until the condition holds. The bound only keeps a broken build from
// hanging the test run; no check depends on it.
bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 30000; ++i) {
    if (condition()) return true;
    usleep(1000);
  }
  return false;
}

class CommandLock : public ::testing::Test {
 protected:
  void SetUp() override {
    definitions_ = host_.dir() + "/rp.d";
    ASSERT_EQ(mkdir(definitions_.c_str(), 0755), 0);
    Sim({"mark", host_.WriteFile("rp.d/pools.yaml", kDefinitions)});
    RunResult probe = host_.PoolctlWithDefinitions(definitions_, {"list"});
    if (probe.status == e2e::kNoPrivateEtc) GTEST_SKIP() << "no private /etc here: " << probe.err;
    ASSERT_EQ(probe.status, 0) << probe.err;
  }
  void TearDown() override { Release(); }

  // Takes the lock as poolctl does; skips when this machine has no place for it.
  void Hold() {
    lock_ = open(kLockPath, O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    struct stat st = {};
    // poolctl itself goes on without a lock file that is not its own.
    if (lock_ < 0 || fstat(lock_, &st) != 0 || st.st_uid != geteuid()) {
      GTEST_SKIP() << "no lock file of our own at " << kLockPath;
    }
    inode_ = st.st_ino;
    ASSERT_EQ(flock(lock_, LOCK_EX), 0);
  }
  void Release() {
    if (lock_ >= 0) close(lock_);
    lock_ = -1;
  }

  void Sim(const std::vector<std::string>& args) {
    RunResult r = host_.Hostsim(args);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  Process* Start(const std::vector<std::string>& args) {
    return host_.StartPoolctlWithDefinitions(definitions_, args);
  }

  SimHost host_;
  std::string definitions_;
  int lock_ = -1;
  ino_t inode_ = 0;
};

TEST_F(CommandLock, ChangingCommandsWaitForTheHolderOthersDoNot) {
  struct Case {
    std::vector<std::string> args;
    bool waits;
  };
  const Case kCases[] = {
      {{"load"}, true},
      {{"unload"}, true},
      {{"enable", "host/opt/vm"}, true},
      {{"disable", "-n", "host/opt/vm"}, true},
      {{"list"}, false},
      {{"-g", "host/user", "-e"}, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args[0]);
    Hold();
    if (IsSkipped()) return;
    std::string before = host_.Groups();
    std::unique_ptr<Process> p(Start(c.args));
    pid_t pid = p->pid();
    ASSERT_TRUE(Eventually([&] { return WaitsForLock(pid, inode_) || Ended(pid); }));
    EXPECT_EQ(WaitsForLock(pid, inode_), c.waits);
    EXPECT_EQ(host_.Groups(), before);  // nothing changed before the lock was ours
    Release();
    RunResult r = p->Wait();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
  }
  // The commands did their work once the lock was free.
  EXPECT_NE(host_.Groups().find("host/opt/vm\t"), std::string::npos);
}

// A disable that waits for a busy group holds the lock only for each attempt:
// a load finishes while it still waits, and the disable then succeeds once the
// group is free. Were the lock held over the whole wait, the load could only
// run after the disable had given up.
TEST_F(CommandLock, WaitingDisableLetsOthersThrough) {
  ASSERT_EQ(host_.PoolctlWithDefinitions(definitions_, {"load"}).status, 0);
  Sim({"busy", "host/opt/vm/guest", "1"});
  Sim({"trace", "on"});
  std::unique_ptr<Process> disable(Start({"disable", "-w", "30", "host/opt/vm/guest"}));
  ASSERT_TRUE(Eventually([&] {
    RunResult calls = host_.Hostsim({"calls"});
    return calls.out.find("sched_groups_delete") != std::string::npos &&
           calls.out.find("0x0BAD0004") != std::string::npos;
  }));

  RunResult load = host_.PoolctlWithDefinitions(definitions_, {"load", "-q"});
  EXPECT_EQ(load.status, 0) << load.err;
  EXPECT_FALSE(Ended(disable->pid()));

  Sim({"busy", "host/opt/vm/guest", "0"});
  RunResult r = disable->Wait();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(host_.Groups().find("host/opt/vm/guest"), std::string::npos);
}

}  // namespace
