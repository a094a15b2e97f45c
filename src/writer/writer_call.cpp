#include "writer/writer_call.h"

#include "logging/trace.h"
#include "text/utf.h"

namespace quil::writer {

namespace {

void informationLine(const char16_t* source, const char16_t* function, int32_t line, const std::u16string& text) {
  QUILLogger::writeTrace(1, 2, 0, source, function, line, u"%ls\n", text);
}

}  // namespace

void logWriterException(const QUILWriter::QUILWriterException& e) noexcept {
  try {
    const std::u16string file = quil::fromUtf8(e.file());
    const std::u16string function = quil::fromUtf8(e.function());
    const std::u16string text =
        quil::format(u"QUILWriterException : errcode=0x%08X QUILREPAIR_STATUS=%d what=\"%hs\"", e.errorCode(),
                     e.repairStatus(), e.what());
    informationLine(file.c_str(), function.c_str(), e.line(), text);
  } catch (...) {
    // A line that cannot be built is dropped; the status still tells.
  }
}

void logStandardException(const char16_t* source, const char16_t* function, int32_t line,
                          const std::exception& e) noexcept {
  try {
    informationLine(source, function, line, quil::format(u"std::exception : what=\"%hs\"", e.what()));
  } catch (...) {
  }
}

void logUnknownException(const char16_t* source, const char16_t* function, int32_t line) noexcept {
  try {
    informationLine(source, function, line, u"unknown exception");
  } catch (...) {
  }
}

WriterStatus onWriterException(const QUILWriter::QUILWriterException& e) noexcept {
  logWriterException(e);
  try {
    return WriterStatus::fromWriterException(e);
  } catch (...) {
    return WriterStatus();
  }
}

WriterStatus onStandardException(const char16_t* source, const char16_t* function, int32_t line,
                                 const std::exception& e) noexcept {
  logStandardException(source, function, line, e);
  try {
    return WriterStatus::fromStandardException();
  } catch (...) {
    return WriterStatus();
  }
}

WriterStatus onUnknownException(const char16_t* source, const char16_t* function, int32_t line) noexcept {
  logUnknownException(source, function, line);
  try {
    return WriterStatus::fromUnknownException();
  } catch (...) {
    return WriterStatus();
  }
}

}  // namespace quil::writer
