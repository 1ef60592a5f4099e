#include "calc/resolve_calc.h"

#include <string>

#include "loader/exception.h"
#include "loader/value.h"

namespace {

// The scalar form quotes the rest of the expression from where the language
// stopped, since the YAML mark only locates the whole value.
double ResolveScalar(const YAML::Node& node, const Calc::Variables& table) {
  const std::string& expression = node.Scalar();
  try {
    return Calc::Evaluate(expression, table);
  } catch (const Calc::Exception& e) {
    throw Loader::Exception(node.Mark(), std::string(e.what()) + " at '" +
                                             expression.substr(e.position) + "'");
  }
}

double ResolveMapping(const YAML::Node& node, const Calc::Variables& table) {
  Calc::Variables locals = table;
  YAML::Node expressionNode;
  bool haveExpression = false;
  for (const auto& entry : node) {
    std::string key = entry.first.as<std::string>();
    if (key == "=") {
      // The last "=" wins, and it is evaluated only once every local
      // variable is known, wherever it stands in the mapping.
      expressionNode.reset(entry.second);
      haveExpression = true;
    } else {
      // Against the caller's table, not the locals: local variables cannot
      // refer to one another, whatever their order.
      locals[key] = ResolveNumber(entry.second, table);
    }
  }
  if (!haveExpression || expressionNode.IsNull()) {
    throw Loader::Exception(node.Mark(), "missing arithmetic expression");
  }
  // Only the text counts; a tag on the expression is ignored.
  std::string expression = expressionNode.as<std::string>();
  try {
    return Calc::Evaluate(expression, locals);
  } catch (const Calc::Exception& e) {
    throw Loader::Exception(expressionNode.Mark(), e.what());
  }
}

}  // namespace

double ResolveCalc(const YAML::Node& node, const Calc::Variables& table) {
  switch (node.Type()) {
    case YAML::NodeType::Scalar:
      return ResolveScalar(node, table);
    case YAML::NodeType::Map:
      return ResolveMapping(node, table);
    default:
      throw Loader::Exception(node.Mark(), "expected scalar or mapping");
  }
}
