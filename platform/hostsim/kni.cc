// The library's entry points: parameter lists live in the calling process;
// every other call is one transaction on the state file that consumes a
// matching fault rule, performs the call and traces it.
//
// Fault rules with --path match the parameter-list calls as follows:
// ParamListAddInt the group whose id is added, ParamListGetUInt64 the group
// whose id is read, ParamListAddString the text added; ParamListCreate has no
// path, and no parameter-list call has a node.
#include "kni.h"

#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/hostsim/hostsim_testing.h"
#include "platform/hostsim/kernel.h"
#include "platform/hostsim/library.h"
#include "platform/hostsim/state.h"
#include "platform/hostsim/text.h"

namespace hostsim {
namespace {

// The signature the tool was built with: the kernel follows it unless a
// test pins another date, so a rebuilt tool still passes the check.
const char kLibraryBuildDate[] = __DATE__ " " __TIME__;
static_assert(sizeof kLibraryBuildDate == KNI_BUILD_DATE_SIZE, "build dates are 20 characters");

std::string Entries(const KNI_ParamList* list) {
  if (list == nullptr) return "-";
  std::string out;
  if (list->kind == KNI_PARAM_LIST_INSTANCE) {
    for (uint64_t id : list->ints) out += (out.empty() ? "" : ",") + std::to_string(id);
  } else {
    for (size_t i = 0; i < list->texts.size(); ++i) {
      out += (i == 0 ? "" : ",") + Printable(list->texts[i]);
    }
  }
  return out;
}

// Process-wide: the open state file and the lists the process holds. Never
// destroyed, so that lists destroyed by other objects at exit find it whole.
class Library {
 public:
  static Library& Get() {
    static Library* library = new Library();
    return *library;
  }

  std::mutex& mutex() { return mutex_; }

  void UseStateFile(const std::string& path) {
    state_.reset();
    path_ = path;
  }

  // fn(state) inside one write transaction; its status, or ZRV_FAILURE when
  // the state file cannot be used (reported once on standard error).
  template <typename Fn>
  uint32_t Transact(Fn&& fn) {
    try {
      uint32_t status = ZRV_FAILURE;
      Write([&](State& state) { status = fn(state); });
      return status;
    } catch (const std::exception& e) {
      Report(e.what());
      return ZRV_FAILURE;
    }
  }

  // fn(state) inside one write transaction; a state file that cannot be
  // used throws StateError.
  void Write(const std::function<void(State&)>& fn) {
    try {
      State& state = Open(false);
      state.Write([&] { fn(state); });
    } catch (const std::exception&) {
      // A file replaced or broken under us: open it afresh next time.
      state_.reset();
      throw;
    }
  }

  // Reported once per process, so that a broken state file does not flood
  // the caller's standard error.
  void Report(const char* what) {
    if (reported_) return;
    reported_ = true;
    fprintf(stderr, "hostsim: %s\n", what);
  }

  // The status a rule fails this parameter-list call with, if one fires; a
  // state file that cannot be used fails the call too. A crash rule kills
  // the process here, before or after alike: a list lives in this process
  // only, so nothing of the call's effect could outlive it.
  template <typename PathOf>
  std::optional<uint32_t> ListFault(const char* call, PathOf&& path) {
    // Nearly every list call meets no rule: a read says so, without the write
    // transaction (and its file locks) that consuming a rule needs.
    try {
      if (!Open(false).rules().Any(call)) return std::nullopt;
    } catch (const std::exception& e) {
      state_.reset();
      Report(e.what());
      return ZRV_FAILURE;
    }
    Fired fired;
    uint32_t status = Transact([&](State& state) {
      fired = state.rules().Consume(call, "", [&] { return path(state); }, true);
      return ZRV_OK;
    });
    if (fired.crash) Die();
    if (status != ZRV_OK) return status;
    return fired.other ? std::optional<uint32_t>(fired.other->status) : std::nullopt;
  }

