// How the live scheduler groups differ from the pool definitions. Works on
// plain records only: the caller reads the host, this unit judges it.
#ifndef DRIFT_DRIFT_H_
#define DRIFT_DRIFT_H_

#include <optional>
#include <string>
#include <vector>

#include "sched/sched.h"

namespace Drift {

struct Allocation {
  Sched::MemAllocation mem;
  Sched::CpuAllocation cpu;
};

// What a definition declares, after tag resolution.
struct Pool {
  std::string name;
  bool isEnabled = true;
  bool annex = false;
  Allocation declared;
  std::string file;  // the definition file that declares it; may be empty
};

// A group as the host has it.
struct Group {
  std::string path;
  Allocation live;
};

enum class State {
  kOk,          // the group exists and matches
  kMissing,     // an enabled pool without its group
  kInactive,    // a pool that load does not create, without its group: as it should be
  kDisabled,    // memory maximum 0 on the host while the definition has another
  kDrifted,     // some compared field differs
  kUndeclared,  // a group below host/opt that no definition names
  kInvalid,     // a definition load would refuse or that contradicts another: see reason
};

const char* StateName(State state);

struct PoolDrift {
  const Pool* pool;                   // into the list given to Compare
  State state;
  std::optional<Allocation> live;     // absent when the group does not exist
  std::vector<const char*> differs;   // field names, in column order
  std::string reason;                 // why the definition is invalid; empty otherwise
};

struct Report {
  std::vector<PoolDrift> pools;    // in the order of the definitions
  std::vector<Group> undeclared;   // ascending by path

  // No pool is missing, disabled, drifted or invalid; undeclared groups do not count.
  bool Matches() const;
};

// live[i] is the group of pools[i], or nothing when it does not exist;
// below is every group found below host/opt; outside names other groups known
// to exist, such as host/opt itself: a parent group found in none of them
// counts as not existing. The report points into pools, which must outlive it.
Report Compare(const std::vector<Pool>& pools, const std::vector<std::optional<Allocation>>& live,
               std::vector<Group> below, const std::vector<std::string>& outside = {});

// The parent group's path: everything before the last slash.
std::string ParentPath(const std::string& path);

}  // namespace Drift

#endif  // DRIFT_DRIFT_H_
