// What a consistent group tree looks like after any sequence of poolctl
// commands on the example definitions, and the reading of hostsim's group
// listing and poolctl's definition CSV that the check needs.
#ifndef TESTS_CONCURRENCY_GROUP_TREE_H_
#define TESTS_CONCURRENCY_GROUP_TREE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace concurrency {

// Both records in hostsim's field order: min, max, shares, minLimit.
struct Allocation {
  int64_t min = 0;
  int64_t max = -1;
  int64_t shares = -1;
  int64_t minLimit = -1;
};

// One line of "hostsim groups".
struct Group {
  std::string path;
  uint64_t id = 0;
  Allocation mem;
  Allocation cpu;
  int64_t worlds = 0;
};

// One row of "poolctl list -v"; unset values are -1.
struct Definition {
  std::string name;
  bool enabled = false;
  Allocation mem;
  Allocation cpu;
};

// Both throw std::runtime_error naming the line that does not parse.
std::vector<Group> ParseGroups(const std::string& text);
std::vector<Definition> ParseDefinitions(const std::string& csv);

// The consistency failures of a group tree, one text each: duplicate paths
// or ids, groups whose parent is missing, records that no command sequence
// can produce, and an annex parent whose reservation does not match the
// annex group that exists.
std::vector<std::string> CheckTree(const std::vector<Group>& groups,
                                   const std::vector<Definition>& definitions,
                                   const std::string& annex);

}  // namespace concurrency

#endif  // TESTS_CONCURRENCY_GROUP_TREE_H_
