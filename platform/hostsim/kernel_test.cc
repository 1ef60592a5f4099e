// The simulated kernel as its callers see it, through the interface in this
// process, on a fresh host per test; the hostsim tool sets up what the
// interface cannot (worlds, statistics, facts, rules).
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "kni.h"
#include "platform/hostsim/hostsim_testing.h"
#include "tests/e2e/harness.h"

namespace {

struct ListDeleter {
  void operator()(KNI_ParamList* list) const { KNI_ParamListDestroy(list); }
};
using List = std::unique_ptr<KNI_ParamList, ListDeleter>;

List Ids(std::vector<uint64_t> ids) {
  List list(KNI_ParamListCreate(KNI_PARAM_LIST_INSTANCE, ids.empty() ? 1 : ids.size()));
  for (uint64_t id : ids) EXPECT_EQ(KNI_ParamListAddInt(list.get(), id), ZRV_OK);
  return list;
}

List Texts(std::vector<std::string> texts) {
  List list(KNI_ParamListCreate(KNI_PARAM_LIST_INPUT, texts.empty() ? 1 : texts.size()));
  for (const std::string& t : texts)
    EXPECT_EQ(KNI_ParamListAddString(list.get(), t.c_str()), ZRV_OK);
  return list;
}

struct Mem {
  int64_t min, max, shares, minLimit;
  uint32_t trailer;
  bool operator==(const Mem& o) const {
    return min == o.min && max == o.max && shares == o.shares && minLimit == o.minLimit;
  }
};

std::ostream& operator<<(std::ostream& os, const Mem& m) {
  return os << m.min << "," << m.max << "," << m.shares << "," << m.minLimit;
}

constexpr uint64_t kRoot = 0, kHost = 1, kHostOpt = 3;

class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override { hostsim::UseStateFile(host_.db()); }
  void TearDown() override { EXPECT_EQ(hostsim::LiveParamLists(), 0) << "leaked parameter lists"; }

  void Hostsim(const std::vector<std::string>& args) {
    e2e::RunResult r = host_.Hostsim(args);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  uint32_t Create(uint64_t parent, const std::string& name, uint64_t* id = nullptr) {
    uint64_t out = 0;
    uint32_t status = KNI_Set(KNI_NODE_sched_groups_groupCreate, Ids({parent}).get(),
                              Texts({name}).get(), &out, sizeof out);
    if (id != nullptr) *id = out;
    return status;
  }

  uint32_t Lookup(const std::string& path, uint64_t* id) {
    return KNI_Set(KNI_NODE_sched_groupPathNameToID, nullptr, Texts({path}).get(), id, 8);
  }

  std::string PathOf(uint64_t id) {
    char path[KNI_GROUP_PATH_SIZE];
    uint32_t status =
        KNI_Get(KNI_NODE_sched_groups_groupPathName, Ids({id}).get(), path, sizeof path);
    return status == ZRV_OK ? std::string(path)
                            : "<" + std::string(ZRV_ReturnStatusToString(status)) + ">";
  }

  Mem GetMem(uint64_t id) {
    unsigned char buf[KNI_MEM_ALLOCATION_SIZE];
    EXPECT_EQ(KNI_Get(KNI_NODE_sched_groups_memAllocationInMB, Ids({id}).get(), buf, sizeof buf),
              ZRV_OK);
    Mem m;
    std::memcpy(&m, buf, 32);
    std::memcpy(&m.trailer, buf + 32, 4);
    return m;
  }

  uint32_t Set(KNI_Node node, uint64_t id, const std::vector<std::string>& texts) {
    return KNI_Set(node, Ids({id}).get(), Texts(texts).get(), nullptr, 0);
  }

  std::vector<uint64_t> Members(uint64_t id) {
    KNI_ParamList* raw = nullptr;
    EXPECT_EQ(KNI_GetInstanceListAlloc(KNI_NODE_sched_groups_members_groups, Ids({id}).get(), &raw),
              ZRV_OK);
    List list(raw);
    EXPECT_NE(raw, nullptr);
    std::vector<uint64_t> ids(KNI_ParamListUsedCount(raw));
    for (uint32_t i = 0; i < ids.size(); ++i)
      EXPECT_EQ(KNI_ParamListGetUInt64(raw, i, &ids[i]), ZRV_OK);
    return ids;
  }

  e2e::SimHost host_;
};

TEST_F(KernelTest, CreateRefusesAsTheKernelDoes) {
  // host/opt/ is 9 bytes; with the NUL the path buffer holds 779 more.
  const std::string longest(770, 'n');
  struct Case {
    uint64_t parent;
    std::string name;
    uint32_t status;
    std::string path;  // where the group then is
  } cases[] = {
      {999, "a", ZRV_NOT_FOUND, ""},
      {kHost, "opt", ZRV_EXISTS, ""},
      {kHost, "", ZRV_BAD_PARAM, ""},
      {kHost, "a/b", ZRV_BAD_PARAM, ""},
      {kHost, "/", ZRV_BAD_PARAM, ""},
      {kHostOpt, longest + "n", ZRV_NAME_TOO_LONG, ""},
      {kHostOpt, longest, ZRV_OK, "host/opt/" + longest},
      {kRoot, "top", ZRV_OK, "top"},
      {kHostOpt, "a b\tc", ZRV_OK, "host/opt/a b\tc"},
  };
  uint64_t nextId = 5;
  for (const Case& c : cases) {
    uint64_t id = 0;
    EXPECT_EQ(Create(c.parent, c.name, &id), c.status) << c.name.substr(0, 20);
    if (c.status != ZRV_OK) continue;
    EXPECT_EQ(id, nextId++);
    EXPECT_EQ(PathOf(id), c.path);
  }
}

TEST_F(KernelTest, DeleteRefusesAsTheKernelDoes) {
  Hostsim({"mkgroup", "host/opt/busy"});          // 5
  Hostsim({"mkgroup", "host/opt/busy/child"});    // 6
  Hostsim({"mkgroup", "host/opt/parent"});        // 7
  Hostsim({"mkgroup", "host/opt/parent/child"});  // 8
  Hostsim({"busy", "host/opt/busy", "2"});
  struct Case {
    uint64_t id;
    uint32_t status;
  } cases[] = {
      {kRoot, ZRV_BAD_PARAM},       {kHost, ZRV_BAD_PARAM},
      {999, ZRV_NOT_FOUND},         {5, ZRV_BUSY},
      {7, ZRV_GROUP_IN_USE},        {8, ZRV_OK},
      {8, ZRV_NOT_FOUND},           {7, ZRV_OK},
      {kHostOpt, ZRV_GROUP_IN_USE},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KNI_Set(KNI_NODE_sched_groups_delete, Ids({c.id}).get(), nullptr, nullptr, 0),
              c.status)
        << c.id;
  }
  EXPECT_EQ(PathOf(5), "host/opt/busy");
  EXPECT_EQ(PathOf(7), "<Not found>");
}

