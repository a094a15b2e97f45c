// The writer library's per-thread Windows-level error for user-data and
// general files.
#include "quil/sibling/quilwriter.h"

namespace {
thread_local uint32_t tWindowsError = 0;
}

namespace QUILWriterLastError {

uint32_t QUILLastErrorManager::get() { return tWindowsError; }
void QUILLastErrorManager::clear() { tWindowsError = 0; }
void QUILLastErrorManager::set(uint32_t value) { tWindowsError = value; }

}  // namespace QUILWriterLastError
