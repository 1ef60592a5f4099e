#include "tests/faults/command_model.h"

#include <algorithm>
#include <stdexcept>

namespace faults {
namespace {

// Whatever the entry point prints as the one line of a failed command.
class ModelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SchedError : public ModelError {
 public:
  SchedError(const std::string& context, uint32_t status)
      : ModelError(context + ": " + StatusText(status)), status(status) {}
  uint32_t status;
};

// The scheduler group operations: their parameter lists and kernel calls in
// the documented order, every failure as an exception naming the call.
class Sched {
 public:
  explicit Sched(KernelModel& kernel) : k_(kernel) {}

  uint64_t PathToId(const std::string& path) {
    NewList();
    AddString();
    uint64_t id = 0;
    Check(k_.PathToId(path, &id), "KNI_Set");
    return id;
  }
  std::string IdToPath(uint64_t id) {
    Instance();
    std::string path;
    Check(k_.IdToPath(id, &path), "KNI_Get");
    return path;
  }
  uint64_t Parent(uint64_t id) {
    Instance();
    uint64_t parent = 0;
    Check(k_.ParentId(id, &parent), "KNI_Get");
    return parent;
  }
  std::vector<uint64_t> Members(uint64_t id) {
    Instance();
    std::vector<uint64_t> children;
    Check(k_.Members(id, &children), "KNI_GetInstanceListAlloc");
    for (size_t i = 0; i < children.size(); ++i) {
      Check(k_.ListCall(Call::kGetUInt64), "KNI_ParamListGetUInt64");
    }
    return children;
  }
  void Create(const std::string& path, const Record& mem, const Record& cpu) {
    size_t slash = path.rfind('/');
    std::string parentPath = slash == std::string::npos ? "" : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    NewList();
    NewList();
    uint64_t parent = PathToId(parentPath);
    Check(k_.ListCall(Call::kAddInt), "KNI_ParamListAddInt");
    AddString();
    uint64_t id = 0;
    Check(k_.Create(parent, name, &id), "KNI_Set");
    try {
      SetAllocation(id, mem, false);
      SetAllocation(id, cpu, true);
    } catch (const SchedError& e) {
      Delete(id);
      throw SchedError("Initialize " + path, e.status);
    }
  }
  void Delete(uint64_t id) {
    Instance();
    Check(k_.Delete(id), "KNI_Set");
  }
  Record GetMem(uint64_t id) {
    Instance();
    Record mem;
    Check(k_.GetMem(id, &mem), "KNI_Get");
    return mem;
  }
  Record GetCpu(uint64_t id) {
    Instance();
    Record cpu;
    Check(k_.GetCpu(id, &cpu), "KNI_Get");
    return cpu;
  }
  void SetAllocation(uint64_t id, const Record& r, bool cpu) {
    std::vector<std::string> texts = {"min=" + std::to_string(r.min), "max=" + std::to_string(r.max),
                                      "minLimit=" + std::to_string(r.minLimit)};
    if (r.shares != -1) texts.push_back("shares=" + std::to_string(r.shares));
    Send(texts, [&] { return k_.SetAllocation(id, texts, cpu); });
  }
  void ShiftMem(uint64_t id, uint64_t minAmount, uint64_t maxAmount, int sign) {
    std::vector<std::string> texts = {"min=" + std::to_string(minAmount),
                                      "max=" + std::to_string(maxAmount)};
    Send(texts, [&] { return k_.ShiftMem(id, texts, sign); });
  }

 private:
  static void Check(uint32_t status, const char* call) {
    if (status != kOk) throw SchedError(call, status);
  }
  void NewList() {
    if (k_.ListCall(Call::kCreate) != kOk) throw SchedError("KNI_ParamListCreate", kNoMemory);
  }
  void AddString() { Check(k_.ListCall(Call::kAddString), "KNI_ParamListAddString"); }
  void Instance() {
    NewList();
    Check(k_.ListCall(Call::kAddInt), "KNI_ParamListAddInt");
  }
  // Instance list, input list, the id, the texts, then the call.
  template <typename CallFn>
  void Send(const std::vector<std::string>& texts, CallFn call) {
    NewList();
    NewList();
    Check(k_.ListCall(Call::kAddInt), "KNI_ParamListAddInt");
    for (size_t i = 0; i < texts.size(); ++i) AddString();
    Check(call(), "KNI_Set");
  }

