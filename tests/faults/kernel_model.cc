#include "tests/faults/kernel_model.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <stdexcept>

#include "tests/e2e/harness.h"

namespace faults {
namespace {

// The longest path that fits the kernel's 780-byte buffer with its NUL.
constexpr size_t kMaxPath = 779;

std::string ChildPath(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "/" + name;
}

std::string Join(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& t : texts) out += (out.empty() ? "" : ",") + t;
  return out;
}

std::string RecordLine(const Record& r) {
  return std::to_string(r.min) + "\t" + std::to_string(r.max) + "\t" + std::to_string(r.shares) +
         "\t" + std::to_string(r.minLimit);
}

bool ParseNumber(const std::string& text, int64_t lo, int64_t hi, int64_t* value) {
  if (text.empty()) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  __int128 v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > (static_cast<__int128>(1) << 64)) return false;
  }
  if (text[0] == '-') v = -v;
  if (v < lo || v > hi) return false;
  *value = static_cast<int64_t>(v);
  return true;
}

}  // namespace

std::string StatusText(uint32_t status) {
  switch (status) {
    case kOk:
      return "Success";
    case kFailure:
      return "Failure";
    case kNotFound:
      return "Not found";
    case kBusy:
      return "Busy";
    case kExists:
      return "Already exists";
    case kNoMemory:
      return "Out of memory";
    case kBadParam:
      return "Bad parameter";
    case 0x0BAD0041:
      return "Limit exceeded";
    case kNameTooLong:
      return "Name too long";
    case kInUse:
      return "Group in use";
  }
  return "Unknown status " + StatusWord(status);
}

std::string StatusWord(uint32_t status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, status);
  return text;
}

bool ParseGroups(const std::string& text, Groups* groups) {
  groups->clear();
  std::vector<e2e::GroupLine> lines;
  try {
    lines = e2e::ParseGroupLines(text);
  } catch (const std::runtime_error&) {
    return false;
  }
  for (const e2e::GroupLine& l : lines) {
    if (l.worlds < 0) return false;
    const Group g = {l.id, {l.mem[0], l.mem[1], l.mem[2], l.mem[3]},
                     {l.cpu[0], l.cpu[1], l.cpu[2], l.cpu[3]}, static_cast<uint64_t>(l.worlds)};
    if (!groups->emplace(l.path, g).second) return false;
  }
  return true;
}

std::vector<std::string> CompareGroups(const Groups& actual, const Groups& expected,
                                       uint64_t maxStartId) {
  std::vector<std::string> out;
  for (const auto& [path, want] : expected) {
    auto got = actual.find(path);
    if (got == actual.end()) {
      out.push_back("missing group " + path);
      continue;
    }
    const Group& g = got->second;
    if (g.mem != want.mem || g.cpu != want.cpu || g.worlds != want.worlds) {
      out.push_back("group " + path + " is " + RecordLine(g.mem) + " / " + RecordLine(g.cpu) +
                    ", expected " + RecordLine(want.mem) + " / " + RecordLine(want.cpu));
    }
    bool isNew = want.id >= kModelNewIds;
    if (isNew ? g.id <= maxStartId : g.id != want.id) {
      out.push_back("group " + path + " has id " + std::to_string(g.id) +
                    (isNew ? ", expected a new one" : ", expected " + std::to_string(want.id)));
    }
  }
  for (const auto& entry : actual) {
    if (expected.count(entry.first) == 0) out.push_back("unexpected group " + entry.first);
  }
  return out;
}

std::string WithoutIds(const Groups& groups) {
  std::string out;
  for (const auto& [path, g] : groups) {
    out += path + "\t" + RecordLine(g.mem) + "\t" + RecordLine(g.cpu) + "\t" +
           std::to_string(g.worlds) + "\n";
  }
  return out;
}

uint64_t MaxId(const Groups& groups) {
  uint64_t max = 0;
  for (const auto& entry : groups) max = std::max(max, entry.second.id);
  return max;
}

const char* CallName(Call call) {
  switch (call) {
    case Call::kGet:
      return "Get";
    case Call::kSet:
      return "Set";
    case Call::kGetInstanceListAlloc:
      return "GetInstanceListAlloc";
    case Call::kCreate:
      return "ParamListCreate";
    case Call::kAddInt:
      return "ParamListAddInt";
    case Call::kAddString:
      return "ParamListAddString";
    case Call::kGetUInt64:
      return "ParamListGetUInt64";
  }
  return "?";
}

