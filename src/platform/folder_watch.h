// Tells, without a system call, whether anything may have been removed from
// a folder since a moment one remembers: a thread of its own reads the
// kernel's notifications (inotify) for the folder and counts every removal,
// rename away, loss of the folder itself and queue overflow. A reader
// compares the count with the one it saw last; an unchanged count while
// watching() holds means nothing was removed or renamed in the folder.
//
// When notifications cannot be had (no inotify, the folder cannot be
// watched, the watch was lost, or this is a child process forked after the
// watch started) watching() is false and callers ask the file system
// themselves.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace quil::platform {

class FolderWatch {
 public:
  // Starts the notification thread; watching() stays false until watch()
  // succeeds. A watch that cannot start at all gives watching() false forever.
  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Watches the folder at path (again: a folder removed and made anew is a
  // new folder to the kernel). Returns watching().
  bool watch(const std::string& path);

  bool watching() const;
  // Removals seen so far; read it before looking at the folder, compare later.
  uint64_t events() const { return state_->events.load(std::memory_order_acquire); }

  // Shared by the object and its thread; the last of the two to let go
  // closes the descriptors.
  struct State {
    ~State();
    std::atomic<uint64_t> events{0};
    std::atomic<int> wd{-1};
    std::atomic<bool> running{false};
    int inotifyFd = -1;
    int wakeFd = -1;
    uint64_t forkGeneration = 0;
  };

 private:
  std::shared_ptr<State> state_;  // shared with the thread
  pthread_t thread_{};
  bool started_ = false;
};

}  // namespace quil::platform
