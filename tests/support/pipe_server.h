// The desktop utility's end of the close-error pipe, for tests: serves the
// session's socket on a thread of its own and keeps every 520-byte message.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quiltest {

struct PipeMessage {
  uint32_t type = 0;
  char16_t drive = 0;
  std::u16string fileName;  // up to the terminating zero
  std::vector<uint8_t> raw;
};

class PipeServer {
 public:
  // Serves "TALVONotifyCloseError_<session>" in folder.
  PipeServer(const std::string& folder, uint32_t session);
  ~PipeServer();
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Waits until n messages arrived (or the time is up); every message so far.
  std::vector<PipeMessage> waitFor(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5));

 private:
  void serve();

  std::string path_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<PipeMessage> messages_;
};

}  // namespace quiltest
