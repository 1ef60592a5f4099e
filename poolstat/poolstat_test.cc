// JSON's and Prometheus's escaping; the binary's tests check the layouts whole.
#include <optional>
#include <string>
#include <utility>

#include "gtest/gtest.h"
#include "poolstat/output.h"

namespace Poolstat {
namespace {

// Each byte of an ill-formed sequence becomes one replacement character.
TEST(JsonString, EscapesAndUtf8) {
  for (const auto& [in, out] : std::initializer_list<std::pair<std::string, std::string>>{
           {"quote\" backslash\\ /", "quote\\\" backslash\\\\ /"},
           {std::string("\0\n\x1f\x7f", 4), "\\u0000\\u000a\\u001f\x7f"},
           {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x90\xa7", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x90\xa7"},
           {"\x80\xbf", "\\ufffd\\ufffd"},
           {"\xe2\x82", "\\ufffd\\ufffd"}}) {
    EXPECT_EQ(JsonString(in), "\"" + out + "\"") << out;
  }
}

// Three escapes, every other byte of well-formed UTF-8 as it is, each other byte U+FFFD.
TEST(PrometheusLabel, EscapesAndUtf8) {
  for (const auto& [in, out] : std::initializer_list<std::pair<std::string, std::string>>{
           {"a\\b\"c\nd\te\x7f caf\xc3\xa9", "a\\\\b\\\"c\\nd\te\x7f caf\xc3\xa9"},
           {"\x80\xe2\x82", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"}}) {
    EXPECT_EQ(PrometheusLabel(in), out) << out;
  }
}

// An invalid pool's reason may hold commas and line breaks (file names do);
// every CSV line keeps its twelve fields.
TEST(Csv, ReasonKeepsTheFieldCount) {
  const Drift::Pool pool{"host/opt/a", true, false, {{0, -1, -1, -1, 0}, {0, -1, 1000, -1, 0}}, "x"};
  Report report;
  report.pools.push_back({&pool, State::kInvalid, std::nullopt, {}, "also declared in a,b\nc.yaml"});
  const std::string csv = FormatCsv(report);
  EXPECT_EQ(csv.substr(csv.find('\n') + 1), "host/opt/a,invalid,declared,0,-,-,-,0,-,-,1000,also declared in a;b c.yaml\n");
}

}  // namespace
}  // namespace Poolstat
