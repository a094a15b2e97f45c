#include "platform/interprocess_mutex.h"

#include <pthread.h>

#include <boost/interprocess/managed_shared_memory.hpp>
#include <boost/interprocess/permissions.hpp>
#include <cerrno>
#include <ctime>
#include <stdexcept>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace quil::platform {

namespace {

struct RobustMutex {
  pthread_mutex_t m;
  RobustMutex() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&m, &attr);
    pthread_mutexattr_destroy(&attr);
  }
};

namespace bip = boost::interprocess;

}  // namespace

struct NamedInterprocessMutex::Impl {
  bip::managed_shared_memory segment;
  RobustMutex* mutex = nullptr;
};

NamedInterprocessMutex::NamedInterprocessMutex(const std::string& segmentName, size_t segmentSize,
                                               const std::string& objectName)
    : impl_(std::make_unique<Impl>()) {
  bip::permissions everyone;
  everyone.set_unrestricted();  // every user's process that loads the library shares it
  impl_->segment = bip::managed_shared_memory(bip::open_or_create, segmentName.c_str(), segmentSize, nullptr, everyone);
  impl_->mutex = impl_->segment.find_or_construct<RobustMutex>(objectName.c_str())();
  if (impl_->mutex == nullptr) throw std::runtime_error("interprocess mutex not constructed");
}

NamedInterprocessMutex::~NamedInterprocessMutex() = default;

NamedInterprocessMutex::LockResult NamedInterprocessMutex::lock(std::chrono::milliseconds bound) {
  // The wait is cut into slices: when a holder dies, the kernel marks the
  // mutex and wakes one waiter only, and that waiter may be a thread of the
  // same dying process. A waiter of another process that tries again after
  // its slice finds the mark and takes the mutex over instead of sleeping on.
  pthread_mutex_t* m = &impl_->mutex->m;
  const auto giveUpAt = std::chrono::steady_clock::now() + bound;
  int rc = pthread_mutex_trylock(m);
  while (rc == EBUSY) {
    if (std::chrono::steady_clock::now() >= giveUpAt) return LockResult::kFailed;
    struct timespec until {};
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_nsec += 100 * 1000 * 1000;
    if (until.tv_nsec >= 1000 * 1000 * 1000) {
      until.tv_nsec -= 1000 * 1000 * 1000;
      ++until.tv_sec;
    }
    rc = pthread_mutex_timedlock(m, &until);
    if (rc == ETIMEDOUT) {
      rc = pthread_mutex_trylock(m);
    } else if (rc == EOWNERDEAD) {
#if defined(__SANITIZE_THREAD__)
      // The thread sanitizer counts only a plain success of a timed lock as
      // taking the mutex; a take-over from a dead holder is one too. The
      // annotation comes as a pair: the sanitizer checks that a post-lock
      // follows its pre-lock.
      __tsan_mutex_pre_lock(m, 0);
      __tsan_mutex_post_lock(m, 0, 0);
#endif
    }
  }
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(&impl_->mutex->m);
    return LockResult::kRecovered;
  }
  // Anything else (ENOTRECOVERABLE, EINVAL) leaves the mutex not held.
  return rc == 0 ? LockResult::kLocked : LockResult::kFailed;
}

void NamedInterprocessMutex::unlock() { pthread_mutex_unlock(&impl_->mutex->m); }

std::atomic<uint64_t>* NamedInterprocessMutex::sharedWords(const std::string& name, size_t count) {
  static_assert(std::atomic<uint64_t>::is_always_lock_free, "words shared between processes must not hide a lock");
  try {
    return impl_->segment.find_or_construct<std::atomic<uint64_t>>(name.c_str())[count](0);
  } catch (...) {
    return nullptr;  // no room: callers go without
  }
}

}  // namespace quil::platform
