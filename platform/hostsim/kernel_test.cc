// The simulated kernel's rules as a caller of the interface meets them.
#include <cstring>
#include <memory>

#include "kni.h"
#include "platform/hostsim/kernel_testing.h"

namespace hostsim {
namespace {

// Lists as full as their capacity.
using List = std::unique_ptr<KNI_ParamList, void (*)(KNI_ParamList*)>;
List Ids(const std::vector<uint64_t>& ids) {
  List list(KNI_ParamListCreate(KNI_PARAM_LIST_INSTANCE, ids.size()), KNI_ParamListDestroy);
  for (uint64_t id : ids) KNI_ParamListAddInt(list.get(), id);
  return list;
}
List Texts(const std::string& commaSeparated) {
  const std::vector<std::string> texts = Split(commaSeparated, ',');
  List list(KNI_ParamListCreate(KNI_PARAM_LIST_INPUT, texts.size()), KNI_ParamListDestroy);
  for (const std::string& t : texts) KNI_ParamListAddString(list.get(), t.c_str());
  return list;
}

const KNI_Node kMem = KNI_NODE_sched_groups_memAllocationInMB, kCpu = KNI_NODE_sched_groups_cpuAllocationInPct,
               kInc = KNI_NODE_sched_groups_increaseMemMinMaxInMB, kDec = KNI_NODE_sched_groups_decreaseMemMinMaxInMB;

uint32_t Set(KNI_Node node, uint64_t id, const std::string& texts) {
  return KNI_Set(node, Ids({id}).get(), Texts(texts).get(), nullptr, 0);
}

// "min,max,shares,minLimit" of a memory or CPU record.
std::string Record(KNI_Node node, uint64_t id) {
  const bool cpu = node == kCpu;
  unsigned char buf[KNI_MEM_ALLOCATION_SIZE];
  int64_t wide[4];
  int32_t narrow[4];
  EXPECT_EQ(KNI_Get(node, Ids({id}).get(), buf, cpu ? KNI_CPU_ALLOCATION_SIZE : KNI_MEM_ALLOCATION_SIZE), ZRV_OK);
  std::memcpy(wide, buf, sizeof wide);
  std::memcpy(narrow, buf, sizeof narrow);
  std::string text;
  for (int i = 0; i < 4; ++i) text += (i == 0 ? "" : ",") + std::to_string(cpu ? narrow[i] : wide[i]);
  // Both records end in the kernel's mark.
  return text + (std::memcmp(buf + (cpu ? 16 : 32), "\x42\x4D\0\0", 4) == 0 ? "" : " unmarked");
}

// Keys are applied to a copy of the record, which is checked before it is
// kept. start "": 10,100,-1,-1; after "": refused as a bad parameter, nothing changed.
TEST_F(KernelTest, KeysChangeRecordsWithinTheirBounds) {
  const struct { const char* start; KNI_Node node; const char* texts; const char* after; } cases[] = {
      {"", kMem, "min=20", "20,100,-1,-1"},                  {"", kMem, "max=-1,min=101", "101,-1,-1,-1"},
      {"", kMem, "shares=-3,minLimit=5", "10,100,-3,5"},     {"", kMem, "min=7,min=008", "8,100,-1,-1"},
      {"", kMem, "min=0,max=0", "0,0,-1,-1"},                {"", kCpu, "max=2147483648", ""},
      {"", kMem, "max=9223372036854775807", "10,9223372036854775807,-1,-1"},
      {"", kMem, "minLimit=-9223372036854775808", "10,100,-1,-9223372036854775808"},
      {"", kCpu, "max=2147483647,shares=-2147483648", "10,2147483647,-2147483648,-1"},
      {"", kCpu, "shares=-2147483649", ""},                  {"100,-1,7,3", kInc, "min=5,max=7", "105,-1,7,3"},
      {"100,200,-1,-1", kInc, "min=50,max=0", "150,200,-1,-1"}, {"100,200,-1,-1", kDec, "min=0,max=201", ""},
      {"100,200,-1,-1", kDec, "min=100,max=50", "0,150,-1,-1"}, {"100,200,-1,-1", kDec, "min=101,max=0", ""},
      {"100,-1,-1,-1", kDec, "min=1,max=5000", "99,-1,-1,-1"}, {"5,9,-1,-1", kInc, "shares=1", ""},
      {"1,-1,-1,-1", kInc, "min=9223372036854775807", ""},   {"0,-1,-1,-1", kInc, "min=18446744073709551616", ""},
  };
  const char* const refused[] = {
      "max=9223372036854775808", "minLimit=-9223372036854775809", "min=-1", "max=9", "min=101", "max=-2",
      "min=50,bogus=1", "min=50,max=1x", "min=", "=5", "min", "min= 5", "min=+5", "min=0x10", "min=-", "MIN=5"};
  auto check = [](std::string start, KNI_Node node, const std::string& texts, const char* after) {
    if (start.empty()) start = "10,100,-1,-1";
    std::vector<std::string> f = Split(start, ',');
    const KNI_Node record = node == kCpu ? kCpu : kMem;
    ASSERT_EQ(Set(record, 3, "min=" + f[0] + ",max=" + f[1] + ",shares=" + f[2] + ",minLimit=" + f[3]), ZRV_OK);
    EXPECT_EQ(Set(node, 3, texts), *after ? ZRV_OK : ZRV_BAD_PARAM) << texts;
    EXPECT_EQ(Record(record, 3), *after ? after : start) << texts;
  };
  for (const auto& c : cases) check(c.start, c.node, c.texts, c.after);
  for (const char* texts : refused) {
    for (KNI_Node node : {kMem, kCpu}) check("", node, texts, "");
  }
}

// A list holds one kind up to its capacity; a destroyed one is refused, not followed.
TEST_F(KernelTest, ParameterListsKeepKindAndCapacity) {
  EXPECT_EQ(KNI_ParamListCreate(2, 1), nullptr);
  EXPECT_EQ(KNI_ParamListCreate(KNI_PARAM_LIST_INPUT, 0), nullptr);
  List ints = Ids({7}), texts = Texts("x");
  KNI_ParamList* gone = KNI_ParamListCreate(KNI_PARAM_LIST_INSTANCE, 1);
  KNI_ParamListDestroy(gone);
  uint64_t value = 0;
  char buf[KNI_MEM_ALLOCATION_SIZE];
  const struct { const char* what; uint32_t status, expected; } cases[] = {
      {"text into ints", KNI_ParamListAddString(ints.get(), "x"), ZRV_BAD_PARAM},
      {"int into texts", KNI_ParamListAddInt(texts.get(), 7), ZRV_BAD_PARAM},
      {"int past capacity", KNI_ParamListAddInt(ints.get(), 9), ZRV_LIMIT_EXCEEDED},
      {"text past capacity", KNI_ParamListAddString(texts.get(), "z"), ZRV_LIMIT_EXCEEDED},
      {"read index 0", KNI_ParamListGetUInt64(ints.get(), 0, &value), ZRV_OK},
      {"read past the end", KNI_ParamListGetUInt64(ints.get(), 1, &value), ZRV_BAD_PARAM},
      {"a destroyed list", KNI_Get(kMem, gone, buf, KNI_MEM_ALLOCATION_SIZE), ZRV_BAD_PARAM},
  };
  for (const auto& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
  EXPECT_EQ(value, 7u);
}

}  // namespace
}  // namespace hostsim
