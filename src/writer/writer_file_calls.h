// The writer calls every family of writer files makes the same way: the
// trace line before (each family names its own writer class), the call,
// the trace line with the result, the out-value written only on success.
// Used by the writer file classes alone.
#pragma once

#include <cstdint>

#include "logging/trace.h"
#include "quil/sibling/quilwriter.h"
#include "writer/writer_status.h"

namespace quil::writer::calls {

inline constexpr const char16_t* kSource = u"project/QUILCoreAPI/WriterFile";

template <class... A>
void trace(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(2, 1, 0, kSource, function, line, format, args...);
}

inline const void* ptr(const void* p) { return p; }

template <class W>
WriterStatus seek(W& writer, const char16_t* function,
                  quil::FormatString<int64_t, const void*, QUILWriter::_QUIL_WHENCE> before, int64_t distance,
                  int64_t* newPosition, QUILWriter::_QUIL_WHENCE whence) {
  int64_t position = 0;
  trace(function, __LINE__, before, distance, ptr(newPosition), whence);
  writer.Seek(distance, &position, whence);
  trace(function, __LINE__, u"SUCCESS newPosition=%lld\n", position);
  *newPosition = position;
  return WriterStatus(kStatusSuccess);
}

template <class W>
WriterStatus write(W& writer, const char16_t* function, quil::FormatString<const void*, uint32_t, const void*> before,
                   const void* buffer, uint32_t length, uint32_t* count) {
  uint32_t written = 0;
  trace(function, __LINE__, before, buffer, length, ptr(count));
  writer.Write(buffer, length, &written);
  trace(function, __LINE__, u"SUCCESS bytesWritten=%u\n", written);
  *count = written;
  return WriterStatus(kStatusSuccess);
}

template <class W>
WriterStatus read(W& writer, const char16_t* function, quil::FormatString<const void*, uint32_t, const void*> before,
                  void* buffer, uint32_t length, uint32_t* count) {
  uint32_t read = 0;
  trace(function, __LINE__, before, ptr(buffer), length, ptr(count));
  writer.Read(buffer, length, &read);
  trace(function, __LINE__, u"SUCCESS bytesRead=%u\n", read);
  *count = read;
  return WriterStatus(kStatusSuccess);
}

template <class W>
WriterStatus fileSize(W& writer, const char16_t* function, quil::FormatString<> before, int64_t* size) {
  trace(function, __LINE__, before);
  const int64_t value = writer.GetFileSize();
  trace(function, __LINE__, u"SUCCESS fileSize=%lld\n", value);
  *size = value;
  return WriterStatus(kStatusSuccess);
}

template <class W>
WriterStatus fileType(W& writer, const char16_t* function, quil::FormatString<> before,
                      quil::FormatString<QUILWriter::_QUIL_FILE_TYPE> after, QUILWriter::_QUIL_FILE_TYPE* type) {
  trace(function, __LINE__, before);
  const QUILWriter::_QUIL_FILE_TYPE value = writer.GetFileType();
  trace(function, __LINE__, after, value);
  *type = value;
  return WriterStatus(kStatusSuccess);
}

// The close of a file whose content is committed by Close: a file never
// written or sized is not committed (status 1).
template <class W>
WriterStatus commitIfModified(W& writer, const char16_t* function, quil::FormatString<> before, bool modified) {
  trace(function, __LINE__, before);
  if (!modified) {
    trace(function, __LINE__, u"SUCCESS(No modify)\n");
    return WriterStatus(kStatusNoChange);
  }
  writer.Close();
  trace(function, __LINE__, u"SUCCESS\n");
  return WriterStatus(kStatusSuccess);
}

}  // namespace quil::writer::calls
