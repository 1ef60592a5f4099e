#include "loader/exception.h"

namespace Loader {
namespace {

// Lines and columns are kept 0-based in marks and shown 1-based; a mark with
// no position leaves the path and the message alone.
std::string FileErrorText(const std::string& path, const std::string& message,
                          const YAML::Mark& mark) {
  std::string text = path + ": ";
  if (!mark.is_null()) {
    text += "line " + std::to_string(mark.line + 1) + " column " +
            std::to_string(mark.column + 1) + ": ";
  }
  return text + message;
}

}  // namespace

FileError::FileError(const std::string& path, const std::string& message,
                     const YAML::Mark& mark)
    : std::runtime_error(FileErrorText(path, message, mark)) {}

}  // namespace Loader
