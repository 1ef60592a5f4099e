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

using loader_testing::Number;
using loader_testing::TempDir;
using Rows = std::pair<std::string, std::string>[];

// n "!calc" mappings around a literal 1: the literal is resolved n + 1 calls deep.
std::string Nested(int n) { return n == 0 ? "1" : "!calc {x: " + Nested(n - 1) + ", '=': x}"; }

// Level k names level k - 1 twice, through an alias: it takes 2^(k+1) - 1 steps.
std::string FanOut(int k) {
  const std::string prev = "l" + std::to_string(k - 1);
  return k == 0 ? "1" : "!calc {a: &" + prev + " " + FanOut(k - 1) + ", b: *" + prev + ", '=': a + b}";
}

// A "!calc" mapping of n values of the same tag: a host lookup costs 64 steps.
std::string Lookups(int n, const std::string& value) {
  std::string text = "!calc {";
  for (int i = 0; i < n; ++i) text += "s" + std::to_string(i) + ": " + value + ", ";
  return text + "'=': 1}";
}

std::string Config(const std::string& object, const std::string& key, const std::string& fallback) {
  return "!config {object: " + object + ", key: " + key + ", default: " + fallback + "}";
}

// Values on the test host as numbers and booleans ("": not asked), in order:
// none leaves anything behind. Shape errors are the hostile files' rows.
TEST(Values, OnTheTestHost) {
  const std::string ck = "[c, g, k]", boot = "!bootOption {key: b, default: 1}";
  const struct {
    std::string text, number, boolean;
  } cases[] = {
      // Up to 15 digits are read without the library.
      {"1e3", "1000", ""},
      {"-2", "-2", ""},
      {"007", "7", ""},
      {"999999999999999", "999999999999999", ""},
      {"12345678901234567", "12345678901234568", ""},
      {"-.INF", "-inf", ""},
      {"+", "1:4 bad conversion", ""},
      {"yes", "", "true"},
      {"Off", "", "false"},
      // "!calc": a text, or a mapping of local variables and the expression
      // "="; true unless 0, NaN included.
      {"!calc 0.5", "0.5", "true"},
      {"!calc 0", "0", "false"},
      {"!calc {x: .nan, '=': x}", "nan", "true"},
      {"!calc \"min(numPCPUs, 10)\"", "10", ""},
      {"!calc {'=': half * 2, half: 3}", "6", ""},
      {"!calc {numPCPUs: 10, '=': numPCPUs * 2}", "20", ""},  // a local hides a host fact...
      {"!calc numPCPUs", "16", ""},                            // ...in its own expression only
      {"!calc {'=': 1, '=': 2}", "2", ""},                     // the last "=" counts
      {"!calc {'=': !other 1 + 1}", "2", ""},                  // its tag is ignored
      {"!calc {~: 5, '=': null + 1}", "6", ""},
      {"!calc {a: !calc {b: 2, '=': b * 3}, '=': a + 1}", "7", ""},
      {"!calc\n  cpus: !calc numPCPUs / 4\n  =: cpus * 100\n", "400", ""},
      {"!calc {a: abc}", "1:14 bad conversion", ""},  // a failing local, even without "="
      {Nested(63), "1", ""},
      {Nested(64), "1:644 value nested too deeply", ""},
      {Nested(63), "1", ""},
      {FanOut(11), "2048", ""},
      {FanOut(12), "1:14 value too complex", ""},
      {FanOut(11), "2048", ""},
      {Lookups(63, "!fss sw"), "1", ""},
      {Lookups(64, "!fss sw"), "1:888 value too complex", ""},
      {Lookups(15, boot), "1", ""},
      {Lookups(16, boot), "1:591 value too complex", ""},
      // "!bootOption" on "quiet memPool=4 swap:DISABLED dbg = yes".
      {"!bootOption {key: memPool, default: 0}", "4", "true"},
      {"!bootOption {key: swap, default: 1}", "0", "false"},
      {"!bootOption {default: !calc numPCPUs, key: absent}", "16", ""},
      {"!bootOption {key: ~, default: 7}", "7", ""},  // the name "null"
      {"!bootOption {key: memPool, default: 1, key: ''}", "1:4 missing key", ""},
      // Fields are read in order: an unknown one before the default, and the
      // default resolved as it is met, even where the store holds the value.
      {"!bootOption {key: memPool, comment: x, default: !calc 1 +}", "1:40 invalid boot option field", ""},
      {"!bootOption {key: memPool, default: !calc 1 +, comment: x}", "1:40 Missing numeric value. at ''", ""},
      {Config(ck, "int", "!calc 1 +"), "1:51 Missing numeric value. at ''", ""},
      {"!config {default: x, bogus: 1}", "1:22 bad conversion", ""},
      {"!config {bogus: 1, default: x}", "1:20 invalid config field", ""},
      {"!config {object: [[c], g, k], key: int, default: 1}", "1:22 bad conversion", ""},
      // "!config": the store's integer or real number, else the default.
      {Config(ck, "int", "-1"), "5", ""},
      {Config(ck, "int", "no"), "", "true"},
      {Config(ck, "zero", "yes"), "", "false"},
      {Config(ck, "big", "-1"), "9007199254740992", ""},
      {Config(ck, "real", "-1"), "2.5", ""},
      {Config(ck, "nan", "-1"), "nan", ""},
      {Config(ck, "nan", "no"), "", "true"},
      {Config(ck, "text", "-1"), "-1", ""},  // text reads as neither, even "12"
      {Config(ck, "text", "yes"), "", "true"},
      {Config(ck, "missing", "-1"), "-1", ""},
      {Config(ck, "[a, b, deep]", "-1"), "7", ""},
      {Config(ck, "[a, shallow]", "-1"), "6", ""},
      {Config(ck, "[a, deep]", "-1"), "-1", ""},
      {Config(ck, "[int]", "-1"), "5", ""},
      {Config("{key: k, group: g, component: c}", "int", "-1"), "5", ""},
      {Config("{component: c, group: g}", "int", "-1"), "-1", ""},
      {Config("[k, g, c]", "int", "-1"), "-1", ""},
      {Config("~", "unnamed", "-1"), "3", ""},
      {Config(ck, "missing", "!config {object: ~, key: unnamed, default: 0}"), "3", ""},
      // "!fss": names as they are, not case-folded; a switch the host does not know is off.
      {"!fss on", "1", ""},
      {"!fss ON", "0", ""},
      {"!fss ' spaced '", "1", "true"},
      {"!fss spaced", "0", ""},
      {"!fss off", "", "false"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.number.empty() ? "" : Number(c.text), c.number) << c.text.substr(0, 60);
    EXPECT_EQ(c.boolean.empty() ? "" : loader_testing::Bool(c.text), c.boolean) << c.text.substr(0, 60);
  }
}

