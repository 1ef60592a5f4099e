// Definition files are accepted only when they carry the installed mark;
// hostsim sets it the way the host's installer does.
#ifndef PLATFORM_HOSTSIM_INSTALLED_MARK_H_
#define PLATFORM_HOSTSIM_INSTALLED_MARK_H_

#include <stdexcept>
#include <string>

namespace hostsim {

class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Sets the mark on a file in place.
void MarkInstalled(const std::string& file);

// Copies file into dir (created with its parents when missing) under its own
// name, marked. The copy appears whole and marked at once, never half-written.
void InstallFile(const std::string& file, const std::string& dir);

}  // namespace hostsim

#endif  // PLATFORM_HOSTSIM_INSTALLED_MARK_H_
