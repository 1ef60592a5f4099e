#include "platform/hostsim/numbers.h"

#include <string>

#include "gtest/gtest.h"

namespace hostsim {
namespace {

TEST(Numbers, SignedTextsWithinTheirRange) {
  struct Case {
    std::string text;
    Radix radix;
    int64_t lo, hi;
    std::optional<int64_t> value;
  } cases[] = {
      {"0", Radix::kDecimal, INT64_MIN, INT64_MAX, 0},
      {"-0", Radix::kDecimal, INT64_MIN, INT64_MAX, 0},
      {"9223372036854775807", Radix::kDecimal, INT64_MIN, INT64_MAX, INT64_MAX},
      {"9223372036854775808", Radix::kDecimal, INT64_MIN, INT64_MAX, std::nullopt},
      {"-9223372036854775808", Radix::kDecimal, INT64_MIN, INT64_MAX, INT64_MIN},
      {"-9223372036854775809", Radix::kDecimal, INT64_MIN, INT64_MAX, std::nullopt},
      {"99999999999999999999999", Radix::kDecimal, INT64_MIN, INT64_MAX, std::nullopt},
      {"2147483647", Radix::kDecimal, INT32_MIN, INT32_MAX, INT32_MAX},
      {"2147483648", Radix::kDecimal, INT32_MIN, INT32_MAX, std::nullopt},
      {"-2147483648", Radix::kDecimal, INT32_MIN, INT32_MAX, INT32_MIN},
      {"-2147483649", Radix::kDecimal, INT32_MIN, INT32_MAX, std::nullopt},
      {"0x10", Radix::kDecimal, INT64_MIN, INT64_MAX, std::nullopt},
      {"0x10", Radix::kDecimalOrHex, INT64_MIN, INT64_MAX, 16},
      {"-0x7fffffff", Radix::kDecimalOrHex, INT32_MIN, INT32_MAX, -0x7fffffff},
      {"0X1f", Radix::kDecimalOrHex, INT64_MIN, INT64_MAX, 31},
      {"0x", Radix::kDecimalOrHex, INT64_MIN, INT64_MAX, std::nullopt},
      {"0xg", Radix::kDecimalOrHex, INT64_MIN, INT64_MAX, std::nullopt},
      {"1f", Radix::kDecimalOrHex, INT64_MIN, INT64_MAX, std::nullopt},
      {"", Radix::kDecimal, INT64_MIN, INT64_MAX, std::nullopt},
      {"-", Radix::kDecimal, INT64_MIN, INT64_MAX, std::nullopt},
      {"--1", Radix::kDecimal, INT64_MIN, INT64_MAX, std::nullopt},
      {"+1", Radix::kDecimal, INT64_MIN, INT64_MAX, std::nullopt},
      {" 1", Radix::kDecimal, INT64_MIN, INT64_MAX, std::nullopt},
      {"1 ", Radix::kDecimal, INT64_MIN, INT64_MAX, std::nullopt},
      {std::string("1\0", 2), Radix::kDecimal, INT64_MIN, INT64_MAX, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseSigned(c.text, c.lo, c.hi, c.radix), c.value) << c.text;
}

TEST(Numbers, UnsignedTextsUpToTheirLimit) {
  struct Case {
    std::string text;
    uint64_t hi;
    std::optional<uint64_t> value;
  } cases[] = {
      {"18446744073709551615", UINT64_MAX, UINT64_MAX},
      {"18446744073709551616", UINT64_MAX, std::nullopt},
      {"0xFFFFFFFFFFFFFFFF", UINT64_MAX, UINT64_MAX},
      {"0x10000000000000000", UINT64_MAX, std::nullopt},
      {"1", 1, 1},
      {"2", 1, std::nullopt},
      {"-1", UINT64_MAX, std::nullopt},
      {"007", 10, 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseUnsigned(c.text, c.hi, Radix::kDecimalOrHex), c.value) << c.text;
  }
}

}  // namespace
}  // namespace hostsim
