// The calling thread's last error: a code and a message of at most 255
// characters. Every failed operation leaves it set; nothing clears it but the
// next set, so a caller reads it after the failure at leisure.
#pragma once

#include <cstdint>
#include <string_view>

namespace quil::api {

struct LastErrorRecord {
  int32_t code = 0;
  char16_t message[256] = {};  // NUL-terminated
};

namespace detail {
// Constant-initialised, so that a read from another file needs no wrapper
// call; read it through lastErrorRecord().
extern constinit thread_local LastErrorRecord tLastError;
}  // namespace detail

// The calling thread's record (zero on a new thread).
inline const LastErrorRecord& lastErrorRecord() { return detail::tLastError; }

// Sets the code with its table text ("not defined error" outside the table).
void setLastError(int32_t code);
// Sets the code with a message of the caller's, cut to 255 characters.
void setLastError(int32_t code, std::u16string_view message);
// Code 0 with the empty text.
void clearLastError();

// Copies the message into buffer (cut to bufferLength - 1 and terminated)
// unless buffer is null or bufferLength 0; reports the message length plus
// one through requiredLength when given; returns the code. Never changes the record.
int32_t getLastErrorWithMessage(char16_t* buffer, uint32_t bufferLength, uint32_t* requiredLength);

// After a failed reader call: the reader's code becomes ours, with our text
// for it followed by a space and the reader's own text when it has one.
void takeOverReaderError();

// What the sibling-error relay needs of the volume object.
class ClearQUILLastErrorIf {
 public:
  virtual ~ClearQUILLastErrorIf() = default;
  virtual void clearLastError() = 0;
};

enum class SiblingLibrary : uint32_t { kWriter = 1, kReader = 2 };

// Wraps a call into a sibling library for user-data and general files: the
// sibling's Windows-level error is cleared on entry; when it is set on exit it
// moves into the thread's Windows error and our own last error is cleared, so
// the caller finds the cause where a Windows caller would.
class SiblingErrorRelay {
 public:
  SiblingErrorRelay(ClearQUILLastErrorIf& owner, SiblingLibrary library);
  ~SiblingErrorRelay();
  SiblingErrorRelay(const SiblingErrorRelay&) = delete;
  SiblingErrorRelay& operator=(const SiblingErrorRelay&) = delete;

 private:
  ClearQUILLastErrorIf& owner_;
  SiblingLibrary library_;
};

}  // namespace quil::api
