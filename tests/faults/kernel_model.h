// A model of the kernel's scheduler groups for the fault driver: what each
// node does, which call an injected failure or crash hits, and the trace the
// calls leave. The driver predicts every run with it and compares the real
// host afterwards.
#ifndef TESTS_FAULTS_KERNEL_MODEL_H_
#define TESTS_FAULTS_KERNEL_MODEL_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace faults {

constexpr uint32_t kOk = 0;
constexpr uint32_t kFailure = 0x0BAD0001;
constexpr uint32_t kNotFound = 0x0BAD0003;
constexpr uint32_t kBusy = 0x0BAD0004;
constexpr uint32_t kExists = 0x0BAD0005;
constexpr uint32_t kNoMemory = 0x0BAD0014;
constexpr uint32_t kBadParam = 0x0BAD0040;
constexpr uint32_t kNameTooLong = 0x0BAD0042;
constexpr uint32_t kInUse = 0x0BAD0080;

// The kernel's text for a status.
std::string StatusText(uint32_t status);
// "0x" and 8 upper-case hex digits.
std::string StatusWord(uint32_t status);

struct Record {
  int64_t min = 0;
  int64_t max = -1;
  int64_t shares = -1;
  int64_t minLimit = -1;
  bool operator==(const Record& o) const {
    return min == o.min && max == o.max && shares == o.shares && minLimit == o.minLimit;
  }
  bool operator!=(const Record& o) const { return !(*this == o); }
};

inline const Record kNewMem = {0, -1, -1, -1};
inline const Record kNewCpu = {0, -1, 1000, -1};

struct Group {
  uint64_t id = 0;
  Record mem = kNewMem;
  Record cpu = kNewCpu;
  uint64_t worlds = 0;
};

// By path, in the byte order hostsim groups lists them.
using Groups = std::map<std::string, Group>;

// Ids the model hands out from here on; a real host numbers its new groups
// above every id it had before, so the two are compared by that rule.
constexpr uint64_t kModelNewIds = uint64_t{1} << 40;

// Parses hostsim groups; false when a line is malformed.
bool ParseGroups(const std::string& text, Groups* groups);
// One line per difference between what the host holds and what the model
// expects; ids are compared exactly for groups that existed at the start
// (ids up to maxStartId) and must be new otherwise.
std::vector<std::string> CompareGroups(const Groups& actual, const Groups& expected,
                                       uint64_t maxStartId);
// The groups without ids, for comparing hosts that reached a state by
// different routes.
std::string WithoutIds(const Groups& groups);
uint64_t MaxId(const Groups& groups);

// The calls that hostsim's fail and crash rules name.
enum class Call { kGet, kSet, kGetInstanceListAlloc, kCreate, kAddInt, kAddString, kGetUInt64 };
const char* CallName(Call call);
bool IsTraced(Call call);

// One rule of the run: the call after the first `skip` of its kind fails
// with `status`, or kills the process before or after it takes effect.
struct Injection {
  enum Kind { kNone, kFail, kCrashBefore, kCrashAfter };
  Kind kind = kNone;
  Call call = Call::kGet;
  uint64_t skip = 0;
  uint32_t status = kFailure;
};

// Thrown where the process dies; deliberately not a std::exception, so that
// no handler of the modelled commands can catch it.
struct Crashed {};

class KernelModel {
 public:
  KernelModel(Groups groups, Injection injection);

  const Groups& groups() const { return groups_; }
  const std::vector<std::string>& trace() const { return trace_; }
  // Whether the injected rule met its call.
  bool fired() const { return fired_; }

  // A parameter-list call: its status (for ParamListCreate, nonzero means
  // no list). A crash rule kills here.
  uint32_t ListCall(Call call);

  void CheckSig();
  uint32_t GetFact(const char* node);
  uint32_t PathToId(const std::string& path, uint64_t* id);
  uint32_t IdToPath(uint64_t id, std::string* path);
  uint32_t ParentId(uint64_t id, uint64_t* parent);
  uint32_t Members(uint64_t id, std::vector<uint64_t>* children);
  uint32_t Create(uint64_t parent, const std::string& name, uint64_t* id);
  uint32_t Delete(uint64_t id);
  uint32_t GetMem(uint64_t id, Record* mem);
  uint32_t GetCpu(uint64_t id, Record* cpu);
  uint32_t GetStats(uint64_t id);
  uint32_t SetAllocation(uint64_t id, const std::vector<std::string>& texts, bool cpu);
  uint32_t ShiftMem(uint64_t id, const std::vector<std::string>& texts, int sign);

 private:
  bool Fires(Call call);
  // Runs one traced kernel call: the rule first, then perform(), then the
  // trace line.
  template <typename Perform>
  uint32_t Traced(Call call, const char* name, const char* node, const std::string& inputs,
                  Perform perform);
  Group* ById(uint64_t id, std::string* path);
  std::vector<std::pair<uint64_t, std::string>> Children(const std::string& path);

  Groups groups_;
  Injection injection_;
  std::map<Call, uint64_t> seen_;
  bool fired_ = false;
  uint64_t nextId_ = kModelNewIds;
  std::vector<std::string> trace_;
};

}  // namespace faults

#endif  // TESTS_FAULTS_KERNEL_MODEL_H_
