"""The volume: opening it, its files, listings and changes."""
import calendar
import collections
import os
import re
import shutil
import stat
import tempfile
from ctypes import byref, c_int32, c_uint8, c_uint16, c_uint32, c_uint64
from pathlib import Path, PurePath

from . import _file, _lib
from ._lib import LOCK, Error, FindData, VolumeParam, call, wide

_DIRECTORY, _READ_ONLY, _NOTHING_FOUND = 0x10, 0x1, 1000


def vpath(path):
    """A volume path from a str or PurePath: backslashes, one leading, none trailing."""
    if not isinstance(path, (str, PurePath)):
        raise TypeError(f"a volume path is a str or a PurePath, not {type(path).__name__}")
    return ("\\" + str(path).replace("/", "\\").lstrip("\\")).rstrip("\\") or "\\"


def _join(folder, name):
    return folder.rstrip("\\") + "\\" + name


def _stat_of(attributes, size=0, data=None):
    """An os.stat_result of an entry: st_mode, st_size and the three times (UTC)."""
    mode = stat.S_IFDIR | 0o755 if attributes & _DIRECTORY else stat.S_IFREG | 0o644
    times = [calendar.timegm((t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond)) + t.wMilliseconds / 1000
             if t.wYear else 0.0 for t in (data.time2, data.time3, data.time1)] if data else [0.0] * 3
    return os.stat_result((mode & ~0o222 if attributes & _READ_ONLY else mode, 0, 0, 1, 0, 0, size)
                          + tuple(int(t) for t in times), dict(zip(("st_atime", "st_mtime", "st_ctime"), times)))


class DirEntry:
    """An entry of Volume.scandir, in the manner of os.DirEntry: `name`, `path`
    (its volume path) and `attributes` (0x1 read-only: a locked clip, 0x10 folder)."""
    __slots__ = ("name", "path", "attributes", "_stat")

    def __init__(self, folder, data):
        self.name = _lib.unwide(data.name)
        self.path, self.attributes = _join(folder, self.name), data.attributes
        self._stat = _stat_of(data.attributes, data.size, data)

    def is_dir(self):
        """Whether the entry is a folder."""
        return bool(self.attributes & _DIRECTORY)

    def is_file(self):
        """Whether the entry is a file."""
        return not self.is_dir()

    def stat(self):
        """The entry's os.stat_result (st_mode, st_size, st_atime, st_mtime, st_ctime)."""
        return self._stat

    def __repr__(self):
        return f"<quil.DirEntry {self.path!r}>"


class _Scan:
    """The iterator of Volume.scandir: holds a find handle until exhausted or closed."""

    def __init__(self, volume, folder):
        self._volume, self._folder, self._handle, self._error, self._data = volume, folder, -1, None, FindData()
        with LOCK:
            try:
                self._handle = volume._call("QUILAPI_FindFirstFile", wide(_join(folder, "*")), byref(self._data),
                                            what=folder, failed=-1)
                volume._handles[self._handle] = (self,)
            except Error as e:
                if e.code != _NOTHING_FOUND:  # else an empty folder
                    raise

    def __iter__(self):
        return self

    def __next__(self):
        if self._error:
            error, self._error = self._error, None
            raise error
        if self._handle == -1:
            raise StopIteration
        entry = DirEntry(self._folder, self._data)
        with LOCK:
            if _lib.lib().QUILAPI_FindNextFile(self._handle, byref(self._data)) == 0:
                if _lib.lib().QUILAPI_GetLastError() != _NOTHING_FOUND:  # else the end
                    self._error = _lib.last_error(self._folder)
                self.close()
        return entry

    def close(self):
        """Ends the enumeration."""
        if self._handle != -1:
            handle, self._handle = self._handle, -1
            self._volume._end(handle, "QUILAPI_FindClose", self._folder)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class VolumeInfo(collections.namedtuple("VolumeInfo", "status write_protect capacity free label medium_type")):
    """Volume.info: the volume status (the code its opening left), the write-protect flag
    word (0 writable), capacity and free bytes, the label and the medium type byte
    the drive reports (0x53 for 'S'; None when unknown)."""
    __slots__ = ()


