// Runs every bad definition file through `poolctl load FILE` on a fresh
// simulated host and checks that each one ends the same safe way: exit status
// 1, exactly the expected line on standard error, the host's groups as they
// were, and within the time bound. Prints one line per failing case, the
// slowest case, and "RELIABILITY inputs N failures F".
//
// With --hangs-only a case fails on time only when it is killed as hung: the
// test suite runs this beside other tests on a loaded machine, where wall
// time says little; the reliability report runs it alone and holds the bound.
//
// The small cases are files in cases/ with their lines in expected.txt; the
// large and special ones (megabytes, deep nesting, FIFOs, sockets, devices,
// unreadable files) are made here at run time.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness.h"

namespace {

#ifdef HOSTILE_SANITIZED
constexpr double kBoundSeconds = 10;  // the sanitizers slow our own code down
#else
constexpr double kBoundSeconds = 1;
#endif
constexpr auto kHangAfter = std::chrono::seconds(30);

const char kPathPlaceholder[] = "{path}";

struct Case {
  std::string name;
  std::string path;      // the file named to poolctl
  std::string expected;  // the whole line, without its newline
  bool forgeMark = false;
  bool unprivileged = false;
};

struct Outcome {
  e2e::RunResult run;
  double seconds = 0;
  bool hung = false;
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::string Repeat(const std::string& unit, size_t times) {
  std::string text;
  text.reserve(unit.size() * times);
  for (size_t i = 0; i < times; ++i) text += unit;
  return text;
}

// A long message is shown by its start and its length.
std::string Shown(const std::string& text) {
  std::string line = text.substr(0, 160);
  for (char& c : line) {
    if (c == '\n') c = '|';
  }
  if (text.size() > 160) line += "... (" + std::to_string(text.size()) + " bytes)";
  return line;
}

class Driver {
 public:
  Driver() {
    Check(host_.Hostsim({"init"}), "hostsim init");
    // An unprivileged poolctl must still reach the simulated host.
    chmod(host_.dir().c_str(), 0777);
    for (const char* suffix : {"", "-wal", "-shm"}) chmod((host_.db() + suffix).c_str(), 0666);
  }

  void AddCommittedCases() {
    std::ifstream table(std::string(HOSTILE_DIR) + "/expected.txt");
    std::string line;
    while (std::getline(table, line)) {
      if (line.empty() || line[0] == '#') continue;
      const size_t tab = line.find('\t');
      const std::string name = line.substr(0, tab);
      if (tab == std::string::npos) {
        Broken(name, "no tab in its line of expected.txt");
        continue;
      }
      const std::string source = std::string(HOSTILE_DIR) + "/cases/" + name + ".yaml";
      if (access(source.c_str(), R_OK) != 0) {
        Broken(name, "no file cases/" + name + ".yaml");
        continue;
      }
      AddFile(name, ReadFile(source), line.substr(tab + 1));
    }
  }

  void AddGeneratedCases();
  void HangsOnly() { enforceBound_ = false; }

  int Run() {
    const std::string groups = Groups();
    for (const Case& c : cases_) RunCase(c, groups);
    // No case reaches the kernel's parameter lists, so none may be left over.
    const e2e::RunResult leaks = host_.Hostsim({"leaks"});
    if (leaks.out != "0\n") {
      std::printf("FAIL parameter lists left undestroyed: %s\n",
                  Shown(leaks.out + leaks.err).c_str());
      ++failures_;
    }
    std::printf("slowest %s %.3f s (bound %.0f s)\n", slowest_.c_str(), slowestSeconds_,
                kBoundSeconds);
    std::printf("RELIABILITY inputs %zu failures %d\n", cases_.size() + broken_, failures_);
    return failures_ == 0 ? 0 : 1;
  }

 private:
  std::string Path(const std::string& name) const { return host_.dir() + "/" + name; }

  void Check(const e2e::RunResult& r, const std::string& what) {
    if (r.status != 0) {
      std::printf("set-up: %s failed: %s\n", what.c_str(), Shown(r.err).c_str());
      ++failures_;
    }
  }

  void Broken(const std::string& name, const std::string& reason) {
    std::printf("FAIL %s: %s\n", name.c_str(), reason.c_str());
    ++broken_;
    ++failures_;
  }

