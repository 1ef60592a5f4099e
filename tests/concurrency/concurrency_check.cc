// Runs several poolctl processes at once against one simulated host, round
// after round, and checks that each ended as its command allows and that the
// group tree they leave is consistent. Prints one line per failure and then
//
//   RELIABILITY concurrent <processes run concurrently> failures <count>
//
// Usage: concurrency_check [--rounds N] [--seed S] [--poolctl PATH] [--verbose]
//
// --poolctl runs another build of poolctl, for example one from before a fix.
// The processes read the example definitions from /etc/rp.d, which exists
// only in a private mount namespace that the driver enters by starting itself
// again inside one; the machine's own /etc is never touched.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/concurrency/group_tree.h"
#include "tests/concurrency/outcome.h"
#include "tests/e2e/harness.h"

namespace {

using Args = std::vector<std::string>;

constexpr int kStatusFailures = 2;
constexpr int kStatusNoPrivateEtc = e2e::kNoPrivateEtc;

const char kAnnex[] = "host/opt/vms/burst";
const char kParent[] = "host/opt/vms";
const char kBusy[] = "host/opt/vms/gold";

struct Options {
  int rounds = 250;
  unsigned seed = 1;
  bool verbose = false;
  std::string poolctl = POOLCTL_BIN;
  std::string inside;  // the host's folder, once inside the namespace
};

// Commands that a round draws from; several draws of one entry name the same
// pool in several processes at once.
struct Mix {
  const char* name;
  int weight;  // how often it is drawn, relative to the others
  std::vector<Args> commands;
  bool busy;  // kBusy has a world attached while the round starts
};

const std::vector<Mix>& Mixes() {
  static const std::vector<Mix> kMixes = {
      {"annex",
       3,
       {{"enable", kAnnex},
        {"disable", kAnnex},
        {"disable", "-n", kAnnex},
        {"enable", kParent, kAnnex},
        {"disable", "-w", "1", kAnnex}},
       false},
      {"parent",
       2,
       {{"enable", kParent},
        {"disable", "-n", kParent},
        {"enable", kAnnex},
        {"disable", kAnnex},
        {"enable", kParent, kAnnex}},
       false},
      {"load",
       1,
       {{"load"}, {"load", "-q"}, {"unload"}, {"enable", kAnnex}, {"disable", "-n", kParent}},
       false},
      {"mixed",
       1,
       {{"load"},
        {"unload"},
        {"enable", kAnnex},
        {"disable", kAnnex},
        {"enable", kParent},
        {"disable", "-n", kParent},
        {"disable", kParent},
        {"enable", "host/opt/vms/staging", kAnnex},
        {"disable", "host/opt/vms/staging", "host/system/logging"},
        {"enable", "host/system/logging"}},
       false},
      {"busy",
       1,
       {{"disable", "-w", "2", kBusy},
        {"disable", kBusy},
        {"disable", "-n", kBusy},
        {"enable", kBusy},
        {"unload"},
        {"load", "-q"},
        {"enable", kAnnex},
        {"disable", kAnnex}},
       true},
  };
  return kMixes;
}

// The state a round starts from, made by sequential runs on a fresh host.
const std::vector<std::vector<Args>>& StartStates() {
  static const std::vector<std::vector<Args>> kStates = {
      {},
      {{"load", "-q"}},
      {{"load", "-q"}, {"enable", kAnnex}},
      {{"load", "-q"}, {"disable", "-n", kParent}},
      {{"load", "-q"}, {"disable", "-n", kParent}, {"enable", kAnnex}},
  };
  return kStates;
}

std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) line += c == '\n' ? std::string("\\n") : std::string(1, c);
  return line;
}

std::string Shown(const Args& args) {
  std::string text = "poolctl";
  for (const std::string& a : args) text += " " + a;
  return text;
}

// Holds a round's processes at their start until all of them exist, so
// that their runs overlap as much as the machine allows: each waits in a
// shell for the end of a pipe that the driver closes once they all run.
class StartGate {
 public:
  StartGate() {
    if (pipe(fds_) != 0) throw std::runtime_error("pipe failed");
  }
  ~StartGate() { Open(); }
  StartGate(const StartGate&) = delete;
  StartGate& operator=(const StartGate&) = delete;

