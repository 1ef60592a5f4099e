// The outcomes a poolctl run may end with while other poolctl processes work
// on the same host: its exit status with the lines its command writes, where
// a kernel error is one that a group created or removed by someone else can
// explain.
#ifndef TESTS_CONCURRENCY_OUTCOME_H_
#define TESTS_CONCURRENCY_OUTCOME_H_

#include <string>
#include <vector>

#include "tests/concurrency/group_tree.h"
#include "tests/e2e/harness.h"

namespace concurrency {

// Empty when the run of "poolctl args..." ended as its command allows;
// otherwise what was wrong. Only load, unload, enable and disable are known.
std::string CheckOutcome(const std::vector<std::string>& args, const e2e::RunResult& result,
                         const std::vector<Definition>& definitions);

}  // namespace concurrency

#endif  // TESTS_CONCURRENCY_OUTCOME_H_
