// The legacy option mode: one group path, no definitions. It speaks to the
// kernel interface directly and answers with distinct exit statuses; every
// problem is logged to the system log with a copy on standard error.
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "common/signature.h"
#include "kni.h"
#include "platform/kernel_records.h"
#include "sched/param_list.h"
#include "sched/sched.h"

namespace {

using Sched::MakeParamList;
using Sched::ParamList;

constexpr uint64_t kNoGroup = UINT64_MAX;
constexpr useconds_t kPollMicros = 100000;

const char kUsage[] =
    "poolctl <options>\n"
    "   Legacy memory resource pool operations\n"
    "Options:\n"
    "    -e              Check if group is empty\n"
    "    -g path         Specify group path\n"
    "    -i              Print group configuration and stats\n"
    "    -m memMB        Size memory for the group\n"
    "    -w time         Time in seconds to poll and wait for group to become empty\n";

enum Status { kDone = 0, kUsageError = 1, kNotEmpty = 2, kTimeout = 3, kKernelError = 4 };

__attribute__((format(printf, 1, 2))) void LegacyLog(const char* format, ...) {
  openlog("poolctl", LOG_NDELAY | LOG_PERROR, LOG_DAEMON);
  va_list args;
  va_start(args, format);
  vsyslog(LOG_INFO, format, args);
  va_end(args);
  closelog();
}

void PrintUsage() { std::fwrite(kUsage, 1, sizeof kUsage - 1, stderr); }

const char* StatusText(ZRV_ReturnStatus status) { return ZRV_ReturnStatusToString(status); }

ZRV_ReturnStatus LegacyCountMemberGroups(uint64_t id, uint32_t& count) {
  ParamList instance = MakeParamList(KNI_PARAM_LIST_INSTANCE, 1);
  if (!instance) return ZRV_NO_MEMORY;
  ZRV_ReturnStatus status = KNI_ParamListAddInt(instance.get(), id);
  if (status != ZRV_OK) return status;
  KNI_ParamList* raw = nullptr;
  status = KNI_GetInstanceListAlloc(KNI_NODE_sched_groups_members_groups, instance.get(), &raw);
  ParamList members(raw);
  if (status != ZRV_OK) return status;
  count = KNI_ParamListNumInstances(members.get());
  return ZRV_OK;
}

ZRV_ReturnStatus LegacySetGroupMem(uint64_t id, int32_t megabytes) {
  ParamList instance = MakeParamList(KNI_PARAM_LIST_INSTANCE, 1);
  if (!instance) return ZRV_NO_MEMORY;
  ZRV_ReturnStatus status = KNI_ParamListAddInt(instance.get(), id);
  if (status != ZRV_OK) return status;
  ParamList input = MakeParamList(KNI_PARAM_LIST_INPUT, 2);
  if (!input) return ZRV_NO_MEMORY;
  char text[40];
  std::snprintf(text, sizeof text, "min=%d", megabytes);
  status = KNI_ParamListAddString(input.get(), text);
  if (status == ZRV_OK) {
    std::snprintf(text, sizeof text, "max=%d", megabytes);
    status = KNI_ParamListAddString(input.get(), text);
  }
  if (status != ZRV_OK) return status;
  return KNI_Set(KNI_NODE_sched_groups_memAllocationInMB, instance.get(), input.get(), nullptr, 0);
}

ZRV_ReturnStatus ResolveGroupPath(const char* path, uint64_t& id) {
  ParamList input = MakeParamList(KNI_PARAM_LIST_INPUT, 1);
  if (!input) return ZRV_NO_MEMORY;
  ZRV_ReturnStatus status = KNI_ParamListAddString(input.get(), path);
  if (status != ZRV_OK) return status;
  return KNI_Set(KNI_NODE_sched_groupPathNameToID, nullptr, input.get(), &id, sizeof id);
}

// KB to MB, rounding up, without the overflow of (kb + 1023) / 1024 near the top.
uint64_t KbToMbRoundingUp(uint64_t kb) { return kb / 1024 + (kb % 1024 != 0 ? 1 : 0); }

using StatsRecord = KernelRecords::Record<KNI_MEMORY_STATS_SIZE>;

ZRV_ReturnStatus ReadStats(uint64_t id, Sched::MemAllocation& mem, StatsRecord& stats) {
  ParamList instance = MakeParamList(KNI_PARAM_LIST_INSTANCE, 1);
  if (!instance) return ZRV_NO_MEMORY;
  ZRV_ReturnStatus status = KNI_ParamListAddInt(instance.get(), id);
  if (status == ZRV_OK) {
    status = KNI_Get(KNI_NODE_sched_groups_memAllocationInMB, instance.get(), &mem, sizeof mem);
  }
  if (status == ZRV_OK) {
    status = KNI_Get(KNI_NODE_sched_groups_stats_memoryStats, instance.get(), stats.data(),
                     stats.size());
  }
  return status;
}

int PrintStats(uint64_t id, const std::string& name) {
  Sched::MemAllocation mem = {};
  StatsRecord stats{};
  ZRV_ReturnStatus status = ReadStats(id, mem, stats);
  if (status != ZRV_OK) {
    LegacyLog("Failed to get groups %s stats: %s\n", name.c_str(), StatusText(status));
    return kKernelError;
  }
  using KernelRecords::FieldAt;
  const auto rminpeakKb = FieldAt<uint64_t>(stats, KernelRecords::kStatsRminpeakKbAt);
  const auto rminchildpeakKb = FieldAt<uint64_t>(stats, KernelRecords::kStatsRminchildpeakKbAt);
  int64_t min = mem.min, max = mem.max;
  std::printf("{\n\"minMB\": %" PRId64 ",\n\"maxMB\": %" PRId64 ",\n\"rminpeakMB\": %" PRId64
              ",\n\"rminchildpeakMB\": %" PRId64 "\n}\n",
              min, max, static_cast<int64_t>(KbToMbRoundingUp(rminpeakKb)),
              static_cast<int64_t>(KbToMbRoundingUp(rminchildpeakKb)));
  return kDone;
}

int SetMemory(uint64_t id, const std::string& name, int32_t megabytes) {
  ZRV_ReturnStatus status = LegacySetGroupMem(id, megabytes);
  if (status != ZRV_OK) {
    LegacyLog("Failed to set group %s mem: %s\n", name.c_str(), StatusText(status));
    return kKernelError;
  }
  return kDone;
}

// strtol in base 10 over the whole text, within [low, high].
bool ParseWhole(const char* text, long low, long high, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return *end == '\0' && errno != ERANGE && value >= low && value <= high;
}

struct Options {
  uint64_t id = kNoGroup;
  std::string name = "<not initialized>";
  bool empty = false, wait = false, info = false, memory = false;
  int32_t megabytes = 0;
  int64_t waitMicros = 0;
};

// Returns -1 when the options are read and the action should run, else the
// exit status to end with.
int ParseOptions(int argc, char** argv, Options& o) {
  for (int opt; (opt = getopt(argc, argv, "eg:im:w:h")) != -1;) {
    long value = 0;
    switch (opt) {
      case 'e':
        o.empty = true;
        break;
      case 'g': {
        uint64_t id = 0;
        ZRV_ReturnStatus status = ResolveGroupPath(optarg, id);
        if (status != ZRV_OK) {
          LegacyLog("Group %s was not found: %s\n", optarg, StatusText(status));
          return kUsageError;
        }
        o.id = id;
        o.name = optarg;
        break;
      }
      case 'h':
        PrintUsage();
        return kDone;
      case 'i':
        o.info = true;
        break;
      case 'm':
        if (*optarg == '\0') {
          LegacyLog("memory size (MB) is not specified\n");
          return kUsageError;
        }
        // A size the kernel's 32-bit field cannot hold is refused, not truncated.
        if (!ParseWhole(optarg, INT32_MIN, INT32_MAX, value)) {
          LegacyLog("incorrect value for memory size (MB) specified: %s\n", optarg);
          return kUsageError;
        }
        o.megabytes = static_cast<int32_t>(value);
        o.memory = true;
        break;
      case 'w':
        if (*optarg == '\0') {
          LegacyLog("wait time is not specified\n");
          return kUsageError;
        }
        // The wait is kept in microseconds: refuse seconds that would overflow it.
        if (!ParseWhole(optarg, INT64_MIN / 1000000, INT64_MAX / 1000000, value)) {
          LegacyLog("incorrect value for wait time specified: %s\n", optarg);
          return kUsageError;
        }
        o.waitMicros = static_cast<int64_t>(value) * 1000000;
        o.wait = true;
        break;
      default:
        PrintUsage();
        return kUsageError;
    }
  }
  return -1;
}

int CheckEmpty(const Options& o) {
  uint32_t count = 0;
  ZRV_ReturnStatus status = LegacyCountMemberGroups(o.id, count);
  if (status != ZRV_OK) {
    LegacyLog("Failed to check group %s: %s\n", o.name.c_str(), StatusText(status));
    return kKernelError;
  }
  std::puts(count != 0 ? "not empty" : "empty");
  return count != 0 ? kNotEmpty : kDone;
}

// Polls every 100 ms; a failed count is treated like a group still in use.
int WaitUntilEmpty(const Options& o) {
  if (o.waitMicros > 0) {
    for (int64_t waited = 0;;) {
      uint32_t count = 0;
      if (LegacyCountMemberGroups(o.id, count) == ZRV_OK && count == 0) {
        std::puts("empty");
        return o.memory ? SetMemory(o.id, o.name, o.megabytes) : kDone;
      }
      usleep(kPollMicros);
      waited += kPollMicros;
      if (waited >= o.waitMicros) break;
    }
  }
  LegacyLog("Timeout waiting for %s to be empty", o.name.c_str());
  return kTimeout;
}

}  // namespace

int LegacyMain(int argc, char** argv) {
  CheckKernelSignatureOrExit(
      "error: md5 signature mismatch with running zorvek built on %s (my build date: %s)\n");

  Options o;
  int status = ParseOptions(argc, argv, o);
  if (status >= 0) return status;
  if (o.id == kNoGroup) {
    LegacyLog("Group -g parameter was not specified\n");
    return kUsageError;
  }
  if (o.empty) return CheckEmpty(o);
  if (o.wait) return WaitUntilEmpty(o);
  if (o.info) {
    status = PrintStats(o.id, o.name);
    if (status != kDone) return status;
  }
  return o.memory ? SetMemory(o.id, o.name, o.megabytes) : kDone;
}
