// Keeps poolctl processes that change one host's scheduler groups from
// interleaving: load, unload, enable and disable hold an exclusive advisory
// lock on one file while they work, list and the legacy mode never take it.
#ifndef COMMON_HOST_LOCK_H_
#define COMMON_HOST_LOCK_H_

// Fixed, as the tool has no configuration. Processes on different simulated
// hosts of one machine share it too, which only makes them take turns.
constexpr char kHostLockPath[] = "/run/lock/poolctl.lock";

// Holds the lock from construction, which waits for it, until destruction.
class HostLock {
 public:
  explicit HostLock(const char* path = kHostLockPath);
  ~HostLock();
  HostLock(const HostLock&) = delete;
  HostLock& operator=(const HostLock&) = delete;

  // False when the lock file could not be used: the process then goes on
  // unserialised, as poolctl always did, rather than fail where it used to
  // work (for example a host without /run/lock, or a user who may not write
  // there).
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

#endif  // COMMON_HOST_LOCK_H_
