// Small host services that stand in for Windows calls: the program-files
// folder, the process id, and the "Users" read/write grant on new files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quil::platform {

// QUIL_PROGRAM_FILES when set and not empty, else /opt. No trailing slash.
std::string programFilesFolder();

uint32_t processId();

// Where the debugger output goes: standard error.
int debugOutputDescriptor();

// Gives group and others read and write access to the open file `fd`, as
// Windows gives the local "Users" group. By descriptor: the file changed is
// the one held, never what a path leads to meanwhile. Returns false when the
// file's mode could not be read or changed; the file is left as it was then.
bool grantUsersReadWrite(int fd);

// The host folder of a volume root path. A drive root (the letter and a
// colon, with or without a backslash) is the link "e:" in the drive folder
// (QUIL_DRIVES, else /var/lib/quil/drives), as Wine's dosdevices are; any
// other root is a host folder already. Trailing separators are dropped.
std::string hostPathOfVolumeRoot(std::u16string_view root);

}  // namespace quil::platform
