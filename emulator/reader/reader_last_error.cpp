// The reader library's per-thread errors: its last error (a code of the
// library's table and a text of its own) and its Windows-level error for
// user-data and general files.
#include <algorithm>
#include <string>

#include "quil/sibling/quilreader.h"

namespace {

struct ReaderLastError {
  int32_t code = 0;
  std::u16string message;
};

thread_local ReaderLastError tLastError;
thread_local uint32_t tWindowsError = 0;

}  // namespace

extern "C" int32_t QUIL_GetLastErrorWithMessage(QUILCHAR* buffer, uint32_t length, uint32_t* textLength) {
  const std::u16string& text = tLastError.message;
  if (buffer != nullptr && length != 0) {
    const size_t n = std::min<size_t>(text.size(), length - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = u'\0';
  }
  if (textLength != nullptr) *textLength = static_cast<uint32_t>(text.size());
  return tLastError.code;
}

extern "C" void QUIL_SetLastErrorWithMessage(int32_t code, const QUILCHAR* message) {
  tLastError.code = code;
  try {
    tLastError.message = message != nullptr ? std::u16string(message) : std::u16string();
  } catch (...) {
    tLastError.message.clear();  // out of memory: the code alone must do
  }
}

namespace QUILReaderLastError {

uint32_t QUILLastErrorManager::get() { return tWindowsError; }
void QUILLastErrorManager::clear() { tWindowsError = 0; }
void QUILLastErrorManager::set(uint32_t value) { tWindowsError = value; }

}  // namespace QUILReaderLastError
