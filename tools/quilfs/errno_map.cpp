#include "errno_map.h"

#include <cerrno>

namespace quilfs {

// -8 "denied" becomes EBUSY, not EACCES: the library says it when another
// file is in the way (the one file being written per volume, a related
// file read or written, a reader that does not give way), so the same
// request succeeds once that file is closed. Permission-like refusals
// arrive as their own codes (-3012 write protection) or, for user data, as
// Windows error 5, which is EACCES.
int errnoOfLibraryCode(int32_t code) {
  switch (code) {
    case -4: return EBADF;         // invalid handle
    case -5: return EINVAL;        // invalid parameter
    case -6: return ENOTSUP;       // not supported on this handle
    case -7: return EBUSY;         // another operation in progress on the handle
    case -8: return EBUSY;         // denied: another file is in the way
    case -9: return EINVAL;        // invalid file name
    case -3001: return EBUSY;      // a volume is already open
    case -3002: return EROFS;      // disc corrupted: changes refused until reopened
    case -3003: return ENOSPC;     // no free space on the disc
    case -3004: return EBUSY;      // drive busy
    case -3005: return EPERM;      // an operation this kind of file never allows
    case -3008: return EEXIST;     // file already exists
    case -3010: return EBUSY;      // sharing violation
    case -3011: return EIO;        // a reader suspended to let a writer in
    case -3012: return EROFS;      // media write protected
    case -9999: return ENOTSUP;    // not implemented
    case 1000: return ENOENT;      // no object found in searching
    default: return EIO;           // -1 to -3, input/output, content, driver and file-system calls
  }
}

int errnoOfWindowsError(uint32_t error) {
  switch (error) {
    case 2:                        // file not found
    case 3:                        // path not found
    case 18: return ENOENT;        // no more files
    case 5: return EACCES;         // access denied (read-only file, folder)
    case 6: return EBADF;          // invalid handle
    case 19: return EROFS;         // write protect
    case 32: return EBUSY;         // sharing violation
    case 80:                       // file exists
    case 183: return EEXIST;       // already exists
    case 87: return EINVAL;        // invalid parameter
    case 112: return ENOSPC;       // disk full
    case 123: return EINVAL;       // invalid name
    case 131: return EINVAL;       // negative seek
    case 145: return ENOTEMPTY;    // directory not empty
    case 206: return ENAMETOOLONG; // a name or path longer than the medium holds
    case 267: return ENOTDIR;      // not a directory
    default: return EIO;
  }
}

int errnoOf(int32_t code, uint32_t windowsError) {
  if (code != 0) return errnoOfLibraryCode(code);
  return windowsError != 0 ? errnoOfWindowsError(windowsError) : EIO;
}

}  // namespace quilfs
