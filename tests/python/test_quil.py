"""The quil package against the built library on fresh emulated discs (one open volume per process)."""
import errno
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import threading
from datetime import datetime, timezone
from errno import EACCES, EBUSY, EEXIST, EIO, ENOENT, ENOSPC, ENOTDIR, EPERM, EROFS
from pathlib import Path, PurePosixPath

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "python"))
os.environ.setdefault("QUIL_LIBRARY", str(REPO / "build/src/libquilcoreapi.so.0"))
import quil  # noqa: E402
from quil import _errno  # noqa: E402

TOOL, MIB, CLIP = os.environ.get("QUIL_TOOL") or str(REPO / "build/tools/quil"), 1 << 20, "/CLIP/C0001.MXF"


@pytest.fixture(scope="session", autouse=True)
def settings(tmp_path_factory):
    """Settings without the library's key, read once per process: logs go below QUIL_PROGRAM_FILES."""
    home = tmp_path_factory.mktemp("settings")
    (home / "registry.reg").write_text("Windows Registry Editor Version 5.00\n")
    with pytest.MonkeyPatch.context() as patch:
        patch.setenv("QUIL_REGISTRY", str(home / "registry.reg"))
        patch.setenv("QUIL_PROGRAM_FILES", str(home))
        yield


@pytest.fixture
def drive(request, tmp_path, monkeypatch):
    """A fresh disc (quil mkdisc with the options of request.param) as drive E: of a drive folder."""
    disc = tmp_path / "disc"
    subprocess.run([TOOL, "mkdisc", disc, *getattr(request, "param", ())], check=True, capture_output=True)
    (tmp_path / "drives").mkdir()
    (tmp_path / "drives" / "e:").symlink_to(disc)
    monkeypatch.setenv("QUIL_DRIVES", str(tmp_path / "drives"))
    return disc


def digest(data):
    return hashlib.sha256(data).hexdigest()


def put(vol, path, data):
    with vol.open(path, "wb") as f:
        shutil.copyfileobj(io.BytesIO(data), f)


@pytest.mark.parametrize("path,mode,kind", [
    ("/USERDATA/w.bin", "wb", io.BufferedWriter), ("/USERDATA/x.bin", "xb", io.BufferedWriter),
    ("/GENERAL/a.bin", "ab", io.BufferedWriter), ("/USERDATA/r.bin", "r+b", io.BufferedRandom),
    (CLIP, "xb", io.BufferedWriter), ("/COMPONENT/P0001.MXF", "wb", io.BufferedWriter)])
def test_binary_round_trip(drive, path, mode, kind):
    data, out = os.urandom(3 * MIB + 4321), io.BytesIO()
    with quil.Volume("E:") as vol:
        if mode in ("ab", "r+b"):  # a first part to append to; a longer file to overwrite and cut
            put(vol, path, data[:MIB] if mode == "ab" else bytes(len(data) + 999))
        with vol.open(path, mode) as f:
            assert isinstance(f, kind) and isinstance(f.raw, io.RawIOBase) and f.writable()
            shutil.copyfileobj(io.BytesIO(data[MIB:] if mode == "ab" else data), f)
            if mode == "r+b":
                assert f.truncate() == len(data) and f.seek(-4321, io.SEEK_END) == 3 * MIB
        with vol.open(path, "rb") as f:
            assert isinstance(f, io.BufferedReader) and f.readable() and not f.writable()
            shutil.copyfileobj(f, out)
        assert digest(out.getvalue()) == digest(data) and vol.stat(path).st_size == len(data)


def test_text_round_trip(drive):
    with quil.Volume("E:") as vol:
        with vol.open("USERDATA/notes.txt", "w", encoding="utf-8") as f:
            f.write("Grüße vom Set\n" * 1000)
        with vol.open(PurePosixPath("USERDATA/notes.txt"), "r", encoding="utf-8") as f:
            assert isinstance(f, io.TextIOWrapper) and f.read() == "Grüße vom Set\n" * 1000


