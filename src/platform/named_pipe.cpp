#include "platform/named_pipe.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "quil/platform_error.h"

namespace quil::platform {

namespace {

constexpr std::string_view kPipePrefix = "\\\\.\\pipe\\";
// A server that accepts and never reads is given this long per write.
constexpr int kSendTimeoutSeconds = 3;

// Windows error numbers of the failures a pipe client meets.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorBrokenPipe = 109;
constexpr uint32_t kErrorSemTimeout = 121;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorPipeBusy = 231;
constexpr uint32_t kErrorNoData = 232;
constexpr uint32_t kErrorGenFailure = 31;

bool failWith(int err, uint32_t& windowsError) {
  windowsError = windowsErrorOfErrno(err);
  QUILPlatform_SetLastError(windowsError);
  return false;
}

}  // namespace

uint32_t windowsErrorOfErrno(int err) {
  switch (err) {
    case ENOENT:
    case ECONNREFUSED:
    case ENOTDIR: return kErrorFileNotFound;
    case EACCES:
    case EPERM: return kErrorAccessDenied;
    case EAGAIN:
    case EINPROGRESS: return kErrorPipeBusy;
    case EPIPE: return kErrorNoData;
    case ECONNRESET: return kErrorBrokenPipe;
    case ETIMEDOUT: return kErrorSemTimeout;
    case ENAMETOOLONG: return kErrorInvalidName;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case ENOMEM:
    case ENOBUFS: return kErrorNotEnoughMemory;
    case EINVAL: return kErrorInvalidParameter;
    case EBADF: return kErrorInvalidHandle;
    default: return kErrorGenFailure;
  }
}

std::optional<uint32_t> activeSession() {
  const char* env = std::getenv("QUIL_ACTIVE_SESSION");
  if (env == nullptr || *env == '\0') return std::nullopt;
  const std::string_view text(env);
  uint32_t id = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return id;
}

std::string pipeFolder() {
  const char* env = std::getenv("QUIL_PIPE_DIR");
  std::string folder = env != nullptr && *env != '\0' ? std::string(env) : std::string("/run/quil/pipe");
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string pipeSocketPath(std::string_view windowsPipeName) {
  if (windowsPipeName.substr(0, kPipePrefix.size()) == kPipePrefix) windowsPipeName.remove_prefix(kPipePrefix.size());
  return pipeFolder() + "/" + std::string(windowsPipeName);
}

bool PipeClient::open(std::string_view windowsPipeName, uint32_t& windowsError) {
  close();
  const std::string path = pipeSocketPath(windowsPipeName);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return failWith(ENAMETOOLONG, windowsError);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  // Non-blocking for the connect: a server whose backlog is full must not
  // hold the caller.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return failWith(errno, windowsError);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int err = errno;
    ::close(fd);
    return failWith(err, windowsError);
  }
  // Writes block again, but only for a bounded time.
  const int flags = ::fcntl(fd, F_GETFL);
  const timeval timeout{kSendTimeoutSeconds, 0};
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
      ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0) {
    const int err = errno;
    ::close(fd);
    return failWith(err, windowsError);
  }
  fd_ = fd;
  return true;
}

bool PipeClient::write(const void* data, uint32_t size, uint32_t& written, uint32_t& windowsError) {
  written = 0;
  if (fd_ < 0) return failWith(EBADF, windowsError);
  for (;;) {
    const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
    if (n >= 0) {
      written = static_cast<uint32_t>(n);
      return true;
    }
    if (errno == EINTR) continue;
    // A send that timed out reports EAGAIN: the server did not read.
    return failWith(errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : errno, windowsError);
  }
}

void PipeClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool ManualResetEvent::create(uint32_t& windowsError) {
  close();
  fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd_ < 0) return failWith(errno, windowsError);
  return true;
}

void ManualResetEvent::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace quil::platform
