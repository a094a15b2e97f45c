// A log4cxx appender that writes each finished line, UTF-8, with one write
// on a descriptor of its own: a log file opened O_APPEND, or the debugger
// output. log4cxx's own file appender turns a non-ASCII path into '?' under
// the C locale and its console appender ignores the encoding; this one takes
// the path and the text as the UTF-8 they are.
#pragma once

#include <log4cxx/appenderskeleton.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace quil::logging {

// log4cxx's object macros name these namespaces without qualification.
namespace helpers = ::log4cxx::helpers;
namespace spi = ::log4cxx::spi;

// What the file system says about an open log file.
struct OpenFileState {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  bool removed = false;  // no name left in any folder
};

class LineAppender : public ::log4cxx::AppenderSkeleton {
 public:
  DECLARE_LOG4CXX_OBJECT(LineAppender)
  BEGIN_LOG4CXX_CAST_MAP()
  LOG4CXX_CAST_ENTRY(LineAppender)
  LOG4CXX_CAST_ENTRY_CHAIN(AppenderSkeleton)
  END_LOG4CXX_CAST_MAP()

  LineAppender() = default;
  ~LineAppender() override;

  // Opens a file for appending; an existing file is continued. A file this
  // call makes appears in the folder with header (a line) already in it, so
  // that no other process, and no death of this one, ever leaves a log file
  // that begins with anything else; the next line equal to header that
  // reaches the appender is then not written again. Returns null when the
  // file cannot be opened; created tells whether this call made the file.
  static std::shared_ptr<LineAppender> appendingTo(const std::string& path, const std::string& header,
                                                   bool* created = nullptr);
  // The debugger output: standard error, which the appender does not own.
  static std::shared_ptr<LineAppender> debugOutput();

  void close() override;

  // The open file's state; false when the appender is closed, writes to a
  // descriptor it does not own, or the state cannot be read.
  bool fileState(OpenFileState& state);
  // Opens the file held to group and others (see quil::platform).
  bool grantUsersReadWrite();

  // From now on every byte written is also added to counter (which may be
  // shared with other processes appending to the same file); null stops it.
  void countInto(std::atomic<uint64_t>* counter);

  // A layout of exactly "%m%n" is written as the message and a line end in
  // one writev, without formatting a copy of the line; any other layout is
  // applied as it stands.
  void setLayout(const ::log4cxx::LayoutPtr layout) override;
  bool requiresLayout() const override { return true; }

 protected:
  void append(const spi::LoggingEventPtr& event, helpers::Pool& pool) override;

 private:
  void writeAll(const char* a, size_t an, const char* b, size_t bn);

  std::mutex fdMutex_;  // close() may come from another thread than append()
  int fd_ = -1;
  bool ownsFd_ = false;
  bool plainLines_ = false;
  std::string headerWritten_;  // the header put in at creation, until its line comes
  std::atomic<uint64_t>* counter_ = nullptr;
};

}  // namespace quil::logging