  // The call named "KNI_" and ruleName, which fault rules know it by.
  uint32_t KernelCall(const char* ruleName, hostsim::KernelCall call) {
    if (call.listOut != nullptr) *call.listOut = nullptr;
    bool listsLive = IsLive(call.instances) && IsLive(call.inputs);
    std::vector<uint64_t> members;
    bool crash = false;
    uint32_t status = Transact([&](State& state) {
      const char* nodeName = NodeName(call.node);
      std::string node = nodeName != nullptr ? nodeName : std::to_string(call.node);
      uint32_t result = ZRV_BAD_PARAM;
      if (listsLive) {
        const PathFn subject = [&] { return SubjectPath(state, call); };
        Fired fired = state.rules().Consume(ruleName, node, subject);
        crash = fired.crash.has_value();
        // Dying before the call: only the used-up rule is committed.
        if (crash && fired.crash->kind == RuleKind::kCrash) return result;
        result = fired.other ? fired.other->status : Perform(state, call, &members);
      }
      // A pointer that is no live list is never read, not even to trace it.
      state.log().Record({std::string("KNI_") + ruleName, node,
                          listsLive ? Entries(call.instances) : "?",
                          listsLive ? Entries(call.inputs) : "?", StatusWord(result)});
      return result;
    });
    if (crash) Die();
    if (status == ZRV_OK && call.kind == CallKind::kGetInstanceListAlloc) {
      KNI_ParamList* list = NewList(KNI_PARAM_LIST_INSTANCE, static_cast<uint32_t>(members.size()));
      list->ints = std::move(members);
      *call.listOut = list;
    }
    return status;
  }

  uint32_t CheckSig(char* kernelDate, uint32_t size, const char** toolDate) {
    if (toolDate != nullptr) *toolDate = kLibraryBuildDate;
    return Transact([&](State& state) {
      uint32_t result = ZRV_BAD_PARAM;
      if (kernelDate != nullptr && size >= KNI_BUILD_DATE_SIZE && toolDate != nullptr) {
        std::string kernel = state.settings().KernelBuild().value_or(kLibraryBuildDate);
        std::memset(kernelDate, 0, KNI_BUILD_DATE_SIZE);
        std::memcpy(kernelDate, kernel.data(),
                    std::min<size_t>(kernel.size(), KNI_BUILD_DATE_SIZE - 1));
        result = kernel == kLibraryBuildDate ? ZRV_OK : ZRV_FAILURE;
      }
      state.log().Record({"KNI_CheckSig", "-", "-", "-", StatusWord(result)});
      return result;
    });
  }

  // Lists are checked against this registry before they are read, so a
  // destroyed or foreign pointer is refused instead of followed.
  bool IsLive(const KNI_ParamList* list) const {
    return list == nullptr || lists_.count(list) != 0;
  }

  KNI_ParamList* NewList(uint32_t kind, uint32_t capacity) {
    auto* list = new KNI_ParamList();
    list->kind = kind;
    list->capacity = capacity;
    lists_.insert(list);
    return list;
  }

  void DestroyList(KNI_ParamList* list) {
    if (lists_.erase(list) == 0) {
      fprintf(stderr, "hostsim: KNI_ParamListDestroy: %p is not a live parameter list\n",
              static_cast<void*>(list));
      return;
    }
    delete list;
  }

  long LiveLists() const { return static_cast<long>(lists_.size()); }

 private:
  Library() {
    std::atexit([] { Get().RecordLeaks(); });
    // A child process must not use its parent's connection: SQLite's locks
    // belong to the process that took them.
    pthread_atfork(nullptr, nullptr, [] { Get().AbandonState(); });
  }

  // A crash rule fired and its transaction is committed. SIGKILL, as a
  // power cut or the OOM killer would end the process: no handler, no exit
  // functions, no leak count.
  [[noreturn]] static void Die() {
    kill(getpid(), SIGKILL);
    for (;;) pause();
  }

  State& Open(bool mustExist) {
    if (!state_) {
      if (!path_) path_ = StateFilePath();
      state_ = State::Open(*path_, mustExist);
    }
    return *state_;
  }

  // Lists still held at exit are added to the state's leak count. A state
  // file that is gone by now is not made again just for that.
  void RecordLeaks() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!lists_.empty()) {
      try {
        State& state = Open(true);
        state.Write([&] { state.log().AddLeaks(lists_.size()); });
      } catch (const std::exception& e) {
        if (path_ && access(path_->c_str(), F_OK) == 0) Report(e.what());
      }
    }
    state_.reset();
  }

