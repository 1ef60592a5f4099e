#include "sources/config_reference.h"

#include <exception>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "loader/exception.h"
#include "loader/host_facts.h"
#include "loader/value.h"
#include "sources/testing.h"

namespace {

using Sources::testing::Number;
using Sources::testing::Bool;
using Sources::testing::At;
using Sources::testing::Hostsim;

// Object c/g/k holds values of every type, some of them below sub-objects
// a and a/b; the object with empty texts holds one too.
class ConfigTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::vector<std::string> object = {"config",  "set", "--component", "c",
                                             "--group", "g",   "--key",       "k"};
    const std::vector<std::vector<std::string>> values = {
        {"int", "--int", "5"},
        {"zero", "--int", "0"},
        {"big", "--int", "9007199254740993"},
        {"real", "--double", "2.5"},
        {"nan", "--double", "nan"},
        {"text", "--string", "12"},
        {"--sub", "a", "--sub", "b", "deep", "--int", "7"},
        {"--sub", "a", "shallow", "--int", "6"},
    };
    for (const auto& value : values) {
      std::vector<std::string> args = object;
      args.insert(args.end(), value.begin(), value.end());
      Hostsim(args);
    }
    Hostsim({"config", "set", "unnamed", "--int", "3"});
  }

  void TearDown() override {
    Hostsim({"config", "store", "on"});
    Hostsim({"trace", "off"});
    Hostsim({"calls", "--clear"});
  }
};

TEST_F(ConfigTest, ShapeErrors) {
  const std::pair<std::string, std::string> cases[] = {
      {"!config 5", At(4, "invalid config specification")},
      {"!config [object, key]", At(4, "invalid config specification")},
      {"!config", At(4, "invalid config specification")},
      // The checks come after the walk, default first, whatever the store holds.
      {"!config {object: [c, g, k], key: int}", At(4, "missing default")},
      {"!config {}", At(4, "missing default")},
      {"!config {key: int, default: 1}", At(4, "missing object")},
      {"!config {object: [c, g, k], default: 1}", At(4, "missing value")},
      {"!config {object: [c, g, k], key: [], default: 1}", At(4, "missing value")},
      {"!config {object: [c, g, k], key: ~, default: 1}", At(4, "missing value")},
      {"!config {object: [c, g, k], key: {a: int}, default: 1}", At(4, "missing value")},
      {"!config {object: [c, g, k], key: '', default: 1}", At(4, "missing value")},
      {"!config {object: [c, g, k], value: int, default: 1}", At(39, "invalid config field")},
      {"!config {object: c, key: int, default: 1}", At(21, "invalid config object specification")},
      {"!config {object: {component: c, kind: k}, key: int, default: 1}",
       At(36, "invalid objectID field")},
      {"!config {object: [c, g], key: int, default: 1}", "invalid node; first invalid key: \"2\""},
      {"!config {object: [[c], g, k], key: int, default: 1}", At(22, "bad conversion")},
      {"!config {object: [c, g, k], key: [a, [b], int], default: 1}", At(41, "bad conversion")},
      {"!config {[x]: 1}", At(13, "bad conversion")},
      // The default is resolved as it is met, so its errors surface even
      // where the store holds the value; a field after it is not reached.
      {"!config {object: [c, g, k], key: int, default: !calc 1 +}",
       At(51, "Missing numeric value. at ''")},
      {"!config {default: x, bogus: 1}", At(22, "bad conversion")},
      {"!config {bogus: 1, default: x}", At(20, "invalid config field")},
      {"!config {object: [c, g, k], key: int, default: '1'}", At(51, "Unexpected tag !")},
  };
  for (const auto& [text, error] : cases) EXPECT_EQ(Number(text), error) << text;
}

std::string Ref(const std::string& object, const std::string& key, const std::string& fallback) {
  return "!config {object: " + object + ", key: " + key + ", default: " + fallback + "}";
}