def test_listing_and_walk_match_quil_ls(drive):
    with quil.Volume("E:") as vol:
        for folder in ("/USERDATA/day1", "/USERDATA/day1/takes", "/GENERAL/g"):
            vol.mkdir(folder)
        for i, path in enumerate(["/USERDATA/day1/a.txt", "/USERDATA/day1/takes/b.bin", "/GENERAL/g/c", CLIP]):
            put(vol, path, os.urandom(1000 * i + 1))
    listed, folder = {}, "\\"  # {volume path: (folder, size, last write)} of `quil ls -R -l`
    for line in filter(None, subprocess.run([TOOL, "--drive", "E:", "ls", "-R", "-l"], check=True,
                                            capture_output=True, text=True).stdout.splitlines()):
        if line.startswith("\\") and line.endswith(":"):
            folder = line[:-1]
        else:
            kind, _, size, written, name = line.split(None, 4)
            listed[folder.rstrip("\\") + "\\" + name] = (kind == "d", int(size), written)
    seen = {}
    with quil.Volume("E:") as vol:
        for folder, folders, files in vol.walk("/"):
            entries = {e.name: e for e in vol.scandir(folder)}
            assert sorted(folders + files) == sorted(entries) == sorted(vol.listdir(folder))
            for name, e in entries.items():
                st = e.stat()
                written = datetime.fromtimestamp(st.st_mtime, timezone.utc).strftime("%Y-%m-%dT%H:%M:%S")
                seen[e.path] = (e.is_dir(), st.st_size, written)
                assert e.is_dir() == (name in folders) != e.is_file() and vol.stat(e.path) == st
    assert seen == listed and "\\USERDATA\\day1\\takes\\b.bin" in seen


def record(vol):
    put(vol, CLIP, b"essence" * 1000)


def record_on_full_disc(vol):
    with vol.open(CLIP, "wb", buffering=0) as f:
        assert 0 < f.write(bytes(2 * MIB)) < 2 * MIB  # the drive stops the recording at the end of the disc
    vol.open("/CLIP/C0002.MXF", "wb", buffering=0).write(b"e")


SMALL, PROTECTED = ("--capacity", "1M"), ("--not-writable",)
REFUSALS = [  # what, mkdisc options, how, class, errno, code, Windows error
    ("missing file", (), lambda v: v.open("/USERDATA/none"), quil.NotFound, ENOENT, 0, 2),
    ("missing clip", (), lambda v: v.stat("/CLIP/C0099.MXF"), quil.NotFound, ENOENT, 1000, 0),
    ("file exists", (), lambda v: (put(v, "/USERDATA/a", b"1"), v.open("/USERDATA/a", "xb")), quil.Exists, EEXIST,
     0, 80),
    ("clip exists", (), lambda v: (record(v), v.open(CLIP, "wb")), quil.Exists, EEXIST, -3008, 0),
    ("deleting a recording", (), lambda v: (v.open(CLIP, "wb").write(b"e"), v.remove(CLIP)), quil.Busy, EBUSY,
     -3010, 0),
    ("a second volume", (), lambda v: quil.Volume("E:"), quil.Busy, EBUSY, -3001, 0),
    ("deleting a locked clip", (), lambda v: (record(v), v.lock(CLIP), v.remove(CLIP)), quil.WriteProtected, EROFS,
     -3012, 0),
    ("writing the index", (), lambda v: v.open("/INDEX.XML", "r+b"), quil.Denied, EPERM, -3005, 0),
    ("opening a folder", (), lambda v: (v.mkdir("/USERDATA/d"), v.open("/USERDATA/d")), quil.Denied, EACCES, 0, 5),
    ("listing a file", (), lambda v: (put(v, "/USERDATA/f", b"1"), v.listdir("/USERDATA/f")), quil.NotADirectory,
     ENOTDIR, 0, 267),
    ("disc full", SMALL, lambda v: put(v, "/USERDATA/big", bytes(2 * MIB)), quil.NoSpace, ENOSPC, 0, 112),
    ("recording on a full disc", SMALL, record_on_full_disc, quil.NoSpace, ENOSPC, -3003, 0),
    ("recording stopped", ("--clip-limit", "1M"), lambda v: put(v, CLIP, bytes(2 * MIB)), quil.Error, EIO, 0, 0),
    ("write-protected label", PROTECTED, lambda v: setattr(v, "label", "x"), quil.WriteProtected, EROFS, -3012, 0),
]
BUILTIN = {ENOENT: FileNotFoundError, EEXIST: FileExistsError, EPERM: PermissionError, EACCES: PermissionError,
           ENOTDIR: NotADirectoryError}


@pytest.mark.parametrize("drive,options,how,cls,number,code,windows", [(r[1],) + r[1:] for r in REFUSALS],
                         ids=[r[0] for r in REFUSALS], indirect=["drive"])
def test_refusals(drive, options, how, cls, number, code, windows):
    with quil.Volume("E:") as vol:
        with pytest.raises(BUILTIN.get(number, OSError)) as caught:
            how(vol)
        assert (vol.info.write_protect != 0) == (options == PROTECTED)  # a refusal does not protect the disc
        assert "USERDATA" in vol.listdir("/")  # reading goes on
    e = caught.value
    assert type(e) is cls and isinstance(e, quil.Error) and e.message and e.filename
    assert (e.errno, e.code, e.windows_error) == (number, code, windows)