TEST_F(KernelTest, PathLookupWalksWholeNames) {
  Hostsim({"mkgroup", "host/opt/a"});
  struct Case {
    std::string path;
    uint32_t status;
    uint64_t id;
  } cases[] = {
      {"", ZRV_OK, kRoot},         {"host", ZRV_OK, kHost},         {"host/opt", ZRV_OK, kHostOpt},
      {"host/opt/a", ZRV_OK, 5},   {"host//opt", ZRV_NOT_FOUND, 0}, {"host/", ZRV_NOT_FOUND, 0},
      {"/host", ZRV_NOT_FOUND, 0}, {"Host", ZRV_NOT_FOUND, 0},      {"host/op", ZRV_NOT_FOUND, 0},
      {"opt", ZRV_NOT_FOUND, 0},
  };
  for (const Case& c : cases) {
    uint64_t id = 12345;
    EXPECT_EQ(Lookup(c.path, &id), c.status) << c.path;
    EXPECT_EQ(id, c.status == ZRV_OK ? c.id : 12345u) << c.path;
  }
}

TEST_F(KernelTest, ParentOfGroups) {
  struct Case {
    uint64_t id;
    uint32_t status;
    uint64_t parent;
  } cases[] = {{kRoot, ZRV_NOT_FOUND, 0},
               {kHost, ZRV_OK, kRoot},
               {kHostOpt, ZRV_OK, kHost},
               {77, ZRV_NOT_FOUND, 0}};
  for (const Case& c : cases) {
    uint64_t parent = 0;
    EXPECT_EQ(KNI_Get(KNI_NODE_sched_groups_parentGroupID, Ids({c.id}).get(), &parent, 8),
              c.status);
    EXPECT_EQ(parent, c.parent) << c.id;
  }
}

