#include "calc/calc.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace Calc {
namespace {

// Every nested sum, operand and chain of operators costs a stack frame of
// the parser, so an expression such as "((((...))))" or "1+1+1+...+1" could
// otherwise take the whole stack. The bound counts those frames: a sum of
// 500 conditional terms needs about 1500 and 50 parentheses about 100, and
// at the bound the parser uses well under 1 MB of stack even with the
// sanitizers' larger frames (calc_test runs the deepest forms on a 1 MB
// stack).
constexpr int kMaxDepth = 4000;

// The character classes are the C library's in the "C" locale (the program
// never changes its locale). The casts keep bytes above 127 from reaching
// them as negative values, which they must not be given.
bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '.';
}

// A NaN is true: only a value equal to zero is false.
bool IsTrue(double value) { return value != 0.0; }

// True when the NUL-terminated text at p begins with word. The comparison
// stops at the first difference, so it never reads past the terminator.
bool StartsWith(const char* p, const char* word) {
  for (; *word != '\0'; ++p, ++word) {
    if (*p != *word) return false;
  }
  return true;
}

bool IsWord(const char* begin, const char* end, const char* word) {
  size_t length = std::strlen(word);
  return static_cast<size_t>(end - begin) == length && std::memcmp(begin, word, length) == 0;
}

// Evaluates while it reads: each construct is computed as soon as its last
// character has been read, so there is no tree and nothing to free. The
// cursor always stands on the first character not consumed yet; after a
// value has been read it stands on the first non-blank character after it.
class Parser {
 public:
  Parser(const std::string& text, const Variables& variables)
      : begin_(text.c_str()), end_(text.c_str() + text.size()), variables_(variables),
        cursor_(begin_) {}

  double Run() {
    double value = ParseSum(begin_, 0.0);
    // The text may hold a NUL before its end; that is left over text too,
    // not a silent end of the expression.
    if (cursor_ != end_) Fail("unexpected char", cursor_);
    return value;
  }

 private:
  double ParseSum(const char* start, double addend);
  double ParseTail(double left);
  double ParseOperand(const char* start);
  double ParseConnective(double value);
  double ParseName(const char* start);
  double ReadNumber(const char* start);
  const double* FindVariable(const char* start, const char* end);
  double ParseMinMax(const char* word, const char* p, bool isMax);
  double ParseCeil(const char* p);

  static const char* SkipBlanks(const char* p) {
    while (IsBlank(*p)) ++p;
    return p;
  }

  void Enter(const char* at) {
    if (++depth_ > kMaxDepth) Fail("expression nested too deeply", at);
  }
  void Leave() { --depth_; }

  // Out of line and cold, so that building the message costs the recursive
  // frames nothing.
  [[noreturn]] __attribute__((noinline, cold)) void Fail(const char* message,
                                                         const char* at) const {
    throw Exception(message, static_cast<size_t>(at - begin_));
  }
  [[noreturn]] __attribute__((noinline, cold)) void Fail(const char* word, const char* message,
                                                         const char* at) const {
    throw Exception(std::string(word) + message, static_cast<size_t>(at - begin_));
  }
  [[noreturn]] __attribute__((noinline, cold)) void FailName(const char* start,
                                                             const char* end) const {
    throw Exception("unexpected symbol: " + std::string(start, end),
                    static_cast<size_t>(start - begin_));
  }

  const char* const begin_;
  const char* const end_;
  const Variables& variables_;
  const char* cursor_;
  int depth_ = 0;
  // Reused for every variable look-up, so that long names are not allocated
  // again for each occurrence.
  std::string name_;
};

// The addend is the left operand of a "+" before this sum: adding it last
// makes "a + b + c" group as a + (b + c).
double Parser::ParseSum(const char* start, double addend) {
  Enter(start);
  double value = ParseTail(ParseOperand(start));
  Leave();
  return value + addend;
}

double Parser::ParseTail(double left) {
  Enter(cursor_);
  for (;;) {
    const char* p = SkipBlanks(cursor_);
    switch (*p) {
      case '+': {
        double sum = ParseSum(SkipBlanks(p + 1), left);
        Leave();
        return sum;
      }
      case '-': {
        // The right operand of "-" is the rest of the sum: a - b + c is
        // a - (b + c).
        double right = ParseOperand(SkipBlanks(p + 1));
        right = ParseTail(right);
        Leave();
        return left - right;
      }
      case '*':
        left *= ParseOperand(SkipBlanks(p + 1));
        break;
      case '/':
        left /= ParseOperand(SkipBlanks(p + 1));
        break;
      default:
        cursor_ = p;
        Leave();
        return left;
    }
  }
}

