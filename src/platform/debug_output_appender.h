// The stand-in for the debugger output (OutputDebugString): a log4cxx
// appender that writes each line as UTF-8 to standard error. log4cxx's own
// ConsoleAppender ignores the encoding it is given, hence this one.
#pragma once

#include <log4cxx/appenderskeleton.h>

namespace quil::platform {

// log4cxx's object macros name these namespaces without qualification.
namespace helpers = ::log4cxx::helpers;
namespace spi = ::log4cxx::spi;

class DebugOutputAppender : public log4cxx::AppenderSkeleton {
 public:
  DECLARE_LOG4CXX_OBJECT(DebugOutputAppender)
  BEGIN_LOG4CXX_CAST_MAP()
  LOG4CXX_CAST_ENTRY(DebugOutputAppender)
  LOG4CXX_CAST_ENTRY_CHAIN(AppenderSkeleton)
  END_LOG4CXX_CAST_MAP()

  DebugOutputAppender() = default;
  void close() override {}
  bool requiresLayout() const override { return true; }

 protected:
  void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool& pool) override;
};

}  // namespace quil::platform