  KernelModel& k_;
};

const char* const kFactNodes[] = {"hardware_cpu_cpuInfo", "system_bootOption",
                                  "memory_comprehensive", "system_supportedVMs"};

class Invocation {
 public:
  Invocation(const Definitions& defs, KernelModel& kernel, Outcome& outcome)
      : defs_(defs), k_(kernel), sched_(kernel), o_(outcome) {}

  int Run(const std::vector<std::string>& args) {
    k_.CheckSig();
    const std::string& word = args.at(0);
    std::vector<std::string> flags, operands;
    for (size_t i = 1; i < args.size(); ++i) {
      bool takesValue = args[i] == "-w";
      (args[i][0] == '-' ? flags : operands).push_back(args[i]);
      if (takesValue) flags.push_back(args.at(++i));
    }
    if (word[0] == '-') return Legacy(args);
    if (word == "list") return List(operands);
    if (word == "load") return Load(operands, Has(flags, "-q"));
    if (word == "unload") return Unload(operands);
    if (word == "enable") return Enable(operands);
    if (word == "disable") return Disable(operands, !Has(flags, "-n"), Has(flags, "-w"));
    throw std::logic_error("the model has no command " + word);
  }

 private:
  static bool Has(const std::vector<std::string>& flags, const char* flag) {
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
  }

  // The first pool built reads the host facts; the loader names the file.
  std::vector<Pool> LoadPools(const std::string& factsFile, bool reverse) {
    if (!defs_.pools.empty()) {
      for (const char* node : kFactNodes) {
        if (k_.GetFact(node) != kOk) throw ModelError(factsFile + ": KNI_Get failed");
      }
    }
    std::vector<Pool> pools = defs_.pools;
    std::sort(pools.begin(), pools.end(), [&](const Pool& a, const Pool& b) {
      return reverse ? a.name > b.name : a.name < b.name;
    });
    return pools;
  }
  std::vector<Pool> Installed() { return LoadPools(defs_.firstInstalledFile, false); }

  const Pool& Find(const std::vector<Pool>& pools, const std::string& name) {
    for (const Pool& p : pools) {
      if (p.name == name) return p;
    }
    throw ModelError(name + " not found");
  }
  const Pool* FindOrNull(const std::vector<Pool>& pools, const std::string& name) {
    for (const Pool& p : pools) {
      if (p.name == name) return &p;
    }
    return nullptr;
  }

  int List(const std::vector<std::string>& files) {
    o_.out += defs_.listingHeader;
    LoadPools(files.at(0), false);
    o_.out = defs_.listing;
    return 0;
  }

  int Load(const std::vector<std::string>& files, bool quiet) {
    std::vector<Pool> created;
    for (const Pool& pool : LoadPools(files.at(0), false)) {
      if (!pool.enabled) continue;
      try {
        sched_.Create(pool.name, pool.mem, pool.cpu);
        created.push_back(pool);
      } catch (const SchedError& e) {
        if (e.status != kExists) {
          for (auto p = created.rbegin(); p != created.rend(); ++p) {
            try {
              sched_.Delete(sched_.PathToId(p->name));
            } catch (const SchedError& undo) {
              o_.err += "Failed to delete " + p->name + ": " + undo.what() + "\n";
            }
          }
          throw;
        }
        if (!quiet) o_.err += pool.name + " exists; skipping.\n";
      }
    }
    return 0;
  }

  int Unload(const std::vector<std::string>& files) {
    std::vector<Pool> deleted;
    for (Pool& pool : LoadPools(files.at(0), true)) {
      try {
        uint64_t id = sched_.PathToId(pool.name);
        pool.mem = sched_.GetMem(id);
        pool.cpu = sched_.GetCpu(id);
        sched_.Delete(id);
        deleted.push_back(pool);
      } catch (const SchedError& e) {
        if (e.status == kNotFound) continue;
        for (auto p = deleted.rbegin(); p != deleted.rend(); ++p) {
          try {
            sched_.Create(p->name, p->mem, p->cpu);
          } catch (const SchedError& undo) {
            o_.err += "Failed to recreate " + p->name + ": " + undo.what() + "\n";
          }
        }
        throw;
      }
    }
    return 0;
  }

