#include "tests/e2e/harness.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "gtest/gtest.h"

extern char** environ;

namespace e2e {

const char kPrivateEtcScript[] =
    "set -eu\n"
    "definitions=$1 scratch=$2; shift 2\n"
    "mkdir -p $scratch/upper $scratch/work\n"
    "mount -t overlay overlay -o lowerdir=/etc,upperdir=$scratch/upper,workdir=$scratch/work /etc"
    " 2>/dev/null || exit 77\n"
    "rm -rf /etc/rp.d && mkdir /etc/rp.d || exit 77\n"
    "mount --bind $definitions /etc/rp.d 2>/dev/null || exit 77\n"
    "exec \"$@\"\n";

namespace {

// A whole decimal field, in range, or the line's error.
int64_t GroupField(const std::string& field, const std::string& line) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(field.c_str(), &end, 10);
  if (field.empty() || *end != '\0' || errno == ERANGE) {
    throw std::runtime_error("not a group line: " + line);
  }
  return value;
}

uint64_t GroupId(const std::string& field, const std::string& line) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(field.c_str(), &end, 10);
  if (field.empty() || field[0] == '-' || *end != '\0' || errno == ERANGE) {
    throw std::runtime_error("not a group line: " + line);
  }
  return value;
}

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

std::vector<std::string> MergedEnv(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    bool replaced = false;
    for (const std::string& x : extra) {
      if (entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0) replaced = true;
    }
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}


// Every simulated host of a machine would otherwise share the one host lock
// file in /run/lock, so that a test holding it stalls the tests beside it.
// Before main, while the process has a single thread: a mount namespace of
// its own with an empty tmpfs on /run/lock, which the children inherit.
// Where that is not allowed (no root), the tests share the machine's lock.
bool MakePrivateLockFolder() {
  return unshare(CLONE_NEWNS) == 0 &&
         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount("tmpfs", "/run/lock", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") == 0;
}

const bool privateLockFolder = MakePrivateLockFolder();

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  return ::remove(path);
}

}  // namespace

bool PrivateLockFolder() { return privateLockFolder; }

Process::Process(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) Fail("pipe");
  std::vector<std::string> envStrings = MergedEnv(env);
  std::vector<char*> argv, envp;
  // As when started from PATH: diagnostics name the program, not its folder.
  std::string name = program.substr(program.rfind('/') + 1);
  argv.push_back(const_cast<char*>(name.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) Fail("fork");
  if (pid_ == 0) {
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
}

Process::~Process() {
  if (!waited_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    Wait();
  }
}

RunResult Process::Wait(int seconds) {
  RunResult r;
  struct pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open = 2;
  char buf[65536];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      // What it wrote so far is kept; a grandchild holding the pipes open
      // cannot keep us here.
      kill(pid_, SIGKILL);
      r.err += "[killed after " + std::to_string(seconds) + " s]\n";
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count()) + 1) < 0) {
      if (errno == EINTR) continue;
      Fail("poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (struct pollfd& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  outFd_ = errFd_ = -1;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) Fail("waitpid");
  }
  waited_ = true;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& env, int seconds) {
  Process p(program, args, env);
  return p.Wait(seconds);
}

SimHost::SimHost() {
  char tmpl[] = "/tmp/poolctl-e2e-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) Fail("mkdtemp");
  dir_ = tmpl;
  db_ = dir_ + "/host.db";
}

SimHost::~SimHost() { nftw(dir_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

RunResult SimHost::Poolctl(const std::vector<std::string>& args) const {
  return Run(POOLCTL_BIN, args, {Env()});
}

RunResult SimHost::Hostsim(const std::vector<std::string>& args) const {
  return Run(HOSTSIM_BIN, args, {Env()});
}

Process* SimHost::StartPoolctl(const std::vector<std::string>& args) const {
  return new Process(POOLCTL_BIN, args, {Env()});
}

Process* SimHost::StartPoolctlWithDefinitions(const std::string& definitions,
                                              const std::vector<std::string>& args) const {
  // A scratch folder of its own per run: an overlay's work folder cannot be shared.
  std::string scratch = dir_ + "/etc-XXXXXX";
  if (mkdtemp(&scratch[0]) == nullptr) Fail("mkdtemp");
  std::vector<std::string> all = {"-m", "/bin/sh", "-c", kPrivateEtcScript, "sh", definitions,
                                  scratch, POOLCTL_BIN};
  all.insert(all.end(), args.begin(), args.end());
  return new Process("/usr/bin/unshare", all, {Env()});
}

RunResult SimHost::PoolctlWithDefinitions(const std::string& definitions,
                                          const std::vector<std::string>& args) const {
  std::unique_ptr<Process> p(StartPoolctlWithDefinitions(definitions, args));
  return p->Wait();
}

std::string SimHost::WriteFile(const std::string& name, const std::string& content) const {
  std::string path = dir_ + "/" + name;
  std::ofstream f(path, std::ios::binary);
  f << content;
  if (!f) Fail("write " + path);
  return path;
}

namespace {

// Copies a file if it exists; removes the target if it does not.
void CopyIfPresent(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) {
    ::remove(to.c_str());
    return;
  }
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  if (!out) Fail("copy " + from);
}

}  // namespace

// The state is the database and its write-ahead log; the shared-memory index
// is rebuilt from them by the next process.
void SimHost::SaveState(const std::string& name) const {
  for (const char* suffix : {"", "-wal"}) CopyIfPresent(db_ + suffix, db_ + "." + name + suffix);
}

void SimHost::RestoreState(const std::string& name) const {
  for (const char* suffix : {"", "-wal"}) CopyIfPresent(db_ + "." + name + suffix, db_ + suffix);
  ::remove((db_ + "-shm").c_str());
}

std::string SimHost::Groups() const {
  RunResult r = Hostsim({"groups"});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

std::vector<GroupLine> ParseGroupLines(const std::string& text) {
  std::vector<GroupLine> groups;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f;
    for (size_t at = 0;;) {
      const size_t tab = line.find('\t', at);
      f.push_back(line.substr(at, tab - at));
      if (tab == std::string::npos) break;
      at = tab + 1;
    }
    if (f.size() != 11) throw std::runtime_error("not a group line: " + line);
    GroupLine g;
    g.path = f[0];
    g.id = GroupId(f[1], line);
    for (int i = 0; i < 4; ++i) {
      g.mem[i] = GroupField(f[2 + i], line);
      g.cpu[i] = GroupField(f[6 + i], line);
    }
    g.worlds = GroupField(f[10], line);
    groups.push_back(g);
  }
  return groups;
}

}  // namespace e2e
