#include "platform/debug_output_appender.h"

#include <unistd.h>

#include <cerrno>

namespace quil::platform {

IMPLEMENT_LOG4CXX_OBJECT(DebugOutputAppender)

void DebugOutputAppender::append(const ::log4cxx::spi::LoggingEventPtr& event, ::log4cxx::helpers::Pool& pool) {
  ::log4cxx::LogString text;  // UTF-8 in this build of log4cxx
  if (getLayout()) getLayout()->format(text, event, pool);
  else text = event->getRenderedMessage();
  // One write per line keeps lines whole when several threads or processes
  // share the stream.
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace quil::platform
