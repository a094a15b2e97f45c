#include "logging/line_appender.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <log4cxx/patternlayout.h>

#include "platform/host.h"

namespace quil::logging {

IMPLEMENT_LOG4CXX_OBJECT(LineAppender)

LineAppender::~LineAppender() { close(); }

namespace {

bool writeWhole(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes path with its first line in it, or answers -1 with errno EEXIST
// when someone else made it first. The file is written unnamed and linked
// under its name only once the line is in. Where the file system cannot
// make unnamed files, the line follows the creation at once instead.
int createWithFirstLine(const std::string& path, const std::string& line) {
  const int unnamed = quil::platform::createUnnamedFile(folderOf(path));
  if (unnamed >= 0) {
    if (writeWhole(unnamed, line) && quil::platform::nameUnnamedFile(unnamed, path) &&
        ::fcntl(unnamed, F_SETFL, O_APPEND) == 0) {
      return unnamed;
    }
    const int error = errno;
    ::close(unnamed);
    if (error == EEXIST) {
      errno = EEXIST;
      return -1;
    }
    // Otherwise (no /proc, a link refused) the plain way below.
  }
  const int fd = quil::platform::createForAppend(path);
  if (fd >= 0 && !writeWhole(fd, line)) {
    // A full disc: no file without its first line is left behind.
    const int error = errno;
    quil::platform::removeFile(path);
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

std::shared_ptr<LineAppender> LineAppender::appendingTo(const std::string& path, const std::string& header,
                                                        bool* created) {
  // O_APPEND with one write per line keeps lines whole when several
  // processes append to the same file.
  int fd = -1;
  bool made = false;
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    // Never through a link, and only onto a regular file: in a log folder
    // that others may write to, a link or a FIFO planted under the day's
    // name must not make this process append to (and open to everyone)
    // whatever it leads to.
    fd = quil::platform::openRegularForAppend(path);
    if (fd >= 0 || errno != ENOENT) break;
    fd = createWithFirstLine(path, header + "\n");
    made = fd >= 0;
    if (fd < 0 && errno != EEXIST) break;  // EEXIST: made by someone else just now; open theirs
  }
  if (fd < 0) return nullptr;
  if (created != nullptr) *created = made;
  auto appender = std::make_shared<LineAppender>();
  appender->fd_ = fd;
  appender->ownsFd_ = true;
  if (made) appender->headerWritten_ = header;
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
  counter_ = nullptr;
}

bool LineAppender::grantUsersReadWrite() {
  std::lock_guard<std::mutex> lock(fdMutex_);
  return ownsFd_ && fd_ >= 0 && quil::platform::grantUsersReadWrite(fd_);
}

bool LineAppender::fileState(OpenFileState& state) {
  std::lock_guard<std::mutex> lock(fdMutex_);
  struct stat st {};
  if (fd_ < 0 || !ownsFd_ || ::fstat(fd_, &st) != 0) return false;
  state.device = static_cast<uint64_t>(st.st_dev);
  state.inode = static_cast<uint64_t>(st.st_ino);
  state.size = static_cast<uint64_t>(st.st_size);
  state.removed = st.st_nlink == 0;
  return true;
}

void LineAppender::countInto(std::atomic<uint64_t>* counter) {
  std::lock_guard<std::mutex> lock(fdMutex_);
  counter_ = counter;
}

void LineAppender::setLayout(const ::log4cxx::LayoutPtr layout) {
  AppenderSkeleton::setLayout(layout);
  const auto pattern = ::log4cxx::cast<::log4cxx::PatternLayout>(layout);
  plainLines_ = pattern && pattern->getConversionPattern() == LOG4CXX_STR("%m%n");
}

void LineAppender::writeAll(const char* a, size_t an, const char* b, size_t bn) {
  // One writev carries the whole line: appends to a regular file are not
  // interleaved with other writers' within one call.
  iovec parts[2] = {{const_cast<char*>(a), an}, {const_cast<char*>(b), bn}};
  iovec* at = parts;
  int count = bn == 0 ? 1 : 2;
  const uint64_t total = an + bn;
  while (count > 0) {
    const ssize_t n = count == 1 ? ::write(fd_, at->iov_base, at->iov_len) : ::writev(fd_, at, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a full disc loses the line, never the caller
    size_t done = static_cast<size_t>(n);
    while (count > 0 && done >= at->iov_len) {
      done -= at->iov_len;
      ++at;
      --count;
    }
    if (count > 0) {
      at->iov_base = static_cast<char*>(at->iov_base) + done;
      at->iov_len -= done;
    }
  }
  if (counter_ != nullptr) counter_->fetch_add(total, std::memory_order_relaxed);
}

void LineAppender::append(const spi::LoggingEventPtr& event, helpers::Pool& pool) {
  std::lock_guard<std::mutex> lock(fdMutex_);
  if (fd_ < 0) return;
  if (!headerWritten_.empty() && event->getRenderedMessage() == headerWritten_) {
    headerWritten_.clear();  // already the file's first line
    return;
  }
  if (plainLines_) {
    const ::log4cxx::LogString& message = event->getRenderedMessage();  // UTF-8 in this build of log4cxx
    // A plain write of one buffer costs the kernel less than a writev of
    // two pieces; most lines fit the local one.
    char line[1024];
    if (message.size() < sizeof line) {
      std::memcpy(line, message.data(), message.size());
      line[message.size()] = '\n';
      writeAll(line, message.size() + 1, nullptr, 0);
    } else {
      writeAll(message.data(), message.size(), "\n", 1);
    }
    return;
  }
  ::log4cxx::LogString text;
  if (getLayout()) getLayout()->format(text, event, pool);
  else text = event->getRenderedMessage() + "\n";
  writeAll(text.data(), text.size(), nullptr, 0);
}

}  // namespace quil::logging
