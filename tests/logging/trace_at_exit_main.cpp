// A program that traces from a static object's destructor, after the log
// manager's exit handler has detached its appenders: the line is dropped,
// and the process still ends cleanly. Run by CTest; success is exit code 0.
#include <cstdio>
#include <string>

#include "logging/log_file_manager.h"
#include "logging/trace.h"

namespace {

struct TracesAtExit {
  ~TracesAtExit() {
    QUILLogger::writeTrace(1, 2, 0, u"trace_at_exit_main", u"~TracesAtExit", __LINE__, u"after the exit handler %d", 2);
  }
};

// Built before main, so destroyed after the handler that the first trace registers.
TracesAtExit gTracesAtExit;

}  // namespace

int main() {
  QUILLogger::writeTrace(1, 2, 0, u"trace_at_exit_main", u"main", __LINE__, u"in main %d", 1);
  const std::u16string current = QUILLogger::LogFileManager::instance()->currentLogName();
  if (current.empty()) {
    std::fprintf(stderr, "the first line opened no log file\n");
    return 1;
  }
  return 0;
}
