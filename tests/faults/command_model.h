// What one poolctl invocation must do to the host, its output and its exit
// status, worked out on the kernel model from the commands' description:
// the oracle of the fault driver.
#ifndef TESTS_FAULTS_COMMAND_MODEL_H_
#define TESTS_FAULTS_COMMAND_MODEL_H_

#include <string>
#include <vector>

#include "tests/faults/kernel_model.h"

namespace faults {

// One pool of the definition set, as the loader builds it.
struct Pool {
  std::string name;
  bool enabled = true;
  bool annex = false;
  Record mem = kNewMem;
  Record cpu = kNewCpu;
};

struct Definitions {
  std::vector<Pool> pools;  // in any order; the model sorts as the loader does
  // The file whose first pool reads the host facts, for commands given files
  // and for those that read /etc/rp.d.
  std::string firstNamedFile;
  std::string firstInstalledFile;
  // The list output of a run that succeeds, and its header line alone.
  std::string listing;
  std::string listingHeader;
};

struct Outcome {
  bool crashed = false;
  int status = 0;
  std::string out;
  std::string err;
  Groups groups;
  std::vector<std::string> trace;
  bool fired = false;
};

// Runs poolctl with args (without the program name) on the host start.
Outcome RunModel(const Definitions& defs, const Groups& start, const std::vector<std::string>& args,
                 const Injection& injection);

}  // namespace faults

#endif  // TESTS_FAULTS_COMMAND_MODEL_H_
