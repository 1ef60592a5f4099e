// End-to-end test harness: runs the real poolctl and hostsim binaries on a
// simulated host of their own (a fresh HOSTSIM_DB in a temporary folder).
#ifndef TESTS_E2E_HARNESS_H_
#define TESTS_E2E_HARNESS_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

constexpr int kNoPrivateEtc = 77;

// sh -c script, arguments DEFINITIONS SCRATCH COMMAND...: run in a new mount
// namespace, mounts an overlay over /etc (its layers in SCRATCH) with the
// folder DEFINITIONS bound on /etc/rp.d, then runs COMMAND there. Exits with
// kNoPrivateEtc where this machine does not allow it.
extern const char kPrivateEtcScript[];

struct RunResult {
  int status = -1;  // exit status; 128 + signal number when killed by a signal
  std::string out;  // standard output
  std::string err;  // standard error
};

// How long a run of one binary may take before it is killed (status 137,
// with a line saying so on err): a fault that makes a command spin fails its
// test at once instead of holding it until ctest gives up.
constexpr int kRunSeconds = 60;

// Whether this process and its children have a /run/lock of their own (see
// harness.cc). Without it every test process of the machine shares poolctl's
// host lock, and a test that holds or waits for it depends on the others.
bool PrivateLockFolder();

// One line of "hostsim groups".
struct GroupLine {
  std::string path;
  uint64_t id = 0;
  int64_t mem[4] = {};  // min, max, shares, minLimit
  int64_t cpu[4] = {};
  int64_t worlds = 0;
};

// The lines of "hostsim groups" in their order, duplicates kept. Throws
// std::runtime_error naming the first line that does not parse.
std::vector<GroupLine> ParseGroupLines(const std::string& text);

// A child process with its output captured. Wait() collects it.
class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args,
          const std::vector<std::string>& env);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  // Collects the output and the status; kills the process first when it has
  // not ended within the given seconds.
  RunResult Wait(int seconds = kRunSeconds);

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  bool waited_ = false;
};

// Runs a program to its end. env entries are "NAME=value", added to (or
// replacing in) the test's own environment.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& env = {}, int seconds = kRunSeconds);

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

  RunResult Poolctl(const std::vector<std::string>& args) const;
  RunResult Hostsim(const std::vector<std::string>& args) const;
  // Starts poolctl without waiting for it.
  Process* StartPoolctl(const std::vector<std::string>& args) const;

  // Runs poolctl in a private mount namespace whose /etc/rp.d is the folder
  // definitions (its files marked installed by the caller); the machine's own
  // /etc is never touched. Status kNoPrivateEtc when this machine does not
  // allow it: the caller skips.
  RunResult PoolctlWithDefinitions(const std::string& definitions,
                                   const std::vector<std::string>& args) const;
  Process* StartPoolctlWithDefinitions(const std::string& definitions,
                                       const std::vector<std::string>& args) const;

  // Writes a file below dir() and returns its path.
  std::string WriteFile(const std::string& name, const std::string& content) const;

  // Saves the state file and restores it later, so that a test can run many
  // times from one set-up. No process may use the host meanwhile.
  void SaveState(const std::string& name) const;
  void RestoreState(const std::string& name) const;

  // hostsim groups, as text; fails the test when hostsim fails.
  std::string Groups() const;

 private:
  std::string dir_;
  std::string db_;
};

}  // namespace e2e

#endif  // TESTS_E2E_HARNESS_H_