TEST_F(ConfigTest, StoredValuesAndDefaults) {
  const std::string ck = "[c, g, k]";
  const std::pair<std::string, std::string> cases[] = {
      {Ref(ck, "int", "-1"), "5.000000"},
      {Ref(ck, "big", "-1"), "9007199254740992.000000"},
      {Ref(ck, "real", "-1"), "2.500000"},
      {Ref(ck, "nan", "-1"), "nan"},
      {Ref(ck, "text", "-1"), "-1.000000"},  // text reads as neither, even "12"
      {Ref(ck, "missing", "-1"), "-1.000000"},
      {Ref(ck, "[a, b, deep]", "-1"), "7.000000"},
      {Ref(ck, "[a, shallow]", "-1"), "6.000000"},
      {Ref(ck, "[a, deep]", "-1"), "-1.000000"},
      {Ref(ck, "[b, deep]", "-1"), "-1.000000"},
      {Ref(ck, "[a, b, c, deep]", "-1"), "-1.000000"},
      {Ref(ck, "[int]", "-1"), "5.000000"},
      {Ref("[c, g, k, extra]", "int", "-1"), "5.000000"},
      {Ref("{key: k, group: g, component: c}", "int", "-1"), "5.000000"},
      {Ref("{component: c, group: g}", "int", "-1"), "-1.000000"},
      {Ref("[k, g, c]", "int", "-1"), "-1.000000"},
      {Ref("~", "unnamed", "-1"), "3.000000"},
      {Ref("{}", "unnamed", "-1"), "3.000000"},
      {Ref("[c, g, k]", "missing", "!calc numPCPUs"), "16.000000"},
      {Ref("[c, g, k]", "missing", "!config {object: ~, key: unnamed, default: 0}"), "3.000000"},
  };
  for (const auto& [text, result] : cases) EXPECT_EQ(Number(text), result) << text;
}

TEST_F(ConfigTest, BooleanForm) {
  const std::string ck = "[c, g, k]";
  const std::pair<std::string, std::string> cases[] = {
      {Ref(ck, "zero", "yes"), "false"},
      {Ref(ck, "int", "no"), "true"},
      {Ref(ck, "real", "no"), "true"},
      {Ref(ck, "nan", "no"), "true"},
      {Ref(ck, "text", "yes"), "true"},
      {Ref(ck, "missing", "off"), "false"},
      {Ref(ck, "missing", "1"), At(55, "bad conversion")},
  };
  for (const auto& [text, result] : cases) EXPECT_EQ(Bool(text), result) << text;
}

TEST_F(ConfigTest, StoreFailuresGiveTheDefault) {
  const std::string value = Ref("[c, g, k]", "int", "-1");
  const std::vector<std::vector<std::string>> failures = {
      {"config", "store", "off"},
      {"config", "fault", "store"},
  };
  for (const auto& failure : failures) {
    Hostsim(failure);
    EXPECT_EQ(Number(value), "-1.000000") << failure.back();
    Hostsim({"config", "store", "on"});
    EXPECT_EQ(Number(value), "5.000000") << failure.back();
  }
}

// Anything else than the store's own exceptions fails the value at the
// "!config" node, with the library's exception nested in it.
TEST_F(ConfigTest, ForeignFailureIsNested) {
  Hostsim({"config", "fault", "std"});
  try {
    ResolveNumber(YAML::Load("v: " + Ref("[c, g, k]", "int", "-1"))["v"], Loader::HostFacts());
    FAIL() << "no exception";
  } catch (const Loader::Exception& e) {
    EXPECT_STREQ(e.what(), At(4, "simulated store failure").c_str());
    try {
      std::rethrow_if_nested(e);
      ADD_FAILURE() << "nothing nested";
    } catch (const std::runtime_error& cause) {
      EXPECT_STREQ(cause.what(), "simulated store failure");
    }
  }
  EXPECT_EQ(Number(Ref("[c, g, k]", "int", "-1")), "5.000000");
}

// The integer is read first, the real number only after a type error; each
// sub-object is looked up below the last.
TEST_F(ConfigTest, LibraryCalls) {
  Hostsim({"trace", "on"});
  ASSERT_EQ(Number(Ref("[c, g, k]", "[a, b, deep]", "0")), "7.000000");
  ASSERT_EQ(Number(Ref("[c, g, k]", "real", "0")), "2.500000");
  ASSERT_EQ(Number(Ref("[c, g, k]", "text", "0")), "0.000000");
  ASSERT_EQ(Number(Ref("[x, g, k]", "int", "0")), "0.000000");
  EXPECT_EQ(Sources::testing::Host().Hostsim({"calls"}).out,
            "GetStore\t-\t-\tglobal\tstore\n"
            "GetObject\t-\t-\tk,c,g,\tfound\n"
            "GetSubObject\t-\t-\ta,\tfound\n"
            "GetSubObject\t-\t-\tb,\tfound\n"
            "GetValue\t-\t-\tdeep\tint\n"
            "GetStore\t-\t-\tglobal\tstore\n"
            "GetObject\t-\t-\tk,c,g,\tfound\n"
            "GetValue\t-\t-\treal\twrong-type\n"
            "GetValue\t-\t-\treal\tdouble\n"
            "GetStore\t-\t-\tglobal\tstore\n"
            "GetObject\t-\t-\tk,c,g,\tfound\n"
            "GetValue\t-\t-\ttext\twrong-type\n"
            "GetValue\t-\t-\ttext\twrong-type\n"
            "GetStore\t-\t-\tglobal\tstore\n"
            "GetObject\t-\t-\tk,x,g,\tnone\n");
}

}  // namespace
