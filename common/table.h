// The listing format of the pool tables: a fixed-width table for people, or
// comma-separated values for scripts, with the kernel's special values shown
// by name. Header-only, so that every tool that prints pools shares it.
#ifndef COMMON_TABLE_H_
#define COMMON_TABLE_H_

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <system_error>
#include <vector>

namespace Table {

struct Layout {
  int nameWidth;   // first column, left-aligned
  int valueWidth;  // every other column, right-aligned
  const char* separator;
};

constexpr Layout kTable = {48, 12, ""};
constexpr Layout kCsv = {0, 0, ","};

inline std::string FormatMemValue(int64_t value) {
  return value == -1 ? "-" : std::to_string(value);
}

inline std::string FormatCpuValue(int32_t value) {
  return value == -1 ? "-" : std::to_string(value);
}

// Shares also take the kernel's three named levels.
inline std::string FormatShares(int64_t value) {
  switch (value) {
    case -1: return "-";
    case -2: return "low";
    case -3: return "normal";
    case -4: return "high";
    default: return std::to_string(value);
  }
}

// One line, newline included. Values wider than their column are written
// whole; the rest of the line moves right.
inline std::string FormatLine(const Layout& layout, const std::vector<std::string>& columns) {
  std::string line;
  for (size_t i = 0; i < columns.size(); ++i) {
    const std::string& text = columns[i];
    const size_t width = static_cast<size_t>(i == 0 ? layout.nameWidth : layout.valueWidth);
    const std::string padding(text.size() < width ? width - text.size() : 0, ' ');
    line += i == 0 ? text + padding : padding + text;
    if (i + 1 < columns.size()) line += layout.separator;
  }
  line += '\n';
  return line;
}

// A listing that cannot be written whole must not end as a success.
inline void CheckOutput(bool written) {
  if (!written) throw std::system_error(errno, std::generic_category(), "standard output");
}

inline void WriteOutput(const std::string& text) {
  CheckOutput(std::fwrite(text.data(), 1, text.size(), stdout) == text.size());
}

// A --help or --version answer on standard output: the exit status, 0, or 1
// with the error on standard error when the answer cannot be written.
inline int WriteAnswer(const std::string& text) {
  try {
    WriteOutput(text);
    CheckOutput(std::fflush(stdout) == 0);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}

}  // namespace Table

#endif  // COMMON_TABLE_H_
