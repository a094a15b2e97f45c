// A log4cxx appender that writes each finished line, UTF-8, with one write()
// on a descriptor of its own: a log file opened O_APPEND, or the debugger
// output. log4cxx's own file appender turns a non-ASCII path into '?' under
// the C locale and its console appender ignores the encoding; this one takes
// the path and the text as the UTF-8 they are.
#pragma once

#include <log4cxx/appenderskeleton.h>

#include <memory>
#include <mutex>
#include <string>

namespace quil::logging {

// log4cxx's object macros name these namespaces without qualification.
namespace helpers = ::log4cxx::helpers;
namespace spi = ::log4cxx::spi;

class LineAppender : public ::log4cxx::AppenderSkeleton {
 public:
  DECLARE_LOG4CXX_OBJECT(LineAppender)
  BEGIN_LOG4CXX_CAST_MAP()
  LOG4CXX_CAST_ENTRY(LineAppender)
  LOG4CXX_CAST_ENTRY_CHAIN(AppenderSkeleton)
  END_LOG4CXX_CAST_MAP()

  LineAppender() = default;
  ~LineAppender() override;

  // Opens (creating it if needed) a file for appending; an existing file is
  // continued. Returns null when the file cannot be opened.
  static std::shared_ptr<LineAppender> appendingTo(const std::string& path);
  // The debugger output: standard error, which the appender does not own.
  static std::shared_ptr<LineAppender> debugOutput();

  void close() override;

  // The state of the open file: its size, and whether it still has a name in
  // the folder (a file removed from outside has none). False when the
  // appender is closed or the state cannot be read.
  bool fileState(uint64_t& size, bool& removed);
  bool requiresLayout() const override { return true; }

 protected:
  void append(const spi::LoggingEventPtr& event, helpers::Pool& pool) override;

 private:
  std::mutex fdMutex_;  // close() may come from another thread than append()
  int fd_ = -1;
  bool ownsFd_ = false;
};

}  // namespace quil::logging