// Level 10 takes 2047 steps: a file's budget of 65536 holds 32 of them.
TEST(ResolutionBudget, BoundsAllValuesOfAFileTogether) {
  for (int file = 0; file < 2; ++file) {
    const Loader::ResolutionBudget budget;
    for (int i = 0; i < 32; ++i) ASSERT_EQ(Number(FanOut(10)), "1024") << file << " " << i;
    EXPECT_EQ(Number(FanOut(10)), "1:140 file too complex");
  }
  for (int i = 0; i < 40; ++i) ASSERT_EQ(Number(FanOut(10)), "1024");  // no file, no budget
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
  for (const auto& [yaml, result] : Rows{
           {"{name: host/a/b}", "host/a/b yes | 0 -1 -1 -1 | 0 -1 1000 -1"},
           {"{name: hostx}", "host/opt/hostx yes | 0 -1 -1 -1 | 0 -1 1000 -1"},
           {"{name: }", "host/opt/null yes | 0 -1 -1 -1 | 0 -1 1000 -1"},
           {"{name: a, mem: 512, memMax: 1024}", "host/opt/a yes | 512 1024 -1 -1 | 0 -1 1000 -1"},
           {"{name: a, memMax: 1024, mem: 512}", "host/opt/a yes | 512 512 -1 -1 | 0 -1 1000 -1"},
           {"{name: a, memMin: 3, memMax: 1.9, memShares: -3, memMinLimit: 7}", "host/opt/a yes | 3 1 -3 7 | 0 -1 1000 -1"},
           {"{name: a, cpuMin: -0.5, cpuMax: 50, cpuShares: -2}", "host/opt/a yes | 0 -1 -1 -1 | 0 50 -2 -1"},
           {"{name: a, memMax: !calc physKB / 1024, isEnabled: no}", "host/opt/a no | 0 65536 -1 -1 | 0 -1 1000 -1"},
           {"{name: a, annex: yes}", "host/opt/a no annex | 0 -1 -1 -1 | 0 -1 1000 -1"},
           // The largest and smallest values each field holds.
           {"{name: a, memMin: -9223372036854775808, memMax: 9223372036854774784}",
            "host/opt/a yes | -9223372036854775808 9223372036854774784 -1 -1 | 0 -1 1000 -1"},
           {"{name: a, cpuMin: -2147483648.9, cpuMax: 2147483647.9}", "host/opt/a yes | 0 -1 -1 -1 | -2147483648 2147483647 1000 -1"}}) {
    EXPECT_EQ(pool(yaml), result) << yaml;
  }
}

