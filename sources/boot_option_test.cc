#include "sources/boot_option.h"

#include <pthread.h>

#include <exception>
#include <functional>
#include <regex>
#include <string>

#include "gtest/gtest.h"
#include "loader/host_facts.h"
#include "loader/value.h"
#include "sources/boot_option_internal.h"
#include "sources/testing.h"

namespace {

using Sources::testing::Number;
using Sources::testing::At;
using Sources::internal::BootOptionValue;

// On the test host's line "quiet memPool=4 swap:DISABLED dbg = yes".
TEST(BootOption, HostCommandLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"memPool", "4.000000"},
      {"swap", "0.000000"},
      {"quiet", "1.000000"},  // a bare flag
      {"absent", "7.000000"},
      {"dbg", "7.000000"},      // "yes" is neither a boolean word nor a number
      {"Pool", "4.000000"},     // inside a longer word
      {"mem.ool", "4.000000"},  // a regular expression
      {"mem", "1.000000"},      // no "mem=" anywhere, but "mem" inside "memPool"
      {"dbg|memPool", "4.000000"},
      {"'^quiet'", "1.000000"},
      {"'^memPool'", "7.000000"},
      {"~", "7.000000"},  // the name "null"
  };
  for (const auto& [key, result] : cases) {
    EXPECT_EQ(Number("!bootOption {key: " + key + ", default: 7}"), result) << key;
  }
  EXPECT_EQ(Number("!bootOption {default: !calc numPCPUs, key: absent}"), "16.000000");
}

TEST(BootOption, ShapeErrors) {
  const std::pair<std::string, std::string> cases[] = {
      {"!bootOption memPool", At(4, "invalid Boot option specification")},
      {"!bootOption [memPool, 7]", At(4, "invalid Boot option specification")},
      {"!bootOption {key: '', default: 7}", At(4, "missing key")},
      {"!bootOption {}", At(4, "missing key")},
      {"!bootOption {default: 7}", At(4, "missing key")},
      {"!bootOption {key: memPool}", At(4, "missing default")},
      {"!bootOption {key: memPool, default: 1, key: ''}", At(4, "missing key")},
      {"!bootOption {key: memPool, comment: x, default: !calc 1 +}",
       At(40, "invalid boot option field")},
      {"!bootOption {key: memPool, default: !calc 1 +, comment: x}",
       At(40, "Missing numeric value. at ''")},
      {"!bootOption {key: [memPool], default: 7}", At(22, "bad conversion")},
      {"!bootOption {{a: b}: 1}", At(17, "bad conversion")},
      {"!bootOption {key: '(', default: 7}", "Mismatched '(' and ')' in regular expression"},
  };
  for (const auto& [text, error] : cases) EXPECT_EQ(Number(text), error) << text;
}

TEST(BootOption, Values) {
  struct {
    const char* line;
    const char* name;
    double result;
  } cases[] = {
      {"x=enabled", "x", 1.0},
      {"x=True", "x", 1.0},
      {"x=disabled", "x", 0.0},
      {"x=FALSE", "x", 0.0},
      {"x=2.5GB", "x", 2.5},
      {"x=0.1", "x", static_cast<double>(0.1f)},
      {"x=-3", "x", -3.0},
      {"x=0x10", "x", 16.0},
      {"x=1e39", "x", 7.0},  // beyond single precision
      {"x=abc", "x", 7.0},
      {"x:\t 5", "x", 5.0},
      {"x = 5 x=6", "x", 5.0},
      {"x= y=3", "x", 7.0},  // the value is "y=3"
      {"x=", "x", 1.0},      // no value: the name alone is a flag
      {"ax=3", "x", 3.0},
      {"(m)x=4", "(m)x", 7.0},  // group 1 is the name's "m", which is no number
      {"mx=4", "(m)x", 7.0},
      {"q=5", "x|q", 5.0},
      {"x q=5", "x|q", 7.0},    // "x" matches first, and group 1 is then empty
      {"a\\ss=9", "a\\", 9.0},  // "\" escapes the pattern's "\s"
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BootOptionValue(c.line, c.name, 7.0), c.result) << c.line << " " << c.name;
  }
}

