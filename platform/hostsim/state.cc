#include "platform/hostsim/state.h"

#include <errno.h>
#include <pwd.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/hostsim/sql.h"

namespace hostsim {
namespace {

// Long enough to outwait any other process's transaction (they last
// microseconds), short enough that a stuck file is reported.
constexpr int kBusyTimeoutMs = 5000;

// Statements that change the schema must stay idempotent: every process runs
// them when it opens the file, and a file made by an older build gains the
// tables it lacks. Reset() clears every table listed in kClearTables. A
// statement of several lines stands in parentheses: one element, not a
// forgotten comma.
const char* const kSchema[] = {
    ("CREATE TABLE IF NOT EXISTS host ("
     " singleton INTEGER PRIMARY KEY CHECK (singleton = 1),"
     " num_pcpus INTEGER NOT NULL, is_vm INTEGER NOT NULL, is_installer INTEGER NOT NULL,"
     " phys_kb INTEGER NOT NULL, max_vms INTEGER NOT NULL, boot_cmdline TEXT NOT NULL,"
     " kernel_build TEXT,"
     " next_group_id INTEGER NOT NULL, tracing INTEGER NOT NULL, leaks INTEGER NOT NULL)"),
    ("CREATE TABLE IF NOT EXISTS groups ("
     " id INTEGER PRIMARY KEY, parent INTEGER, name TEXT NOT NULL, path TEXT NOT NULL UNIQUE,"
     " mem_min INTEGER NOT NULL, mem_max INTEGER NOT NULL, mem_shares INTEGER NOT NULL,"
     " mem_min_limit INTEGER NOT NULL,"
     " cpu_min INTEGER NOT NULL, cpu_max INTEGER NOT NULL, cpu_shares INTEGER NOT NULL,"
     " cpu_min_limit INTEGER NOT NULL,"
     " worlds INTEGER NOT NULL, rminpeak_kb INTEGER NOT NULL, rminchildpeak_kb INTEGER NOT NULL)"),
    "CREATE INDEX IF NOT EXISTS groups_by_parent ON groups (parent, id)",
    // The fail and crash rules and the store faults; kind is a RuleKind.
    ("CREATE TABLE IF NOT EXISTS rules ("
     " id INTEGER PRIMARY KEY, kind INTEGER NOT NULL, call TEXT NOT NULL, node TEXT, path TEXT,"
     " status INTEGER NOT NULL, skip INTEGER NOT NULL, times INTEGER NOT NULL)"),
    "CREATE INDEX IF NOT EXISTS rules_by_call ON rules (call, id)",
    ("CREATE TABLE IF NOT EXISTS trace ("
     " seq INTEGER PRIMARY KEY, call TEXT NOT NULL, node TEXT NOT NULL, ids TEXT NOT NULL,"
     " inputs TEXT NOT NULL, result TEXT NOT NULL)"),
    // A double is kept as its bits in `value`: SQLite turns a NaN into NULL.
    ("CREATE TABLE IF NOT EXISTS config_values ("
     " component TEXT NOT NULL, grp TEXT NOT NULL, key TEXT NOT NULL, path TEXT NOT NULL,"
     " name TEXT NOT NULL, type INTEGER NOT NULL, value INTEGER NOT NULL, text TEXT NOT NULL,"
     " PRIMARY KEY (component, grp, key, path, name))"),
    // No row: the store is there.
    ("CREATE TABLE IF NOT EXISTS config_store ("
     " singleton INTEGER PRIMARY KEY CHECK (singleton = 1), available INTEGER NOT NULL)"),
    "CREATE TABLE IF NOT EXISTS switches (name TEXT PRIMARY KEY, on_ INTEGER NOT NULL)",
};

const char* const kClearTables[] = {
    "DELETE FROM groups",        "DELETE FROM rules",        "DELETE FROM trace",
    "DELETE FROM config_values", "DELETE FROM config_store", "DELETE FROM switches",
};

std::string HomeFolder() {
  const char* home = getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  struct passwd pw;
  struct passwd* found = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && *found->pw_dir != '\0') {
    return found->pw_dir;
  }
  throw StateError("HOSTSIM_DB is not set and the user has no home folder");
}

}  // namespace

