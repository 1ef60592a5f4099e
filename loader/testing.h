// What the tests of the loader, the sources and the command line share, and
// the loader's fuzzer.
#ifndef LOADER_TESTING_H_
#define LOADER_TESTING_H_

#include <functional>
#include <string>

#include "platform/hostsim/state.h"

namespace loader_testing {

// The process's simulated host, made on first use and removed at exit: 16
// CPUs, 64 GiB, the boot command line "quiet memPool=4 swap:DISABLED dbg =
// yes", configuration values in object c/g/k (int 5, zero 0, big 2^53 + 1,
// real 2.5, nan, text "12", a/shallow 6, a/b/deep 7) and in the object of
// empty names (unnamed 3), and the switches on, off and " spaced ".
hostsim::State& Host();

// A folder removed with everything in it when the object goes.
struct TempDir {
  TempDir();
  ~TempDir();
  // Writes the file with the installed mark's value (none if empty).
  std::string Write(const std::string& name, const std::string& text, const std::string& mark = "\x01") const;
  const std::string path;
};

// "v: text" resolved on the host: the value (%.17g), or the error:
// "line:column message" for a definition error, else its text.
std::string Number(const std::string& text);
std::string Bool(const std::string& text);

// Runs fn on a thread with a 1 MB stack, as under "ulimit -s 1024".
void OnSmallStack(const std::function<void()>& fn);

}  // namespace loader_testing

#endif  // LOADER_TESTING_H_
