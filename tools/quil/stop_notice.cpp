#include "stop_notice.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "notify/close_error_message.h"
#include "platform/named_pipe.h"

namespace quiltool {

StopNotice::StopNotice() {
  if (quil::platform::activeSession()) return;  // a utility's session: its messages are not ours to take
  const std::string session = std::to_string(::getpid());
  std::string folder = (std::filesystem::temp_directory_path() / "quil-notice-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) return;
  folder_ = folder;
  ::setenv("QUIL_PIPE_DIR", folder_.c_str(), 1);
  ::setenv("QUIL_ACTIVE_SESSION", session.c_str(), 1);
  socket_ = quil::platform::pipeSocketPath(quil::notify::closeErrorPipeName(static_cast<uint32_t>(::getpid())));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_.size() >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, socket_.c_str(), socket_.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return;
  }
  server_ = fd;
}

StopNotice::~StopNotice() {
  if (server_ >= 0) ::close(server_);
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

bool StopNotice::truncated(const std::u16string& fileName) {
  if (server_ < 0) return false;
  bool found = false;
  // The library connects, sends and closes during the call that reports:
  // everything sent is waiting in the backlog by now.
  for (;;) {
    const int client = ::accept4(server_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) break;
    quil::notify::MsgBodyCloseError message{};
    while (::recv(client, &message, sizeof message, MSG_WAITALL) == static_cast<ssize_t>(sizeof message)) {
      size_t length = 0;
      while (length < 256 && message.closeFileName[length] != u'\0') ++length;
      if (message.messageType == quil::notify::kTruncate &&
          std::u16string_view(message.closeFileName, length) == fileName) {
        found = true;
      }
    }
    ::close(client);
  }
  return found;
}

}  // namespace quiltool