std::string StateFilePath() {
  const char* env = getenv("HOSTSIM_DB");
  if (env != nullptr && *env != '\0') return env;
  std::string dir = HomeFolder();
  for (const char* part : {"/.local", "/state", "/hostsim"}) {
    dir += part;
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      throw StateError("cannot create " + dir + ": " + strerror(errno));
    }
  }
  return dir + "/host.db";
}

State::State(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

State::~State() {
  for (auto& entry : statements_) sqlite3_finalize(entry.second);
  sqlite3_close(db_);
}

void State::Fail(const std::string& what) {
  throw StateError(path_ + ": " + sqlite3_errmsg(db_) + " (" + what + ")");
}

sqlite3_stmt* State::Prepare(const char* sql) {
  auto found = statements_.find(sql);
  if (found != statements_.end()) return found->second;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
    Fail(sql);
  }
  statements_.emplace(sql, stmt);
  return stmt;
}

std::unique_ptr<State> State::Open(const std::string& path, bool mustExist) {
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (mustExist ? 0 : SQLITE_OPEN_CREATE);
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    throw StateError(path + ": " + message);
  }
  std::unique_ptr<State> state(new State(db, path));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // Closing would otherwise checkpoint the log, which costs milliseconds
  // in every short-lived process; the writers' automatic checkpoints suffice.
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  // Switching a new file to WAL needs the file to itself; processes that
  // start together on a missing file take turns here.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc != SQLITE_BUSY || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (rc != SQLITE_OK) state->Fail("PRAGMA journal_mode");
  Stmt(*state, "PRAGMA synchronous=NORMAL").Run();
  state->Write([&] {
    for (const char* sql : kSchema) {
      // Run once per process: not worth a cached statement.
      if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) state->Fail(sql);
    }
    Stmt count(*state, "SELECT count(*) FROM host");
    if (count.Step() && count.Int(0) == 0) state->Reset(Facts());
  });
  return state;
}

void State::Transaction(const char* begin, const std::function<void()>& fn) {
  Stmt(*this, begin).Run();
  try {
    fn();
    Stmt(*this, "COMMIT").Run();
  } catch (...) {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void State::Write(const std::function<void()>& fn) { Transaction("BEGIN IMMEDIATE", fn); }

void State::Read(const std::function<void()>& fn) { Transaction("BEGIN", fn); }

void State::Reset(const Facts& f) {
  for (const char* sql : kClearTables) Stmt(*this, sql).Run();
  // Ids are counted from 1, after the root's.
  Stmt(*this, "INSERT OR REPLACE INTO host VALUES (1, ?1, ?2, ?3, ?4, ?5, ?6, NULL, 1, 0, 0)",
       f.numPCPUs, f.isVm, f.isInstaller, f.physKB, f.maxVMs, f.bootCmdLine)
      .Run();
  // The root, whose path is empty; host below it, and below host system, opt and user.
  Stmt(*this,
       "INSERT INTO groups VALUES (0, NULL, '', '', 0, -1, -1, -1, 0, -1, 1000, -1, 0, 0, 0)")
      .Run();
  const Group host = *groups().Find(groups().Add(Group(), "host", kNewGroupMem, kNewGroupCpu));
  for (const char* name : {"system", "opt", "user"}) {
    groups().Add(host, name, kNewGroupMem, kNewGroupCpu);
  }
}

std::vector<std::string> State::Problems() {
  std::vector<std::string> problems;
  {
    Stmt q(*this, "PRAGMA integrity_check");
    while (q.Step()) {
      if (q.Text(0) != "ok") problems.push_back("integrity: " + q.Text(0));
    }
  }
  // A damaged file can make the tree unreadable too; its own report says why.
  if (problems.empty()) groups().AddProblems(&problems);
  return problems;
}

}  // namespace hostsim