  e2e::Process* Start(const std::string& poolctl, const Args& args, const std::string& env) {
    std::string reading = std::to_string(fds_[0]), writing = std::to_string(fds_[1]);
    Args wrapped = {"-c",
                    "exec " + writing + ">&-; read -r _ <&" + reading + "; exec " + reading +
                        "<&-; exec \"$@\"",
                    "sh", poolctl};
    wrapped.insert(wrapped.end(), args.begin(), args.end());
    return new e2e::Process("/bin/sh", wrapped, {env});
  }

  void Open() {
    for (int& fd : fds_) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
  }

 private:
  int fds_[2] = {-1, -1};
};

class Driver {
 public:
  Driver(const Options& options)
      : options_(options),
        env_("HOSTSIM_DB=" + options.inside + "/host.db"),
        random_(options.seed) {}

  int Run() {
    try {
      Sim({"init"});
      e2e::RunResult list = Poolctl({"list", "-v"});
      if (list.status != 0) throw std::runtime_error("poolctl list -v: " + OneLine(list.err));
      definitions_ = concurrency::ParseDefinitions(list.out);
      bool fresh = true;
      for (int round = 1; round <= options_.rounds; ++round) fresh = !RunRound(round, fresh);
    } catch (const std::exception& e) {
      Fail(std::string("driver stopped: ") + e.what());
    }
    std::printf("RELIABILITY concurrent %d failures %d\n", processes_, failures_);
    return failures_ == 0 ? 0 : kStatusFailures;
  }

 private:
  void Fail(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    ++failures_;
  }

  e2e::RunResult Poolctl(const Args& args) { return e2e::Run(options_.poolctl, args, {env_}); }

  std::string Sim(const Args& args) {
    e2e::RunResult r = e2e::Run(HOSTSIM_BIN, args, {env_});
    if (r.status != 0) throw std::runtime_error(Shown(args) + ": " + OneLine(r.err));
    return r.out;
  }

  template <typename T>
  const T& Pick(const std::vector<T>& from) {
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random_)];
  }

  // Returns whether the round left a consistent host, which the next round
  // may then start from.
  bool RunRound(int round, bool fresh) {
    std::vector<int> weights;
    for (const Mix& m : Mixes()) weights.push_back(m.weight);
    const Mix& mix =
        Mixes()[std::discrete_distribution<size_t>(weights.begin(), weights.end())(random_)];
    std::string where = "round " + std::to_string(round) + " (" + mix.name + ")";
    if (fresh || mix.busy || random_() % 2 == 0) Prepare(where, mix.busy);
    size_t count = 3 + random_() % 4;
    std::vector<Args> commands;
    for (size_t i = 0; i < count; ++i) commands.push_back(Pick(mix.commands));

    std::vector<std::unique_ptr<e2e::Process>> running;
    {
      StartGate gate;
      for (const Args& args : commands)
        running.emplace_back(gate.Start(options_.poolctl, args, env_));
    }
    processes_ += static_cast<int>(running.size());
    // Long enough for the waiting disable to try a few times.
    if (mix.busy) {
      usleep(20000);
      Sim({"busy", kBusy, "0"});
    }
    int before = failures_;
    for (size_t i = 0; i < running.size(); ++i) {
      e2e::RunResult r = running[i]->Wait();
      if (options_.verbose) {
        std::fprintf(stderr, "%s: %s: %d \"%s\" \"%s\"\n", where.c_str(),
                     Shown(commands[i]).c_str(), r.status, OneLine(r.out).c_str(),
                     OneLine(r.err).c_str());
      }
      std::string wrong = concurrency::CheckOutcome(commands[i], r, definitions_);
      if (!wrong.empty()) {
        Fail(where + ": " + Shown(commands[i]) + ": " + wrong + " (status " +
             std::to_string(r.status) + ", stdout \"" + OneLine(r.out) + "\", stderr \"" +
             OneLine(r.err) + "\")");
      }
    }
    CheckHost(where, commands);
    return failures_ == before;
  }

  // A fresh host brought into one of the start states by sequential runs.
  void Prepare(const std::string& where, bool busy) {
    Sim({"init"});
    const std::vector<Args>& steps = busy ? StartStates()[1] : Pick(StartStates());
    for (const Args& args : steps) {
      e2e::RunResult r = Poolctl(args);
      if (r.status != 0 || !r.err.empty()) {
        Fail(where + ": preparing with " + Shown(args) + ": status " + std::to_string(r.status) +
             ", stderr \"" + OneLine(r.err) + "\"");
      }
    }
    if (busy) Sim({"busy", kBusy, "1"});
  }

  void CheckHost(const std::string& where, const std::vector<Args>& commands) {
    std::string mixed;
    for (const Args& args : commands) mixed += (mixed.empty() ? "" : " | ") + Shown(args);
    std::vector<concurrency::Group> groups = concurrency::ParseGroups(Sim({"groups"}));
    for (const std::string& wrong : concurrency::CheckTree(groups, definitions_, kAnnex)) {
      Fail(where + ": " + wrong + " after " + mixed);
    }
    for (const concurrency::Group& g : groups) {
      if (g.worlds != 0) Fail(where + ": " + g.path + " still has worlds after " + mixed);
    }
    std::string leaks = Sim({"leaks", "--clear"});
    if (leaks != "0\n") Fail(where + ": " + OneLine(leaks) + " parameter lists leaked by " + mixed);
  }

  Options options_;
  std::string env_;
  std::mt19937 random_;
  std::vector<concurrency::Definition> definitions_;
  int processes_ = 0;
  int failures_ = 0;
};