bool IsTraced(Call call) {
  return call == Call::kGet || call == Call::kSet || call == Call::kGetInstanceListAlloc;
}

KernelModel::KernelModel(Groups groups, Injection injection)
    : groups_(std::move(groups)), injection_(injection) {
  // A host the model made already holds ids of its own.
  nextId_ = std::max(kModelNewIds, MaxId(groups_) + 1);
}

bool KernelModel::Fires(Call call) {
  if (injection_.kind == Injection::kNone || fired_ || injection_.call != call) return false;
  if (seen_[call]++ != injection_.skip) return false;
  fired_ = true;
  return true;
}

uint32_t KernelModel::ListCall(Call call) {
  if (!Fires(call)) return kOk;
  // A list lives in the process only: before and after die alike.
  if (injection_.kind != Injection::kFail) throw Crashed{};
  return call == Call::kCreate ? kNoMemory : injection_.status;
}

template <typename Perform>
uint32_t KernelModel::Traced(Call call, const char* name, const char* node,
                             const std::string& inputs, Perform perform) {
  bool fires = Fires(call);
  if (fires && injection_.kind == Injection::kCrashBefore) throw Crashed{};
  uint32_t status = fires && injection_.kind == Injection::kFail ? injection_.status : perform();
  trace_.push_back(std::string(name) + "\t" + node + "\t" + inputs + "\t" + StatusWord(status));
  if (fires && injection_.kind == Injection::kCrashAfter) throw Crashed{};
  return status;
}

void KernelModel::CheckSig() { trace_.push_back("KNI_CheckSig\t-\t-\t0x00000000"); }

uint32_t KernelModel::GetFact(const char* node) {
  return Traced(Call::kGet, "KNI_Get", node, "-", [] { return kOk; });
}

Group* KernelModel::ById(uint64_t id, std::string* path) {
  for (auto& [p, g] : groups_) {
    if (g.id == id) {
      if (path != nullptr) *path = p;
      return &g;
    }
  }
  return nullptr;
}

// In creation order, which ids follow.
std::vector<std::pair<uint64_t, std::string>> KernelModel::Children(const std::string& path) {
  std::vector<std::pair<uint64_t, std::string>> children;
  for (const auto& [p, g] : groups_) {
    size_t slash = p.rfind('/');
    std::string parent = slash == std::string::npos ? "" : p.substr(0, slash);
    if (!p.empty() && parent == path) children.emplace_back(g.id, p);
  }
  std::sort(children.begin(), children.end());
  return children;
}

uint32_t KernelModel::PathToId(const std::string& path, uint64_t* id) {
  return Traced(Call::kSet, "KNI_Set", "sched_groupPathNameToID", path, [&] {
    auto g = groups_.find(path);
    if (g == groups_.end()) return kNotFound;
    *id = g->second.id;
    return kOk;
  });
}

uint32_t KernelModel::IdToPath(uint64_t id, std::string* path) {
  return Traced(Call::kGet, "KNI_Get", "sched_groups_groupPathName", "-",
                [&] { return ById(id, path) ? kOk : kNotFound; });
}

uint32_t KernelModel::ParentId(uint64_t id, uint64_t* parent) {
  return Traced(Call::kGet, "KNI_Get", "sched_groups_parentGroupID", "-", [&] {
    std::string path;
    if (!ById(id, &path)) return kNotFound;
    size_t slash = path.rfind('/');
    *parent = groups_.at(slash == std::string::npos ? "" : path.substr(0, slash)).id;
    return kOk;
  });
}

uint32_t KernelModel::Members(uint64_t id, std::vector<uint64_t>* children) {
  return Traced(Call::kGetInstanceListAlloc, "KNI_GetInstanceListAlloc",
                "sched_groups_members_groups", "-", [&] {
                  std::string path;
                  if (!ById(id, &path)) return kNotFound;
                  children->clear();
                  for (const auto& child : Children(path)) children->push_back(child.first);
                  return kOk;
                });
}

uint32_t KernelModel::Create(uint64_t parent, const std::string& name, uint64_t* id) {
  return Traced(Call::kSet, "KNI_Set", "sched_groups_groupCreate", name, [&] {
    std::string parentPath;
    if (!ById(parent, &parentPath)) return kNotFound;
    if (name.empty() || name.find('/') != std::string::npos) return kBadParam;
    std::string path = ChildPath(parentPath, name);
    if (path.size() > kMaxPath) return kNameTooLong;
    if (groups_.count(path) != 0) return kExists;
    Group g;
    g.id = *id = nextId_++;
    groups_[path] = g;
    return kOk;
  });
}

