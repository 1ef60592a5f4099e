// The simulated host's persistent state: one SQLite file that every process
// using the host shares. Each operation of the library and of the hostsim tool
// is one transaction on it, so concurrent processes see each other's changes
// whole, and a process killed at any moment leaves the file consistent.
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

// Makes the calls of one kind fail: the first `skip` matching calls pass, the
// next `times` fail with `status` (times 0: every one after the skipped).
struct FaultRule {
  std::string call;
  std::optional<std::string> node;  // none: any node
  std::optional<std::string> path;  // none: any group, or none at all
  uint32_t status = 0;
  uint64_t skip = 0;
  uint64_t times = 1;
};

// Kills the calling process at the first matching call after `skip` of them:
// before the call takes effect, or with `after` once its effect is committed.
// Matched like a FaultRule; fires once.
struct CrashRule {
  std::string call;
  std::optional<std::string> node;
  std::optional<std::string> path;
  uint64_t skip = 0;
  bool after = false;
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

// What the next configuration value reads throw instead of answering.
enum class ConfigFault { kStore, kStd };

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

class State {
 public:
  // A missing file is created with the default host, unless mustExist, when
  // opening it throws instead.
  static std::unique_ptr<State> Open(const std::string& path, bool mustExist = false);
  ~State();
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  const std::string& path() const { return path_; }

  // One transaction around fn: Write takes the write lock first (waiting
  // for other writers up to the busy timeout) so that it never fails
  // half-way; Read sees one snapshot. A throwing fn rolls back.
  void Write(const std::function<void()>& fn);
  void Read(const std::function<void()>& fn);

  // The operations below must run inside Write (changes) or Read.

  // Back to the default host with these facts: groups, rules, trace, leak
  // count and everything else reset, ids counted from the start again.
  void Reset(const Facts& facts);

  Facts GetFacts();
  void SetFacts(const Facts& facts);
  // The simulated kernel's build date; none: the library's own.
  std::optional<std::string> KernelBuild();
  void SetKernelBuild(const std::optional<std::string>& date);

  std::optional<Group> FindGroup(uint64_t id);
  std::optional<Group> FindGroup(const std::string& path);
  // In creation order.
  std::vector<uint64_t> ChildIds(uint64_t id);
  // Ascending by path, byte by byte.
  std::vector<Group> AllGroups();
  // Adds a child below parent without any check; returns its new id.
  uint64_t AddGroup(const Group& parent, const std::string& name, const Allocation& mem,
                    const Allocation& cpu);
  // Deletes the group and every group below it.
  void DeleteSubtree(const Group& group);
  // Stores the group's records, worlds and statistics.
  void UpdateGroup(const Group& group);

  void AddFaultRule(const FaultRule& rule);
  std::vector<FaultRule> FaultRules();
  // Drops the crash rules too.
  void ClearFaultRules();
  // Counts this call against the rules of `call`: every matching rule that
  // still skips uses up one skip; the oldest matching rule that skips no more
  // fires. Returns the status to fail with, if one fired. path is asked only
  // when a rule names a path.
  // Whether any fault or crash rule names the call; a plain read, outside a
  // transaction.
  bool HasFaultRule(const std::string& call);
  std::optional<uint32_t> ConsumeFault(const std::string& call, const std::string& node,
                                       const std::function<std::optional<std::string>()>& path);

  void AddCrashRule(const CrashRule& rule);
  std::vector<CrashRule> CrashRules();
  // Counts this call against the crash rules as ConsumeFault does against
  // the fault rules; the rule that fires is deleted, and the result says
  // whether to die after the call (true) or before it (false). The caller
  // must commit before it dies, so that the rule fires once only.
  std::optional<bool> ConsumeCrash(const std::string& call, const std::string& node,
                                   const std::function<std::optional<std::string>()>& path);

  // Everything wrong with the file: SQLite's integrity check, then the
  // tree's invariants. One line each; none when the state is sound.
  std::vector<std::string> Problems();

  bool Tracing();
  void SetTracing(bool on);
  void AppendTrace(const TraceEntry& entry);
  std::vector<TraceEntry> Trace();
  void ClearTrace();

  uint64_t Leaks();
  void AddLeaks(uint64_t count);
  void ClearLeaks();

  // The configuration store. An object, or a sub-object, exists while some
  // value lies in it or below it.
  bool ConfigStoreAvailable();
  void SetConfigStoreAvailable(bool available);
  bool ConfigObjectExists(const ConfigPlace& place);
  std::optional<ConfigValue> GetConfigValue(const ConfigPlace& place, const std::string& name);
  void SetConfigValue(const ConfigPlace& place, const std::string& name, const ConfigValue& value);
  // False when there was no such value.
  bool RemoveConfigValue(const ConfigPlace& place, const std::string& name);
  // Faults are used up oldest first, like fault rules; times 0: for ever.
  void AddConfigFault(ConfigFault fault, uint64_t times);
  std::optional<ConfigFault> ConsumeConfigFault();

  // Feature switches: none for a name the host does not know.
  std::optional<bool> Switch(const std::string& name);
  void SetSwitch(const std::string& name, bool on);
  // False when there was no such switch.
  bool RemoveSwitch(const std::string& name);

 private:
  class Stmt;
  State(sqlite3* db, std::string path);
  void Exec(const char* sql);
  void CreateSchema();
  void InsertDefaultGroups();
  sqlite3_stmt* Prepare(const char* sql);
  [[noreturn]] void Fail(const std::string& what);
  void GroupProblems(std::vector<std::string>* problems);

  sqlite3* db_;
  std::string path_;
  // Keyed by the SQL text's address: every statement text in state.cc lives
  // as long as the program, so each is compiled once per connection.
  std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

}  // namespace hostsim

#endif  // PLATFORM_HOSTSIM_STATE_H_