// The first ill-formed byte, or "ok".
TEST(CheckUtf8, WellFormedOrFirstBadByte) {
  for (const auto& [text, result] : Rows{
           {"- name: caf\xC3\xA9\n", "ok"},
           {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", "ok"},  // the bounds, side by side
           {"\xC1\xBF", "1:1"},          // overlong
           {"\xE0\x9F\xBF", "1:1"},      // overlong three-byte form
           {"\xF0\x8F\xBF\xBF", "1:1"},  // overlong four-byte form
           {"\xF5\x80\x80\x80", "1:1"},
           {"\xFF", "1:1"},
           {"ab\xE2\x82x", "1:3"}}) {
    try {
      Loader::internal::CheckUtf8(text);
      EXPECT_EQ("ok", result) << text;
    } catch (const YAML::Exception& e) {
      EXPECT_EQ(std::to_string(e.mark.line + 1) + ":" + std::to_string(e.mark.column + 1), result) << text;
      EXPECT_EQ(e.msg, "invalid UTF-8");
    }
  }
}

// The text read replaces what the string held; a file that has lost its mark
// once opened is not installed. Special files are the hostile files' rows.
TEST(ReadDefinitionText, MarkedRegularFiles) {
  const TempDir d;
  std::string text = "left over";
  EXPECT_TRUE(Loader::internal::ReadDefinitionText(d.Write("plain", "- name: a\n"), text));
  EXPECT_EQ(text, "- name: a\n");
  EXPECT_FALSE(Loader::internal::ReadDefinitionText(d.Write("unmarked", "", ""), text));
}

// Regular files without a leading dot, also where no entry types are reported.
TEST(Load, DefinitionFiles) {
  const TempDir d;
  const std::string a = d.Write("a.yaml", "");
  d.Write(".hidden", "");
  ASSERT_EQ(mkdir((d.path + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink(a.c_str(), (d.path + "/link").c_str()), 0);
  EXPECT_EQ(Loader::internal::ListDefinitionFiles(d.path), std::vector<std::string>{a});
  for (const auto& [name, kept] : {std::pair<const char*, bool>{"a.yaml", true}, {".hidden", false},
                                   {"sub", false}, {"link", false}, {"gone", false}}) {
    dirent entry{};
    entry.d_type = DT_UNKNOWN;
    std::strcpy(entry.d_name, name);
    EXPECT_EQ(Loader::internal::IsDefinitionEntry(d.path, entry), kept) << name;
  }
}

// The pool names in order, or the error and its cause; only the mark 0x01 counts.
TEST(Load, SortedAcrossFilesOrTheFirstError) {
  const auto load = [](const std::vector<std::string>& paths, bool reverse) {
    try {
      std::string names;
      for (const auto& pool : Loader::LoadResourcePools(paths, reverse)) names += pool->name + " ";
      return names;
    } catch (const Loader::FileError& e) {
      try {
        std::rethrow_if_nested(e);
        return std::string(e.what());
      } catch (const Loader::Exception& cause) {  // the library's error stays nested
        return std::string(e.what()) + " <- " + cause.what();
      }
    }
  };
  const TempDir d;
  const std::string one = d.Write("one", "- name: host/opt/b\n- name: a/b\n"), two = d.Write("two", "- name: a\n");
  EXPECT_EQ(load({one, two}, false), "host/opt/a host/opt/a/b host/opt/b ");
  EXPECT_EQ(load({two, one}, true), "host/opt/b host/opt/a/b host/opt/a ");
  EXPECT_EQ(load({two, two}, false), "host/opt/a host/opt/a ");
  EXPECT_EQ(load({d.Write("empty", ""), d.Write("scalar", "text\n"), d.Write("map", "{}\n")}, false), "");
  EXPECT_EQ(load({d.Write("largest", std::string(Loader::internal::kMaxDefinitionBytes, '#'))}, false), "");
  ASSERT_EQ(symlink(two.c_str(), (d.path + "/link").c_str()), 0);
  EXPECT_EQ(load({d.path + "/link"}, false), "host/opt/a ");
  EXPECT_EQ(load({d.Write("digit", "- name: a\n", "1")}, false), d.path + "/digit: is not installed");
  EXPECT_EQ(load({one, d.Write("double", "", "\x01\x01")}, false), d.path + "/double: is not installed");
  EXPECT_EQ(load({d.Write("zero", "", std::string(1, '\0'))}, false), d.path + "/zero: is not installed");
  EXPECT_EQ(load({two, d.Write("bad", "- name: a\n  Mem: 1\n")}, false),
            d.path + "/bad: line 2 column 3: invalid rp field <- yaml-cpp: error at line 2, column 3: invalid rp field");
}

}  // namespace
