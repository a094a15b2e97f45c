"""The errno of a failure, as quilfs gives it: copies of the two tables of
tools/quilfs/errno_map.cpp (the tests parse that file and compare)."""
from errno import (EACCES, EBADF, EBUSY, EEXIST, EINVAL, EIO, ENAMETOOLONG, ENOENT, ENOSPC, ENOTDIR, ENOTEMPTY,
                   ENOTSUP, EPERM, EROFS)

#: errno of the library's codes; any other code is EIO. -8 "denied" is EBUSY:
#: another file is in the way, and the same request succeeds once it is closed.
LIBRARY_CODES = {
    -4: EBADF, -5: EINVAL, -6: ENOTSUP, -7: EBUSY, -8: EBUSY, -9: EINVAL,  # handle, parameter, denied, name
    -3001: EBUSY, -3002: EROFS, -3003: ENOSPC, -3004: EBUSY, -3005: EPERM,  # volume open, corrupted, full
    -3008: EEXIST, -3010: EBUSY, -3011: EIO, -3012: EROFS,  # exists, sharing, suspended, write-protected
    -9999: ENOTSUP, 1000: ENOENT,  # not implemented, nothing found
}

#: errno of the Windows errors relayed for user-data and general files; any other is EIO.
WINDOWS_ERRORS = {
    2: ENOENT, 3: ENOENT, 18: ENOENT, 5: EACCES, 6: EBADF, 19: EROFS, 32: EBUSY, 80: EEXIST, 183: EEXIST,
    87: EINVAL, 112: ENOSPC, 123: EINVAL, 131: EINVAL, 145: ENOTEMPTY, 206: ENAMETOOLONG, 267: ENOTDIR,
}


def errno_of(code, windows_error=0):
    """The errno of a library code, or of the Windows error when the code is 0 (EIO when both are 0)."""
    if code != 0:
        return LIBRARY_CODES.get(code, EIO)
    return WINDOWS_ERRORS.get(windows_error, EIO)