// The search cuts the value pattern short and scans the value by hand; it
// must answer as the whole pattern does wherever that pattern is safe to run.
TEST(BootOption, SameAnswerAsTheWholePattern) {
  auto whole = [](const std::string& line, const std::string& name) {
    std::smatch m;
    if (std::regex_search(line, m, std::regex(name + "\\s*[:=]\\s*([^\\s]+)"))) {
      std::string upper = m[1].str();
      for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      if (upper == "TRUE" || upper == "ENABLED") return 1.0;
      if (upper == "FALSE" || upper == "DISABLED") return 0.0;
      try {
        return static_cast<double>(std::stof(m[1].str()));
      } catch (const std::exception&) {
        return -1.0;
      }
    }
    return std::regex_search(line, std::regex(name)) ? 1.0 : -1.0;
  };
  auto safe = [](const std::string& line, const std::string& name) {
    return BootOptionValue(line, name, -1.0);
  };
  auto outcome = [](auto&& fn, const std::string& line, const std::string& name) {
    try {
      return std::to_string(fn(line, name));
    } catch (const std::regex_error& e) {
      return std::string(e.what());
    }
  };
  const char* lines[] = {"a=1 b:2 c = 3 d", "ab=12x a b=enabled", "x=\t y=2 ",
                         "k=v=3 k:=4",      "(a)=5 a\\s=6 [x]=7", "aaa=1 aa=2 a==3"};
  const char* names[] = {"a",   "b",    "c",    "d",      "ab",  "a b", "x",      "y",
                         "k",   "k=",   "v",    "a+",     "a*",  "a?",  "(a)",    "(a)(b)?",
                         "a|b", "b|ab", "a\\",  "\\(a",   "[x]", "\\w", "a(?=a)", "a(?!=)",
                         "^a",  "\\ba", "a{2}", "(a)\\1", ".",   "",    "x|",     "|x"};
  for (const char* line : lines) {
    for (const char* name : names) {
      EXPECT_EQ(outcome(safe, line, name), outcome(whole, line, name)) << line << " / " << name;
    }
  }
}

// Runs fn on a thread with a 1 MB stack, as under "ulimit -s 1024".
void OnSmallStack(const std::function<void()>& fn) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 1024 * 1024), 0);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&fn)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

// A full command line whose last option has a value of 4,085 characters.
std::string LongLine(char fill) {
  std::string line = "quiet memPool=5" + std::string(4095 - 15, fill);
  EXPECT_EQ(line.size(), 4095u);
  return line;
}

TEST(BootOption, LongestValueOnASmallStack) {
  OnSmallStack([] {
    EXPECT_EQ(BootOptionValue(LongLine('x'), "memPool", 7.0), 5.0);
    EXPECT_EQ(BootOptionValue(LongLine('x'), "mem.ool", 7.0), 5.0);
    EXPECT_EQ(BootOptionValue(LongLine('x'), "quiet", 7.0), 1.0);
    EXPECT_EQ(BootOptionValue(LongLine('x'), "absent", 7.0), 7.0);
    // The deepest nesting a name can hold; group 1 is then the name's "x".
    EXPECT_EQ(BootOptionValue("x=2", std::string(63, '(') + "x" + std::string(63, ')'), 7.0), 7.0);
    EXPECT_EQ(BootOptionValue("x1234567890=2", "x1234567890", 7.0), 2.0);
  });
}

// Names that would make the matcher run out of stack or time give up with
// the library's own errors instead.
TEST(BootOption, CostlyNamesFail) {
  struct {
    std::string line;
    std::string name;
    std::regex_constants::error_type error;
  } cases[] = {
      {LongLine('x'), "memPool.*", std::regex_constants::error_stack},
      {std::string(40, 'a'), "(a|a)*b", std::regex_constants::error_complexity},
      {std::string(40, 'a'), "(a*)*b", std::regex_constants::error_complexity},
      {"x=1", std::string(129, 'x'), std::regex_constants::error_complexity},
      // Numbers the compiler would overflow.
      {"x=1", "(x)\\1234567890", std::regex_constants::error_complexity},
      {"x=1", "x{1,1234567890}", std::regex_constants::error_complexity},
  };
  for (const auto& c : cases) {
    OnSmallStack([&] {
      try {
        BootOptionValue(c.line, c.name, 7.0);
        ADD_FAILURE() << c.name << ": no error";
      } catch (const std::regex_error& e) {
        EXPECT_EQ(e.code(), c.error) << c.name;
      }
    });
  }
}

}  // namespace