  void Add(const std::string& name, const std::string& path, const std::string& expected,
           bool forgeMark = false, bool unprivileged = false) {
    cases_.push_back({name, path, Replace(expected, kPathPlaceholder, path), forgeMark,
                      unprivileged});
  }

  // A marked file of this text; expected holds {path} for its path.
  void AddFile(const std::string& name, const std::string& text, const std::string& expected) {
    const std::string path = host_.WriteFile(name + ".yaml", text);
    Check(host_.Hostsim({"mark", path}), "mark " + name);
    Add(name, path, expected);
  }

  std::string Groups() {
    const e2e::RunResult r = host_.Hostsim({"groups"});
    Check(r, "hostsim groups");
    return r.out;
  }

  Outcome Start(const Case& c) const;
  void RunCase(const Case& c, const std::string& groups);
  void AddSpecialFiles();

  e2e::SimHost host_;
  std::vector<Case> cases_;
  int failures_ = 0;
  size_t broken_ = 0;
  std::string slowest_ = "none";
  double slowestSeconds_ = 0;
  bool enforceBound_ = true;
};

Outcome Driver::Start(const Case& c) const {
  std::vector<std::string> env = {host_.Env()};
  if (c.forgeMark) {
    env.push_back(std::string("LD_PRELOAD=") + MARK_SHIM);
#ifdef HOSTILE_SANITIZED
    // The forger is loaded ahead of the sanitizer runtime.
    env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
#endif
  }
  std::string program = POOLCTL_BIN;
  std::vector<std::string> args = {"load", c.path};
  if (c.unprivileged) {
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", program});
    program = "/usr/bin/setpriv";
  }

  Outcome outcome;
  const auto start = std::chrono::steady_clock::now();
  e2e::Process process(program, args, env);
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!done.wait_for(lock, kHangAfter, [&] { return finished; })) {
      outcome.hung = true;
      kill(process.pid(), SIGKILL);
    }
  });
  outcome.run = process.Wait();
  {
    const std::lock_guard<std::mutex> lock(mutex);
    finished = true;
  }
  done.notify_one();
  watchdog.join();
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return outcome;
}

void Driver::RunCase(const Case& c, const std::string& groups) {
  const Outcome o = Start(c);
  std::vector<std::string> reasons;
  if (o.hung) reasons.push_back("killed after 30 s");
  if (o.run.status != 1) reasons.push_back("exit status " + std::to_string(o.run.status));
  if (o.run.err != c.expected + "\n") {
    reasons.push_back("stderr \"" + Shown(o.run.err) + "\", expected \"" + Shown(c.expected) + "\"");
  }
  if (enforceBound_ && o.seconds > kBoundSeconds) reasons.push_back("took " + std::to_string(o.seconds) + " s");
  if (Groups() != groups) {
    reasons.push_back("changed the host's groups");
    Check(host_.Hostsim({"init"}), "hostsim init");
  }
  if (o.seconds > slowestSeconds_) {
    slowestSeconds_ = o.seconds;
    slowest_ = c.name;
  }
  if (reasons.empty()) return;
  ++failures_;
  std::string line = "FAIL " + c.name + ":";
  for (const std::string& r : reasons) line += " " + r + ";";
  std::printf("%s\n", line.c_str());
}