// Each case starts from min 10, max 100, shares -1, minLimit -1.
TEST_F(KernelTest, SetAllocationParsesAndChecksAllKeysBeforeChangingAny) {
  const Mem start = {10, 100, -1, -1, 0};
  struct Case {
    std::vector<std::string> texts;
    uint32_t status;
    Mem after;
  } cases[] = {
      {{}, ZRV_OK, start},
      {{"min=20"}, ZRV_OK, {20, 100, -1, -1, 0}},
      {{"max=-1"}, ZRV_OK, {10, -1, -1, -1, 0}},
      {{"shares=-3", "minLimit=5"}, ZRV_OK, {10, 100, -3, 5, 0}},
      {{"min=7", "min=8"}, ZRV_OK, {8, 100, -1, -1, 0}},
      {{"min=007"}, ZRV_OK, {7, 100, -1, -1, 0}},
      {{"max=9223372036854775807"}, ZRV_OK, {10, INT64_MAX, -1, -1, 0}},
      {{"max=9223372036854775808"}, ZRV_BAD_PARAM, start},
      {{"minLimit=-9223372036854775808"}, ZRV_OK, {10, 100, -1, INT64_MIN, 0}},
      {{"minLimit=-9223372036854775809"}, ZRV_BAD_PARAM, start},
      {{"min=0", "max=0"}, ZRV_OK, {0, 0, -1, -1, 0}},
      {{"min=-1"}, ZRV_BAD_PARAM, start},
      {{"max=9"}, ZRV_BAD_PARAM, start},
      {{"min=101"}, ZRV_BAD_PARAM, start},
      {{"min=101", "max=-1"}, ZRV_OK, {101, -1, -1, -1, 0}},
      {{"max=-2"}, ZRV_BAD_PARAM, start},
      {{"min=50", "bogus=1"}, ZRV_BAD_PARAM, start},
      {{"min=50", "max=1x"}, ZRV_BAD_PARAM, start},
      {{"min="}, ZRV_BAD_PARAM, start},
      {{"=5"}, ZRV_BAD_PARAM, start},
      {{"min"}, ZRV_BAD_PARAM, start},
      {{"min= 5"}, ZRV_BAD_PARAM, start},
      {{"min=+5"}, ZRV_BAD_PARAM, start},
      {{"min=0x10"}, ZRV_BAD_PARAM, start},
      {{"min=-"}, ZRV_BAD_PARAM, start},
      {{"MIN=5"}, ZRV_BAD_PARAM, start},
      {{"min =5"}, ZRV_BAD_PARAM, start},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Set(KNI_NODE_sched_groups_memAllocationInMB, kHostOpt,
                  {"min=10", "max=100", "minLimit=-1", "shares=-1"}),
              ZRV_OK);
    std::string what = c.texts.empty() ? "(none)" : c.texts.back();
    EXPECT_EQ(Set(KNI_NODE_sched_groups_memAllocationInMB, kHostOpt, c.texts), c.status) << what;
    EXPECT_EQ(GetMem(kHostOpt), c.after) << what;
  }
}

TEST_F(KernelTest, CpuKeysAreThirtyTwoBitsWide) {
  struct Case {
    std::string text;
    uint32_t status;
  } cases[] = {
      {"max=2147483647", ZRV_OK},
      {"max=2147483648", ZRV_BAD_PARAM},
      {"shares=-2147483648", ZRV_OK},
      {"shares=-2147483649", ZRV_BAD_PARAM},
      {"minLimit=4294967295", ZRV_BAD_PARAM},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Set(KNI_NODE_sched_groups_cpuAllocationInPct, kHostOpt, {c.text}), c.status)
        << c.text;
  }
  unsigned char buf[KNI_CPU_ALLOCATION_SIZE];
  ASSERT_EQ(
      KNI_Get(KNI_NODE_sched_groups_cpuAllocationInPct, Ids({kHostOpt}).get(), buf, sizeof buf),
      ZRV_OK);
  int32_t fields[4];
  uint32_t trailer;
  std::memcpy(fields, buf, 16);
  std::memcpy(&trailer, buf + 16, 4);
  EXPECT_EQ(fields[0], 0);
  EXPECT_EQ(fields[1], INT32_MAX);
  EXPECT_EQ(fields[2], INT32_MIN);
  EXPECT_EQ(fields[3], -1);
  EXPECT_EQ(trailer, 0x00004D42u);
}

