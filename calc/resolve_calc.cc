#include "calc/resolve_calc.h"

#include <string>

#include "loader/exception.h"
#include "loader/value.h"

namespace {

// The rest of the expression as it goes into a message. A NUL byte in it
// (a quoted YAML scalar can hold one) is written as \0: the message is read
// as a C string, which would end at the NUL and lose the rest of the text
// and the closing quote.
std::string QuotedRest(const std::string& expression, size_t position) {
  std::string rest;
  for (size_t i = position; i < expression.size(); ++i) {
    if (expression[i] == '\0') {
      rest += "\\0";
    } else {
      rest += expression[i];
    }
  }
  return "'" + rest + "'";
}

// The scalar form quotes the rest of the expression from where the language
// stopped, since the YAML mark only locates the whole value.
double ResolveScalar(const YAML::Node& node, const Calc::Variables& table) {
  const std::string& expression = node.Scalar();
  try {
    return Calc::Evaluate(expression, table);
  } catch (const Calc::Exception& e) {
    throw Loader::Exception(node.Mark(),
                            std::string(e.what()) + " at " + QuotedRest(expression, e.position));
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
