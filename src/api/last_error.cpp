#include "api/last_error.h"

#include <algorithm>
#include <string>

#include "api/error_table.h"
#include "logging/trace.h"
#include "quil/platform_error.h"
#include "quil/sibling/quilreader.h"
#include "quil/sibling/quilwriter.h"

namespace quil::api {

namespace {

size_t messageLength(const LastErrorRecord& r) {
  return std::char_traits<char16_t>::length(r.message);
}

constexpr const char16_t* kVolumeSource = u"project/QUILCoreAPI/VolumeHandle";

}  // namespace

constinit thread_local LastErrorRecord detail::tLastError;

void setLastError(int32_t code) { setLastError(code, errorText(code)); }

void setLastError(int32_t code, std::u16string_view message) {
  detail::tLastError.code = code;
  const size_t n = std::min<size_t>(message.size(), 255);
  std::copy_n(message.data(), n, detail::tLastError.message);
  detail::tLastError.message[n] = u'\0';
}

void clearLastError() { setLastError(0); }

int32_t getLastErrorWithMessage(char16_t* buffer, uint32_t bufferLength, uint32_t* requiredLength) {
  const size_t length = messageLength(detail::tLastError);
  if (buffer != nullptr && bufferLength != 0) {
    const size_t n = std::min<size_t>(length, bufferLength - 1);
    std::copy_n(detail::tLastError.message, n, buffer);
    buffer[n] = u'\0';
  }
  if (requiredLength != nullptr) *requiredLength = static_cast<uint32_t>(length + 1);
  return detail::tLastError.code;
}

void takeOverReaderError() {
  char16_t buffer[256] = {};
  uint32_t length = 0;
  constexpr uint32_t kBufferLength = 256;
  QUILLogger::writeTrace(2, 1, 0, kVolumeSource, u"VolumeHandle::getLastErrorWithMessageFromReader", __LINE__,
                         u"QUIL_GetLastErrorWithMessage(%p, %lu, %p)\n", static_cast<void*>(buffer), kBufferLength,
                         static_cast<void*>(&length));
  const int32_t code = QUIL_GetLastErrorWithMessage(buffer, kBufferLength, &length);
  buffer[255] = u'\0';  // the reader's text is used up to its NUL, never past the buffer
  QUILLogger::writeTrace(2, 1, 0, kVolumeSource, u"VolumeHandle::getLastErrorWithMessageFromReader", __LINE__,
                         u"QUIL_GetLastErrorWithMessage return=%ld (\"%.*s\", %lu)\n", code,
                         static_cast<int32_t>(kBufferLength), static_cast<const char16_t*>(buffer), length);
  std::u16string message(errorText(code));
  const std::u16string_view readerText(buffer);
  if (!readerText.empty()) {
    message += u' ';
    message += readerText;
  }
  setLastError(code, message);
}

SiblingErrorRelay::SiblingErrorRelay(ClearQUILLastErrorIf& owner, SiblingLibrary library)
    : owner_(owner), library_(library) {
  if (library_ == SiblingLibrary::kWriter) QUILWriterLastError::QUILLastErrorManager::clear();
  else QUILReaderLastError::QUILLastErrorManager::clear();
}

SiblingErrorRelay::~SiblingErrorRelay() {
  const uint32_t error = library_ == SiblingLibrary::kWriter ? QUILWriterLastError::QUILLastErrorManager::get()
                                                             : QUILReaderLastError::QUILLastErrorManager::get();
  if (error != 0) {
    QUILPlatform_SetLastError(error);
    owner_.clearLastError();
  }
}

}  // namespace quil::api