TEST_F(KernelTest, IncreaseAndDecreaseMoveMinAndSetMax) {
  struct Case {
    const char* setup;  // mem record set first
    KNI_Node node;
    std::vector<std::string> texts;
    uint32_t status;
    Mem after;
  } cases[] = {
      {"100,200,-1,-1",
       KNI_NODE_sched_groups_increaseMemMinMaxInMB,
       {"min=50", "max=0"},
       ZRV_OK,
       {150, 200, -1, -1, 0}},
      {"100,200,-1,-1",
       KNI_NODE_sched_groups_increaseMemMinMaxInMB,
       {"min=0", "max=50"},
       ZRV_OK,
       {100, 250, -1, -1, 0}},
      {"100,-1,-1,-1",
       KNI_NODE_sched_groups_increaseMemMinMaxInMB,
       {"min=5", "max=7"},
       ZRV_OK,
       {105, -1, -1, -1, 0}},
      {"100,200,-1,-1",
       KNI_NODE_sched_groups_decreaseMemMinMaxInMB,
       {"min=100", "max=0"},
       ZRV_OK,
       {0, 200, -1, -1, 0}},
      {"100,200,-1,-1",
       KNI_NODE_sched_groups_decreaseMemMinMaxInMB,
       {"min=101", "max=0"},
       ZRV_BAD_PARAM,
       {100, 200, -1, -1, 0}},
      {"100,200,-1,-1",
       KNI_NODE_sched_groups_decreaseMemMinMaxInMB,
       {"min=0", "max=201"},
       ZRV_BAD_PARAM,
       {100, 200, -1, -1, 0}},
      {"100,-1,-1,-1",
       KNI_NODE_sched_groups_decreaseMemMinMaxInMB,
       {"min=1", "max=5000"},
       ZRV_OK,
       {99, -1, -1, -1, 0}},
      {"1,-1,-1,-1",
       KNI_NODE_sched_groups_increaseMemMinMaxInMB,
       {"min=9223372036854775807"},
       ZRV_BAD_PARAM,
       {1, -1, -1, -1, 0}},
      {"0,-1,-1,-1",
       KNI_NODE_sched_groups_increaseMemMinMaxInMB,
       {"min=18446744073709551615"},
       ZRV_BAD_PARAM,
       {0, -1, -1, -1, 0}},
      {"0,-1,-1,-1",
       KNI_NODE_sched_groups_increaseMemMinMaxInMB,
       {"min=18446744073709551616"},
       ZRV_BAD_PARAM,
       {0, -1, -1, -1, 0}},
      {"5,9,-1,-1",
       KNI_NODE_sched_groups_increaseMemMinMaxInMB,
       {"min=-1"},
       ZRV_BAD_PARAM,
       {5, 9, -1, -1, 0}},
      {"5,9,-1,-1",
       KNI_NODE_sched_groups_increaseMemMinMaxInMB,
       {"shares=1"},
       ZRV_BAD_PARAM,
       {5, 9, -1, -1, 0}},
      {"5,9,-1,-1",
       KNI_NODE_sched_groups_increaseMemMinMaxInMB,
       {"min=1", "bad"},
       ZRV_BAD_PARAM,
       {5, 9, -1, -1, 0}},
      {"5,9,7,3",
       KNI_NODE_sched_groups_increaseMemMinMaxInMB,
       {"min=1", "max=1"},
       ZRV_OK,
       {6, 10, 7, 3, 0}},
  };
  for (const Case& c : cases) {
    Hostsim({"setmem", "host/opt", c.setup});
    EXPECT_EQ(Set(c.node, kHostOpt, c.texts), c.status) << c.setup << " " << c.texts[0];
    EXPECT_EQ(GetMem(kHostOpt), c.after) << c.setup << " " << c.texts[0];
  }
}

TEST_F(KernelTest, MembersComeInCreationOrderAndIdsAreNeverReused) {
  uint64_t b, a, c, d;
  ASSERT_EQ(Create(kHostOpt, "b", &b), ZRV_OK);
  ASSERT_EQ(Create(kHostOpt, "a", &a), ZRV_OK);
  ASSERT_EQ(Create(kHostOpt, "c", &c), ZRV_OK);
  EXPECT_EQ(Members(kHostOpt), (std::vector<uint64_t>{b, a, c}));
  ASSERT_EQ(KNI_Set(KNI_NODE_sched_groups_delete, Ids({a}).get(), nullptr, nullptr, 0), ZRV_OK);
  ASSERT_EQ(Create(kHostOpt, "a", &d), ZRV_OK);
  EXPECT_EQ(d, c + 1);
  EXPECT_EQ(Members(kHostOpt), (std::vector<uint64_t>{b, c, d}));
  EXPECT_EQ(Members(b), std::vector<uint64_t>{});
  EXPECT_EQ(Members(kRoot), std::vector<uint64_t>{kHost});
}

