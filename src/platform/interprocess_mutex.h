// The named interprocess mutex that serialises log rotation across every
// process that loads the library. It lives in a named shared memory segment
// (POSIX, /dev/shm) and is a robust process-shared pthread mutex: when a
// holder dies, the next locker recovers it instead of waiting forever. What
// the mutex guards is re-read from the log folder on every switch, so nothing
// is lost by recovering.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace quil::platform {

class NamedInterprocessMutex {
 public:
  // Opens the segment if it exists, else creates it, and finds or constructs
  // the mutex under objectName in it. Throws on failure (callers decide how
  // to degrade).
  NamedInterprocessMutex(const std::string& segmentName, size_t segmentSize, const std::string& objectName);
  ~NamedInterprocessMutex();
  NamedInterprocessMutex(const NamedInterprocessMutex&) = delete;
  NamedInterprocessMutex& operator=(const NamedInterprocessMutex&) = delete;

  // Returns true when the previous holder had died and the mutex was recovered.
  bool lock();
  void unlock();

  // count 64-bit words in the same segment under name, zero when first
  // made, shared by every process that opens the segment. Null when the
  // segment has no room for them.
  std::atomic<uint64_t>* sharedWords(const std::string& name, size_t count);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Scope guard for the mutex.
class InterprocessLock {
 public:
  explicit InterprocessLock(NamedInterprocessMutex& m) : m_(m) { m_.lock(); }
  ~InterprocessLock() { m_.unlock(); }
  InterprocessLock(const InterprocessLock&) = delete;
  InterprocessLock& operator=(const InterprocessLock&) = delete;

 private:
  NamedInterprocessMutex& m_;
};

}  // namespace quil::platform