class Volume:
    r"""The volume of a disc, open until close() or the end of a with block.

    root is a drive root ("E:": a link e: in $QUIL_DRIVES) or a host folder
    holding a disc, reached through a private drive folder with a link q:
    while the volume is open. Keywords set fields of _Volume_Param, e.g.
    namingMode=2 or modelName="ZRD-K1" (maxClipReadHandles is 8 unless
    given). One volume can be open in a process. Paths are volume paths:
    "\CLIP\C0001.MXF", "/USERDATA/a.bin", "USERDATA/a.bin" or a PurePath.
    """
    _current = None  # the open Volume of the process

    def __init__(self, root="E:", **params):
        self._handles = {}  # handle -> the objects to close with the volume, outermost first
        self._drive_folder = self._saved_drives = None
        param = VolumeParam(maxClipReadHandles=8)
        for name, value in params.items():
            if name not in dict(VolumeParam._fields_):
                raise TypeError(f"no volume parameter {name!r}")
            setattr(param, name, value.encode() if isinstance(value, str) else value)
        root = os.fspath(root)
        with LOCK:
            if Volume._current is not None:
                raise _lib.make(root, -3001, 0, f"a volume is already open in this process "
                                f"({Volume._current.root}): close it first")
            self.root = root if re.fullmatch(r"[A-Za-z]:\\?", root) else self._link(root)
            try:
                call("QUILAPI_CreateVolume", wide(self.root), byref(param), what=root, failed=-1)
            except BaseException:
                self._unlink()
                raise
            Volume._current = self

    def _link(self, folder):
        """Links a disc folder or a disc image as q: in a private drive folder, made QUIL_DRIVES; the root Q:."""
        disc = Path(folder).resolve()
        if not (disc.is_dir() or disc.is_file()):
            raise _lib.make(folder, 0, 267 if disc.exists() else 3)
        self._drive_folder = tempfile.mkdtemp(prefix=f"quil-drive-{os.getpid()}-")
        os.symlink(disc, os.path.join(self._drive_folder, "q:"))
        self._saved_drives = os.environ.get("QUIL_DRIVES")
        os.environ["QUIL_DRIVES"] = self._drive_folder
        return "Q:"

    def _unlink(self):
        if self._drive_folder:
            shutil.rmtree(self._drive_folder, ignore_errors=True)
            os.environ.pop("QUIL_DRIVES", None)
            if self._saved_drives is not None:
                os.environ["QUIL_DRIVES"] = self._saved_drives
            self._drive_folder = None

    def close(self):
        """Closes every file and enumeration opened here, then the volume.

        Everything is closed even when something fails; the first failure is
        raised afterwards. Closing a closed volume does nothing.
        """
        with LOCK:
            if Volume._current is not self:
                return
            first = None
            for obj in [obj for objects in list(self._handles.values()) for obj in objects]:
                try:
                    obj.close()  # the outermost first: buffered bytes are written
                except Exception as e:
                    first = first or e
            try:
                call("QUILAPI_CloseVolume", 0, what=self.root)
            except Error as e:
                first = first or e
            finally:
                Volume._current = None
                self._unlink()
            if first:
                raise first

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, traceback):
        try:
            self.close()
        except Exception as e:
            if exc is None:
                raise
            exc.add_note(f"closing the volume failed too: {e}")  # the block's exception stands

    def _end(self, handle, function, what):
        with LOCK:
            self._handles.pop(handle, None)
            call(function, handle, what=what)

    def _call(self, function, *args, what, failed=0):
        """Calls function with the volume handle 0 first; Error (EBADF) once this volume is closed."""
        with LOCK:
            if Volume._current is not self:
                raise _lib.make(what, -4, 0, f"the volume of {self.root} is closed")
            return call(function, 0, *args, what=what, failed=failed)

    def open(self, path, mode="rb", buffering=-1, encoding=None, errors=None, newline=None, share=None):
        """Opens a file of the volume, in the manner of the builtin open.

        Modes r (open existing), w (create always), x (create new), a (open
        always, at the end) and r+ and the like, binary or text (encoding
        utf-8 unless given). Clip and component essence files are only
        created new ("wb" or "xb"). share is the CreateFile share mode:
        read and write (0x3) for reading, none for writing. buffering=0
        gives the RawFile.
        """
        path = vpath(path)
        access, disposition, text, kind = _file.parse_mode(mode, path)
        if text and buffering == 0:
            raise ValueError("can't have unbuffered text I/O")
        share = (0x3 if access == _file.READ else 0) if share is None else share
        with LOCK:
            handle = self._call("QUILAPI_CreateFile", wide(path), access, share, None, disposition, 0, None,
                                what=path, failed=-1)
            raw = _file.RawFile(self, handle, path, kind + ("b+" if "+" in mode else "b"), access)
            self._handles[handle] = (raw,)
        try:
            outer = _file.wrap(raw, kind, text, buffering, encoding, errors, newline)
        except BaseException:
            raw.close()
            raise
        with LOCK:
            if handle in self._handles:
                self._handles[handle] = (outer, raw)
        return outer

    def _attributes(self, path):
        attributes = c_uint32()
        self._call("QUILAPI_GetFileAttributes", wide(path), byref(attributes), what=path)
        return attributes.value

    def scandir(self, path="\\"):
        """An iterator of DirEntry over a folder, in the manner of os.scandir (a context manager too)."""
        folder = vpath(path)
        with LOCK:
            if folder != "\\" and not self._attributes(folder) & _DIRECTORY:
                raise _lib.make(folder, 0, 267)
            return _Scan(self, folder)

    def listdir(self, path="\\"):
        """The names in a folder."""
        with self.scandir(path) as entries:
            return [entry.name for entry in entries]

    def walk(self, top="\\", topdown=True):
        """(folder, folder names, file names) for top and each folder below, in the manner of os.walk."""
        top, folders, files = vpath(top), [], []
        with self.scandir(top) as entries:
            for entry in entries:
                (folders if entry.is_dir() else files).append(entry.name)
        if topdown:
            yield top, folders, files
        for name in folders:
            yield from self.walk(_join(top, name), topdown)
        if not topdown:
            yield top, folders, files

    def stat(self, path):
        """The os.stat_result of a file or folder (st_mode, st_size, st_mtime...)."""
        path, data = vpath(path), FindData()
        if path == "\\":
            return _stat_of(_DIRECTORY)
        with LOCK:
            call("QUILAPI_FindClose", self._call("QUILAPI_FindFirstFile", wide(path), byref(data), what=path,
                                                 failed=-1), what=path)
        return _stat_of(data.attributes, data.size, data)

    def exists(self, path):
        """Whether a file or folder is there."""
        try:
            return vpath(path) == "\\" or self._attributes(vpath(path)) >= 0
        except Error:
            return False

    def _on_path(self, function, path, *args):
        return self._call(function, wide(vpath(path)), *args, what=vpath(path))

    def remove(self, path):
        """Deletes a file."""
        self._on_path("QUILAPI_DeleteFile", path)

    def rename(self, source, target):
        """Gives a file a new name within its kind."""
        self._on_path("QUILAPI_MoveFile", source, wide(vpath(target)))

    def replace(self, source, target):
        """Renames a user-data or general file, replacing the target when it exists."""
        self._on_path("QUILAPI_MoveFileEx", source, wide(vpath(target)), 0x1)

    def mkdir(self, path):
        r"""Creates a folder below \USERDATA or \GENERAL."""
        self._on_path("QUILAPI_CreateDirectory", path, None)

    def rmdir(self, path):
        r"""Removes an empty folder below \USERDATA or \GENERAL."""
        self._on_path("QUILAPI_RemoveDirectory", path)

    def lock(self, path):
        """Locks a clip or component (attribute 0x1, read-only)."""
        self._on_path("QUILAPI_SetFileAttributes", path, 0x1)

    def unlock(self, path):
        """Unlocks a clip or component (attribute 0x80, normal)."""
        self._on_path("QUILAPI_SetFileAttributes", path, 0x80)

    @property
    def label(self):
        """The volume label; assign a str to change it."""
        text, length = (c_uint16 * 64)(), c_uint32()
        self._call("QUILAPI_GetVolumeLabel", text, 64, byref(length), what="label")
        return _lib.unwide(text)

    @label.setter
    def label(self, text):
        self._call("QUILAPI_SetVolumeLabel", wide(text), len(wide(text)) // 2 - 1, what="label")

    def capacity(self):
        """(capacity, free) of the volume in bytes."""
        total, free = c_uint64(), c_uint64()
        self._call("QUILAPI_GetVolumeCapacity", byref(total), byref(free), what="capacity")
        return total.value, free.value

    def clip_id(self, path):
        """The clip identifier of a clip."""
        text, length = (c_uint16 * 256)(), c_uint32()
        with self.open(path, "rb", buffering=0) as f:
            call("QUILAPI_GetClipId", f._handle, text, 256, byref(length), what=f.name)
        return _lib.unwide(text)

    def flush(self):
        """Flushes the volume to the disc."""
        self._call("QUILAPI_FlushVolume", what="flush")

    @property
    def info(self):
        """A VolumeInfo: status, write protection, capacity, free, label and medium type."""
        status, flags = c_uint32(), c_uint32()
        self._call("QUILAPI_GetVolumeInformation", byref(status), byref(flags), what="volume information")
        return VolumeInfo(c_int32(status.value).value, flags.value, *self.capacity(), self.label,
                          self._medium_type())

    def _medium_type(self):
        """The medium type byte of the drive's mount information, or None."""
        library, mount, returned = _lib.lib(), (c_uint8 * 16)(), c_uint32()
        if not hasattr(library, "QUILDriver_Open"):
            return None
        with LOCK:
            device = library.QUILDriver_Open(wide("\\\\.\\" + self.root[0] + ":"))
            if device == -1:
                return None
            ok = library.QUILDriver_Control(device, 0x00092853, None, 0, mount, 16, byref(returned))  # mount info
            library.QUILDriver_Close(device)
        return mount[12] if ok else None
