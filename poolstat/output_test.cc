#include "poolstat/output.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace Poolstat {
namespace {

// A parent in drift with its live line, a missing pool (no live line) and an
// undeclared group.
class OutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pools_ = {{"host/opt/vm", true, false, {{512, 2048, -1, -1, 0}, {10, 400, -2, -1, 0}}},
              {"host/opt/vm/cache", false, true, {{0, 100, -4, -1, 0}, {0, -1, 1000, -1, 0}}}};
    const Allocation live = {{512, 1024, 70, -1, 0x4D42}, {10, 300, -2, -1, 0x4D42}};
    report_ = Compare(pools_, {live, std::nullopt},
                      {{"host/opt/x\"y", {{0, -1, -1, -1, 0}, {0, -1, 1000, -1, 0}}}});
  }

  std::vector<Pool> pools_;
  Report report_;
};

TEST_F(OutputTest, Table) {
  const std::string blank(48, ' ');
  EXPECT_EQ(FormatTable(report_),
            "name" + std::string(44, ' ') +
                "       state      source      memMin      memMax memMinLimit   memShares"
                "      cpuMin      cpuMax   cpuShares     differs\n"
                "host/opt/vm" + std::string(37, ' ') +
                "     drifted    declared         512        2048           -           -"
                "          10         400         lowmemMax,cpuMax\n" +
                blank +
                "                    live         512        1024           -          70"
                "          10         300         low            \n"
                "host/opt/vm/cache" + std::string(31, ' ') +
                "    inactive    declared           0         100           -        high"
                "           0           -        1000            \n"
                "host/opt/x\"y" + std::string(36, ' ') +
                "  undeclared        live           0           -           -           -"
                "           0           -        1000            \n");
}

TEST_F(OutputTest, Csv) {
  EXPECT_EQ(FormatCsv(report_),
            "name,state,source,memMin,memMax,memMinLimit,memShares,cpuMin,cpuMax,cpuShares,"
            "differs\n"
            "host/opt/vm,drifted,declared,512,2048,-,-,10,400,low,memMax;cpuMax\n"
            "host/opt/vm,drifted,live,512,1024,-,70,10,300,low,\n"
            "host/opt/vm/cache,inactive,declared,0,100,-,high,0,-,1000,\n"
            "host/opt/x\"y,undeclared,live,0,-,-,-,0,-,1000,\n");
}

TEST_F(OutputTest, Json) {
  EXPECT_EQ(FormatJson(report_),
            "{\"matches\": false,\n"
            "\"pools\": [\n"
            "  {\"name\": \"host/opt/vm\", \"state\": \"drifted\", \"differs\": [\"memMax\", "
            "\"cpuMax\"], \"declared\": {\"auto\": true, \"annex\": false, \"memMin\": 512, "
            "\"memMax\": 2048, \"memMinLimit\": -1, \"memShares\": -1, \"cpuMin\": 10, "
            "\"cpuMax\": 400, \"cpuShares\": -2}, \"live\": {\"memMin\": 512, \"memMax\": 1024, "
            "\"memMinLimit\": -1, \"memShares\": 70, \"cpuMin\": 10, \"cpuMax\": 300, "
            "\"cpuShares\": -2}},\n"
            "  {\"name\": \"host/opt/vm/cache\", \"state\": \"inactive\", \"differs\": [], "
            "\"declared\": {\"auto\": false, \"annex\": true, \"memMin\": 0, \"memMax\": 100, "
            "\"memMinLimit\": -1, \"memShares\": -4, \"cpuMin\": 0, \"cpuMax\": -1, "
            "\"cpuShares\": 1000}, \"live\": null}\n"
            "],\n"
            "\"undeclared\": [\n"
            "  {\"name\": \"host/opt/x\\\"y\", \"live\": {\"memMin\": 0, \"memMax\": -1, "
            "\"memMinLimit\": -1, \"memShares\": -1, \"cpuMin\": 0, \"cpuMax\": -1, "
            "\"cpuShares\": 1000}}\n"
            "]}\n");
}

TEST(JsonOutputTest, EmptyReport) {
  EXPECT_EQ(FormatJson(Report{}), "{\"matches\": true,\n\"pools\": [],\n\"undeclared\": []}\n");
}

TEST(JsonOutputTest, Strings) {
  const struct {
    std::string in;
    std::string out;  // without the quotes
  } cases[] = {
      {"", ""},
      {"plain/path", "plain/path"},
      {"quote\" backslash\\", "quote\\\" backslash\\\\"},
      {std::string("nul\0end", 7), "nul\\u0000end"},
      {"\n\t\x1f\x7f", "\\u000a\\u0009\\u001f\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x90\xa7", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x90\xa7"},
      {"\xef\xbf\xbf\xf4\x8f\xbf\xbf", "\xef\xbf\xbf\xf4\x8f\xbf\xbf"},  // largest 3 and 4 bytes
      {"lone \xe9 byte", "lone \\ufffd byte"},
      {"\x80\xbf", "\\ufffd\\ufffd"},                  // continuation bytes alone
      {"\xc0\xaf \xc1\xbf", "\\ufffd\\ufffd \\ufffd\\ufffd"},  // overlong two-byte forms
      {"\xe0\x9f\xbf", "\\ufffd\\ufffd\\ufffd"},        // overlong three-byte form
      {"\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd"},        // surrogate
      {"\xf0\x8f\xbf\xbf", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // overlong four-byte form
      {"\xf4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // above U+10FFFF
      {"\xf5\xff", "\\ufffd\\ufffd"},
      {"cut \xe2\x82", "cut \\ufffd\\ufffd"},           // sequence cut off at the end
      {"\xc3(", "\\ufffd("},                            // lead byte without continuation
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.in), "\"" + c.out + "\"") << c.out;
}

}  // namespace
}  // namespace Poolstat
