#include "support/pipe_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace quiltest {

PipeServer::PipeServer(const std::string& folder, uint32_t session)
    : path_(folder + "/TALVONotifyCloseError_" + std::to_string(session)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long");
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  ::unlink(path_.c_str());
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd_, 8) != 0) {
    throw std::runtime_error("cannot serve " + path_);
  }
  thread_ = std::thread([this] { serve(); });
}

PipeServer::~PipeServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  ::close(fd_);
  ::unlink(path_.c_str());
}

void PipeServer::serve() {
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 100) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return;
    if ((p.revents & POLLIN) == 0) continue;
    const int client = ::accept(fd_, nullptr, nullptr);
    if (client < 0) return;
    std::vector<uint8_t> bytes;
    uint8_t chunk[1024];
    for (ssize_t n; (n = ::read(client, chunk, sizeof chunk)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    ::close(client);
    for (size_t at = 0; at + 520 <= bytes.size(); at += 520) {
      PipeMessage m;
      m.raw.assign(bytes.begin() + at, bytes.begin() + at + 520);
      std::memcpy(&m.type, &m.raw[0], 4);
      std::memcpy(&m.drive, &m.raw[4], 2);
      for (size_t i = 0; i < 256; ++i) {
        char16_t c;
        std::memcpy(&c, &m.raw[6 + 2 * i], 2);
        if (c == 0) break;
        m.fileName += c;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(std::move(m));
      arrived_.notify_all();
    }
  }
}

std::vector<PipeMessage> PipeServer::waitFor(size_t n, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait_for(lock, timeout, [&] { return messages_.size() >= n; });
  return messages_;
}

}  // namespace quiltest
