// Definition errors: Loader::Exception is an error at a place in a YAML
// document; Loader::FileError ties any failure to a definition file's path.
#ifndef LOADER_EXCEPTION_H_
#define LOADER_EXCEPTION_H_

#include <stdexcept>
#include <string>

#include "yaml-cpp/yaml.h"

namespace Loader {

// Its what() is the YAML library's own text: "yaml-cpp: error at line L,
// column C: message", or the message alone for the null mark.
class Exception : public YAML::RepresentationException {
 public:
  Exception(const YAML::Mark& mark, const std::string& message)
      : YAML::RepresentationException(mark, message) {}
};

// "path: line L column C: message", or "path: message" without a position.
class FileError : public std::runtime_error {
 public:
  FileError(const std::string& path, const std::string& message, const YAML::Mark& mark);
};

}  // namespace Loader

#endif  // LOADER_EXCEPTION_H_