uint32_t KernelModel::Delete(uint64_t id) {
  return Traced(Call::kSet, "KNI_Set", "sched_groups_delete", "-", [&] {
    std::string path;
    Group* g = ById(id, &path);
    if (g == nullptr) return kNotFound;
    if (path.empty() || path == "host") return kBadParam;
    if (g->worlds > 0) return kBusy;
    if (!Children(path).empty()) return kInUse;
    groups_.erase(path);
    return kOk;
  });
}

uint32_t KernelModel::GetMem(uint64_t id, Record* mem) {
  return Traced(Call::kGet, "KNI_Get", "sched_groups_memAllocationInMB", "-", [&] {
    Group* g = ById(id, nullptr);
    if (g == nullptr) return kNotFound;
    *mem = g->mem;
    return kOk;
  });
}

uint32_t KernelModel::GetCpu(uint64_t id, Record* cpu) {
  return Traced(Call::kGet, "KNI_Get", "sched_groups_cpuAllocationInPct", "-", [&] {
    Group* g = ById(id, nullptr);
    if (g == nullptr) return kNotFound;
    *cpu = g->cpu;
    return kOk;
  });
}

uint32_t KernelModel::GetStats(uint64_t id) {
  return Traced(Call::kGet, "KNI_Get", "sched_groups_stats_memoryStats", "-",
                [&] { return ById(id, nullptr) ? kOk : kNotFound; });
}

// Applied to a copy and checked whole, so a refused call changes nothing.
uint32_t KernelModel::SetAllocation(uint64_t id, const std::vector<std::string>& texts, bool cpu) {
  const char* node = cpu ? "sched_groups_cpuAllocationInPct" : "sched_groups_memAllocationInMB";
  return Traced(Call::kSet, "KNI_Set", node, Join(texts), [&] {
    Group* g = ById(id, nullptr);
    if (g == nullptr) return kNotFound;
    Record next = cpu ? g->cpu : g->mem;
    for (const std::string& text : texts) {
      size_t eq = text.find('=');
      if (eq == std::string::npos) return kBadParam;
      std::string key = text.substr(0, eq);
      int64_t* field = key == "min"        ? &next.min
                       : key == "max"      ? &next.max
                       : key == "minLimit" ? &next.minLimit
                       : key == "shares"   ? &next.shares
                                           : nullptr;
      int64_t value = 0;
      if (field == nullptr || !ParseNumber(text.substr(eq + 1), cpu ? INT32_MIN : INT64_MIN,
                                           cpu ? INT32_MAX : INT64_MAX, &value)) {
        return kBadParam;
      }
      *field = value;
    }
    if (next.min < 0 || (next.max != -1 && next.max < next.min)) return kBadParam;
    (cpu ? g->cpu : g->mem) = next;
    return kOk;
  });
}

uint32_t KernelModel::ShiftMem(uint64_t id, const std::vector<std::string>& texts, int sign) {
  const char* node =
      sign > 0 ? "sched_groups_increaseMemMinMaxInMB" : "sched_groups_decreaseMemMinMaxInMB";
  return Traced(Call::kSet, "KNI_Set", node, Join(texts), [&] {
    Group* g = ById(id, nullptr);
    if (g == nullptr) return kNotFound;
    __int128 amount[2] = {0, 0};
    for (const std::string& text : texts) {
      size_t eq = text.find('=');
      int64_t value = 0;
      if (eq == std::string::npos || !ParseNumber(text.substr(eq + 1), 0, INT64_MAX, &value)) {
        return kBadParam;
      }
      amount[text.compare(0, eq, "min") == 0 ? 0 : 1] = value;
    }
    __int128 min = g->mem.min + sign * amount[0];
    __int128 max = g->mem.max == -1 ? -1 : g->mem.max + sign * amount[1];
    if (min < 0 || min > INT64_MAX || (g->mem.max != -1 && (max < 0 || max > INT64_MAX))) {
      return kBadParam;
    }
    g->mem.min = static_cast<int64_t>(min);
    g->mem.max = static_cast<int64_t>(max);
    return kOk;
  });
}

}  // namespace faults
