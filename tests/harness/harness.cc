#include "tests/harness/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>
#include <utility>

#include "gtest/gtest.h"

extern char** environ;

namespace e2e {

namespace {

// sh -c script, arguments DEFINITIONS SCRATCH COMMAND...: in a new mount namespace, an overlay
// over /etc (its layers in SCRATCH) with the folder DEFINITIONS bound on /etc/rp.d, or no
// /etc/rp.d where DEFINITIONS does not exist, then COMMAND.
const char kPrivateEtcScript[] =
    "set -eu\ndefinitions=$1 scratch=$2; shift 2\nmkdir -p $scratch/upper $scratch/work\n"
    "mount -t overlay overlay -o lowerdir=/etc,upperdir=$scratch/upper,workdir=$scratch/work /etc"
    " 2>/dev/null || exit 77\nrm -rf /etc/rp.d || exit 77\n[ -d $definitions ] || exec \"$@\"\n"
    "mkdir /etc/rp.d && mount --bind $definitions /etc/rp.d 2>/dev/null || exit 77\nexec \"$@\"\n";

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// Every simulated host of a machine would otherwise share the host lock file in /run/lock. Before
// main, while the process has one thread: a mount namespace of its own with an empty tmpfs on
// /run/lock, which the children inherit. Without root the tests share the machine's lock.
bool MakePrivateLockFolder() {
  return unshare(CLONE_NEWNS) == 0 &&
         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount("tmpfs", "/run/lock", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") == 0;
}

const bool privateLockFolder = MakePrivateLockFolder();

std::string Drain(int& fd) {
  std::string text(static_cast<size_t>(lseek(fd, 0, SEEK_END)), '\0');
  if (pread(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) Fail("read");
  close(std::exchange(fd, -1));
  return text;
}

std::string TempFolder(std::string pattern) {
  if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
  return pattern;
}

void CopyIfPresent(const std::string& from, const std::string& to) {
  if (!std::filesystem::exists(from)) std::filesystem::remove(to);
  else std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

}  // namespace

bool PrivateLockFolder() { return privateLockFolder; }

// The output goes to memory files, not pipes: the child never blocks on a full pipe, and the
// wait is for the process alone, never for whoever else holds its output open.
Process::Process(const std::string& program, const Args& args, const Args& env) {
  Args vars = env;  // then the test's own, unless replaced
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string var = *e, key = var.substr(0, var.find('=') + 1);
    const auto named = [&key](const std::string& x) { return x.rfind(key, 0) == 0; };
    if (std::none_of(env.begin(), env.end(), named)) vars.push_back(var);
  }
  // As when started from PATH: diagnostics name the program, not its folder.
  std::string name = program.substr(program.rfind('/') + 1);
  std::vector<char*> argv = {name.data()}, envp;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  for (std::string& v : vars) envp.push_back(v.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  out_ = memfd_create("out", MFD_CLOEXEC);
  err_ = memfd_create("err", MFD_CLOEXEC);
  if (out_ < 0 || err_ < 0 || (pid_ = fork()) < 0) Fail("memfd_create or fork");
  if (pid_ == 0) {
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(out_, 1);
    dup2(err_, 2);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
}

Process::~Process() {
  if (out_ >= 0) Wait(0);  // kills it
}

// The process's descriptor becomes readable when it ends: the wait sleeps until then or until
// the deadline, with no polling.
RunResult Process::Wait(int seconds) {
  RunResult r;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  // Through syscall: this C library's header declares pidfd_open without C linkage.
  struct pollfd ended = {static_cast<int>(syscall(SYS_pidfd_open, pid_, 0)), POLLIN, 0};
  if (ended.fd < 0) Fail("pidfd_open");
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int ready = poll(&ended, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (ready > 0) break;
    if (ready < 0 && errno != EINTR) Fail("poll");
    if (ready == 0) {
      kill(pid_, SIGKILL);
      r.err = "[killed after " + std::to_string(seconds) + " s]\n";
      break;
    }
  }
  close(ended.fd);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) Fail("waitpid");
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = Drain(out_);
  r.err = Drain(err_) + r.err;
  return r;
}

RunResult Run(const std::string& program, const Args& args, const Args& env, int seconds) {
  return Process(program, args, env).Wait(seconds);
}

void ExpectText(const std::string& actual, const std::string& expected) {
  const size_t n = expected.size();
  if (n >= 3 && expected.compare(n - 3, 3, "...") == 0) {
    EXPECT_EQ(actual.substr(0, n - 3), expected.substr(0, n - 3));
  } else {
    EXPECT_EQ(actual, expected);
  }
}

SimHost::SimHost() : dir_(TempFolder("/tmp/poolctl-e2e-XXXXXX")), db_(dir_ + "/host.db") {}

SimHost::~SimHost() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

RunResult SimHost::Poolctl(const Args& args) const {
  return Run(POOLCTL_BIN, args, {Env()});
}

RunResult SimHost::Hostsim(const Args& args) const {
  return Run(HOSTSIM_BIN, args, {Env()});
}

void SimHost::Setup(const std::string& commands) const {
  std::istringstream in(commands);
  for (std::string command; std::getline(in, command, ';');) {
    std::istringstream words(command);
    Args args;
    for (std::string w; words >> w;) args.push_back(w);
    EXPECT_TRUE(args.empty() || Hostsim(args).status == 0) << command;
  }
}

Process* SimHost::StartPoolctlWithDefinitions(const std::string& definitions,
                                              const Args& args) const {
  // A scratch folder of its own per run: an overlay's work folder cannot be shared.
  Args all = {"-m", "/bin/sh", "-c", kPrivateEtcScript, "sh", definitions,
              TempFolder(dir_ + "/etc-XXXXXX"), POOLCTL_BIN};
  all.insert(all.end(), args.begin(), args.end());
  return new Process("/usr/bin/unshare", all, {Env()});
}

RunResult SimHost::PoolctlWithDefinitions(const std::string& definitions, const Args& args) const {
  return std::unique_ptr<Process>(StartPoolctlWithDefinitions(definitions, args))->Wait();
}

std::string SimHost::WriteFile(const std::string& name, const std::string& content) const {
  const std::string path = dir_ + "/" + name;
  std::ofstream f(path, std::ios::binary);
  if (!(f << content)) Fail("write " + path);
  return path;
}

// The state is the database and its write-ahead log; the next process rebuilds the
// shared-memory index from them. The log is emptied into the database first, so that each
// restore copies one file of the state's size rather than a log of every write so far.
void SimHost::SaveState(const std::string& name) const {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(db_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
  for (const char* suffix : {"", "-wal"}) CopyIfPresent(db_ + suffix, db_ + "." + name + suffix);
}

void SimHost::RestoreState(const std::string& name) const {
  for (const char* suffix : {"", "-wal"}) CopyIfPresent(db_ + "." + name + suffix, db_ + suffix);
  std::filesystem::remove(db_ + "-shm");
}

std::string SimHost::Groups() const {
  const RunResult r = Hostsim({"groups"});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

void SimHost::ExpectOnlyReadingCalls() const {
  std::istringstream calls(Hostsim({"calls"}).out);
  for (std::string call, node; calls >> call >> node; calls.ignore(1 << 20, '\n')) {
    EXPECT_TRUE(call != "KNI_Set" || node == "sched_groupPathNameToID") << node;
  }
}

}  // namespace e2e
