#include "platform/hostsim/state.h"

#include <errno.h>
#include <pwd.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "platform/hostsim/listing.h"

namespace hostsim {
namespace {

// Long enough to outwait any other process's transaction (they last
// microseconds), short enough that a stuck file is reported.
constexpr int kBusyTimeoutMs = 5000;

// The ids of the default groups; new groups are numbered from kFirstNewId.
constexpr uint64_t kFirstNewId = 5;

// Statements that change the schema must stay idempotent: every process runs
// them when it opens the file, and a file made by an older build gains the
// tables it lacks. Reset() clears every table listed in kClearTables.
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS host ("
    " singleton INTEGER PRIMARY KEY CHECK (singleton = 1),"
    " num_pcpus INTEGER NOT NULL, is_vm INTEGER NOT NULL, is_installer INTEGER NOT NULL,"
    " phys_kb INTEGER NOT NULL, max_vms INTEGER NOT NULL, boot_cmdline TEXT NOT NULL,"
    " kernel_build TEXT,"
    " next_group_id INTEGER NOT NULL, tracing INTEGER NOT NULL, leaks INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS groups ("
    " id INTEGER PRIMARY KEY, parent INTEGER, name TEXT NOT NULL, path TEXT NOT NULL UNIQUE,"
    " mem_min INTEGER NOT NULL, mem_max INTEGER NOT NULL, mem_shares INTEGER NOT NULL,"
    " mem_min_limit INTEGER NOT NULL,"
    " cpu_min INTEGER NOT NULL, cpu_max INTEGER NOT NULL, cpu_shares INTEGER NOT NULL,"
    " cpu_min_limit INTEGER NOT NULL,"
    " worlds INTEGER NOT NULL, rminpeak_kb INTEGER NOT NULL, rminchildpeak_kb INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS groups_by_parent ON groups (parent, id)",
    "CREATE TABLE IF NOT EXISTS fault_rules ("
    " id INTEGER PRIMARY KEY, call TEXT NOT NULL, node TEXT, path TEXT,"
    " status INTEGER NOT NULL, skip INTEGER NOT NULL, times INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS fault_rules_by_call ON fault_rules (call, id)",
    "CREATE TABLE IF NOT EXISTS crash_rules ("
    " id INTEGER PRIMARY KEY, call TEXT NOT NULL, node TEXT, path TEXT,"
    " skip INTEGER NOT NULL, after INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS trace ("
    " seq INTEGER PRIMARY KEY, call TEXT NOT NULL, node TEXT NOT NULL, ids TEXT NOT NULL,"
    " inputs TEXT NOT NULL, result TEXT NOT NULL)",
    // A double is kept as its bits in `value`: SQLite turns a NaN into NULL.
    "CREATE TABLE IF NOT EXISTS config_values ("
    " component TEXT NOT NULL, grp TEXT NOT NULL, key TEXT NOT NULL, path TEXT NOT NULL,"
    " name TEXT NOT NULL, type INTEGER NOT NULL, value INTEGER NOT NULL, text TEXT NOT NULL,"
    " PRIMARY KEY (component, grp, key, path, name))",
    // No row: the store is there.
    "CREATE TABLE IF NOT EXISTS config_store ("
    " singleton INTEGER PRIMARY KEY CHECK (singleton = 1), available INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS config_faults ("
    " id INTEGER PRIMARY KEY, kind INTEGER NOT NULL, times INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS switches (name TEXT PRIMARY KEY, on_ INTEGER NOT NULL)",
};

const char* const kClearTables[] = {
    "DELETE FROM groups",        "DELETE FROM fault_rules",  "DELETE FROM trace",
    "DELETE FROM config_values", "DELETE FROM config_store", "DELETE FROM config_faults",
    "DELETE FROM switches",      "DELETE FROM crash_rules",
};

const char kGroupColumns[] =
    "id, parent, name, path, mem_min, mem_max, mem_shares, mem_min_limit,"
    " cpu_min, cpu_max, cpu_shares, cpu_min_limit, worlds, rminpeak_kb, rminchildpeak_kb";

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

// A sub-object path as one text: each name preceded by its length and ":",
// so that no two paths share a text, whatever bytes the names hold, and the
// text of a path begins with the text of each path above it.
std::string EncodePath(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += std::to_string(name.size()) + ":" + name;
  return text;
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

// A cached statement in use: bound on the way in, reset on the way out so
// that it holds no read lock and no stale bindings between uses.
class State::Stmt {
 public:
  Stmt(State& state, const char* sql) : state_(state), stmt_(state.Prepare(sql)) {}
  ~Stmt() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  Stmt& Int(int index, int64_t value) {
    Check(sqlite3_bind_int64(stmt_, index, value));
    return *this;
  }
  Stmt& UInt(int index, uint64_t value) { return Int(index, static_cast<int64_t>(value)); }
  // Copied: callers pass temporaries that die before the statement runs.
  Stmt& Text(int index, const std::string& text) {
    Check(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT));
    return *this;
  }
  Stmt& OptText(int index, const std::optional<std::string>& text) {
    if (text) return Text(index, *text);
    Check(sqlite3_bind_null(stmt_, index));
    return *this;
  }

  // True while there is a row to read.
  bool Step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    state_.Fail(sqlite3_sql(stmt_));
  }
  void Run() {
    while (Step()) {
    }
  }

