"""Files of the volume as Python file objects."""
import ctypes
import io
from ctypes import byref, c_int64, c_uint32

from . import _lib
from ._lib import call

READ, WRITE = 0x80000000, 0x40000000
_DISPOSITIONS = {"r": 3, "w": 2, "x": 1, "a": 4}  # open existing, create always, create new, open always
_CHUNK = 1 << 30  # the most bytes handed to one read or write


def is_essence(path):
    r"""Whether a volume path is a clip or component essence file (\CLIP\*.MXF, \COMPONENT\*.MXF)."""
    folder, _, name = path.upper().rpartition("\\")
    return folder in ("\\CLIP", "\\COMPONENT") and name.endswith(".MXF") and len(name) > 4


def is_user_data(path):
    r"""Whether a volume path lies below \USERDATA or \GENERAL."""
    return path.upper().startswith(("\\USERDATA\\", "\\GENERAL\\"))


def parse_mode(mode, path):
    """(access, disposition, text, kind) of a Python open mode for a volume path."""
    chars = set(mode)
    kinds = chars & set("rwxa")
    if len(chars) != len(mode) or not chars <= set("rwxab+t") or len(kinds) != 1 or {"b", "t"} <= chars:
        raise ValueError(f"invalid mode: {mode!r}")
    kind, update = kinds.pop(), "+" in chars
    access = (READ if kind == "r" or update else 0) | (WRITE if kind != "r" or update else 0)
    essence = is_essence(path) and access & WRITE
    if essence and (kind in "ra" or update):
        raise ValueError(f"{path}: a clip or component essence file is only created new ('wb' or 'xb')")
    return access, 1 if essence else _DISPOSITIONS[kind], "b" not in chars, kind


class RawFile(io.RawIOBase):
    """An open file of the volume: unbuffered, in the manner of io.FileIO.

    `name` is the volume path and `mode` the binary open mode. A clip or
    component being recorded cannot be read; truncate() needs write access.
    """

    def __init__(self, volume, handle, path, mode, access):
        super().__init__()
        self._volume, self._handle, self.name, self.mode = volume, handle, path, mode
        self._readable, self._writable = bool(access & READ), bool(access & WRITE)

    def readable(self):
        """Whether the file was opened with read access."""
        self._checkClosed()
        return self._readable

    def writable(self):
        """Whether the file was opened with write access."""
        self._checkClosed()
        return self._writable

    def seekable(self):
        """True: every open file has a file pointer."""
        self._checkClosed()
        return True

    def readinto(self, buffer):
        """Reads into a writable buffer; the count read, 0 at the end of the file."""
        self._checkClosed()
        self._checkReadable()
        view = memoryview(buffer).cast("B")[:_CHUNK]
        if not view:
            return 0
        done = c_uint32()
        target = (ctypes.c_char * len(view)).from_buffer(view)
        call("QUILAPI_ReadFile", self._handle, target, len(view), byref(done), what=self.name)
        return done.value

    def write(self, data):
        """Writes bytes at the file pointer; the count the disc took.

        A recording that the drive stopped (size full, duration full, format
        error) takes fewer bytes, and then none: that raises Error (EIO).
        """
        self._checkClosed()
        self._checkWritable()
        data = bytes(memoryview(data).cast("B")[:_CHUNK])
        if not data:
            return 0
        done = c_uint32()
        call("QUILAPI_WriteFile", self._handle, data, len(data), byref(done), what=self.name)
        if done.value == 0:
            raise _lib.make(self.name, 0, 0, "the drive took no more bytes: it stopped the recording "
                            "(size full, duration full or a format error; the operation log gives the reason)")
        return done.value

    def seek(self, offset, whence=io.SEEK_SET):
        """Moves the file pointer (SEEK_SET, SEEK_CUR, SEEK_END); the new position."""
        self._checkClosed()
        position = c_int64()
        call("QUILAPI_SetFilePointer", self._handle, offset, byref(position), whence, what=self.name)
        return position.value

    def tell(self):
        """The position of the file pointer."""
        return self.seek(0, io.SEEK_CUR)

    def truncate(self, size=None):
        """Cuts or extends the file to size (default: the position); the position stays."""
        self._checkClosed()
        self._checkWritable()
        position = self.tell()
        size = position if size is None else size
        if is_user_data(self.name):
            self.seek(size)
            call("QUILAPI_SetEndOfFile", self._handle, what=self.name)
            self.seek(position)
        else:
            call("QUILAPI_SetFileSize", self._handle, size, what=self.name)
        return size

    def close(self):
        """Closes the handle; a failed close (of a written file) raises Error."""
        if not self.closed:
            super().close()
            self._volume._end(self._handle, "QUILAPI_CloseHandle", self.name)


def wrap(raw, kind, text, buffering, encoding, errors, newline):
    """The file object Python's open would give over raw: buffered, and text when asked."""
    if kind == "a":
        raw.seek(0, io.SEEK_END)
    if buffering == 0:
        return raw
    size = buffering if buffering > 1 else 1 << 20  # the disc is written in runs: large blocks
    if raw.readable() and raw.writable():
        buffered = io.BufferedRandom(raw, size)
    else:
        buffered = (io.BufferedWriter if raw.writable() else io.BufferedReader)(raw, size)
    if not text:
        return buffered
    wrapper = io.TextIOWrapper(buffered, encoding or "utf-8", errors, newline, line_buffering=buffering == 1)
    wrapper.mode = raw.mode.replace("b", "")
    return wrapper
