// The stand-in of the system's message lookup for Windows error numbers: the
// texts of the numbers this system's libraries relay, as Windows words them.
#include <cstring>
#include <string_view>

#include "quil/platform_error.h"

namespace {

struct Message {
  uint32_t error;
  std::u16string_view text;
};

constexpr Message kMessages[] = {
    {0, u"The operation completed successfully."},
    {1, u"Incorrect function."},
    {2, u"The system cannot find the file specified."},
    {3, u"The system cannot find the path specified."},
    {5, u"Access is denied."},
    {6, u"The handle is invalid."},
    {18, u"There are no more files."},
    {19, u"The media is write protected."},
    {21, u"The device is not ready."},
    {29, u"The system cannot write to the specified device."},
    {30, u"The system cannot read from the specified device."},
    {32, u"The process cannot access the file because it is being used by another process."},
    {80, u"The file exists."},
    {87, u"The parameter is incorrect."},
    {112, u"There is not enough space on the disk."},
    {122, u"The data area passed to a system call is too small."},
    {123, u"The filename, directory name, or volume label syntax is incorrect."},
    {131, u"An attempt was made to move the file pointer before the beginning of the file."},
    {145, u"The directory is not empty."},
    {183, u"Cannot create a file when that file already exists."},
    {206, u"The filename or extension is too long."},
    {267, u"The directory name is invalid."},
    {1117, u"The request could not be performed because of an I/O device error."},
};

constexpr uint32_t kInsufficientBuffer = 122;
constexpr uint32_t kNoMessageText = 317;

}  // namespace

extern "C" uint32_t QUILPlatform_FormatMessage(uint32_t error, char16_t* buffer, uint32_t size) {
  for (const Message& m : kMessages) {
    if (m.error != error) continue;
    if (buffer == nullptr || m.text.size() >= size) {
      QUILPlatform_SetLastError(kInsufficientBuffer);
      return 0;
    }
    std::memcpy(buffer, m.text.data(), m.text.size() * sizeof(char16_t));
    buffer[m.text.size()] = u'\0';
    return static_cast<uint32_t>(m.text.size());
  }
  QUILPlatform_SetLastError(kNoMessageText);
  return 0;
}
