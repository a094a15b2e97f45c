"""Loading libquilcoreapi, its records and prototypes, the lock and the errors."""
import ctypes
import errno
import os
import sysconfig
import threading
from ctypes import POINTER, c_int32, c_int64, c_uint8, c_uint16, c_uint32, c_uint64, c_void_p
from pathlib import Path

from ._errno import errno_of

#: Serialises every call of the package into the library (which takes no
#: lock of its own) together with the reading of the calling thread's error.
LOCK = threading.RLock()


class OwnerInfo(ctypes.Structure):
    """QUIL_OWNER_INFO: three 4-byte 8-bit texts."""
    _fields_ = [("country", ctypes.c_char * 4), ("organization", ctypes.c_char * 4), ("user", ctypes.c_char * 4)]


class VolumeParam(ctypes.Structure):
    """_Volume_Param of quilcoreapi.h (212 bytes): the volume parameters, zeroed unless set."""
    _fields_ = [
        ("namingMode", c_uint32), ("audioMode", c_uint32 * 4), ("tcMode", c_uint32), ("dfndfMode", c_uint32),
        ("ownerInfo", OwnerInfo), ("dataItemMode", c_uint32), ("alignMode", c_uint32), ("recInhMode", c_uint32),
        ("proHdnMode", c_uint32), ("clipProtectMode", c_uint32), ("modelName", ctypes.c_char * 32),
        ("serialNo", ctypes.c_char * 64), ("quilVersion", ctypes.c_char * 32), ("mixedRecMode", c_uint32),
        ("maxClipReadHandles", c_uint32), ("option196", c_uint32), ("Quil23Mode", ctypes.c_bool),
        ("norcFlag", ctypes.c_bool), ("padding202", c_uint8 * 2), ("option204", c_int32),
        ("SecDeleteMode", ctypes.c_bool), ("GpsDataDelete", ctypes.c_bool), ("VerifyOnWrite", ctypes.c_bool),
        ("padding211", c_uint8),
    ]


class SystemTime(ctypes.Structure):
    """QUIL_SYSTEMTIME (16 bytes), in UTC."""
    _fields_ = [(name, c_uint16) for name in
                ("wYear", "wMonth", "wDayOfWeek", "wDay", "wHour", "wMinute", "wSecond", "wMilliseconds")]


class FindData(ctypes.Structure):
    """FindData (192 bytes): one directory entry of an enumeration."""
    _fields_ = [("name", c_uint16 * 64), ("attributes", c_uint32), ("time1", SystemTime),
                ("time2", SystemTime), ("time3", SystemTime), ("reserved", c_uint32), ("size", c_int64)]


assert [getattr(VolumeParam, f).offset for f in ("ownerInfo", "modelName", "maxClipReadHandles", "option204",
                                                 "padding211")] == [28, 60, 192, 204, 211]
assert ctypes.sizeof(VolumeParam) == 212 and ctypes.sizeof(OwnerInfo) == 12
assert ctypes.sizeof(SystemTime) == 16 and ctypes.sizeof(FindData) == 192 and FindData.size.offset == 184

_I, _U, _P = c_int32, c_uint32, c_void_p
_PROTOTYPES = {
    "QUILAPI_CloseHandle": (_I, [_I]),
    "QUILAPI_CloseVolume": (_I, [_I]),
    "QUILAPI_CreateDirectory": (_I, [_I, _P, _P]),
    "QUILAPI_CreateFile": (_I, [_I, _P, _U, _U, _P, _U, _U, _P]),
    "QUILAPI_CreateVolume": (_I, [_P, POINTER(VolumeParam)]),
    "QUILAPI_DeleteFile": (_I, [_I, _P]),
    "QUILAPI_FindClose": (_I, [_I]),
    "QUILAPI_FindFirstFile": (_I, [_I, _P, POINTER(FindData)]),
    "QUILAPI_FindNextFile": (_I, [_I, POINTER(FindData)]),
    "QUILAPI_FlushVolume": (_I, [_I]),
    "QUILAPI_GetClipId": (_I, [_I, _P, _U, POINTER(_U)]),
    "QUILAPI_GetFileAttributes": (_I, [_I, _P, POINTER(_U)]),
    "QUILAPI_GetLastError": (_I, []),
    "QUILAPI_GetLastErrorWithMessage": (_I, [_P, _U, POINTER(_U)]),
    "QUILAPI_GetVolumeCapacity": (_I, [_I, POINTER(c_uint64), POINTER(c_uint64)]),
    "QUILAPI_GetVolumeInformation": (_I, [_I, POINTER(_U), POINTER(_U)]),
    "QUILAPI_GetVolumeLabel": (_I, [_I, _P, _U, POINTER(_U)]),
    "QUILAPI_MoveFile": (_I, [_I, _P, _P]),
    "QUILAPI_MoveFileEx": (_I, [_I, _P, _P, _U]),
    "QUILAPI_ReadFile": (_I, [_I, _P, _U, POINTER(_U)]),
    "QUILAPI_RemoveDirectory": (_I, [_I, _P]),
    "QUILAPI_SetEndOfFile": (_I, [_I]),
    "QUILAPI_SetFileAttributes": (_I, [_I, _P, _U]),
    "QUILAPI_SetFilePointer": (_I, [_I, c_int64, POINTER(c_int64), _U]),
    "QUILAPI_SetFileSize": (_I, [_I, c_int64]),
    "QUILAPI_SetVolumeLabel": (_I, [_I, _P, _U]),
    "QUILAPI_WriteFile": (_I, [_I, _P, _U, POINTER(_U)]),
    # libquilplatform, a dependency of libquilcoreapi: found through its handle.
    "QUILPlatform_GetLastError": (_U, []),
    "QUILPlatform_FormatMessage": (_U, [_U, _P, _U]),
    # The drive's device, for the medium type only: an installation may lack them.
    "QUILDriver_Open": (_I, [_P]),
    "QUILDriver_Control": (_I, [_I, _U, _P, _U, _P, _U, POINTER(_U)]),
    "QUILDriver_Close": (_I, [_I]),
}
_library = None
_NAME = "libquilcoreapi.so.0"


