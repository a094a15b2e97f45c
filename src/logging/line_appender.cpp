#include "logging/line_appender.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/host.h"

namespace quil::logging {

IMPLEMENT_LOG4CXX_OBJECT(LineAppender)

LineAppender::~LineAppender() { close(); }

std::shared_ptr<LineAppender> LineAppender::appendingTo(const std::string& path) {
  // O_APPEND with one write per line keeps lines whole when several
  // processes append to the same file.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  auto appender = std::make_shared<LineAppender>();
  appender->fd_ = fd;
  appender->ownsFd_ = true;
  return appender;
}

std::shared_ptr<LineAppender> LineAppender::debugOutput() {
  auto appender = std::make_shared<LineAppender>();
  appender->fd_ = quil::platform::debugOutputDescriptor();
  return appender;
}

void LineAppender::close() {
  std::lock_guard<std::mutex> lock(fdMutex_);
  if (ownsFd_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool LineAppender::fileState(uint64_t& size, bool& removed) {
  std::lock_guard<std::mutex> lock(fdMutex_);
  struct stat st {};
  if (fd_ < 0 || !ownsFd_ || ::fstat(fd_, &st) != 0) return false;
  size = static_cast<uint64_t>(st.st_size);
  removed = st.st_nlink == 0;
  return true;
}

void LineAppender::append(const spi::LoggingEventPtr& event, helpers::Pool& pool) {
  std::lock_guard<std::mutex> lock(fdMutex_);
  if (fd_ < 0) return;
  ::log4cxx::LogString text;  // UTF-8 in this build of log4cxx
  if (getLayout()) getLayout()->format(text, event, pool);
  else text = event->getRenderedMessage() + "\n";
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a full disc loses the line, never the caller
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace quil::logging
