// The commands that change groups take turns through the host lock: one
// waits while another process holds it, list and the legacy mode never do,
// and a waiting disable -w lets the others through between its attempts.
// Every check is on the order of events (the lock's waiter list, the host's
// groups, which process ended first), never on how long something took.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// Whether the process waits in flock for the file with this inode: the kernel
// lists such waiters in /proc/locks with an arrow, ending in ":inode".
bool WaitsForLock(pid_t pid, ino_t inode) {
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream in(line);
    std::string number, arrow, kind, advisory, mode, owner, file;
    in >> number >> arrow >> kind >> advisory >> mode >> owner >> file;
    const std::string inodeText = ":" + std::to_string(inode);
    if (arrow == "->" && kind == "FLOCK" && owner == std::to_string(pid) &&
        file.size() > inodeText.size() && file.substr(file.rfind(':')) == inodeText) {
      return true;
    }
  }
  return false;
}

// Whether the process has ended; it stays a zombie until it is waited for.
bool Ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  return text.rfind(") ") == std::string::npos || text[text.rfind(") ") + 2] == 'Z';
}

// Polls until the condition holds. The bound only keeps a broken build from
// hanging the test run; no check depends on it.
bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 30000 && !condition(); ++i) usleep(1000);
  return condition();
}

class CommandLock : public ::testing::Test {
 protected:
  void SetUp() override {
    // Without a /run/lock of its own the test would hold the machine's lock.
    if (!e2e::PrivateLockFolder()) GTEST_SKIP() << "no private /run/lock here";
    ASSERT_EQ(mkdir(definitions_.c_str(), 0755), 0);
    const std::string file = host_.WriteFile("rp.d/pools.yaml", "- {name: vm, memMin: 1024}\n"
                                                                "- {name: vm/guest, mem: 512}\n");
    ASSERT_EQ(host_.Hostsim({"mark", file}).status, 0);
    const e2e::RunResult probe = host_.PoolctlWithDefinitions(definitions_, {"list"});
    if (probe.status == e2e::kNoPrivateEtc) GTEST_SKIP() << "no private /etc here: " << probe.err;
  }
  void TearDown() override { Release(); }

  // Takes the lock as poolctl does.
  void Hold() {
    lock_ = open("/run/lock/poolctl.lock", O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    struct stat st = {};
    ASSERT_TRUE(lock_ >= 0 && fstat(lock_, &st) == 0 && flock(lock_, LOCK_EX) == 0);
    inode_ = st.st_ino;
  }
  void Release() {
    if (lock_ >= 0) close(lock_);
    lock_ = -1;
  }
  e2e::Process* Start(const std::vector<std::string>& args) {
    return host_.StartPoolctlWithDefinitions(definitions_, args);
  }

  e2e::SimHost host_;
  const std::string definitions_ = host_.dir() + "/rp.d";
  int lock_ = -1;
  ino_t inode_ = 0;
};

TEST_F(CommandLock, ChangingCommandsWaitForTheHolderOthersDoNot) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"load"}, true}, {{"unload"}, true}, {{"enable", "host/opt/vm"}, true},
      {{"disable", "-n", "host/opt/vm"}, true}, {{"list"}, false},
      {{"-g", "host/user", "-e"}, false}};
  for (const auto& [args, waits] : cases) {
    SCOPED_TRACE(args[0]);
    Hold();
    const std::string before = host_.Groups();
    std::unique_ptr<e2e::Process> p(Start(args));
    ASSERT_TRUE(Eventually([&] { return WaitsForLock(p->pid(), inode_) || Ended(p->pid()); }));
    EXPECT_EQ(WaitsForLock(p->pid(), inode_), waits);
    EXPECT_EQ(host_.Groups(), before);  // nothing changed before the lock was its own
    Release();
    const e2e::RunResult r = p->Wait();
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
  ASSERT_EQ(host_.Hostsim({"busy", "host/opt/vm/guest", "1"}).status, 0);
  ASSERT_EQ(host_.Hostsim({"trace", "on"}).status, 0);
  std::unique_ptr<e2e::Process> disable(Start({"disable", "-w", "30", "host/opt/vm/guest"}));
  ASSERT_TRUE(Eventually([&] {  // an attempt has met the busy group
    return host_.Hostsim({"calls"}).out.find("delete\t6\t-\t0x0BAD0004") != std::string::npos;
  }));
  const e2e::RunResult load = host_.PoolctlWithDefinitions(definitions_, {"load", "-q"});
  EXPECT_EQ(load.status, 0) << load.err;
  EXPECT_FALSE(Ended(disable->pid()));
  ASSERT_EQ(host_.Hostsim({"busy", "host/opt/vm/guest", "0"}).status, 0);
  const e2e::RunResult r = disable->Wait();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(host_.Groups().find("host/opt/vm/guest"), std::string::npos);
}

}  // namespace
