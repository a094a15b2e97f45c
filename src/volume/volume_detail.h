// What the volume session's files share: the lines it writes (debug trace
// lines around every reader call, information and error lines of its
// steps, all naming the volume handle's source), the error codes it sets,
// and how it judges the answers of the sibling libraries.
#pragma once

#include <cstdint>
#include <utility>

#include "api/last_error.h"
#include "files/file_name_manage.h"
#include "logging/trace.h"
#include "volume/volume_handle.h"
#include "writer/writer_status.h"

namespace quil::volume::detail {

inline constexpr const char16_t* kSource = u"project/QUILCoreAPI/VolumeHandle";

template <class... A>
void trace(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(2, 1, 0, kSource, function, line, format, args...);
}

template <class... A>
void info(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(1, 2, 0, kSource, function, line, format, args...);
}

template <class... A>
void errorLine(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(1, 4, 0, kSource, function, line, format, args...);
}

inline const void* ptr(const void* p) { return p; }

// Gives back what a step acquired unless the step commits: every way out
// between the acquisition and the commit (a refusal, no handle number left,
// an allocation that throws) runs the undo. The undo must not throw.
template <class Undo>
class UndoUnlessCommitted {
 public:
  explicit UndoUnlessCommitted(Undo undo) : undo_(std::move(undo)) {}
  ~UndoUnlessCommitted() {
    if (!committed_) undo_();
  }
  UndoUnlessCommitted(const UndoUnlessCommitted&) = delete;
  UndoUnlessCommitted& operator=(const UndoUnlessCommitted&) = delete;
  void commit() { committed_ = true; }

 private:
  Undo undo_;
  bool committed_ = false;
};

// Error codes the volume session sets itself.
inline constexpr int32_t kInternal = -1;
inline constexpr int32_t kInvalidHandle = -4;
inline constexpr int32_t kInvalidParameter = -5;
inline constexpr int32_t kNotSupported = -6;
inline constexpr int32_t kDenied = -8;
inline constexpr int32_t kInvalidFileName = -9;
inline constexpr int32_t kAlreadyCreated = -3001;
inline constexpr int32_t kDiscCorrupted = -3002;
inline constexpr int32_t kNoSpace = -3003;
inline constexpr int32_t kInvalidOperation = -3005;
inline constexpr int32_t kUnsupportedFiles = -3007;
inline constexpr int32_t kSharingViolation = -3010;
inline constexpr int32_t kInvalidFileAccess = -3011;
inline constexpr int32_t kDriverCommandError = -3101;
inline constexpr int32_t kDiscMetaNotRewritable = -4001;

// The write-protect bit a failed change that may have touched the disc sets.
inline constexpr uint32_t kChangedOnFailure = 0x80000000u;

}  // namespace quil::volume::detail

namespace quil::volume {

template <class Tell>
void VolumeHandle::tellReader(const quil::writer::WriterOutcome& outcome, const quil::writer::WriterStatus& s,
                              Tell&& tell) {
  if (!outcome.notify) return;
  if (!outcome.success) writeProtectFlag_ |= detail::kChangedOnFailure;
  tell(outcome.success ? 0u : static_cast<uint32_t>(s.errorCode()));
}

}  // namespace quil::volume

namespace quil::volume::detail {

// Sets the code; the failure value of the boolean-style operations.
inline int32_t fail(int32_t code) {
  quil::api::setLastError(code);
  return 0;
}

// User-data and general files: the free areas, where the sibling
// libraries' Windows errors reach the caller.
inline bool isFreeArea(uint32_t kind) { return kind == quil::files::UserData || kind == quil::files::General; }

// A writer status judged by the outcome table: -1 on success, 0 with the
// status's code and message on failure.
inline int32_t judged(const quil::writer::WriterStatus& s) {
  if (quil::writer::writerOutcome(s).success) return -1;
  quil::writer::setLastErrorFrom(s);
  return 0;
}

// A reader call's result; 0 takes the reader's last error over.
inline int32_t readerResult(int32_t result) {
  if (result == 0) quil::api::takeOverReaderError();
  return result;
}

}  // namespace quil::volume::detail