  int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }
  uint64_t UInt(int col) { return static_cast<uint64_t>(Int(col)); }
  bool IsNull(int col) { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
  std::string Text(int col) {
    const unsigned char* text = sqlite3_column_text(stmt_, col);
    return text == nullptr ? std::string()
                           : std::string(reinterpret_cast<const char*>(text),
                                         static_cast<size_t>(sqlite3_column_bytes(stmt_, col)));
  }
  std::optional<std::string> OptText(int col) {
    if (IsNull(col)) return std::nullopt;
    return Text(col);
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) state_.Fail("bind");
  }

  State& state_;
  sqlite3_stmt* stmt_;
};

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

void State::Exec(const char* sql) { Stmt(*this, sql).Run(); }

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
  state->Exec("PRAGMA synchronous=NORMAL");
  state->Write([&] { state->CreateSchema(); });
  return state;
}

void State::CreateSchema() {
  for (const char* sql : kSchema) {
    // Run once per process: not worth a cached statement.
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }
  Stmt count(*this, "SELECT count(*) FROM host");
  count.Step();
  if (count.Int(0) == 0) Reset(Facts());
}

void State::Write(const std::function<void()>& fn) {
  Exec("BEGIN IMMEDIATE");
  try {
    fn();
    Exec("COMMIT");
  } catch (...) {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void State::Read(const std::function<void()>& fn) {
  Exec("BEGIN");
  try {
    fn();
    Exec("COMMIT");
  } catch (...) {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void State::Reset(const Facts& facts) {
  for (const char* sql : kClearTables) Exec(sql);
  Stmt(*this, "INSERT OR REPLACE INTO host VALUES (1, ?1, ?2, ?3, ?4, ?5, ?6, NULL, ?7, 0, 0)")
      .Int(1, facts.numPCPUs)
      .Int(2, facts.isVm)
      .Int(3, facts.isInstaller)
      .UInt(4, facts.physKB)
      .Int(5, facts.maxVMs)
      .Text(6, facts.bootCmdLine)
      .UInt(7, kFirstNewId)
      .Run();
  InsertDefaultGroups();
}

void State::InsertDefaultGroups() {
  struct Default {
    uint64_t id;
    std::optional<uint64_t> parent;
    const char* name;
    const char* path;
  };
  const Default defaults[] = {
      {0, std::nullopt, "", ""}, {1, 0, "host", "host"},      {2, 1, "system", "host/system"},
      {3, 1, "opt", "host/opt"}, {4, 1, "user", "host/user"},
  };
  for (const Default& d : defaults) {
    Stmt insert(
        *this,
        "INSERT INTO groups VALUES (?1, ?2, ?3, ?4, 0, -1, -1, -1, 0, -1, 1000, -1, 0, 0, 0)");
    insert.UInt(1, d.id).Text(3, d.name).Text(4, d.path);
    if (d.parent) insert.UInt(2, *d.parent);
    insert.Run();
  }
}

Facts State::GetFacts() {
  Stmt q(*this, "SELECT num_pcpus, is_vm, is_installer, phys_kb, max_vms, boot_cmdline FROM host");
  if (!q.Step()) Fail("no host row");
  Facts f;
  f.numPCPUs = static_cast<uint32_t>(q.Int(0));
  f.isVm = q.Int(1) != 0;
  f.isInstaller = q.Int(2) != 0;
  f.physKB = q.UInt(3);
  f.maxVMs = static_cast<uint32_t>(q.Int(4));
  f.bootCmdLine = q.Text(5);
  return f;
}

void State::SetFacts(const Facts& f) {
  Stmt(*this,
       "UPDATE host SET num_pcpus = ?1, is_vm = ?2, is_installer = ?3, phys_kb = ?4,"
       " max_vms = ?5, boot_cmdline = ?6")
      .Int(1, f.numPCPUs)
      .Int(2, f.isVm)
      .Int(3, f.isInstaller)
      .UInt(4, f.physKB)
      .Int(5, f.maxVMs)
      .Text(6, f.bootCmdLine)
      .Run();
}

std::optional<std::string> State::KernelBuild() {
  Stmt q(*this, "SELECT kernel_build FROM host");
  if (!q.Step()) Fail("no host row");
  return q.OptText(0);
}

void State::SetKernelBuild(const std::optional<std::string>& date) {
  Stmt(*this, "UPDATE host SET kernel_build = ?1").OptText(1, date).Run();
}

namespace {

template <typename Row>
Group ReadGroup(Row& q) {
  Group g;
  g.id = q.UInt(0);
  if (!q.IsNull(1)) g.parent = q.UInt(1);
  g.name = q.Text(2);
  g.path = q.Text(3);
  g.mem = {q.Int(4), q.Int(5), q.Int(6), q.Int(7)};
  g.cpu = {q.Int(8), q.Int(9), q.Int(10), q.Int(11)};
  g.worlds = q.UInt(12);
  g.rminpeakKB = q.UInt(13);
  g.rminchildpeakKB = q.UInt(14);
  return g;
}

}  // namespace

std::optional<Group> State::FindGroup(uint64_t id) {
  static const std::string sql =
      std::string("SELECT ") + kGroupColumns + " FROM groups WHERE id = ?1";
  Stmt q(*this, sql.c_str());
  q.UInt(1, id);
  if (!q.Step()) return std::nullopt;
  return ReadGroup(q);
}

std::optional<Group> State::FindGroup(const std::string& path) {
  static const std::string sql =
      std::string("SELECT ") + kGroupColumns + " FROM groups WHERE path = ?1";
  Stmt q(*this, sql.c_str());
  q.Text(1, path);
  if (!q.Step()) return std::nullopt;
  return ReadGroup(q);
}

std::vector<uint64_t> State::ChildIds(uint64_t id) {
  Stmt q(*this, "SELECT id FROM groups WHERE parent = ?1 ORDER BY id");
  q.UInt(1, id);
  std::vector<uint64_t> ids;
  while (q.Step()) ids.push_back(q.UInt(0));
  return ids;
}

std::vector<Group> State::AllGroups() {
  static const std::string sql =
      std::string("SELECT ") + kGroupColumns + " FROM groups ORDER BY path";
  Stmt q(*this, sql.c_str());
  std::vector<Group> groups;
  while (q.Step()) groups.push_back(ReadGroup(q));
  return groups;
}

uint64_t State::AddGroup(const Group& parent, const std::string& name, const Allocation& mem,
                         const Allocation& cpu) {
  Stmt next(*this, "SELECT next_group_id FROM host");
  if (!next.Step()) Fail("no host row");
  uint64_t id = next.UInt(0);
  std::string path = ChildPath(parent.path, name);
  Stmt(*this,
       "INSERT INTO groups VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, 0, 0, 0)")
      .UInt(1, id)
      .UInt(2, parent.id)
      .Text(3, name)
      .Text(4, path)
      .Int(5, mem.min)
      .Int(6, mem.max)
      .Int(7, mem.shares)
      .Int(8, mem.minLimit)
      .Int(9, cpu.min)
      .Int(10, cpu.max)
      .Int(11, cpu.shares)
      .Int(12, cpu.minLimit)
      .Run();
  Stmt(*this, "UPDATE host SET next_group_id = ?1").UInt(1, id + 1).Run();
  return id;
}

void State::DeleteSubtree(const Group& group) {
  Stmt(*this,
       "WITH RECURSIVE below(id) AS (SELECT ?1 UNION ALL"
       " SELECT g.id FROM groups g JOIN below b ON g.parent = b.id)"
       " DELETE FROM groups WHERE id IN below")
      .UInt(1, group.id)
      .Run();
}

void State::UpdateGroup(const Group& g) {
  Stmt(*this,
       "UPDATE groups SET mem_min = ?2, mem_max = ?3, mem_shares = ?4, mem_min_limit = ?5,"
       " cpu_min = ?6, cpu_max = ?7, cpu_shares = ?8, cpu_min_limit = ?9, worlds = ?10,"
       " rminpeak_kb = ?11, rminchildpeak_kb = ?12 WHERE id = ?1")
      .UInt(1, g.id)
      .Int(2, g.mem.min)
      .Int(3, g.mem.max)
      .Int(4, g.mem.shares)
      .Int(5, g.mem.minLimit)
      .Int(6, g.cpu.min)
      .Int(7, g.cpu.max)
      .Int(8, g.cpu.shares)
      .Int(9, g.cpu.minLimit)
      .UInt(10, g.worlds)
      .UInt(11, g.rminpeakKB)
      .UInt(12, g.rminchildpeakKB)
      .Run();
}

void State::AddFaultRule(const FaultRule& r) {
  Stmt(*this,
       "INSERT INTO fault_rules (call, node, path, status, skip, times)"
       " VALUES (?1, ?2, ?3, ?4, ?5, ?6)")
      .Text(1, r.call)
      .OptText(2, r.node)
      .OptText(3, r.path)
      .Int(4, r.status)
      .UInt(5, r.skip)
      .UInt(6, r.times)
      .Run();
}

std::vector<FaultRule> State::FaultRules() {
  Stmt q(*this, "SELECT call, node, path, status, skip, times FROM fault_rules ORDER BY id");
  std::vector<FaultRule> rules;
  while (q.Step()) {
    rules.push_back({q.Text(0), q.OptText(1), q.OptText(2), static_cast<uint32_t>(q.Int(3)),
                     q.UInt(4), q.UInt(5)});
  }
  return rules;
}

void State::ClearFaultRules() {
  Exec("DELETE FROM fault_rules");
  Exec("DELETE FROM crash_rules");
}

bool State::HasFaultRule(const std::string& call) {
  Stmt q(*this,
         "SELECT 1 FROM fault_rules WHERE call = ?1"
         " UNION ALL SELECT 1 FROM crash_rules WHERE call = ?1 LIMIT 1");
  q.Text(1, call);
  return q.Step();
}

namespace {

// Whether a rule's node and path select this call; the call's path is asked
// at most once, and only when a rule names one.
class RuleMatcher {
 public:
  RuleMatcher(const std::string& node, const std::function<std::optional<std::string>()>& path)
      : node_(node), path_(path) {}

  bool operator()(const std::optional<std::string>& node, const std::optional<std::string>& path) {
    if (node && *node != node_) return false;
    if (!path) return true;
    if (!subject_) subject_ = path_();
    return *subject_ && **subject_ == *path;
  }

 private:
  const std::string& node_;
  const std::function<std::optional<std::string>()>& path_;
  std::optional<std::optional<std::string>> subject_;
};

}  // namespace

std::optional<uint32_t> State::ConsumeFault(
    const std::string& call, const std::string& node,
    const std::function<std::optional<std::string>()>& path) {
  struct Row {
    int64_t id;
    FaultRule rule;
  };
  std::vector<Row> rows;
  {
    Stmt q(*this,
           "SELECT id, node, path, status, skip, times FROM fault_rules WHERE call = ?1"
           " ORDER BY id");
    q.Text(1, call);
    while (q.Step()) {
      rows.push_back({q.Int(0),
                      {call, q.OptText(1), q.OptText(2), static_cast<uint32_t>(q.Int(3)), q.UInt(4),
                       q.UInt(5)}});
    }
  }
  if (rows.empty()) return std::nullopt;

  RuleMatcher matches(node, path);
  std::optional<uint32_t> fired;
  for (const Row& row : rows) {
    const FaultRule& r = row.rule;
    if (!matches(r.node, r.path)) continue;
    if (r.skip > 0) {
      Stmt(*this, "UPDATE fault_rules SET skip = skip - 1 WHERE id = ?1").Int(1, row.id).Run();
    } else if (!fired) {
      fired = r.status;
      if (r.times == 1) {
        Stmt(*this, "DELETE FROM fault_rules WHERE id = ?1").Int(1, row.id).Run();
      } else if (r.times > 1) {
        Stmt(*this, "UPDATE fault_rules SET times = times - 1 WHERE id = ?1").Int(1, row.id).Run();
      }
    }
  }
  return fired;
}

void State::AddCrashRule(const CrashRule& r) {
  Stmt(*this, "INSERT INTO crash_rules (call, node, path, skip, after) VALUES (?1, ?2, ?3, ?4, ?5)")
      .Text(1, r.call)
      .OptText(2, r.node)
      .OptText(3, r.path)
      .UInt(4, r.skip)
      .Int(5, r.after)
      .Run();
}

std::vector<CrashRule> State::CrashRules() {
  Stmt q(*this, "SELECT call, node, path, skip, after FROM crash_rules ORDER BY id");
  std::vector<CrashRule> rules;
  while (q.Step()) rules.push_back({q.Text(0), q.OptText(1), q.OptText(2), q.UInt(3), q.Int(4) != 0});
  return rules;
}

std::optional<bool> State::ConsumeCrash(const std::string& call, const std::string& node,
                                        const std::function<std::optional<std::string>()>& path) {
  struct Row {
    int64_t id;
    CrashRule rule;
  };
  std::vector<Row> rows;
  {
    Stmt q(*this,
           "SELECT id, node, path, skip, after FROM crash_rules WHERE call = ?1 ORDER BY id");
    q.Text(1, call);
    while (q.Step()) {
      rows.push_back({q.Int(0), {call, q.OptText(1), q.OptText(2), q.UInt(3), q.Int(4) != 0}});
    }
  }
  RuleMatcher matches(node, path);
  std::optional<bool> fired;
  for (const Row& row : rows) {
    if (!matches(row.rule.node, row.rule.path)) continue;
    if (row.rule.skip > 0) {
      Stmt(*this, "UPDATE crash_rules SET skip = skip - 1 WHERE id = ?1").Int(1, row.id).Run();
    } else if (!fired) {
      fired = row.rule.after;
      Stmt(*this, "DELETE FROM crash_rules WHERE id = ?1").Int(1, row.id).Run();
    }
  }
  return fired;
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
  if (problems.empty()) GroupProblems(&problems);
  return problems;
}

namespace {

// Setting a record keeps its maximum at or above its minimum, but raising a
// memory minimum (an annex reservation, also in a parent disabled to 0,0)
// moves the maximum only by its own amount: a memory maximum may then lie
// below the minimum.
bool ValidRecord(const Allocation& a, int64_t lo, int64_t hi, bool maxBelowMin) {
  for (int64_t v : {a.min, a.max, a.shares, a.minLimit}) {
    if (v < lo || v > hi) return false;
  }
  return a.min >= 0 && (a.max == -1 || a.max >= (maxBelowMin ? 0 : a.min));
}

std::string RecordText(const Allocation& a) {
  return std::to_string(a.min) + "," + std::to_string(a.max) + "," + std::to_string(a.shares) +
         "," + std::to_string(a.minLimit);
}

}  // namespace

void State::GroupProblems(std::vector<std::string>* problems) {
  auto problem = [&](const Group& g, const std::string& what) {
    problems->push_back("group " + std::to_string(g.id) + " (" + Printable(g.path) + "): " + what);
  };
  {
    // Every column of both records must hold an integer: a record read as
    // zeros because a field is NULL or text would pass the checks below.
    Stmt q(*this,
           "SELECT id FROM groups WHERE typeof(mem_min) || typeof(mem_max) || typeof(mem_shares)"
           " || typeof(mem_min_limit) || typeof(cpu_min) || typeof(cpu_max) || typeof(cpu_shares)"
           " || typeof(cpu_min_limit) != 'integerintegerintegerintegerintegerintegerinteger"
           "integer' ORDER BY id");
    while (q.Step()) {
      problems->push_back("group " + std::to_string(q.UInt(0)) + ": allocation record missing");
    }
  }
  Stmt next(*this, "SELECT next_group_id FROM host");
  if (!next.Step()) {
    problems->push_back("no host record");
    return;
  }
  const uint64_t nextId = next.UInt(0);
  std::map<uint64_t, Group> byId;
  std::set<std::pair<uint64_t, std::string>> names;
  int roots = 0;
  for (Group& g : AllGroups()) {
    if (!byId.emplace(g.id, g).second) problem(g, "id used twice");
    if (g.id >= nextId) problem(g, "id not below the next id " + std::to_string(nextId));
  }
  for (const auto& [id, g] : byId) {
    if (!ValidRecord(g.mem, INT64_MIN, INT64_MAX, true)) {
      problem(g, "invalid memory record " + RecordText(g.mem));
    }
    if (!ValidRecord(g.cpu, INT32_MIN, INT32_MAX, false)) {
      problem(g, "invalid cpu record " + RecordText(g.cpu));
    }
    if (!g.parent) {
      ++roots;
      if (!g.path.empty() || !g.name.empty()) problem(g, "has no parent");
      continue;
    }
    if (g.name.empty() || g.name.find('/') != std::string::npos) {
      problem(g, "invalid name \"" + Printable(g.name) + "\"");
    }
    if (!names.emplace(*g.parent, g.name).second) {
      problem(g, "name taken twice below group " + std::to_string(*g.parent));
    }
    auto parent = byId.find(*g.parent);
    if (parent == byId.end()) {
      problem(g, "parent " + std::to_string(*g.parent) + " does not exist");
      continue;
    }
    if (g.path != ChildPath(parent->second.path, g.name)) {
      problem(g, "path does not match its parent's and its name");
    }
    // A chain longer than the number of groups must come round again.
    uint64_t at = id;
    size_t steps = 0;
    for (; steps <= byId.size(); ++steps) {
      auto up = byId.find(at);
      if (up == byId.end() || !up->second.parent) break;
      at = *up->second.parent;
    }
    if (steps > byId.size()) problem(g, "its parents form a cycle");
  }
  if (roots != 1) problems->push_back(std::to_string(roots) + " root groups");
}

bool State::Tracing() {
  Stmt q(*this, "SELECT tracing FROM host");
  return q.Step() && q.Int(0) != 0;
}

void State::SetTracing(bool on) { Stmt(*this, "UPDATE host SET tracing = ?1").Int(1, on).Run(); }

void State::AppendTrace(const TraceEntry& e) {
  Stmt(*this, "INSERT INTO trace (call, node, ids, inputs, result) VALUES (?1, ?2, ?3, ?4, ?5)")
      .Text(1, e.call)
      .Text(2, e.node)
      .Text(3, e.ids)
      .Text(4, e.inputs)
      .Text(5, e.result)
      .Run();
}

std::vector<TraceEntry> State::Trace() {
  Stmt q(*this, "SELECT call, node, ids, inputs, result FROM trace ORDER BY seq");
  std::vector<TraceEntry> entries;
  while (q.Step()) entries.push_back({q.Text(0), q.Text(1), q.Text(2), q.Text(3), q.Text(4)});
  return entries;
}

void State::ClearTrace() { Exec("DELETE FROM trace"); }

uint64_t State::Leaks() {
  Stmt q(*this, "SELECT leaks FROM host");
  return q.Step() ? q.UInt(0) : 0;
}

void State::AddLeaks(uint64_t count) {
  Stmt(*this, "UPDATE host SET leaks = leaks + ?1").UInt(1, count).Run();
}

void State::ClearLeaks() { Exec("UPDATE host SET leaks = 0"); }

bool State::ConfigStoreAvailable() {
  Stmt q(*this, "SELECT available FROM config_store");
  return !q.Step() || q.Int(0) != 0;
}

void State::SetConfigStoreAvailable(bool available) {
  Stmt(*this, "INSERT OR REPLACE INTO config_store VALUES (1, ?1)").Int(1, available).Run();
}

bool State::ConfigObjectExists(const ConfigPlace& place) {
  const std::string path = EncodePath(place.subObjects);
  Stmt q(*this, "SELECT path FROM config_values WHERE component = ?1 AND grp = ?2 AND key = ?3");
  q.Text(1, place.component).Text(2, place.group).Text(3, place.key);
  while (q.Step()) {
    if (q.Text(0).compare(0, path.size(), path) == 0) return true;
  }
  return false;
}

std::optional<ConfigValue> State::GetConfigValue(const ConfigPlace& place,
                                                 const std::string& name) {
  Stmt q(*this,
         "SELECT type, value, text FROM config_values"
         " WHERE component = ?1 AND grp = ?2 AND key = ?3 AND path = ?4 AND name = ?5");
  q.Text(1, place.component)
      .Text(2, place.group)
      .Text(3, place.key)
      .Text(4, EncodePath(place.subObjects))
      .Text(5, name);
  if (!q.Step()) return std::nullopt;
  ConfigValue value;
  value.type = static_cast<ConfigValue::Type>(q.Int(0));
  if (value.type == ConfigValue::Type::kDouble) {
    int64_t bits = q.Int(1);
    std::memcpy(&value.doubleValue, &bits, sizeof bits);
  } else {
    value.intValue = q.Int(1);
  }
  value.text = q.Text(2);
  return value;
}

void State::SetConfigValue(const ConfigPlace& place, const std::string& name,
                           const ConfigValue& value) {
  int64_t stored = value.intValue;
  if (value.type == ConfigValue::Type::kDouble) {
    std::memcpy(&stored, &value.doubleValue, sizeof stored);
  }
  Stmt(*this, "INSERT OR REPLACE INTO config_values VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)")
      .Text(1, place.component)
      .Text(2, place.group)
      .Text(3, place.key)
      .Text(4, EncodePath(place.subObjects))
      .Text(5, name)
      .Int(6, static_cast<int64_t>(value.type))
      .Int(7, stored)
      .Text(8, value.text)
      .Run();
}

bool State::RemoveConfigValue(const ConfigPlace& place, const std::string& name) {
  Stmt(*this,
       "DELETE FROM config_values"
       " WHERE component = ?1 AND grp = ?2 AND key = ?3 AND path = ?4 AND name = ?5")
      .Text(1, place.component)
      .Text(2, place.group)
      .Text(3, place.key)
      .Text(4, EncodePath(place.subObjects))
      .Text(5, name)
      .Run();
  return sqlite3_changes(db_) > 0;
}

void State::AddConfigFault(ConfigFault fault, uint64_t times) {
  Stmt(*this, "INSERT INTO config_faults (kind, times) VALUES (?1, ?2)")
      .Int(1, static_cast<int64_t>(fault))
      .UInt(2, times)
      .Run();
}

std::optional<ConfigFault> State::ConsumeConfigFault() {
  int64_t id = 0;
  ConfigFault fault = ConfigFault::kStore;
  uint64_t times = 0;
  {
    Stmt q(*this, "SELECT id, kind, times FROM config_faults ORDER BY id LIMIT 1");
    if (!q.Step()) return std::nullopt;
    id = q.Int(0);
    fault = static_cast<ConfigFault>(q.Int(1));
    times = q.UInt(2);
  }
  if (times == 1) {
    Stmt(*this, "DELETE FROM config_faults WHERE id = ?1").Int(1, id).Run();
  } else if (times > 1) {
    Stmt(*this, "UPDATE config_faults SET times = times - 1 WHERE id = ?1").Int(1, id).Run();
  }
  return fault;
}

std::optional<bool> State::Switch(const std::string& name) {
  Stmt q(*this, "SELECT on_ FROM switches WHERE name = ?1");
  q.Text(1, name);
  if (!q.Step()) return std::nullopt;
  return q.Int(0) != 0;
}

void State::SetSwitch(const std::string& name, bool on) {
  Stmt(*this, "INSERT OR REPLACE INTO switches VALUES (?1, ?2)").Text(1, name).Int(2, on).Run();
}

bool State::RemoveSwitch(const std::string& name) {
  Stmt(*this, "DELETE FROM switches WHERE name = ?1").Text(1, name).Run();
  return sqlite3_changes(db_) > 0;
}

}  // namespace hostsim
