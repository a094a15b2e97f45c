#include "platform/folder_watch.h"

#include <poll.h>
#include <signal.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

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

// IN_MOVED_TO: a file renamed over one of the folder's names replaces it.
constexpr uint32_t kRemovalMask =
    IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

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
  s->running.store(false, std::memory_order_release);
  s->events.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace

FolderWatch::State::~State() {
  if (inotifyFd >= 0) ::close(inotifyFd);
  if (wakeFd >= 0) ::close(wakeFd);
}

FolderWatch::FolderWatch() : state_(std::make_shared<State>()) {
  state_->forkGeneration = forkGeneration();
  state_->inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (state_->inotifyFd < 0) return;
  state_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (state_->wakeFd < 0) return;
  state_->running.store(true, std::memory_order_release);
  // A plain thread rather than std::thread: in a child forked meanwhile the
  // thread does not exist, and the object must be let go without a join.
  auto share = std::make_unique<std::shared_ptr<State>>(state_);
  // The thread takes no signal meant for the process: it is born with all
  // of them blocked, whatever the mask of the thread that made the first trace.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  const int rc = pthread_create(
      &thread_, nullptr,
      [](void* arg) -> void* {
        std::unique_ptr<std::shared_ptr<State>> s(static_cast<std::shared_ptr<State>*>(arg));
        readNotifications(*s);
        return nullptr;
      },
      share.get());
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (rc == 0) {
    share.release();  // the thread owns it now
    started_ = true;
  } else {
    state_->running.store(false);
  }
}

FolderWatch::~FolderWatch() {
  // In a forked child the descriptors are shared with the parent's thread
  // (waking it would end the parent's watch) and the thread is not there.
  if (!started_ || state_->forkGeneration != forkGeneration()) return;
  state_->running.store(false, std::memory_order_release);
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(state_->wakeFd, &one, sizeof one);
  pthread_join(thread_, nullptr);
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
