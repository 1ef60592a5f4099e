// The calc language: arithmetic and conditional expressions over a table of
// named numbers, evaluated while they are read.
#ifndef CALC_CALC_H_
#define CALC_CALC_H_

#include <cstddef>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace Calc {

// Names are compared exactly and may hold periods; booleans are 1.0 and 0.0.
using Variables = std::unordered_map<std::string, double>;

class Exception : public std::runtime_error {
 public:
  Exception(const std::string& message, size_t position)
      : std::runtime_error(message), position(position) {}
  // Offset in the expression text where the error was found.
  size_t position;
};

// Reads the whole text as one expression and returns its value; booleans are
// 1.0 and 0.0, and a NaN counts as true. Throws Exception at the first error
// in reading order, including an expression nested too deeply to evaluate
// safely. Never changes the variables.
double Evaluate(const std::string& expression, const Variables& variables);

}  // namespace Calc

#endif  // CALC_CALC_H_
