// The named interprocess mutex that serialises log rotation across every
// process that loads the library. It lives in a named shared memory segment
// (POSIX, /dev/shm) and is a robust process-shared pthread mutex: when a
// holder dies, the next locker recovers it instead of waiting forever. What
// the mutex guards is re-read from the log folder on every switch, so nothing
// is lost by recovering.
#pragma once

#include <atomic>
#include <chrono>
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

  enum class LockResult {
    kLocked,     // taken
    kRecovered,  // taken over from a holder that died
    kFailed,     // not taken: the holder kept it past the wait's bound (a
                 // stopped process, say), or the mutex is unusable
  };
  // Waits at most `bound`; only a lock that was taken may be unlocked.
  LockResult lock(std::chrono::milliseconds bound = kDefaultBound);
  void unlock();
  // How long the log rotation waits for another process's switch, which
  // takes milliseconds: past it, a holder is stopped or stuck, and the
  // switch goes ahead without the mutex rather than stall every logging
  // thread of every process.
  static constexpr std::chrono::milliseconds kDefaultBound{2000};

  // count 64-bit words in the same segment under name, zero when first
  // made, shared by every process that opens the segment. Null when the
  // segment has no room for them.
  std::atomic<uint64_t>* sharedWords(const std::string& name, size_t count);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Scope guard for the mutex; unlocks only what it took.
class InterprocessLock {
 public:
  explicit InterprocessLock(NamedInterprocessMutex& m) : m_(m), result_(m_.lock()) {}
  ~InterprocessLock() {
    if (held()) m_.unlock();
  }
  InterprocessLock(const InterprocessLock&) = delete;
  InterprocessLock& operator=(const InterprocessLock&) = delete;
  bool held() const { return result_ != NamedInterprocessMutex::LockResult::kFailed; }
  NamedInterprocessMutex::LockResult result() const { return result_; }

 private:
  NamedInterprocessMutex& m_;
  NamedInterprocessMutex::LockResult result_;
};

}  // namespace quil::platform
