#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "gtest/gtest.h"
#include "loader/definition_text.h"
#include "loader/exception.h"
#include "loader/load.h"
#include "loader/load_internal.h"
#include "loader/resource_pool.h"
#include "loader/testing.h"
#include "loader/value.h"

namespace {

using loader_testing::Resolve;
using loader_testing::Write;

// n "!calc" mappings around a literal 1: the literal is resolved n + 1 calls deep.
std::string Nested(int n) { return n == 0 ? "1" : "!calc {x: " + Nested(n - 1) + ", '=': x}"; }

// Level k names level k - 1 twice, through an alias: it takes 2^(k+1) - 1 steps.
std::string FanOut(int k) {
  const std::string prev = "l" + std::to_string(k - 1);
  return k == 0 ? "1" : "!calc {a: &" + prev + " " + FanOut(k - 1) + ", b: *" + prev + ", '=': a + b}";
}

// A "!calc" mapping that resolves the value n times, then its expression 1.
std::string Lookups(int n, const std::string& value) {
  return n == 0 ? "!calc {'=': 1}" : "!calc {s: " + value + ", " + Lookups(n - 1, value).substr(7);
}

// Values on the test host as numbers and booleans ("": not asked), in order:
// none leaves anything behind. Shape errors are the hostile files' rows.
TEST(Values, OnTheTestHost) {
  const struct {
    std::string text, number, boolean;
  } cases[] = {
      // Literals: a sign and up to 15 digits without the library, the rest through it.
      {"-2", "-2", ""},
      {"-.INF", "-inf", ""},
      {"+", "1:4 bad conversion", ""},
      // "!calc": a text, or local variables and the expression "="; true unless 0, NaN included.
      {"!calc 0", "0", "false"},
      {"!calc {x: .nan, '=': x}", "nan", "true"},
      {"!calc {'=': half * 2, half: 3}", "6", ""},
      {"!calc {numPCPUs: 10, '=': numPCPUs * 2}", "20", ""},  // a local hides a host fact
      {"!calc {'=': 1, '=': 2}", "2", ""},                     // the last "=" counts
      {"!calc {'=': !other 1 + 1}", "2", ""},                  // its tag is ignored
      {"!calc\n  cpus: !calc numPCPUs / 4\n  =: cpus * 100\n", "400", ""},
      {"!calc {a: abc}", "1:14 bad conversion", ""},  // a failing local, even without "="
      // At the bounds: 64 levels, 4096 steps of which a host lookup takes 64 and a
      // boot option 256. The hostile files hold the errors past the first two.
      {Nested(63), "1", ""},
      {FanOut(11), "2048", ""},
      {Lookups(63, "!fss sw"), "1", ""},
      {Lookups(64, "!fss sw"), "1:770 value too complex", ""},
      {Lookups(15, "!bootOption {key: b, default: 1}"), "1", ""},
      {Lookups(16, "!bootOption {key: b, default: 1}"), "1:569 value too complex", ""},
      // "!bootOption" on "quiet memPool=4 swap:DISABLED dbg = yes".
      {"!bootOption {key: swap, default: 1}", "0", "false"},
      {"!bootOption {default: !calc numPCPUs, key: absent}", "16", ""},
      // Fields are read in order: an unknown one before the default, and the
      // default resolved as it is met, even where the store holds the value.
      {"!bootOption {key: memPool, comment: x, default: !calc 1 +}", "1:40 invalid boot option field", ""},
      {"!bootOption {key: memPool, default: !calc 1 +, comment: x}", "1:40 Missing numeric value. at ''", ""},
      {"!config {object: [c, g, k], key: int, default: !calc 1 +}", "1:51 Missing numeric value. at ''", ""},
      {"!config {bogus: 1, default: x}", "1:20 invalid config field", ""},
      // "!config": the store's integer or real number, else the default.
      {"!config {object: [c, g, k], key: zero, default: yes}", "", "false"},
      {"!config {object: [c, g, k], key: nan, default: no}", "", "true"},
      {"!config {object: [c, g, k], key: text, default: -1}", "-1", ""},  // text reads as neither, even "12"
      {"!config {object: [c, g, k], key: [a, b, deep], default: -1}", "7", ""},
      {"!config {object: [c, g, k], key: [a, deep], default: -1}", "-1", ""},
      {"!config {object: [c, g, k], key: [int], default: -1}", "5", ""},
      {"!config {object: {key: k, group: g, component: c}, key: int, default: -1}", "5", ""},
      {"!config {object: [c, g, k], key: missing, default: !config {object: ~, key: unnamed, default: 0}}", "3", ""},
      // "!fss": names as they are, not case-folded.
      {"!fss ON", "0", ""},
      {"!fss ' spaced '", "1", "true"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.number.empty() ? "" : Resolve(c.text), c.number) << c.text.substr(0, 60);
    EXPECT_EQ(c.boolean.empty() ? "" : Resolve(c.text, true), c.boolean) << c.text.substr(0, 60);
  }
}

// Level 10 takes 2047 steps: a file's budget of 65536 holds 32 of them.
TEST(ResolutionBudget, BoundsAllValuesOfAFileTogether) {
  for (int file = 0; file < 2; ++file) {
    const Loader::ResolutionBudget budget;
    for (int i = 0; i < 32; ++i) ASSERT_EQ(Resolve(FanOut(10)), "1024") << file << " " << i;
    EXPECT_EQ(Resolve(FanOut(10)), "1:140 file too complex");
  }
  for (int i = 0; i < 40; ++i) ASSERT_EQ(Resolve(FanOut(10)), "1024");  // no file, no budget
}

// A one-line map's pool: "name enabled annex | mem min max shares minLimit |
// cpu min max shares minLimit"; only the kernel fills the trailing fields.
TEST(ResourcePool, FromMap) {
  const auto pool = [](const std::string& yaml) {
    const Loader::ResourcePoolImpl p(YAML::Load(yaml));
    std::string s = p.name + (p.isEnabled ? " yes" : " no") + (p.annex ? " annex |" : " |");
    for (int64_t v : {p.mem.min, p.mem.max, p.mem.shares, p.mem.minLimit}) s += " " + std::to_string(v);
    s += " |";
    for (int32_t v : {p.cpu.min, p.cpu.max, p.cpu.shares, p.cpu.minLimit}) s += " " + std::to_string(v);
    return s + (p.mem.reserved != 0 || p.cpu.reserved != 0 ? " reserved" : "");
  };
  for (const auto& [yaml, result] : std::initializer_list<std::pair<std::string, std::string>>{
           {"{name: hostx}", "host/opt/hostx yes | 0 -1 -1 -1 | 0 -1 1000 -1"},
           {"{name: }", "host/opt/null yes | 0 -1 -1 -1 | 0 -1 1000 -1"},
           {"{name: a, mem: 512, memMax: 1024}", "host/opt/a yes | 512 1024 -1 -1 | 0 -1 1000 -1"},
           {"{name: a, memMax: 1024, mem: 512}", "host/opt/a yes | 512 512 -1 -1 | 0 -1 1000 -1"},
           {"{name: a, memMin: 3, memMax: 1.9, memShares: -3, memMinLimit: 7}", "host/opt/a yes | 3 1 -3 7 | 0 -1 1000 -1"},
           {"{name: a, cpuMin: -0.5, cpuMax: 50, cpuShares: -2}", "host/opt/a yes | 0 -1 -1 -1 | 0 50 -2 -1"},
           // The largest and smallest values each field holds.
           {"{name: a, memMin: -9223372036854775808, memMax: 9223372036854774784}", "host/opt/a yes | -9223372036854775808 9223372036854774784 -1 -1 | 0 -1 1000 -1"},
           {"{name: a, cpuMin: -2147483648.9, cpuMax: 2147483647.9}", "host/opt/a yes | 0 -1 -1 -1 | -2147483648 2147483647 1000 -1"}}) {
    EXPECT_EQ(pool(yaml), result) << yaml;
  }
}

// The bounds of every lead byte's second byte, side by side, then the
// overlong forms and the first lead byte past the last code point.
TEST(CheckUtf8, Bounds) {
  EXPECT_NO_THROW(Loader::internal::CheckUtf8(
      "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"));
  for (const char* bad : {"\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", "\xF5\x80\x80\x80"}) {
    EXPECT_THROW(Loader::internal::CheckUtf8(bad), Loader::Exception) << bad;
  }
}

// Regular files without a leading dot, also where no entry types are reported.
// Reading replaces what the string held; a file that has lost its mark once
// opened is not installed. Then the pool names in order, or the error and its
// cause: only the mark 0x01 counts. Special files are the hostile files' rows.
TEST(Load, Files) {
  const std::string d = loader_testing::Dir(), dir = d + "/list";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
  const std::string a = Write("list/a.yaml", "");
  Write("list/.hidden", "");
  ASSERT_EQ(symlink(a.c_str(), (dir + "/link").c_str()), 0);
  EXPECT_EQ(Loader::internal::ListDefinitionFiles(dir), std::vector<std::string>{a});
  for (const auto& [name, kept] : {std::pair<const char*, bool>{"a.yaml", true}, {".hidden", false},
                                   {"sub", false}, {"link", false}, {"gone", false}}) {
    dirent entry{};
    entry.d_type = DT_UNKNOWN;
    std::strcpy(entry.d_name, name);
    EXPECT_EQ(Loader::internal::IsDefinitionEntry(dir, entry), kept) << name;
  }
  std::string text = "left over";
  EXPECT_TRUE(Loader::internal::ReadDefinitionText(Write("plain", "- name: a\n"), text));
  EXPECT_EQ(text, "- name: a\n");
  EXPECT_FALSE(Loader::internal::ReadDefinitionText(Write("unmarked", "", ""), text));
  EXPECT_FALSE(Loader::internal::ReadDefinitionText(Write("marked 2", "", "\x02"), text));
  const auto load = [](const std::vector<std::string>& paths, bool reverse = false) {
    std::string names;
    try {
      for (const auto& pool : Loader::LoadResourcePools(paths, reverse)) names += pool->name + " ";
    } catch (const Loader::FileError& e) {
      names = e.what();
      try {
        std::rethrow_if_nested(e);
      } catch (const Loader::Exception& cause) {  // the library's error stays nested
        names += std::string(" <- ") + cause.what();
      }
    }
    return names;
  };
  const std::string one = Write("one", "- name: host/opt/b\n- name: a/b\n"), two = Write("two", "- name: a\n");
  EXPECT_EQ(load({two, one}, true), "host/opt/b host/opt/a/b host/opt/a ");
  EXPECT_EQ(load({two, two}), "host/opt/a host/opt/a ");
  EXPECT_EQ(load({Write("empty", ""), Write("scalar", "text\n"), Write("map", "{}\n")}), "");
  EXPECT_EQ(load({Write("largest", std::string(Loader::internal::kMaxDefinitionBytes, '#'))}), "");
  ASSERT_EQ(symlink(two.c_str(), (d + "/link").c_str()), 0);
  EXPECT_EQ(load({d + "/link"}), "host/opt/a ");
  EXPECT_EQ(load({Write("digit", "- name: a\n", "1")}), d + "/digit: is not installed");
  EXPECT_EQ(load({one, Write("double", "", "\x01\x01")}), d + "/double: is not installed");
  EXPECT_EQ(load({two, Write("bad", "- name: a\n  Mem: 1\n")}),
            d + "/bad: line 2 column 3: invalid rp field <- yaml-cpp: error at line 2, column 3: invalid rp field");
}

}  // namespace
