#include "platform/interprocess_mutex.h"

#include <pthread.h>

#include <boost/interprocess/managed_shared_memory.hpp>
#include <boost/interprocess/permissions.hpp>
#include <cerrno>
#include <stdexcept>

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

bool NamedInterprocessMutex::lock() {
  const int rc = pthread_mutex_lock(&impl_->mutex->m);
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(&impl_->mutex->m);
    return true;
  }
  return false;
}

void NamedInterprocessMutex::unlock() { pthread_mutex_unlock(&impl_->mutex->m); }

}  // namespace quil::platform