  void AbandonState() {
    abandoned_.push_back(state_.release());
    reported_ = false;
  }

  std::mutex mutex_;
  std::optional<std::string> path_;
  std::unique_ptr<State> state_;
  std::vector<State*> abandoned_;  // kept reachable, never closed
  std::unordered_set<const KNI_ParamList*> lists_;
  bool reported_ = false;
};

std::optional<std::string> GroupPath(State& state, uint64_t id) {
  std::optional<Group> group = state.groups().Find(id);
  if (!group) return std::nullopt;
  return group->path;
}

// fn(library) under the library's lock.
template <typename Fn>
auto Locked(Fn&& fn) {
  Library& lib = Library::Get();
  std::lock_guard<std::mutex> lock(lib.mutex());
  return fn(lib);
}

}  // namespace

void WithState(const std::function<void(State&)>& fn) {
  Locked([&](Library& lib) {
    try {
      lib.Write(fn);
    } catch (const StateError& e) {
      lib.Report(e.what());
      throw;
    }
  });
}

void UseStateFile(const std::string& path) {
  Locked([&](Library& lib) { lib.UseStateFile(path); });
}

long LiveParamLists() {
  return Locked([](Library& lib) { return lib.LiveLists(); });
}

}  // namespace hostsim

using hostsim::Library;

namespace {

// The entry points are C functions: nothing may leave them as an exception.
template <typename T, typename Fn>
T Guarded(T failure, Fn&& fn) {
  try {
    return hostsim::Locked([&](Library& lib) -> T { return fn(lib); });
  } catch (const std::exception&) {
    return failure;
  }
}

std::optional<std::string> NoPath(hostsim::State&) { return std::nullopt; }

using hostsim::CallKind;

ZRV_ReturnStatus Kernel(const char* ruleName, const hostsim::KernelCall& call) {
  return Guarded<ZRV_ReturnStatus>(ZRV_NO_MEMORY,
                                   [&](Library& lib) { return lib.KernelCall(ruleName, call); });
}

}  // namespace