void Driver::AddGeneratedCases() {
  const std::string tooLarge = "{path}: file larger than 256 KiB";
  const size_t tenMegabytes = 10 * 1000 * 1000;
  const std::string big(tenMegabytes, 'x');
  AddFile("large_value", "- name: a\n  mem: " + big + "\n", tooLarge);
  AddFile("large_key", "- name: a\n  " + big + ": 1\n", tooLarge);
  AddFile("large_tag", "- name: a\n  mem: !" + big + " 1\n", tooLarge);
  AddFile("large_tag_argument", "- name: a\n  mem: !calc " + Repeat("1+", tenMegabytes / 2) + "1\n",
          tooLarge);
  AddFile("large_comment", "# " + big + "\n- name: a\n", tooLarge);
  AddFile("large_many_lines", Repeat("- name: a\n", tenMegabytes / 10), tooLarge);

  // Just below the cap: the largest texts the YAML library gets to read.
  const std::string longText(250000, 'k');
  AddFile("long_value", "- name: a\n  mem: " + longText + "\n",
          "{path}: line 2 column 8: bad conversion");
  AddFile("long_key", "- " + longText + ": 1\n",
          "{path}: line 1 column 250003: illegal map value");
  AddFile("long_tag_argument", "- name: a\n  mem: !bootOption {key: " + longText + "}\n",
          "{path}: line 2 column 8: missing default");
  AddFile("long_quoted_name", "- name: '" + longText + "'\n  mem: x\n",
          "{path}: line 2 column 8: bad conversion");
  AddFile("dense_flow_sequence", "[" + Repeat("1,", 125000) + "\n",
          "{path}: line 2 column 1: end of sequence flow not found");

  const size_t deep = 100000;
  AddFile("deep_flow_sequences", Repeat("[", deep) + Repeat("]", deep) + "\n",
          "{path}: line 2 column 1: bad file");
  AddFile("deep_flow_maps", Repeat("{", deep) + Repeat("}", deep) + "\n",
          "{path}: line 1 column 2: end of map flow not found");
  AddFile("deep_block_sequences", Repeat("- ", deep) + "1\n", "{path}: line 1 column 1000: bad file");
  AddFile("deep_block_maps", Repeat("? ", deep) + "a\n", "{path}: line 1 column 998: bad file");
  AddFile("deep_in_calc",
          "- name: a\n  mem: !calc {x: " + Repeat("[", deep) + Repeat("]", deep) + ", '=': x}\n",
          "{path}: line 2 column 200018: bad file");
  // The expression stops at its nesting bound; the message quotes the rest.
  AddFile("deep_calc_parentheses",
          "- name: a\n  mem: !calc " + Repeat("(", deep) + "1" + Repeat(")", deep) + "\n",
          "{path}: line 2 column 8: expression nested too deeply at '" + Repeat("(", deep - 2000) +
              "1" + Repeat(")", deep) + "'");

  AddSpecialFiles();
}

void Driver::AddSpecialFiles() {
  const std::string notInstalled = "{path}: is not installed";

  const std::string dir = Path("directory");
  mkdir(dir.c_str(), 0755);
  Check(host_.Hostsim({"mark", dir}), "mark directory");
  Add("directory", dir, "{path}: Is a directory");
  Add("missing", Path("missing"), notInstalled);

  // FIFOs and sockets cannot carry the mark; forged, they must still never
  // block the open.
  const std::string fifo = Path("fifo");
  mkfifo(fifo.c_str(), 0644);
  Add("fifo", fifo, notInstalled);
  const std::string fifoLink = Path("fifo_link");
  symlink(fifo.c_str(), fifoLink.c_str());
  Add("fifo_behind_link", fifoLink, notInstalled);
  Add("fifo_marked", fifo, "{path}: not a regular file", true);

  const std::string socketPath = Path("socket");
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Broken("socket", "cannot bind " + socketPath);
  }
  Add("socket", socketPath, notInstalled);
  Add("socket_marked", socketPath, "{path}: No such device or address", true);

  const std::string zeroLink = Path("zero_link");
  symlink("/dev/zero", zeroLink.c_str());
  Add("endless_device_marked", zeroLink, "{path}: not a regular file", true);
  // A regular file whose read fails.
  Add("read_error_marked", "/proc/self/mem", "{path}: Input/output error", true);

  // Run as nobody: the mark of a file it may not read cannot be read either.
  const std::string closed = host_.WriteFile("closed.yaml", "- name: a\n");
  Check(host_.Hostsim({"mark", closed}), "mark closed.yaml");
  chmod(closed.c_str(), 0);
  Add("unreadable", closed, notInstalled, false, true);
  Add("unreadable_marked", closed, "{path}: Permission denied", true, true);
}

}  // namespace

int main(int argc, char** argv) {
  Driver driver;
  if (argc == 2 && std::strcmp(argv[1], "--hangs-only") == 0) {
    driver.HangsOnly();
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: hostile_check [--hangs-only]\n");
    return 2;
  }
  driver.AddCommittedCases();
  driver.AddGeneratedCases();
  return driver.Run();
}
