// The catching frame around calls into the writer library. The writer
// reports every failure by throwing; this frame is where that stops: a
// QUILWriterException becomes a status through the writer error map and
// leaves an information line at the place the writer names, a standard
// exception becomes status 3 with -3, anything else status 3 with -2, both
// with an information line at the catcher's own place. Nothing gets out.
#pragma once

#include <exception>

#include "quil/sibling/quilwriter.h"
#include "writer/writer_status.h"

namespace quil::writer {

// The three clauses' work. None throws: if even the status cannot be built
// (no memory), a default status (7, -1) comes back.
WriterStatus onWriterException(const QUILWriter::QUILWriterException& e) noexcept;
WriterStatus onStandardException(const char16_t* source, const char16_t* function, int32_t line,
                                 const std::exception& e) noexcept;
WriterStatus onUnknownException(const char16_t* source, const char16_t* function, int32_t line) noexcept;

// The lines alone, for callers that map the exception their own way.
void logWriterException(const QUILWriter::QUILWriterException& e) noexcept;
void logStandardException(const char16_t* source, const char16_t* function, int32_t line,
                          const std::exception& e) noexcept;
void logUnknownException(const char16_t* source, const char16_t* function, int32_t line) noexcept;

// Runs body (which returns a WriterStatus) inside the three catch clauses;
// source, function and line name the catcher in the lines of the standard
// and unknown cases.
template <class F>
WriterStatus catchWriterCall(const char16_t* source, const char16_t* function, int32_t line, F&& body) noexcept {
  try {
    return body();
  } catch (const QUILWriter::QUILWriterException& e) {
    return onWriterException(e);
  } catch (const std::exception& e) {
    return onStandardException(source, function, line, e);
  } catch (...) {
    return onUnknownException(source, function, line);
  }
}

}  // namespace quil::writer