def _candidates():
    """Where libquilcoreapi.so.0 is looked for, in order."""
    if os.environ.get("QUIL_LIBRARY"):
        return [os.environ["QUIL_LIBRARY"]]
    # <prefix>/lib of <prefix>/lib/python3/dist-packages/quil
    libdir = Path(os.path.normpath(Path(__file__).resolve().parent / "../../.."))
    folders = (libdir, libdir / (sysconfig.get_config_var("MULTIARCH") or ""))
    return [str(d / _NAME) for d in folders if (d / _NAME).is_file()] + [_NAME]


def lib():
    """The loaded library with every prototype declared (loaded at the first use)."""
    global _library
    with LOCK:
        if _library is None:
            path = _candidates()[0]
            try:
                loaded = ctypes.CDLL(path)
            except OSError as e:
                raise OSError(errno.ENOENT, f"cannot load {path} ({e}); set QUIL_LIBRARY to its path") from e
            for name, (restype, argtypes) in _PROTOTYPES.items():
                function = getattr(loaded, name, None)
                if function is not None:
                    function.restype, function.argtypes = restype, argtypes
            _library = loaded
        return _library


def wide(text):
    """A str as a NUL-terminated UTF-16 buffer for the library."""
    return text.encode("utf-16-le", "surrogatepass") + b"\0\0"


def unwide(units):
    """The text of a UTF-16 ctypes array, up to its first NUL (or its end)."""
    return bytes(units).decode("utf-16-le", "replace").split("\0", 1)[0]


class Error(OSError):
    """A failure of the library: an OSError with the library's code and text.

    `code` is the library's code (0 when the cause is a Windows error),
    `windows_error` the relayed Windows error number (0 when `code` is set),
    `message` the text of either, `errno` the errno quilfs gives the same
    failure and `filename` the volume path or what failed.
    """
    __module__ = "quil"

    def __init__(self, what, code=0, windows_error=0, message=""):
        self.code, self.windows_error, self.message = code, windows_error, message
        shown = f"{code} {message}" if code else f"Windows error {windows_error}: {message}"
        super().__init__(errno_of(code, windows_error), shown if code or windows_error else message, what)


def _kind(name, bases, doc):
    return type(name, (Error,) + bases, {"__doc__": doc, "__module__": "quil"})


NotFound = _kind("NotFound", (FileNotFoundError,), "No such file or folder (ENOENT).")
Exists = _kind("Exists", (FileExistsError,), "The file exists already (EEXIST).")
Denied = _kind("Denied", (PermissionError,), "Refused for the file's kind or attributes (EPERM, EACCES).")
NotADirectory = _kind("NotADirectory", (NotADirectoryError,), "A folder was wanted (ENOTDIR).")
Busy = _kind("Busy", (), "Another file, handle or volume is in the way (EBUSY): retry once it is closed.")
WriteProtected = _kind("WriteProtected", (), "The volume, or a locked clip, refuses changes (EROFS).")
NoSpace = _kind("NoSpace", (), "No free space on the disc (ENOSPC).")
_CLASSES = {errno.ENOENT: NotFound, errno.EEXIST: Exists, errno.EPERM: Denied, errno.EACCES: Denied,
            errno.ENOTDIR: NotADirectory, errno.EBUSY: Busy, errno.EROFS: WriteProtected, errno.ENOSPC: NoSpace}


def make(what, code=0, windows_error=0, message=None):
    """The fitting Error subclass for a code or a Windows error."""
    if message is None:
        message = windows_message(windows_error)
    return _CLASSES.get(errno_of(code, windows_error), Error)(what, code, windows_error, message)


def windows_message(number):
    """The text of a Windows error number (QUILPlatform_FormatMessage)."""
    buffer = (c_uint16 * 512)()
    with LOCK:
        if number and lib().QUILPlatform_FormatMessage(number, buffer, 512):
            return unwide(buffer)
    return os.strerror(errno_of(0, number)) if number else "the library gave no reason"


def last_error(what):
    """The calling thread's last error as an Error; call it under LOCK right after the failure."""
    buffer = (c_uint16 * 256)()
    code = lib().QUILAPI_GetLastErrorWithMessage(buffer, 256, None)
    if code:
        return make(what, code, 0, unwide(buffer))
    return make(what, 0, lib().QUILPlatform_GetLastError())


def call(name, *args, what="", failed=0):
    """Calls a library function under LOCK; raises its last error when it returns `failed`."""
    with LOCK:
        result = getattr(lib(), name)(*args)
        if result == failed:
            raise last_error(what)
        return result