  int Enable(const std::vector<std::string>& names) {
    std::vector<Pool> pools = Installed();
    for (const std::string& name : names) {
      const Pool& pool = Find(pools, name);
      try {
        RestoreExisting(pool, pools);
      } catch (const SchedError& e) {
        if (e.status != kNotFound) {
          o_.err += pool.name + ": " + e.what() + "\n";
          continue;
        }
        CreateMissing(pool);
      }
    }
    return 0;
  }

  void RestoreExisting(const Pool& pool, const std::vector<Pool>& pools) {
    uint64_t id = sched_.PathToId(pool.name);
    if (pool.annex) return;
    Record current = sched_.GetMem(id);
    if (current.max != 0 || pool.mem.max == 0) return;
    Record restored = pool.mem;
    for (uint64_t child : sched_.Members(id)) {
      const Pool* def = FindOrNull(pools, sched_.IdToPath(child));
      if (def != nullptr && def->annex) restored.min += def->mem.max;
    }
    sched_.SetAllocation(id, restored, false);
  }

  // A new annex group never stays without its parent's reservation: when
  // anything after its creation fails, it is deleted again. (Left alone, it
  // would hold memory its parent does not reserve, and a later enable never
  // touches an existing annex group.)
  void CreateMissing(const Pool& pool) {
    sched_.Create(pool.name, pool.mem, pool.cpu);
    if (!pool.annex) return;
    uint64_t id = 0;
    try {
      id = sched_.PathToId(pool.name);
    } catch (const SchedError&) {
      try {
        sched_.Delete(sched_.PathToId(pool.name));
      } catch (const SchedError&) {
      }
      throw;
    }
    uint64_t parent = 0;
    try {
      parent = sched_.Parent(id);
    } catch (const SchedError&) {
      sched_.Delete(id);
      throw;
    }
    try {
      sched_.ShiftMem(parent, static_cast<uint64_t>(pool.mem.max), 0, +1);
    } catch (const SchedError& e) {
      std::string parentPath;
      try {
        parentPath = sched_.IdToPath(parent);
      } catch (const SchedError&) {
        sched_.Delete(id);
        throw;
      }
      o_.err += parentPath + ": " + e.what() + "\n";
      sched_.Delete(id);
    }
  }

  int Disable(const std::vector<std::string>& names, bool deleteGroup, bool wait) {
    std::vector<Pool> pools = Installed();
    for (const std::string& name : names) {
      int attempts = 0;
      while (!TryDisable(name, pools, deleteGroup, wait)) {
        if (++attempts > 1000) throw std::logic_error("the model retries for ever");
      }
    }
    return 0;
  }

  bool TryDisable(const std::string& name, const std::vector<Pool>& pools, bool deleteGroup,
                  bool wait) {
    const Pool& pool = Find(pools, name);
    try {
      uint64_t id = sched_.PathToId(name);
      if (pool.annex) {
        // A failed deletion gives the memory back and is then handled as
        // any other failure, not passed over as a success.
        uint64_t parent = sched_.Parent(id);
        sched_.ShiftMem(parent, static_cast<uint64_t>(pool.mem.max), 0, -1);
        try {
          sched_.Delete(id);
        } catch (const SchedError&) {
          sched_.ShiftMem(parent, static_cast<uint64_t>(pool.mem.max), 0, +1);
          throw;
        }
      } else if (deleteGroup) {
        sched_.Delete(id);
      } else {
        sched_.SetAllocation(id, Record{0, 0, 0, 0}, false);
      }
      return true;
    } catch (const SchedError& e) {
      if (e.status == kNotFound) {
        o_.out += name + ": " + e.what() + "\n";
        return true;
      }
      if (e.status == kBusy || e.status == kInUse) {
        if (!wait) throw SchedError(name, kBusy);
        return false;
      }
      o_.err += name + ": " + e.what() + "\n";
      throw;
    }
  }

  void Log(const std::string& message) {
    o_.err += "poolctl: " + message + (message.back() == '\n' ? "" : "\n");
  }

  uint32_t LegacyCount(uint64_t id, size_t* count) {
    if (k_.ListCall(Call::kCreate) != kOk) return kNoMemory;
    if (uint32_t s = k_.ListCall(Call::kAddInt)) return s;
    std::vector<uint64_t> children;
    if (uint32_t s = k_.Members(id, &children)) return s;
    *count = children.size();
    return kOk;
  }

