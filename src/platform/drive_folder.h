// Where a drive letter leads: the stand-in of the drive letters Windows
// gives its volumes. One definition for the core and the emulator alike,
// both of which name a disc by its letter.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

#define QUIL_PLATFORM_CXX_API __attribute__((visibility("default")))

namespace quil::platform {

// $QUIL_DRIVES, else /var/lib/quil/drives.
QUIL_PLATFORM_CXX_API std::string driveFolder();

// The entry of the drive folder that stands for drive `letter`: "e:", or
// "E:" where only that one exists (drive letters ignore case). nullopt for
// a letter outside A to Z. `status`, when given, receives the entry's lstat
// where one exists (st_nlink 0 where none does).
QUIL_PLATFORM_CXX_API std::optional<std::string> driveLink(char16_t letter, struct stat* status = nullptr);

}  // namespace quil::platform
