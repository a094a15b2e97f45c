r"""quil: scripting one volume of a disc through libquilcoreapi, on ctypes.

    import quil
    with quil.Volume("E:") as vol:               # or a host folder holding a disc
        with vol.open("/USERDATA/a.txt", "w") as f:
            f.write("hello, disc\n")
        print(vol.listdir("/USERDATA"), vol.info)

The library is libquilcoreapi.so.0 from $QUIL_LIBRARY, else beside the
package's installation prefix, else from the system loader. Failures raise
Error (an OSError with the library's code, text and the errno quilfs gives),
as the subclass that also is the fitting builtin: NotFound is a
FileNotFoundError, Exists a FileExistsError, Denied a PermissionError.
One lock serialises every call into the library, so threads may share a
volume.
"""
from ._errno import errno_of
from ._file import RawFile
from ._lib import LOCK, Busy, Denied, Error, Exists, NoSpace, NotADirectory, NotFound, WriteProtected
from ._volume import DirEntry, Volume, VolumeInfo

__all__ = ["Volume", "VolumeInfo", "DirEntry", "RawFile", "Error", "NotFound", "Exists", "Denied",
           "NotADirectory", "Busy", "WriteProtected", "NoSpace", "errno_of", "LOCK"]
