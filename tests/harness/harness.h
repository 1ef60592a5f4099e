// End-to-end test harness: runs the real poolctl and hostsim binaries on a simulated host of
// their own (a fresh HOSTSIM_DB in a temporary folder), every run bounded in time.
#ifndef TESTS_HARNESS_HARNESS_H_
#define TESTS_HARNESS_HARNESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

using Args = std::vector<std::string>;

// The status of a run with definitions where this machine cannot give it a private /etc.
constexpr int kNoPrivateEtc = 77;

struct RunResult {
  int status = -1;  // 128 + the signal's number when killed by one
  std::string out, err;
};

// A run that takes longer is killed (status 137, a line saying so on err): a command that spins
// fails its test at once.
constexpr int kRunSeconds = 60;

// Whether this process and its children have a /run/lock of their own; without it every test
// process of the machine shares poolctl's host lock.
bool PrivateLockFolder();

// A child process with its output captured; Wait() collects it.
class Process {
 public:
  Process(const std::string& program, const Args& args, const Args& env);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  RunResult Wait(int seconds = kRunSeconds);

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
};

// Runs a program to its end; env entries ("NAME=value") add to or replace the test's own.
RunResult Run(const std::string& program, const Args& args, const Args& env = {},
              int seconds = kRunSeconds);

// Fails the test unless actual is expected, or starts with it when expected ends in "...".
void ExpectText(const std::string& actual, const std::string& expected);

// A fresh simulated host: its own folder and state file, removed at the end.
class SimHost {
 public:
  SimHost();
  ~SimHost();
  SimHost(const SimHost&) = delete;
  SimHost& operator=(const SimHost&) = delete;

  const std::string& dir() const { return dir_; }
  const std::string& db() const { return db_; }
  std::string Env() const { return "HOSTSIM_DB=" + db_; }

  RunResult Poolctl(const Args& args) const;
  RunResult Hostsim(const Args& args) const;
  // hostsim commands, ";" between them; one that fails fails the test.
  void Setup(const std::string& commands) const;

  // poolctl in a private mount namespace whose /etc/rp.d is the folder definitions (none if it
  // does not exist); the machine's /etc is left alone. Status kNoPrivateEtc where not allowed.
  RunResult PoolctlWithDefinitions(const std::string& definitions, const Args& args) const;
  Process* StartPoolctlWithDefinitions(const std::string& definitions, const Args& args) const;

  // Writes a file below dir() and returns its path.
  std::string WriteFile(const std::string& name, const std::string& content) const;

  // The state file saved under a name and restored: many runs from one set-up, one at a time.
  void SaveState(const std::string& name) const;
  void RestoreState(const std::string& name) const;

  // "hostsim groups"; fails the test when hostsim fails.
  std::string Groups() const;
  // Fails the test when the traced calls ("hostsim trace on") changed a group: every Set
  // but a path lookup.
  void ExpectOnlyReadingCalls() const;

 private:
  std::string dir_, db_;
};

}  // namespace e2e

#endif  // TESTS_HARNESS_HARNESS_H_
