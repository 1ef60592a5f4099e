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

// The sources behind a tag, and what one resolution costs in steps of the
// work bounds below.
struct TagResolver {
  const char* tag;
  NumberResolver number;
  BoolResolver boolean;
  long cost;
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

// A value read from the host goes through one of its libraries: a store or
// switch lookup takes about 10 us, where a literal or an expression takes well
// under one. A boot option compiles two regular expressions and searches the
// command line with each: about 200 us, some milliseconds in a sanitized build.
constexpr long kHostLookupCost = 64;
constexpr long kBootOptionCost = 256;

const TagResolver kTagResolvers[] = {
    {"!calc", ResolveCalc, CalcIsTrue, 1},
    {"!config", ResolveConfigNumber, ResolveConfigBool, kHostLookupCost},
    {"!bootOption", ResolveBootOption, BootOptionIsTrue, kBootOptionCost},
    {"!fss", FeatureSwitchNumber, FeatureSwitchIsOn, kHostLookupCost},
};

// Values nest through the resolvers (a local variable of a "!calc" mapping,
// the default of a "!config" reference), and an alias can make a value
// contain itself. Aliases can also make one value refer to the same node many
// times over, each level doubling the work, so the total number of steps of
// one outermost value is bounded as well, and so is the total of all values of
// one file under a ResolutionBudget: many small values can each name such a
// node. A file's budget allows some thousands of pools of plain values, a
// thousand store or switch lookups, or 255 boot options; real definitions stay
// far below all three bounds.
constexpr int kMaxDepth = 64;
constexpr long kMaxSteps = 4096;
constexpr long kMaxFileSteps = 65536;

thread_local int depth = 0;
thread_local long steps = 0;
thread_local long fileSteps = -1;  // -1 while no budget is open

class NestingGuard {
 public:
  NestingGuard(const YAML::Node& node, long cost) {
    if (depth == 0) steps = 0;
    if (depth >= kMaxDepth) throw Loader::Exception(node.Mark(), "value nested too deeply");
    steps += cost;
    if (steps > kMaxSteps) throw Loader::Exception(node.Mark(), "value too complex");
    if (fileSteps >= 0) {
      fileSteps += cost;
      if (fileSteps > kMaxFileSteps) throw Loader::Exception(node.Mark(), "file too complex");
    }
    ++depth;
  }
  ~NestingGuard() { --depth; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
};

// Null for a plain literal.
const TagResolver* FindResolver(const YAML::Node& node, const std::string& tag) {
  if (tag == "?") return nullptr;
  for (const TagResolver& r : kTagResolvers) {
    if (tag == r.tag) return &r;
  }
  throw Loader::Exception(node.Mark(), "Unexpected tag " + tag);
}

long CostOf(const TagResolver* resolver) { return resolver == nullptr ? 1 : resolver->cost; }

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
  // The library's invalid-node error comes from Tag().
  const TagResolver* resolver = FindResolver(node, node.Tag());
  NestingGuard guard(node, CostOf(resolver));
  if (resolver != nullptr) return resolver->number(node, table);
  double value;
  if (ReadShortInteger(LiteralScalar(node).Scalar(), value)) return value;
  if (!YAML::convert<double>::decode(node, value)) {
    throw YAML::TypedBadConversion<double>(node.Mark());
  }
  return value;
}

bool ResolveBool(const YAML::Node& node, const Calc::Variables& table) {
  const TagResolver* resolver = FindResolver(node, node.Tag());
  NestingGuard guard(node, CostOf(resolver));
  if (resolver != nullptr) return resolver->boolean(node, table);
  bool value;
  if (!YAML::convert<bool>::decode(LiteralScalar(node), value)) {
    throw YAML::TypedBadConversion<bool>(node.Mark());
  }
  return value;
}

namespace Loader {

ResolutionBudget::ResolutionBudget() : saved_(fileSteps) { fileSteps = 0; }

ResolutionBudget::~ResolutionBudget() { fileSteps = saved_; }

}  // namespace Loader
