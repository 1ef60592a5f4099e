// The simulated host's persistent state: one SQLite file that every process
// using the host shares. Each operation of the library and of the hostsim tool
// is one transaction on it, so concurrent processes see each other's changes
// whole, and a process killed at any moment leaves the file consistent.
//
// State is the connection and its transactions; it hands out its parts, one
// concern each: the group tree, the rules, the trace and leak count, and what
// the host is set up with (facts, kernel build, configuration store, switches).
#ifndef PLATFORM_HOSTSIM_STATE_H_
#define PLATFORM_HOSTSIM_STATE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace hostsim {

// One allocation record of a group; the CPU record uses the same four fields
// but the kernel keeps them 32 bits wide.
struct Allocation {
  int64_t min = 0;
  int64_t max = -1;
  int64_t shares = -1;
  int64_t minLimit = -1;
};

inline constexpr Allocation kNewGroupMem = {0, -1, -1, -1};
inline constexpr Allocation kNewGroupCpu = {0, -1, 1000, -1};

struct Group {
  uint64_t id = 0;
  std::optional<uint64_t> parent;  // none for the root
  std::string name;
  std::string path;  // the root's is empty; every other is its parent's plus "/" and name
  Allocation mem = kNewGroupMem;
  Allocation cpu = kNewGroupCpu;
  uint64_t worlds = 0;
  uint64_t rminpeakKB = 0;
  uint64_t rminchildpeakKB = 0;
};

struct Facts {
  uint32_t numPCPUs = 16;
  bool isVm = false;
  bool isInstaller = false;
  uint64_t physKB = 67108864;
  uint32_t maxVMs = 512;
  std::string bootCmdLine;
};

// What a rule does when it fires: fail the call with its status; kill the
// calling process before the call takes effect, or once its effect is
// committed; make a configuration value read throw the store's exception or a
// plain std::runtime_error.
enum class RuleKind { kFail, kCrash, kCrashAfter, kStore, kStd };

// The call name under which configuration value reads are traced and ruled.
inline constexpr char kStoreReadCall[] = "GetValue";

// A rule on the calls named `call` (a configuration value read is
// kStoreReadCall): the first `skip` matching calls pass, the next `times` fire
// it (times 0: every one after the skipped). A crash rule fires once, whatever
// its times.
struct Rule {
  std::string call;
  std::optional<std::string> node;  // none: any node
  std::optional<std::string> path;  // none: any group, or none at all
  uint32_t status = 0;              // what a failing rule fails with
  uint64_t skip = 0;
  uint64_t times = 1;
  RuleKind kind = RuleKind::kFail;
};

// Where a configuration value lives: an object, named by three texts, and
// the sub-objects below it, outermost first.
struct ConfigPlace {
  std::string component;
  std::string group;
  std::string key;
  std::vector<std::string> subObjects;
};

struct ConfigValue {
  enum class Type { kInt, kDouble, kText };
  Type type = Type::kInt;
  int64_t intValue = 0;
  double doubleValue = 0;
  std::string text;
};

struct TraceEntry {
  std::string call;
  std::string node;
  std::string ids;
  std::string inputs;
  std::string result;
};

// The path of the group called name below the group at parentPath.
inline std::string ChildPath(const std::string& parentPath, const std::string& name) {
  return parentPath.empty() ? name : parentPath + "/" + name;
}

class StateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The file the library and the tool use: HOSTSIM_DB, or the per-user default
// (whose folders are created here). Throws StateError when neither can be had.
std::string StateFilePath();

class State;

// A part of the state: the operations on some of its tables, handed out by
// State. Each must run inside State::Write (changes) or State::Read.
class Part {
 public:
  explicit Part(State& state) : state_(state) {}

 protected:
  State& state_;
};

class Groups : public Part {
 public:
  using Part::Part;
  std::optional<Group> Find(uint64_t id);
  std::optional<Group> Find(const std::string& path);
  // In creation order.
  std::vector<uint64_t> ChildIds(uint64_t id);
  // Ascending by path, byte by byte.
  std::vector<Group> All();
  // Adds a child below parent without any check; returns its new id.
  uint64_t Add(const Group& parent, const std::string& name, const Allocation& mem,
               const Allocation& cpu);
  // Deletes the group and every group below it.
  void DeleteSubtree(const Group& group);
  // Stores the group's records, worlds and statistics.
  void Update(const Group& group);
  // Adds what is wrong with the tree, one line each.
  void AddProblems(std::vector<std::string>* problems);
};

