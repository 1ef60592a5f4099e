// What the tests of the loader, the sources, poolstat and the command line
// share, and the loader's fuzzer.
#ifndef LOADER_TESTING_H_
#define LOADER_TESTING_H_

#include <functional>
#include <string>

#include "platform/hostsim/state.h"

namespace loader_testing {

// The process's simulated host, made on first use in the temporary folder
// Dir(), which is removed at exit: 16 CPUs, 64 GiB, the boot command line
// "quiet memPool=4 swap:DISABLED dbg = yes", configuration values in object
// c/g/k (int 5, zero 0, nan, text "12", a/b/deep 7) and in the object of
// empty names (unnamed 3), and the switches on and " spaced ".
hostsim::State& Host();
const std::string& Dir();

// Writes the file in Dir() with the installed mark's value (none if empty).
std::string Write(const std::string& name, const std::string& text, const std::string& mark = "\x01");

// "v: text" resolved on the host as a number or a boolean: the value (%.17g),
// or the definition error as "line:column message".
std::string Resolve(const std::string& text, bool asBool = false);

// Runs fn on a thread with a 1 MB stack, as under "ulimit -s 1024".
void OnSmallStack(const std::function<void()>& fn);

}  // namespace loader_testing

#endif  // LOADER_TESTING_H_