std::string SelfPath() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) throw std::runtime_error("cannot find this program");
  return std::string(path, static_cast<size_t>(n));
}

// Starts this program again in a private mount namespace; its output goes
// straight through. Returns its exit status.
int RunInside(const e2e::SimHost& host, const std::string& definitions, char** argv) {
  std::vector<std::string> args = {"unshare",   "-m",
                                   "/bin/sh",   "-c",
                                   e2e::kPrivateEtcScript, "sh",
                                   definitions, host.dir() + "/scratch",
                                   SelfPath()};
  for (char** a = argv + 1; *a != nullptr; ++a) args.push_back(*a);
  args.push_back("--inside");
  args.push_back(host.dir());
  std::vector<char*> raw;
  for (std::string& a : args) raw.push_back(&a[0]);
  raw.push_back(nullptr);
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    execv("/usr/bin/unshare", raw.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("cannot wait for the private namespace");
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunOutside(char** argv) {
  e2e::SimHost host;
  std::string definitions = host.dir() + "/rp.d";
  Args install = {"install"};
  for (const char* name : {"system.yaml", "vms.yaml", "annex.yaml"}) {
    install.push_back(std::string(SOURCE_DIR) + "/examples/" + name);
  }
  install.insert(install.end(), {"--to", definitions});
  e2e::RunResult r = host.Hostsim(install);
  if (r.status != 0) throw std::runtime_error("hostsim install: " + OneLine(r.err));

  int status = RunInside(host, definitions, argv);
  if (status == 0 || status == kStatusFailures) return status;
  if (status == kStatusNoPrivateEtc) {
    std::printf("no private mount namespace with /etc/rp.d here\n");
  } else {
    std::printf("the driver ended with status %d\n", status);
  }
  std::printf("RELIABILITY concurrent 0 failures 1\n");
  return status == kStatusNoPrivateEtc ? status : 1;
}

bool ParseOptions(char** argv, Options& options) {
  for (char** a = argv + 1; *a != nullptr; ++a) {
    std::string option = *a;
    if (option == "--verbose") {
      options.verbose = true;
      continue;
    }
    if (a[1] == nullptr) return false;
    std::string value = *++a;
    if (option == "--rounds") {
      options.rounds = std::atoi(value.c_str());
    } else if (option == "--seed") {
      options.seed = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (option == "--poolctl") {
      options.poolctl = value;
    } else if (option == "--inside") {
      options.inside = value;
    } else {
      return false;
    }
  }
  return options.rounds > 0;
}

}  // namespace

int main(int, char** argv) {
  Options options;
  if (!ParseOptions(argv, options)) {
    std::fprintf(stderr,
                 "usage: concurrency_check [--rounds N] [--seed S] [--poolctl PATH] [--verbose]\n");
    return 1;
  }
  try {
    if (options.inside.empty()) return RunOutside(argv);
    return Driver(options).Run();
  } catch (const std::exception& e) {
    std::printf("%s\nRELIABILITY concurrent 0 failures 1\n", e.what());
    return 1;
  }
}
