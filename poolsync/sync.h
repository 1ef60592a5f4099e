// Brings the scheduler groups that exist back to what the definitions
// declare. It never creates or deletes a group: what it leaves alone it names,
// with the command that would change it.
#ifndef POOLSYNC_SYNC_H_
#define POOLSYNC_SYNC_H_

#include <string>
#include <vector>

namespace Poolsync {

struct Options {
  bool dryRun = false;  // say what would change, change nothing
  bool quiet = false;   // no lines for what is left alone
};

// Exit statuses besides 0; a failure throws.
constexpr int kInvalid = 1;       // a definition is invalid: nothing was changed
constexpr int kWouldChange = 2;   // with dryRun: something differs

// Reads the definitions (the files, else those installed in /etc/rp.d),
// judges the host and repairs it, one line on stdout per change. A failure
// part-way stops the run with what was done so far done; a second run
// finishes the work.
int Sync(const std::vector<std::string>& files, const Options& options);

}  // namespace Poolsync

#endif  // POOLSYNC_SYNC_H_