TEST_F(KernelTest, ParameterListsCheckKindAndCapacity) {
  struct CreateCase {
    uint32_t kind, capacity;
    bool made;
  } creates[] = {{0, 1, true},  {1, 1, true},  {2, 1, false},
                 {0, 0, false}, {1, 0, false}, {0xFFFFFFFF, 5, false}};
  for (const CreateCase& c : creates) {
    List list(KNI_ParamListCreate(c.kind, c.capacity));
    EXPECT_EQ(list != nullptr, c.made) << c.kind << "/" << c.capacity;
  }

  List ints(KNI_ParamListCreate(KNI_PARAM_LIST_INSTANCE, 2));
  List texts(KNI_ParamListCreate(KNI_PARAM_LIST_INPUT, 2));
  uint64_t value = 0;
  struct Case {
    const char* what;
    uint32_t status;
    uint32_t expected;
  } cases[] = {
      {"int into an instance list", KNI_ParamListAddInt(ints.get(), 7), ZRV_OK},
      {"text into an instance list", KNI_ParamListAddString(ints.get(), "x"), ZRV_BAD_PARAM},
      {"int into an input list", KNI_ParamListAddInt(texts.get(), 7), ZRV_BAD_PARAM},
      {"text into an input list", KNI_ParamListAddString(texts.get(), "x"), ZRV_OK},
      {"null text", KNI_ParamListAddString(texts.get(), nullptr), ZRV_BAD_PARAM},
      {"second int", KNI_ParamListAddInt(ints.get(), 8), ZRV_OK},
      {"int past capacity", KNI_ParamListAddInt(ints.get(), 9), ZRV_LIMIT_EXCEEDED},
      {"second text", KNI_ParamListAddString(texts.get(), ""), ZRV_OK},
      {"text past capacity", KNI_ParamListAddString(texts.get(), "z"), ZRV_LIMIT_EXCEEDED},
      {"int into no list", KNI_ParamListAddInt(nullptr, 1), ZRV_BAD_PARAM},
      {"read index 1", KNI_ParamListGetUInt64(ints.get(), 1, &value), ZRV_OK},
      {"read past the end", KNI_ParamListGetUInt64(ints.get(), 2, &value), ZRV_BAD_PARAM},
      {"read into null", KNI_ParamListGetUInt64(ints.get(), 0, nullptr), ZRV_BAD_PARAM},
      {"read an input list", KNI_ParamListGetUInt64(texts.get(), 0, &value), ZRV_BAD_PARAM},
  };
  for (const Case& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
  EXPECT_EQ(value, 8u);
  EXPECT_EQ(KNI_ParamListUsedCount(ints.get()), 2u);
  EXPECT_EQ(KNI_ParamListNumInstances(texts.get()), 2u);
  EXPECT_EQ(KNI_ParamListUsedCount(nullptr), 0u);
}

// A destroyed list is refused, not followed: the caller's mistake costs a
// status, not the process.
TEST_F(KernelTest, DestroyedListsAreRefused) {
  KNI_ParamList* list = KNI_ParamListCreate(KNI_PARAM_LIST_INSTANCE, 1);
  ASSERT_EQ(KNI_ParamListAddInt(list, kHostOpt), ZRV_OK);
  EXPECT_EQ(hostsim::LiveParamLists(), 1);
  KNI_ParamListDestroy(list);
  KNI_ParamListDestroy(list);
  KNI_ParamListDestroy(nullptr);
  EXPECT_EQ(hostsim::LiveParamLists(), 0);
  unsigned char buf[KNI_MEM_ALLOCATION_SIZE];
  EXPECT_EQ(KNI_Get(KNI_NODE_sched_groups_memAllocationInMB, list, buf, sizeof buf), ZRV_BAD_PARAM);
  EXPECT_EQ(KNI_ParamListAddInt(list, 1), ZRV_BAD_PARAM);
  EXPECT_EQ(KNI_ParamListUsedCount(list), 0u);
}

TEST_F(KernelTest, RecordsTakeExactlyTheirSize) {
  Hostsim({"mkgroup", "host/opt/x"});
  struct Case {
    KNI_Node node;
    uint32_t size;
    bool group;  // takes the group's id as instance
  } cases[] = {
      {KNI_NODE_system_bootCmdLine, KNI_BOOT_CMDLINE_SIZE, false},
      {KNI_NODE_system_bootOption, KNI_BOOT_OPTION_SIZE, false},
      {KNI_NODE_hardware_cpu_cpuInfo, KNI_CPU_INFO_SIZE, false},
      {KNI_NODE_memory_comprehensive, KNI_MEMORY_SIZE, false},
      {KNI_NODE_system_supportedVMs, KNI_SUPPORTED_VMS_SIZE, false},
      {KNI_NODE_sched_groups_groupPathName, KNI_GROUP_PATH_SIZE, true},
      {KNI_NODE_sched_groups_parentGroupID, 8, true},
      {KNI_NODE_sched_groups_memAllocationInMB, KNI_MEM_ALLOCATION_SIZE, true},
      {KNI_NODE_sched_groups_cpuAllocationInPct, KNI_CPU_ALLOCATION_SIZE, true},
      {KNI_NODE_sched_groups_stats_memoryStats, KNI_MEMORY_STATS_SIZE, true},
  };
  std::vector<unsigned char> buf(KNI_BOOT_CMDLINE_SIZE + 1);
  for (const Case& c : cases) {
    std::fill(buf.begin(), buf.end(), 0xEE);
    List inst = c.group ? Ids({5}) : nullptr;
    List wrong = c.group ? nullptr : Ids({5});
    std::string what = std::to_string(c.node) + "/" + std::to_string(c.size);
    EXPECT_EQ(KNI_Get(c.node, inst.get(), buf.data(), c.size - 1), ZRV_BAD_PARAM) << what;
    EXPECT_EQ(KNI_Get(c.node, inst.get(), buf.data(), c.size + 1), ZRV_BAD_PARAM) << what;
    EXPECT_EQ(KNI_Get(c.node, inst.get(), nullptr, c.size), ZRV_BAD_PARAM) << what;
    EXPECT_EQ(KNI_Get(c.node, wrong.get(), buf.data(), c.size), ZRV_BAD_PARAM) << what;
    EXPECT_EQ(buf[0], 0xEE) << what << ": written on failure";
    EXPECT_EQ(KNI_Get(c.node, inst.get(), buf.data(), c.size), ZRV_OK) << what;
    EXPECT_EQ(buf[c.size], 0xEE) << what << ": written past the record";
    EXPECT_EQ(KNI_Set(c.node, inst.get(), Texts({"min=1"}).get(), nullptr, 0),
              c.node == KNI_NODE_sched_groups_memAllocationInMB ||
                      c.node == KNI_NODE_sched_groups_cpuAllocationInPct
                  ? ZRV_OK
                  : ZRV_BAD_PARAM)
        << what;
  }
  uint64_t id = 0;
  EXPECT_EQ(KNI_Get(0x7777, nullptr, &id, 8), ZRV_BAD_PARAM);
  EXPECT_EQ(KNI_Get(KNI_NODE_sched_groupPathNameToID, nullptr, &id, 8), ZRV_BAD_PARAM);
  KNI_ParamList* out = reinterpret_cast<KNI_ParamList*>(&id);
  EXPECT_EQ(KNI_GetInstanceListAlloc(KNI_NODE_sched_groups_memAllocationInMB, Ids({5}).get(), &out),
            ZRV_BAD_PARAM);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(KNI_GetInstanceListAlloc(KNI_NODE_sched_groups_members_groups, Ids({5}).get(), nullptr),
            ZRV_BAD_PARAM);
}

TEST_F(KernelTest, CallsCheckTheirListsShape) {
  uint64_t id = 0;
  struct Case {
    const char* what;
    uint32_t status;
  } cases[] = {
      {"create without parent",
       KNI_Set(KNI_NODE_sched_groups_groupCreate, nullptr, Texts({"n"}).get(), &id, 8)},
      {"create with two ids",
       KNI_Set(KNI_NODE_sched_groups_groupCreate, Ids({1, 3}).get(), Texts({"n"}).get(), &id, 8)},
      {"create with two names",
       KNI_Set(KNI_NODE_sched_groups_groupCreate, Ids({3}).get(), Texts({"n", "m"}).get(), &id, 8)},
      {"create with texts as instance",
       KNI_Set(KNI_NODE_sched_groups_groupCreate, Texts({"3"}).get(), Texts({"n"}).get(), &id, 8)},
      {"create with ids as input",
       KNI_Set(KNI_NODE_sched_groups_groupCreate, Ids({3}).get(), Ids({3}).get(), &id, 8)},
      {"create into 4 bytes",
       KNI_Set(KNI_NODE_sched_groups_groupCreate, Ids({3}).get(), Texts({"n"}).get(), &id, 4)},
      {"create without output",
       KNI_Set(KNI_NODE_sched_groups_groupCreate, Ids({3}).get(), Texts({"n"}).get(), nullptr, 0)},
      {"lookup with an instance",
       KNI_Set(KNI_NODE_sched_groupPathNameToID, Ids({3}).get(), Texts({"host"}).get(), &id, 8)},
      {"lookup without input", KNI_Set(KNI_NODE_sched_groupPathNameToID, nullptr, nullptr, &id, 8)},
      {"delete with input",
       KNI_Set(KNI_NODE_sched_groups_delete, Ids({3}).get(), Texts({"x"}).get(), nullptr, 0)},
      {"delete with output",
       KNI_Set(KNI_NODE_sched_groups_delete, Ids({3}).get(), nullptr, &id, 8)},
      {"set memory without input",
       KNI_Set(KNI_NODE_sched_groups_memAllocationInMB, Ids({3}).get(), nullptr, nullptr, 0)},
      {"set memory with output", KNI_Set(KNI_NODE_sched_groups_memAllocationInMB, Ids({3}).get(),
                                         Texts({"min=1"}).get(), &id, 8)},
      {"members of no group",
       KNI_GetInstanceListAlloc(KNI_NODE_sched_groups_members_groups, nullptr, nullptr)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.status, ZRV_BAD_PARAM) << c.what;
  EXPECT_EQ(Members(kHostOpt), std::vector<uint64_t>{}) << "a refused creation made a group";
}

TEST_F(KernelTest, FactRecordsHoldTheFactsAndZeroElsewhere) {
  struct Case {
    std::vector<std::string> init;
    uint32_t cpus;
    uint8_t vm, installer;
    uint64_t memKB;
    uint32_t maxVms;
    std::string cmdline;
  } cases[] = {
      {{"init"}, 16, 0, 0, 67108864, 512, ""},
      {{"init", "--cpus", "64", "--vm", "1", "--installer", "1", "--mem-kb", "0xFFFFFFFFFFFFFFFF",
        "--max-vms", "7", "--cmdline", "a=1 b"},
       64,
       1,
       1,
       UINT64_MAX,
       7,
       "a=1 b"},
      {{"init", "--cmdline", std::string(4095, 'c')},
       16,
       0,
       0,
       67108864,
       512,
       std::string(4095, 'c')},
  };
  for (const Case& c : cases) {
    Hostsim(c.init);
    unsigned char cpu[KNI_CPU_INFO_SIZE], boot[KNI_BOOT_OPTION_SIZE], mem[KNI_MEMORY_SIZE], vms[4];
    char cmdline[KNI_BOOT_CMDLINE_SIZE];
    std::memset(cmdline, 'X', sizeof cmdline);
    ASSERT_EQ(KNI_Get(KNI_NODE_hardware_cpu_cpuInfo, nullptr, cpu, sizeof cpu), ZRV_OK);
    ASSERT_EQ(KNI_Get(KNI_NODE_system_bootOption, nullptr, boot, sizeof boot), ZRV_OK);
    ASSERT_EQ(KNI_Get(KNI_NODE_memory_comprehensive, nullptr, mem, sizeof mem), ZRV_OK);
    ASSERT_EQ(KNI_Get(KNI_NODE_system_supportedVMs, nullptr, vms, sizeof vms), ZRV_OK);
    ASSERT_EQ(KNI_Get(KNI_NODE_system_bootCmdLine, nullptr, cmdline, sizeof cmdline), ZRV_OK);
    uint32_t cpus, maxVms;
    uint64_t memKB;
    std::memcpy(&cpus, cpu + 24, 4);
    std::memcpy(&memKB, mem, 8);
    std::memcpy(&maxVms, vms, 4);
    EXPECT_EQ(cpus, c.cpus);
    EXPECT_EQ(cpu[36], c.vm);
    EXPECT_EQ(boot[3], c.installer);
    EXPECT_EQ(memKB, c.memKB);
    EXPECT_EQ(maxVms, c.maxVms);
    EXPECT_EQ(std::string(cmdline), c.cmdline);
    for (size_t i = c.cmdline.size(); i < sizeof cmdline; ++i) ASSERT_EQ(cmdline[i], 0) << i;
    for (size_t i = 0; i < sizeof cpu; ++i) {
      if (i < 24 || (i >= 28 && i != 36)) {
        EXPECT_EQ(cpu[i], 0) << "cpu byte " << i;
      }
    }
    EXPECT_EQ(boot[0] | boot[1] | boot[2], 0);
    for (size_t i = 8; i < sizeof mem; ++i) EXPECT_EQ(mem[i], 0) << "memory byte " << i;
  }
}

TEST_F(KernelTest, AllocationRecordsEndWithTheKernelMark) {
  Hostsim({"setmem", "host/opt", "1,2,-3,4"});
  Mem mem = GetMem(kHostOpt);
  EXPECT_EQ(mem, (Mem{1, 2, -3, 4, 0}));
  EXPECT_EQ(mem.trailer, 0x00004D42u);
}

TEST_F(KernelTest, MemoryStatisticsSitAtTheirOffsets) {
  Hostsim({"stats", "host/opt", "1", "0xFFFFFFFFFFFFFFFF"});
  unsigned char buf[KNI_MEMORY_STATS_SIZE];
  ASSERT_EQ(
      KNI_Get(KNI_NODE_sched_groups_stats_memoryStats, Ids({kHostOpt}).get(), buf, sizeof buf),
      ZRV_OK);
  uint64_t peak, childPeak;
  std::memcpy(&peak, buf + 317, 8);
  std::memcpy(&childPeak, buf + 382, 8);
  EXPECT_EQ(peak, 1u);
  EXPECT_EQ(childPeak, UINT64_MAX);
  for (size_t i = 0; i < sizeof buf; ++i) {
    if (i < 317 || (i >= 325 && i < 382)) {
      ASSERT_EQ(buf[i], 0) << i;
    }
  }
}

TEST_F(KernelTest, SignatureFollowsTheLibraryUntilPinned) {
  struct Case {
    std::vector<std::string> command;
    uint32_t status;
    std::string kernel;  // empty: the library's own date
  } cases[] = {
      {{"init"}, ZRV_OK, ""},
      {{"kernel-build", "Jan  1 2020 00:00:00"}, ZRV_FAILURE, "Jan  1 2020 00:00:00"},
      {{"kernel-build", "short"}, ZRV_FAILURE, "short"},
      {{"kernel-build", "--match"}, ZRV_OK, ""},
      {{"kernel-build", "x"}, ZRV_FAILURE, "x"},
      {{"init"}, ZRV_OK, ""},
  };
  for (const Case& c : cases) {
    Hostsim(c.command);
    char kernel[KNI_BUILD_DATE_SIZE];
    std::memset(kernel, 'X', sizeof kernel);
    const char* tool = nullptr;
    EXPECT_EQ(KNI_CheckSig(kernel, sizeof kernel, &tool), c.status) << c.command.back();
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(std::strlen(tool), 20u);
    kernel[20] = '\0';
    EXPECT_EQ(std::string(kernel), c.kernel.empty() ? tool : c.kernel);
  }
  char small[20];
  const char* tool = nullptr;
  EXPECT_EQ(KNI_CheckSig(small, sizeof small, &tool), ZRV_BAD_PARAM);
  EXPECT_EQ(KNI_CheckSig(nullptr, 21, &tool), ZRV_BAD_PARAM);
  char kernel[KNI_BUILD_DATE_SIZE];
  EXPECT_EQ(KNI_CheckSig(kernel, sizeof kernel, nullptr), ZRV_BAD_PARAM);
}

// The library reads the state at every call: changes the tool makes between
// two calls, a reset included, are seen at once by a process that stays
// connected.
TEST_F(KernelTest, ToolChangesAreSeenBetweenCalls) {
  uint64_t id = 0;
  ASSERT_EQ(Create(kHostOpt, "a", &id), ZRV_OK);
  Hostsim({"setmem", "host/opt/a", "5,6,7,8"});
  EXPECT_EQ(GetMem(id), (Mem{5, 6, 7, 8, 0}));
  Hostsim({"fail", "Get", "--status", "0x0BAD0004"});
  unsigned char buf[KNI_MEM_ALLOCATION_SIZE];
  EXPECT_EQ(KNI_Get(KNI_NODE_sched_groups_memAllocationInMB, Ids({id}).get(), buf, sizeof buf),
            ZRV_BUSY);
  Hostsim({"init"});
  EXPECT_EQ(PathOf(id), "<Not found>");
  ASSERT_EQ(Create(kHostOpt, "b", &id), ZRV_OK);
  EXPECT_EQ(id, 5u);
}

}  // namespace