extern "C" {

KNI_ParamList* KNI_ParamListCreate(uint32_t kind, uint32_t capacity) {
  if ((kind != KNI_PARAM_LIST_INPUT && kind != KNI_PARAM_LIST_INSTANCE) || capacity == 0) {
    return nullptr;
  }
  return Guarded<KNI_ParamList*>(nullptr, [&](Library& lib) -> KNI_ParamList* {
    // A rule fails the creation whatever its status: the caller sees no list.
    if (lib.ListFault("ParamListCreate", NoPath)) return nullptr;
    return lib.NewList(kind, capacity);
  });
}

ZRV_ReturnStatus KNI_ParamListAddInt(KNI_ParamList* list, uint64_t value) {
  return Guarded<ZRV_ReturnStatus>(ZRV_NO_MEMORY, [&](Library& lib) {
    if (list == nullptr || !lib.IsLive(list) || list->kind != KNI_PARAM_LIST_INSTANCE) {
      return ZRV_BAD_PARAM;
    }
    if (list->ints.size() >= list->capacity) return ZRV_LIMIT_EXCEEDED;
    auto path = [&](hostsim::State& state) { return hostsim::GroupPath(state, value); };
    if (std::optional<uint32_t> fault = lib.ListFault("ParamListAddInt", path)) return *fault;
    list->ints.push_back(value);
    return ZRV_OK;
  });
}

ZRV_ReturnStatus KNI_ParamListAddString(KNI_ParamList* list, const char* text) {
  return Guarded<ZRV_ReturnStatus>(ZRV_NO_MEMORY, [&](Library& lib) {
    if (list == nullptr || text == nullptr || !lib.IsLive(list) ||
        list->kind != KNI_PARAM_LIST_INPUT) {
      return ZRV_BAD_PARAM;
    }
    if (list->texts.size() >= list->capacity) return ZRV_LIMIT_EXCEEDED;
    std::string copy(text);
    auto path = [&](hostsim::State&) { return std::optional<std::string>(copy); };
    if (std::optional<uint32_t> fault = lib.ListFault("ParamListAddString", path)) return *fault;
    list->texts.push_back(std::move(copy));
    return ZRV_OK;
  });
}

void KNI_ParamListDestroy(KNI_ParamList* list) {
  if (list == nullptr) return;
  Guarded<int>(0, [&](Library& lib) {
    lib.DestroyList(list);
    return 0;
  });
}

static uint32_t EntryCount(const KNI_ParamList* list) {
  return Guarded<uint32_t>(0, [&](Library& lib) -> uint32_t {
    if (list == nullptr || !lib.IsLive(list)) return 0;
    return static_cast<uint32_t>(list->kind == KNI_PARAM_LIST_INSTANCE ? list->ints.size()
                                                                       : list->texts.size());
  });
}

uint32_t KNI_ParamListUsedCount(const KNI_ParamList* list) { return EntryCount(list); }

uint32_t KNI_ParamListNumInstances(const KNI_ParamList* list) { return EntryCount(list); }

ZRV_ReturnStatus KNI_ParamListGetUInt64(const KNI_ParamList* list, uint32_t index,
                                        uint64_t* value) {
  return Guarded<ZRV_ReturnStatus>(ZRV_NO_MEMORY, [&](Library& lib) {
    if (list == nullptr || value == nullptr || !lib.IsLive(list) ||
        list->kind != KNI_PARAM_LIST_INSTANCE || index >= list->ints.size()) {
      return ZRV_BAD_PARAM;
    }
    uint64_t id = list->ints[index];
    auto path = [&](hostsim::State& state) { return hostsim::GroupPath(state, id); };
    if (std::optional<uint32_t> fault = lib.ListFault("ParamListGetUInt64", path)) return *fault;
    *value = id;
    return ZRV_OK;
  });
}

ZRV_ReturnStatus KNI_Get(KNI_Node node, KNI_ParamList* instances, void* out, uint32_t outSize) {
  return Kernel("Get", {CallKind::kGet, node, instances, nullptr, out, outSize});
}

ZRV_ReturnStatus KNI_Set(KNI_Node node, KNI_ParamList* instances, KNI_ParamList* inputs, void* out,
                         uint32_t outSize) {
  return Kernel("Set", {CallKind::kSet, node, instances, inputs, out, outSize});
}

ZRV_ReturnStatus KNI_GetInstanceListAlloc(KNI_Node node, KNI_ParamList* instances,
                                          KNI_ParamList** out) {
  return Kernel("GetInstanceListAlloc",
                {CallKind::kGetInstanceListAlloc, node, instances, nullptr, nullptr, 0, out});
}

ZRV_ReturnStatus KNI_CheckSig(char* kernelDate, uint32_t size, const char** toolDate) {
  return Guarded<ZRV_ReturnStatus>(
      ZRV_NO_MEMORY, [&](Library& lib) { return lib.CheckSig(kernelDate, size, toolDate); });
}

const char* ZRV_ReturnStatusToString(ZRV_ReturnStatus status) {
  static const struct {
    ZRV_ReturnStatus status;
    const char* text;
  } kTexts[] = {{ZRV_OK, "Success"},           {ZRV_FAILURE, "Failure"},
                {ZRV_NOT_FOUND, "Not found"},   {ZRV_BUSY, "Busy"},
                {ZRV_EXISTS, "Already exists"}, {ZRV_NO_MEMORY, "Out of memory"},
                {ZRV_BAD_PARAM, "Bad parameter"}, {ZRV_LIMIT_EXCEEDED, "Limit exceeded"},
                {ZRV_NAME_TOO_LONG, "Name too long"}, {ZRV_GROUP_IN_USE, "Group in use"}};
  for (const auto& t : kTexts) {
    if (t.status == status) return t.text;
  }
  // Per thread, so the text stays valid until the same thread asks again.
  thread_local char unknown[32];
  snprintf(unknown, sizeof unknown, "Unknown status 0x%08" PRIX32, status);
  return unknown;
}

}  // extern "C"