def test_block_that_raises_closes_files_enumerations_and_volume(drive):
    with pytest.raises(RuntimeError, match="cut"):
        with quil.Volume("E:") as old:
            put(old, "/USERDATA/a.bin", b"a" * 10)
            reader = old.open("/USERDATA/a.bin", buffering=0)
            clip = old.open(CLIP, "wb")
            clip.write(b"e" * 5000)  # still in the buffer
            scan = old.scandir("/")
            next(scan)
            raise RuntimeError("cut")
    assert reader.closed and clip.closed and list(scan) == []
    with quil.Volume("E:") as vol:  # the volume was closed, else this would be refused
        assert vol.stat(CLIP).st_size == 5000  # the buffer was written before the close
        with pytest.raises(quil.Error, match="closed") as caught:
            old.listdir("/")  # not the new volume's listing
        assert caught.value.errno == errno.EBADF


def test_two_threads_read_through_one_volume(drive):
    blobs, digests, start = {f"/USERDATA/t{i}.bin": os.urandom(2 * MIB) for i in range(2)}, {}, threading.Barrier(2)

    def read(vol, path):
        start.wait()
        with vol.open(path, "rb", buffering=64 * 1024) as f:  # small blocks: the reads interleave
            digests[path] = digest(b"".join(iter(lambda: f.read(64 * 1024), b"")))

    with quil.Volume("E:") as vol:
        for path, data in blobs.items():
            put(vol, path, data)
        threads = [threading.Thread(target=read, args=(vol, path)) for path in blobs]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    assert digests == {path: digest(data) for path, data in blobs.items()}


def test_host_folder_information_and_changes(drive, monkeypatch):
    monkeypatch.setenv("QUIL_DRIVES", "/nonexistent")
    with quil.Volume(drive) as vol:  # a host folder: a private drive folder with a link q:
        private = Path(os.environ["QUIL_DRIVES"])
        assert (private / "q:").resolve() == drive.resolve()
        info = vol.info
        assert (info.write_protect, info.capacity, info.medium_type) == (0, 50 << 30, ord("S"))
        assert vol.capacity()[0] == info.capacity and 0 < vol.capacity()[1] <= info.capacity
        vol.label = "Take 1"
        vol.mkdir(PurePosixPath("USERDATA/day"))
        put(vol, "/USERDATA/day/a", b"a")
        put(vol, "/USERDATA/day/b", b"b")
        vol.rename("/USERDATA/day/a", "USERDATA\\day\\c")
        vol.replace("/USERDATA/day/b", "/USERDATA/day/c")
        with vol.open("/USERDATA/day/c") as f:
            assert vol.listdir("/USERDATA/day") == ["c"] and f.read() == b"b"
        record(vol)
        assert re.fullmatch(r"[0-9A-F]{32,}", vol.clip_id(CLIP))
        vol.lock(CLIP)
        assert vol.stat(CLIP).st_mode & 0o222 == 0 and next(vol.scandir("/CLIP")).attributes & 0x1
        vol.unlock(CLIP)
        for path in (CLIP, "/USERDATA/day/c"):
            vol.remove(path)
        vol.rmdir("/USERDATA/day")
        vol.flush()
        assert not vol.exists(CLIP) and not vol.exists("/USERDATA/day") and vol.exists("/")
        assert vol.label == vol.info.label == "Take 1"
    assert not private.exists() and os.environ["QUIL_DRIVES"] == "/nonexistent"


def test_a_disc_image_opens_as_its_folder_does(drive, tmp_path):
    """An image file takes a folder's place (what an image answers is the C++ image test's)."""
    subprocess.run(["genisoimage", "-udf", "-quiet", "-V", "PYDISC", "-o", tmp_path / "disc.iso", drive], check=True)
    with quil.Volume(tmp_path / "disc.iso") as vol:
        assert (vol.info.label, vol.capacity()[1], "CLIP" in vol.listdir("/")) == ("PYDISC", 0, True)
        assert vol.open("/INDEX.XML", "rb").read() == (drive / "INDEX.XML").read_bytes()


def test_errno_tables_match_quilfs():
    source = (REPO / "tools/quilfs/errno_map.cpp").read_text()
    for function, table in (("errnoOfLibraryCode", _errno.LIBRARY_CODES),
                            ("errnoOfWindowsError", _errno.WINDOWS_ERRORS)):
        body = source.split(f"int {function}(", 1)[1].split("\n}\n", 1)[0]
        parsed, pending = {}, []
        for number, name in re.findall(r"case (-?\d+):(?:\s*return (E\w+);)?", body):
            pending.append(int(number))
            if name:
                parsed.update(dict.fromkeys(pending, getattr(errno, name)))
                pending = []
        assert parsed == table and re.search(r"default: return EIO;", body)
    assert "if (code != 0) return errnoOfLibraryCode(code);" in source
    assert quil.errno_of(-1400) == quil.errno_of(0, 9999) == quil.errno_of(0, 0) == errno.EIO
