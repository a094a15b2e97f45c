// What every call into the writer library comes back as. The writer reports
// failure only by throwing; the catching frame (writer_call.h) turns the
// outcome, normal or thrown, into a WriterStatus with a system error code and
// message, and the writer status outcome below is the one table by which
// every caller judges it.
#pragma once

#include <cstdint>
#include <string>

namespace QUILWriter {
class QUILWriterException;
}

namespace quil::writer {

// Outcome classes of a writer call.
enum WriterStatusValue : uint32_t {
  kStatusSuccess = 0,
  kStatusNoChange = 1,        // closed an XML or metadata file that was never written
  kStatusNotImplemented = 2,  // the operation does not exist for this kind of file
  kStatusFailure = 3,         // standard or unknown exception, repair status 0, driver failure
  kStatusRepaired1 = 4,       // writer exception, repair status 1 (counted as success)
  kStatusRepaired2 = 5,
  kStatusRepaired3 = 6,
  kStatusUnknown = 7,         // repair status outside 0 to 3; also "not produced yet"
};

class WriterStatus {
 public:
  // Not produced yet: status 7, code -1, empty message.
  WriterStatus() = default;
  // Status 0 has code 0 and no message. Any other status gets code -1 with
  // its table text and leaves a debug trace line with the status.
  explicit WriterStatus(uint32_t status, uint32_t closeResult = 0);

  // A writer error code with the status the caller decided on: the system
  // code from the writer error map, the message with the writer code
  // appended.
  static WriterStatus fromWriterCode(uint32_t writerCode, uint32_t status);
  // Status from the exception's repair status, code and message from its
  // writer code. Writes no line: the catching frame does.
  static WriterStatus fromWriterException(const QUILWriter::QUILWriterException& e);
  static WriterStatus fromStandardException();  // status 3, code -3
  static WriterStatus fromUnknownException();   // status 3, code -2
  // A failure outside the writer library (the driver): status 3 and the
  // code with its table text.
  static WriterStatus fromCode(int32_t code);

  uint32_t status() const { return status_; }
  int32_t errorCode() const { return errorCode_; }
  const std::u16string& message() const { return message_; }
  uint32_t closeResult() const { return closeResult_; }

 private:
  WriterStatus(uint32_t status, int32_t errorCode, std::u16string message)
      : status_(status), errorCode_(errorCode), message_(std::move(message)) {}

  uint32_t status_ = kStatusUnknown;
  int32_t errorCode_ = -1;
  std::u16string message_;
  uint32_t closeResult_ = 0;
};

// How a status is judged: whether the operation succeeded, and whether the
// reader library must be told about the file (the callers notify).
struct WriterOutcome {
  bool success;
  bool notify;
};

constexpr WriterOutcome writerOutcome(uint32_t status) {
  switch (status) {
    case 0: return {true, true};
    case 1: return {true, false};
    case 2: return {false, true};
    case 3: return {false, false};
    case 4: return {true, true};
    case 5: return {false, false};
    default: return {false, true};
  }
}

inline WriterOutcome writerOutcome(const WriterStatus& s) { return writerOutcome(s.status()); }

// Sets the calling thread's last error to the status's code and message.
void setLastErrorFrom(const WriterStatus& s);

// The system error code of a writer error code; -1 when the map has none.
int32_t mapWriterError(uint32_t writerCode);
// Number of pairs in the writer error map.
size_t writerErrorMapSize();

// The text of the system code followed by " (0x%08X)" with the writer code,
// so that the writer's own code is always visible.
std::u16string writerErrorMessage(int32_t systemCode, uint32_t writerCode);

}  // namespace quil::writer
