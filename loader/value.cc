#include "loader/value.h"

#include <string>

#include "calc/resolve_calc.h"
#include "loader/exception.h"
#include "sources/boot_option.h"
#include "sources/config_reference.h"
#include "sources/feature_switch.h"

namespace {

using NumberResolver = double (*)(const YAML::Node&, const Calc::Variables&);
using BoolResolver = bool (*)(const YAML::Node&, const Calc::Variables&);

// The sources behind a tag.
struct TagResolver {
  const char* tag;
  NumberResolver number;
  BoolResolver boolean;
};

bool CalcIsTrue(const YAML::Node& node, const Calc::Variables& table) {
  return ResolveCalc(node, table) != 0.0;  // NaN counts as true
}

bool BootOptionIsTrue(const YAML::Node& node, const Calc::Variables& table) {
  return ResolveBootOption(node, table) != 0.0;
}

// A switch needs no host facts.
double FeatureSwitchNumber(const YAML::Node& node, const Calc::Variables&) {
  return ResolveFeatureSwitch(node) ? 1.0 : 0.0;
}

bool FeatureSwitchIsOn(const YAML::Node& node, const Calc::Variables&) {
  return ResolveFeatureSwitch(node);
}

const TagResolver kTagResolvers[] = {
    {"!calc", ResolveCalc, CalcIsTrue},
    {"!config", ResolveConfigNumber, ResolveConfigBool},
    {"!bootOption", ResolveBootOption, BootOptionIsTrue},
    {"!fss", FeatureSwitchNumber, FeatureSwitchIsOn},
};

// Values nest through the resolvers (a local variable of a "!calc" mapping,
// the default of a "!config" reference), and an alias can make a value
// contain itself. Aliases can also make one value refer to the same node many
// times over, each level doubling the work, so the total number of steps of
// one outermost value is bounded as well. Real definitions stay far below
// both bounds.
constexpr int kMaxDepth = 64;
constexpr long kMaxSteps = 4096;

thread_local int depth = 0;
thread_local long steps = 0;

class NestingGuard {
 public:
  explicit NestingGuard(const YAML::Node& node) {
    if (depth == 0) steps = 0;
    if (depth >= kMaxDepth) throw Loader::Exception(node.Mark(), "value nested too deeply");
    if (++steps > kMaxSteps) throw Loader::Exception(node.Mark(), "value too complex");
    ++depth;
  }
  ~NestingGuard() { --depth; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
};

const TagResolver& FindResolver(const YAML::Node& node, const std::string& tag) {
  for (const TagResolver& r : kTagResolvers) {
    if (tag == r.tag) return r;
  }
  throw Loader::Exception(node.Mark(), "Unexpected tag " + tag);
}

const YAML::Node& LiteralScalar(const YAML::Node& node) {
  if (!node.IsScalar()) throw Loader::Exception(node.Mark(), "Node is not a scalar.");
  return node;
}

// Most literals are short whole numbers. The library reads every scalar
// through a string stream of its own, which costs more than the rest of a
// pool's values together; a sign and up to 15 digits give that same value
// exactly, so they are read directly.
bool ReadShortInteger(const std::string& text, double& value) {
  size_t i = text.size() > 0 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  const size_t digits = text.size() - i;
  if (digits == 0 || digits > 15) return false;
  double magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    magnitude = magnitude * 10 + (text[i] - '0');
  }
  value = text[0] == '-' ? -magnitude : magnitude;
  return true;
}

}  // namespace

double ResolveNumber(const YAML::Node& node, const Calc::Variables& table) {
  const std::string& tag = node.Tag();  // the library's invalid-node error comes from here
  NestingGuard guard(node);
  if (tag != "?") return FindResolver(node, tag).number(node, table);
  double value;
  if (ReadShortInteger(LiteralScalar(node).Scalar(), value)) return value;
  if (!YAML::convert<double>::decode(node, value)) {
    throw YAML::TypedBadConversion<double>(node.Mark());
  }
  return value;
}

bool ResolveBool(const YAML::Node& node, const Calc::Variables& table) {
  const std::string& tag = node.Tag();
  NestingGuard guard(node);
  if (tag != "?") return FindResolver(node, tag).boolean(node, table);
  bool value;
  if (!YAML::convert<bool>::decode(LiteralScalar(node), value)) {
    throw YAML::TypedBadConversion<bool>(node.Mark());
  }
  return value;
}
