// How the fault and concurrency drivers judge a poolctl run without knowing
// what it should have done: by the statuses and reports its command
// specifies, and by what must hold of any host the commands leave.
#ifndef TESTS_FAULTS_JUDGE_H_
#define TESTS_FAULTS_JUDGE_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace judge {

using Args = std::vector<std::string>;

// The examples' annex pool, its memory maximum, its parent and the parent's
// declared memory minimum.
struct Annex {
  std::string path = "host/opt/vms/burst", parent = "host/opt/vms";
  int64_t max = 0, parentMin = 0;
};

// Copies the example definitions into the host's folder rp.d, marked
// installed, with their paths into *files; reads their annex pool.
Annex Examples(const e2e::SimHost& host, Args* files);

// A host's groups by path (their records, ids aside) and its problems: the
// state's own soundness check, leaked lists, and with annexRule an annex
// parent whose memory minimum is neither 0 nor exactly its declared minimum
// plus the maximum of its annex child, if that exists.
struct Look {
  std::map<std::string, std::string> groups;
  std::vector<std::string> problems;
};
Look Inspect(const std::string& db, const Annex& annex, bool annexRule);

// What is wrong with a run, if anything: a status or a line on standard
// error that its command does not specify, no report last, standard output
// other than cleanOut, perhaps cut short (disable's lines for missing groups
// aside), or a failure whose reports do not name the status text named.
std::string Judge(const Args& args, const e2e::RunResult& r, const std::string& cleanOut,
                  const std::string& named = "");

}  // namespace judge

#endif  // TESTS_FAULTS_JUDGE_H_
