// The one table from the library's last error to the errno a program on
// the mount sees. The library's own code decides; when it is 0 after a
// failure on a user-data or general file, the Windows error the sibling
// libraries relayed (QUILPlatform_GetLastError) decides instead.
#pragma once

#include <cstdint>

namespace quilfs {

// errno for a library code (not 0); EIO for a code the table does not know.
int errnoOfLibraryCode(int32_t code);
// errno for a relayed Windows error; EIO for any other number.
int errnoOfWindowsError(uint32_t error);
// errno for a failure: the library's code, or the Windows error when the
// code is 0 (EIO when both are 0).
int errnoOf(int32_t code, uint32_t windowsError);

}  // namespace quilfs
