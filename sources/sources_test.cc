#include <cstdio>
#include <regex>
#include <string>

#include "gtest/gtest.h"
#include "loader/testing.h"
#include "sources/boot_option_internal.h"

namespace {

using loader_testing::Resolve;

// The search of one option name, a regular expression, on a command line:
// the number, or the library's error for a name too costly to search.
std::string Search(const std::string& line, const std::string& name) {
  try {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", Sources::internal::BootOptionValue(line, name, 7));
    return text;
  } catch (const std::regex_error& e) {
    if (e.code() == std::regex_constants::error_stack) return "stack";
    if (e.code() == std::regex_constants::error_backref) return "backref";
    return e.code() == std::regex_constants::error_complexity ? "complexity" : e.what();
  }
}

// On a small stack; the longest command line's last value has 4,080 characters.
TEST(BootOption, Values) {
  const std::string longest = "quiet memPool=5" + std::string(4095 - 15, 'x');
  const struct {
    std::string line, name, result;
  } cases[] = {
      {"dbg = yes", "dbg", "7"},  // "yes" is neither a boolean word nor a number
      {"x=enabled", "x", "1"},
      {"x=2.5GB", "x", "2.5"},
      {"x=0.1", "x", "0.100000001"},  // single precision
      {"x=1e39", "x", "7"},
      {"x = 5 x=6", "x", "5"},
      {"x=", "x", "1"},  // no value: the name alone is a flag
      {"ax=3", "x", "3"},
      {"x1234567890=2", "x1234567890", "2"},
      {"(m)x=4", "(m)x", "7"},  // group 1 is the name's "m", which is no number
      {"x q=5", "x|q", "7"},    // "x" matches first, and group 1 is then empty
      {longest, "memPool", "5"},
      {longest, "absent", "7"},
      {"x=2", std::string(63, '(') + "x" + std::string(63, ')'), "7"},  // the deepest name
      {longest, "memPool.*", "stack"},
      {std::string(40, 'a'), "(a|a)*b", "complexity"},
      {"x=1", std::string(129, 'x'), "complexity"},
      {"x=1", "(x)\\1234567890", "complexity"},  // numbers the compiler would overflow
      {"x=1", "(x)\\123456789", "backref"},    // nine digits still fit
      {"x=1", "x{1,1234567890}", "complexity"},
  };
  loader_testing::OnSmallStack([&] {
    for (const auto& c : cases) EXPECT_EQ(Search(c.line, c.name), c.result) << c.line << " " << c.name;
  });
}

// Store failures give the default; anything else than the store's own
// exceptions fails the value at the node.
TEST(ConfigStore, Failures) {
  hostsim::State& host = loader_testing::Host();
  const std::string value = "!config {object: [c, g, k], key: int, default: -1}";
  host.Write([&] { host.settings().SetStoreAvailable(false); });
  EXPECT_EQ(Resolve(value), "-1");
  host.Write([&] { host.settings().SetStoreAvailable(true); });
  host.Write([&] { host.rules().Add({hostsim::kStoreReadCall, {}, {}, 0, 0, 1, hostsim::RuleKind::kStore}); });
  EXPECT_EQ(Resolve(value), "-1");
  host.Write([&] { host.rules().Add({hostsim::kStoreReadCall, {}, {}, 0, 0, 1, hostsim::RuleKind::kStd}); });
  EXPECT_EQ(Resolve(value), "1:4 simulated store failure");
  EXPECT_EQ(Resolve(value), "5");
}

}  // namespace
