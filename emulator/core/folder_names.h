// The names of a host folder by their upper-case form, so that a name given
// in another case is found without reading the folder at every lookup.
//
// An index is kept per folder (device and inode) with the folder's stamp
// (modification and change times, size) at the moment it was read. A
// lookup asks the folder for its stamp (one fstat) and reads the folder
// again only when the stamp differs: a change made from outside the
// emulator drops the index. The emulator's own creates, removals and
// renames update the index in place and take the new stamp, so that a
// folder it fills one file at a time is not read again for every file. An
// index read in the same moment as the folder's last change is not trusted
// (a change in that moment could leave the stamp as it was).
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#define QUIL_EMULATOR_API __attribute__((visibility("default")))

namespace quil::emulator {

// The entries of the folder `dir` (a descriptor) whose upper-case form
// equals `folded` (UTF-8, already upper case), in the folder's own spelling.
// `status`, when given, is what fstat of `dir` said a moment ago.
QUIL_EMULATOR_API std::vector<std::string> namesFolding(int dir, const std::string& folded,
                                                        const struct stat* status = nullptr);

// The emulator removed `removed` from and/or added `added` to the folder
// `dir` (either may be empty).
QUIL_EMULATOR_API void noteFolderChange(int dir, const std::string& removed, const std::string& added);

}  // namespace quil::emulator
