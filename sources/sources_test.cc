#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "loader/exception.h"
#include "loader/host_facts.h"
#include "loader/testing.h"
#include "loader/value.h"
#include "sources/boot_option_internal.h"

namespace {

using loader_testing::Number;
using Sources::internal::BootOptionValue;

// The search of one option name, a regular expression, on a command line:
// the number, or the library's error for a name too costly to search.
std::string Search(const std::string& line, const std::string& name) {
  try {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", BootOptionValue(line, name, 7));
    return text;
  } catch (const std::regex_error& e) {
    if (e.code() == std::regex_constants::error_stack) return "stack";
    return e.code() == std::regex_constants::error_complexity ? "complexity" : e.what();
  }
}

// On a small stack, with the longest command line: its last option's value
// has 4,080 characters.
TEST(BootOption, Values) {
  const std::string host = "quiet memPool=4 swap:DISABLED dbg = yes";
  const std::string longest = "quiet memPool=5" + std::string(4095 - 15, 'x');
  const struct {
    std::string line, name, result;
  } cases[] = {
      {host, "swap", "0"},
      {host, "quiet", "1"},  // a bare flag
      {host, "dbg", "7"},    // "yes" is neither a boolean word nor a number
      {"x=enabled", "x", "1"},
      {"x=2.5GB", "x", "2.5"},
      {"x=0.1", "x", "0.100000001"},  // single precision
      {"x=0x10", "x", "16"},
      {"x=1e39", "x", "7"},
      {"x:\t 5", "x", "5"},
      {"x = 5 x=6", "x", "5"},
      {"x= y=3", "x", "7"},  // the value is "y=3"
      {"x=", "x", "1"},      // no value: the name alone is a flag
      {"ax=3", "x", "3"},
      {"x1234567890=2", "x1234567890", "2"},
      {"(m)x=4", "(m)x", "7"},  // group 1 is the name's "m", which is no number
      {"x q=5", "x|q", "7"},    // "x" matches first, and group 1 is then empty
      {"a\\ss=9", "a\\", "9"},  // "\" escapes the pattern's "\s"
      {longest, "memPool", "5"},
      {longest, "mem.ool", "5"},
      {longest, "quiet", "1"},
      {longest, "absent", "7"},
      {"x=2", std::string(63, '(') + "x" + std::string(63, ')'), "7"},  // the deepest name
      {longest, "memPool.*", "stack"},
      {std::string(40, 'a'), "(a|a)*b", "complexity"},
      {std::string(40, 'a'), "(a*)*b", "complexity"},
      {"x=1", std::string(129, 'x'), "complexity"},
      {"x=1", "(x)\\1234567890", "complexity"},  // numbers the compiler would overflow
      {"x=1", "x{1,1234567890}", "complexity"},
  };
  loader_testing::OnSmallStack([&] {
    for (const auto& c : cases) EXPECT_EQ(Search(c.line, c.name), c.result) << c.line << " " << c.name;
  });
}

// Store failures give the default; anything else than the store's own
// exceptions fails the value at the node, the library's exception nested.
TEST(ConfigStore, Failures) {
  hostsim::State& host = loader_testing::Host();
  const std::string value = "!config {object: [c, g, k], key: int, default: -1}";
  host.Write([&] { host.SetConfigStoreAvailable(false); });
  EXPECT_EQ(Number(value), "-1");
  host.Write([&] { host.SetConfigStoreAvailable(true); });
  EXPECT_EQ(Number(value), "5");
  host.Write([&] { host.AddConfigFault(hostsim::ConfigFault::kStore, 1); });
  EXPECT_EQ(Number(value), "-1");
  EXPECT_EQ(Number(value), "5");
  host.Write([&] { host.AddConfigFault(hostsim::ConfigFault::kStd, 1); });
  try {
    ResolveNumber(YAML::Load("v: " + value)["v"], Loader::HostFacts());
    ADD_FAILURE() << "no exception";
  } catch (const Loader::Exception& e) {
    EXPECT_STREQ(e.what(), "yaml-cpp: error at line 1, column 4: simulated store failure");
    EXPECT_THROW(std::rethrow_if_nested(e), std::runtime_error);
  }
  EXPECT_EQ(Number(value), "5");
}

}  // namespace