// Blanks before an operand are skipped by its caller, except at the very
// start of the text, where only the number reader skips them.
double Parser::ParseOperand(const char* start) {
  Enter(start);
  double value;
  if (*start == '(') {
    value = ParseSum(SkipBlanks(start + 1), 0.0);
    if (*cursor_ != ')') Fail("expected )", cursor_);
    ++cursor_;
  } else if (IsNameStart(*start)) {
    value = ParseName(start);
  } else {
    value = ReadNumber(start);
  }
  value = ParseConnective(value);
  Leave();
  return value;
}

// A connective binds the single primary on its left; its result is then the
// left operand of whatever operators follow. Both sides, and both branches
// of a conditional, are always read and computed, so an error anywhere in
// the text is reported even where its value would not be used.
double Parser::ParseConnective(double value) {
  const char* p = SkipBlanks(cursor_);
  if (StartsWith(p, "and")) {
    double right = ParseOperand(SkipBlanks(p + 3));
    return ParseTail(IsTrue(value) && IsTrue(right) ? 1.0 : 0.0);
  }
  if (StartsWith(p, "or")) {
    double right = ParseOperand(SkipBlanks(p + 2));
    return ParseTail(IsTrue(value) || IsTrue(right) ? 1.0 : 0.0);
  }
  if (StartsWith(p, "if")) {
    double condition = ParseOperand(SkipBlanks(p + 2));
    double alternative = 0.0;
    if (StartsWith(cursor_, "else")) alternative = ParseOperand(SkipBlanks(cursor_ + 4));
    return ParseTail(IsTrue(condition) ? value : alternative);
  }
  cursor_ = p;
  return value;
}

// A variable shadows the words of the language, so a host fact may be named
// "min" or "True" without breaking definitions that use it.
double Parser::ParseName(const char* start) {
  const char* end = start + 1;
  while (IsNameChar(*end)) ++end;
  if (const double* variable = FindVariable(start, end)) {
    cursor_ = end;
    return *variable;
  }
  if (IsWord(start, end, "min")) return ParseMinMax("min", end, false);
  if (IsWord(start, end, "max")) return ParseMinMax("max", end, true);
  if (IsWord(start, end, "ceil")) return ParseCeil(end);
  if (IsWord(start, end, "not")) {
    // The operand of "not" is the whole sum after it.
    return ParseSum(SkipBlanks(end), 0.0) == 0.0 ? 1.0 : 0.0;
  }
  if (IsWord(start, end, "True") || IsWord(start, end, "False")) {
    cursor_ = end;
    return *start == 'T' ? 1.0 : 0.0;
  }
  FailName(start, end);
}

// The number reader and the variable look-up keep their locals out of the
// recursive frames: with the sanitizers, every local whose address is taken
// adds guard zones to the frame of the function it ends up in.
__attribute__((noinline)) double Parser::ReadNumber(const char* start) {
  char* end = nullptr;
  double value = std::strtod(start, &end);
  if (end == start) Fail("Missing numeric value.", start);
  cursor_ = end;
  return value;
}

__attribute__((noinline)) const double* Parser::FindVariable(const char* start,
                                                             const char* end) {
  name_.assign(start, end);
  auto found = variables_.find(name_);
  return found == variables_.end() ? nullptr : &found->second;
}

// With equal arguments, or a NaN in either, the first argument is the result.
double Parser::ParseMinMax(const char* word, const char* p, bool isMax) {
  p = SkipBlanks(p);
  if (*p != '(') Fail(word, " expected (", p);
  double a = ParseSum(SkipBlanks(p + 1), 0.0);
  if (*cursor_ != ',') Fail(word, " expected ,", cursor_);
  double b = ParseSum(SkipBlanks(cursor_ + 1), 0.0);
  if (*cursor_ != ')') Fail(word, " expected )", cursor_);
  ++cursor_;
  if (isMax) return b > a ? b : a;
  return b < a ? b : a;
}

double Parser::ParseCeil(const char* p) {
  p = SkipBlanks(p);
  if (*p != '(') Fail("ceil expected (", p);
  double value = std::ceil(ParseSum(SkipBlanks(p + 1), 0.0));
  if (*cursor_ != ')') Fail("ceil expected )", cursor_);
  ++cursor_;
  return value;
}

}  // namespace

double Evaluate(const std::string& expression, const Variables& variables) {
  return Parser(expression, variables).Run();
}

}  // namespace Calc
