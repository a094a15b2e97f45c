#include "platform/folder_watch.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace quil::platform {

namespace {

// A child forked after a watch started has the descriptors but not the
// thread that reads them; every watch of the parent is dead in the child.
std::atomic<uint64_t> gForkGeneration{0};

void countFork() { gForkGeneration.fetch_add(1, std::memory_order_relaxed); }

uint64_t forkGeneration() {
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, countFork);
    return true;
  }();
  (void)registered;
  return gForkGeneration.load(std::memory_order_relaxed);
}

constexpr uint32_t kRemovalMask = IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

void readNotifications(const std::shared_ptr<FolderWatch::State>& s) {
  alignas(inotify_event) char buffer[4096];
  pollfd fds[2] = {{s->inotifyFd, POLLIN, 0}, {s->wakeFd, POLLIN, 0}};
  while (s->running.load(std::memory_order_acquire)) {
    const int n = ::poll(fds, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;
    const ssize_t got = ::read(s->inotifyFd, buffer, sizeof buffer);
    if (got <= 0) {
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      break;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
      // The folder itself gone, unmounted, or its watch dropped: nothing
      // more will be told about it until it is watched again.
      if ((e->mask & IN_IGNORED) != 0) {
        int expected = e->wd;  // a newer watch of a folder made anew stays
        s->wd.compare_exchange_strong(expected, -1, std::memory_order_acq_rel);
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
    s->events.fetch_add(1, std::memory_order_acq_rel);
  }
  // From here on nobody can rely on the count.
  s->wd.store(-1, std::memory_order_release);
  s->events.fetch_add(1, std::memory_order_acq_rel);
  ::close(s->inotifyFd);
  ::close(s->wakeFd);
}

}  // namespace

FolderWatch::FolderWatch() : state_(std::make_shared<State>()) {
  state_->forkGeneration = forkGeneration();
  state_->inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (state_->inotifyFd < 0) return;
  state_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (state_->wakeFd < 0) {
    ::close(state_->inotifyFd);
    return;
  }
  state_->running.store(true, std::memory_order_release);
  try {
    // Detached: it owns its share of the state and ends when woken; a
    // process may exit or fork without anyone joining it.
    std::thread([s = state_] { readNotifications(s); }).detach();
  } catch (...) {
    state_->running.store(false);
    ::close(state_->inotifyFd);
    ::close(state_->wakeFd);
  }
}

FolderWatch::~FolderWatch() {
  if (!state_->running.load(std::memory_order_acquire)) return;
  // In a forked child the descriptors are shared with the parent's thread:
  // waking it would end the parent's watch.
  if (state_->forkGeneration != forkGeneration()) return;
  state_->running.store(false, std::memory_order_release);
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(state_->wakeFd, &one, sizeof one);
}

bool FolderWatch::watch(const std::string& path) {
  if (!state_->running.load(std::memory_order_acquire) || state_->forkGeneration != forkGeneration()) return false;
  const int wd = ::inotify_add_watch(state_->inotifyFd, path.c_str(), kRemovalMask);
  state_->wd.store(wd, std::memory_order_release);
  return wd >= 0;
}

bool FolderWatch::watching() const {
  return state_->wd.load(std::memory_order_acquire) >= 0 && state_->running.load(std::memory_order_relaxed) &&
         state_->forkGeneration == gForkGeneration.load(std::memory_order_relaxed);
}

}  // namespace quil::platform