  uint32_t LegacySetMem(uint64_t id, int megabytes) {
    if (k_.ListCall(Call::kCreate) != kOk) return kNoMemory;
    if (uint32_t s = k_.ListCall(Call::kAddInt)) return s;
    if (k_.ListCall(Call::kCreate) != kOk) return kNoMemory;
    for (int i = 0; i < 2; ++i) {
      if (uint32_t s = k_.ListCall(Call::kAddString)) return s;
    }
    std::string n = std::to_string(megabytes);
    return k_.SetAllocation(id, {"min=" + n, "max=" + n}, false);
  }

  int LegacySetMemory(uint64_t id, const std::string& name, int megabytes) {
    if (uint32_t s = LegacySetMem(id, megabytes)) {
      Log("Failed to set group " + name + " mem: " + StatusText(s) + "\n");
      return 4;
    }
    return 0;
  }

  int Legacy(const std::vector<std::string>& args) {
    k_.CheckSig();
    std::string name;
    uint64_t id = 0;
    bool empty = false, info = false, memory = false;
    int megabytes = 0;
    long waitSeconds = -1;
    for (size_t i = 0; i < args.size(); ++i) {
      if (args[i] == "-g") {
        const std::string& path = args.at(++i);
        uint32_t s = k_.ListCall(Call::kCreate) != kOk ? kNoMemory : k_.ListCall(Call::kAddString);
        if (s == kOk) s = k_.PathToId(path, &id);
        if (s != kOk) {
          Log("Group " + path + " was not found: " + StatusText(s) + "\n");
          return 1;
        }
        name = path;
      } else if (args[i] == "-e") {
        empty = true;
      } else if (args[i] == "-i") {
        info = true;
      } else if (args[i] == "-m") {
        memory = true;
        megabytes = std::stoi(args.at(++i));
      } else if (args[i] == "-w") {
        waitSeconds = std::stol(args.at(++i));
      }
    }
    if (empty) {
      size_t count = 0;
      if (uint32_t s = LegacyCount(id, &count)) {
        Log("Failed to check group " + name + ": " + StatusText(s) + "\n");
        return 4;
      }
      o_.out += count != 0 ? "not empty\n" : "empty\n";
      return count != 0 ? 2 : 0;
    }
    if (waitSeconds >= 0) {
      for (long waited = 0; waitSeconds > 0;) {
        size_t count = 0;
        if (LegacyCount(id, &count) == kOk && count == 0) {
          o_.out += "empty\n";
          return memory ? LegacySetMemory(id, name, megabytes) : 0;
        }
        waited += 100000;
        if (waited >= waitSeconds * 1000000) break;
      }
      Log("Timeout waiting for " + name + " to be empty");
      return 3;
    }
    if (info) {
      Record mem;
      uint32_t s = k_.ListCall(Call::kCreate) != kOk ? kNoMemory : k_.ListCall(Call::kAddInt);
      if (s == kOk) s = k_.GetMem(id, &mem);
      if (s == kOk) s = k_.GetStats(id);
      if (s != kOk) {
        Log("Failed to get groups " + name + " stats: " + StatusText(s) + "\n");
        return 4;
      }
      // The simulated host's statistics are zero unless a test sets them.
      o_.out += "{\n\"minMB\": " + std::to_string(mem.min) + ",\n\"maxMB\": " +
                std::to_string(mem.max) + ",\n\"rminpeakMB\": 0,\n\"rminchildpeakMB\": 0\n}\n";
    }
    return memory ? LegacySetMemory(id, name, megabytes) : 0;
  }

  const Definitions& defs_;
  KernelModel& k_;
  Sched sched_;
  Outcome& o_;
};

}  // namespace

Outcome RunModel(const Definitions& defs, const Groups& start, const std::vector<std::string>& args,
                 const Injection& injection) {
  KernelModel kernel(start, injection);
  Outcome outcome;
  Invocation invocation(defs, kernel, outcome);
  try {
    outcome.status = invocation.Run(args);
  } catch (const ModelError& e) {
    outcome.err += std::string(e.what()) + "\n";
    outcome.status = 1;
  } catch (const Crashed&) {
    outcome.crashed = true;
    outcome.status = 128 + 9;
  }
  outcome.groups = kernel.groups();
  outcome.trace = kernel.trace();
  outcome.fired = kernel.fired();
  return outcome;
}

}  // namespace faults
