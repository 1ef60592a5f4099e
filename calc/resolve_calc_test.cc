#include "calc/resolve_calc.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "loader/exception.h"
#include "loader/value.h"

namespace {

const Calc::Variables kFacts = {{"physKB", 640}, {"numPCPUs", 64}};

// Every document holds the value under test as "v".
YAML::Node Value(const std::string& document) { return YAML::Load(document)["v"]; }

struct ValueCase {
  std::string document;
  double expected;
};

TEST(ResolveCalcTest, Values) {
  const std::vector<ValueCase> cases = {
      {"v: !calc physKB / 2", 320},
      {"v: !calc numPCPUs / 2", 32},
      {"v: !calc 5", 5},
      {"v: !calc \"min(physKB, 100)\"", 100},
      {"v: !calc |\n  physKB\n  / 64\n", 10},
      {"v: !calc {half: 3, '=': half * 2}", 6},
      {"v: !calc {'=': half * 2, half: 3}", 6},
      // A local variable hides a host fact inside its own expression.
      {"v: !calc {physKB: 10, '=': physKB * 2}", 20},
      // The last "=" is the expression.
      {"v: !calc {'=': 1, '=': 2}", 2},
      // A tag on the expression is ignored; only its text counts.
      {"v: !calc {'=': !other 1 + 1}", 2},
      // A null key is the name "null".
      {"v: !calc {~: 5, '=': null + 1}", 6},
      // Local variables are any numeric value, "!calc" included, and are
      // resolved against the host facts.
      {"v: !calc {a: !calc physKB / 64, '=': a + 1}", 11},
      {"v: !calc {a: !calc {b: 2, '=': b * 3}, '=': a + 1}", 7},
      {"v: !calc\n  cpus: !calc numPCPUs / 4\n  =: cpus * 100\n", 1600},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.document);
    EXPECT_EQ(c.expected, ResolveCalc(Value(c.document), kFacts));
  }
}

struct ErrorCase {
  std::string document;
  std::string what;
};

TEST(ResolveCalcTest, Errors) {
  const std::vector<ErrorCase> cases = {
      // The scalar form quotes the rest of the text from where it failed.
      {"v: !calc foo + 1", "yaml-cpp: error at line 1, column 4: unexpected symbol: foo at 'foo + 1'"},
      {"v: !calc (1 + 2", "yaml-cpp: error at line 1, column 4: expected ) at ''"},
      {"v: !calc min(1 2)", "yaml-cpp: error at line 1, column 4: min expected , at '2)'"},
      // A NUL in the text is shown, so the message keeps its end.
      {"v: !calc \"1\\0 + 2\"", "yaml-cpp: error at line 1, column 4: unexpected char at '\\0 + 2'"},
      {"v: !calc ''", "yaml-cpp: error at line 1, column 4: Missing numeric value. at ''"},
      {"v: !calc", "yaml-cpp: error at line 1, column 4: Missing numeric value. at ''"},
      {"v: !calc ~", "yaml-cpp: error at line 1, column 4: Missing numeric value. at '~'"},
      {"v: !calc [1, 2]", "yaml-cpp: error at line 1, column 4: expected scalar or mapping"},
      // The "=" value reports the message alone, at its own position.
      {"v: !calc {'=': min(1 2)}", "yaml-cpp: error at line 1, column 16: min expected ,"},
      {"v: !calc\n  a: 1\n  =: a +\n", "yaml-cpp: error at line 3, column 6: Missing numeric value."},
      {"v: !calc {a: 1}", "yaml-cpp: error at line 1, column 4: missing arithmetic expression"},
      {"v: !calc {}", "yaml-cpp: error at line 1, column 4: missing arithmetic expression"},
      {"v: !calc {'=': ~}", "yaml-cpp: error at line 1, column 4: missing arithmetic expression"},
      {"v: !calc {'=':}", "yaml-cpp: error at line 1, column 4: missing arithmetic expression"},
      {"v: !calc {'=': [1]}", "yaml-cpp: error at line 1, column 16: bad conversion"},
      {"v: !calc {'=': {a: 1}}", "yaml-cpp: error at line 1, column 16: bad conversion"},
      {"v: !calc\n  ? [k]\n  : 1\n  =: 1\n", "yaml-cpp: error at line 2, column 5: bad conversion"},
      // Local variables see the host facts, never each other.
      {"v: !calc {half: 3, x: !calc half + 1, '=': x}",
       "yaml-cpp: error at line 1, column 23: unexpected symbol: half at 'half + 1'"},
      // A failing local variable fails the value, even when "=" is missing.
      {"v: !calc {a: abc}", "yaml-cpp: error at line 1, column 14: bad conversion"},
      {"v: !calc {a: '1', '=': a}", "yaml-cpp: error at line 1, column 14: Unexpected tag !"},
      // An alias can make a mapping its own local variable.
      {"v: &a !calc {x: *a, '=': x}", "yaml-cpp: error at line 1, column 4: value nested too deeply"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.document);
    try {
      double value = ResolveCalc(Value(c.document), kFacts);
      ADD_FAILURE() << "no error; value " << value;
    } catch (const YAML::Exception& e) {
      EXPECT_EQ(c.what, e.what());
    }
  }
}

TEST(ResolveCalcTest, TableIsUnchanged) {
  Calc::Variables facts = kFacts;
  ResolveCalc(Value("v: !calc {physKB: 1, extra: 2, '=': physKB + extra}"), facts);
  EXPECT_EQ(kFacts, facts);
}

}  // namespace
