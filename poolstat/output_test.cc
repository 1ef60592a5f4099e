// The table, CSV and JSON layouts are checked whole through the binary; here
// the text escaping of JSON, byte by byte.
#include "poolstat/output.h"

#include <string>

#include "gtest/gtest.h"

namespace Poolstat {
namespace {

TEST(JsonStringTest, EscapesAndUtf8) {
  const struct {
    std::string in;
    std::string out;  // without the quotes
  } cases[] = {
      {"quote\" backslash\\ /", "quote\\\" backslash\\\\ /"},
      {std::string("\0\n\x1f\x7f", 4), "\\u0000\\u000a\\u001f\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x90\xa7", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x90\xa7"},
      {"\xef\xbf\xbf\xf4\x8f\xbf\xbf", "\xef\xbf\xbf\xf4\x8f\xbf\xbf"},  // largest 3 and 4 bytes
      {"a\xe9z", "a\\ufffdz"},
      {"\x80\xbf", "\\ufffd\\ufffd"},                      // continuation bytes alone
      {"\xc0\xaf\xc1\xbf", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // overlong two-byte forms
      {"\xe0\x9f\xbf", "\\ufffd\\ufffd\\ufffd"},            // overlong three-byte form
      {"\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd"},            // surrogate
      {"\xf0\x8f\xbf\xbf", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // overlong four-byte form
      {"\xf4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // above U+10FFFF
      {"\xf5\xff", "\\ufffd\\ufffd"},
      {"\xe2\x82", "\\ufffd\\ufffd"},  // cut off at the end
      {"\xc3(", "\\ufffd("},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.in), "\"" + c.out + "\"") << c.out;
}

}  // namespace
}  // namespace Poolstat