// The path a call is about, asked only when a rule names one.
using PathFn = std::function<std::optional<std::string>()>;

// The rules that a call made fire: at most one crash rule and one other.
struct Fired {
  std::optional<Rule> crash;
  std::optional<Rule> other;
};

class Rules : public Part {
 public:
  using Part::Part;
  void Add(const Rule& rule);
  // The fail and crash rules left (not the store faults): the fail rules,
  // then the crash rules, each oldest first.
  std::vector<Rule> List();
  // Drops the fail and crash rules.
  void Clear();
  // Whether any rule names the call; a plain read, also outside a transaction.
  bool Any(const std::string& call);
  // Counts this call against the rules of `call`, the crash rules first,
  // then the others unless a crash rule fired before the call (or any crash
  // rule, with crashEnds): among each, every matching rule that still skips
  // uses up one skip, and the oldest matching rule that skips no more fires.
  // A caller that dies for a crash rule must commit first, so that the rule
  // fires once.
  Fired Consume(const std::string& call, const std::string& node, const PathFn& path = {},
                bool crashEnds = false);
};

// The trace of calls and the count of leaked parameter lists.
class Log : public Part {
 public:
  using Part::Part;
  void SetTracing(bool on);
  // Appends the entry while tracing is on.
  void Record(const TraceEntry& entry);
  std::vector<TraceEntry> Entries();
  void Clear();
  uint64_t Leaks();
  void AddLeaks(uint64_t count);
  void ClearLeaks();
};

// What the host is set up with: its facts, its kernel's build date, the
// configuration store and the feature switches.
class Settings : public Part {
 public:
  using Part::Part;
  Facts GetFacts();
  void SetFacts(const Facts& facts);
  // The simulated kernel's build date; none: the library's own.
  std::optional<std::string> KernelBuild();
  void SetKernelBuild(const std::optional<std::string>& date);
  bool StoreAvailable();
  void SetStoreAvailable(bool available);
  // An object, or a sub-object, of the store exists while some value lies in
  // it or below it.
  bool ObjectExists(const ConfigPlace& place);
  std::optional<ConfigValue> Value(const ConfigPlace& place, const std::string& name);
  void SetValue(const ConfigPlace& place, const std::string& name, const ConfigValue& value);
  // False when there was no such value.
  bool RemoveValue(const ConfigPlace& place, const std::string& name);
  // None for a name the host does not know.
  std::optional<bool> Switch(const std::string& name);
  void SetSwitch(const std::string& name, bool on);
  // False when there was no such switch.
  bool RemoveSwitch(const std::string& name);
};

class State {
 public:
  // A missing file is created with the default host, unless mustExist, when
  // opening it throws instead.
  static std::unique_ptr<State> Open(const std::string& path, bool mustExist = false);
  ~State();
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  // One transaction around fn: Write takes the write lock first (waiting
  // for other writers up to the busy timeout) so that it never fails
  // half-way; Read sees one snapshot. A throwing fn rolls back.
  void Write(const std::function<void()>& fn);
  void Read(const std::function<void()>& fn);

  // Back to the default host with these facts: groups, rules, trace, leak
  // count and everything else reset, ids counted from the start again.
  void Reset(const Facts& facts);
  // Everything wrong with the file: SQLite's integrity check, then the
  // tree's invariants. One line each; none when the state is sound.
  std::vector<std::string> Problems();

  Groups groups() { return Groups(*this); }
  Rules rules() { return Rules(*this); }
  Log log() { return Log(*this); }
  Settings settings() { return Settings(*this); }

 private:
  friend class Stmt;
  State(sqlite3* db, std::string path);
  void Transaction(const char* begin, const std::function<void()>& fn);
  sqlite3_stmt* Prepare(const char* sql);
  [[noreturn]] void Fail(const std::string& what);

  sqlite3* db_;
  std::string path_;
  // Keyed by the SQL text's address: every statement text lives as long as
  // the program, so each is compiled once per connection.
  std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

}  // namespace hostsim

#endif  // PLATFORM_HOSTSIM_STATE_H_
