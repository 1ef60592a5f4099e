// The bytes of one definition file and their first checks, before the YAML
// library sees them.
#ifndef LOADER_DEFINITION_TEXT_H_
#define LOADER_DEFINITION_TEXT_H_

#include <cstddef>
#include <string>

#include "yaml-cpp/yaml.h"

namespace Loader {

namespace internal {

// The YAML library spends a few microseconds and a few hundred bytes of memory
// on every node it reads, so a file made of one-character nodes costs it about
// 2 us and 250 bytes per byte of text. This cap keeps the parse of any one
// file well inside a second and under a hundred megabytes; real definition
// files are a few kilobytes.
constexpr size_t kMaxDefinitionBytes = 256 * 1024;

// Reads the file at path, which must be a regular file that still carries the
// installed mark once opened (a symbolic link may have been swapped since the
// mark was checked). Returns false when the opened file is not installed.
// Throws std::system_error with the system's text when the file cannot be
// opened or read or is a directory, and Loader::Exception without a position
// for any other kind of file and for a file over kMaxDefinitionBytes.
// Opening never blocks, not even on a FIFO.
bool ReadDefinitionText(const std::string& path, std::string& text);

// Throws Loader::Exception "invalid UTF-8" at the first byte that is not
// part of a well-formed UTF-8 sequence. Text that the YAML library decodes as
// UTF-16 or UTF-32 (a byte-order mark, or a NUL among its first two bytes) is
// left to the library.
void CheckUtf8(const std::string& text);

// The first document of a definition file's text.
YAML::Node ParseDefinitionText(const std::string& text);

}  // namespace internal
}  // namespace Loader

#endif  // LOADER_DEFINITION_TEXT_H_
