#include "volume_fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <string_view>

#include "common/windows_message.h"
#include "errno_map.h"
#include "names.h"
#include "quil/platform_error.h"

namespace quilfs {

namespace {

constexpr uint32_t kRead = 0x80000000u;
constexpr uint32_t kWrite = 0x40000000u;
// Every open shares read, write and delete: a reader that shares so gives
// way to a recording instead of refusing it, and a user-data file open on
// the mount can still be renamed or removed, as on any Linux file system.
constexpr uint32_t kShareAll = 0x1 | 0x2 | 0x4;
constexpr uint32_t kCreateNew = 1;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kOpenAlways = 4;
constexpr uint32_t kAttributeReadOnly = 0x1;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeNormal = 0x80;
constexpr uint32_t kMoveReplaceExisting = 0x1;
constexpr uint32_t kFromStart = 0;
constexpr uint32_t kFromCurrent = 1;
constexpr unsigned kBlock = 1u << 20;  // the largest read and write, and the block size shown
constexpr size_t kNameUnits = sizeof(FindData::name) / sizeof(QUILCHAR);

// The names libfuse gives unlinked open files (".fuse_hidden" and hex).
bool isHiddenName(const std::u16string& path) { return lastName(path).substr(0, 12) == u".fuse_hidden"; }
// Long enough for a release queued behind other requests on a loaded machine.
constexpr auto kReleaseWait = std::chrono::seconds(3);
// How long the kernel keeps an entry's attributes, and the daemon the
// entries of its last listing.
constexpr auto kAttributesKept = std::chrono::seconds(1);
// The readahead the mount gets when the kernel lets the daemon raise it:
// with the kernel's 128 KiB, reads arrive as 128-256 KiB requests; with
// this, as 1 MiB requests, several in flight.
constexpr unsigned kReadaheadKiB = 4096;

// The failed library call of the current operation on this thread, and the
// volume path the operation is about, for the message on standard error.
struct Refusal {
  const char* call = nullptr;
  int32_t code = 0;
  uint32_t windows = 0;
  std::string message;
};
thread_local Refusal lastRefusal;
thread_local std::u16string currentPath;

// Takes the last error of the call that just failed on this thread; the
// errno for it, negated as FUSE wants it.
int refuse(const char* call) {
  QUILCHAR text[256] = {};
  Refusal r;
  r.call = call;
  r.code = QUILAPI_GetLastErrorWithMessage(text, 256, nullptr);
  r.windows = QUILPlatform_GetLastError();
  r.message = utf8Of(text);
  lastRefusal = std::move(r);
  return -errnoOf(lastRefusal.code, lastRefusal.windows);
}

// "-3010 file sharing violation", or "Windows error 32 (The process cannot access the file because it is being used by another process.)"
// when the library relayed one.
std::string describe(const Refusal& r) {
  if (r.code == 0 && r.windows != 0) {
    return quiltools::windowsErrorLine(r.windows);
  }
  return std::to_string(r.code) + " " + r.message;
}

// A refusal of the daemon's own, after library calls that did not decide it.
int refuseHere(int error) {
  lastRefusal = Refusal{};
  return -error;
}

uint32_t accessOf(int flags) {
  switch (flags & O_ACCMODE) {
    case O_WRONLY: return kWrite;
    case O_RDWR: return kRead | kWrite;
    default: return kRead;
  }
}

std::u16string nameOf(const FindData& entry) {
  return std::u16string(entry.name, std::find(entry.name, entry.name + kNameUnits, u'\0'));
}

// The time for SetFileTime: 0 leaves it as it is.
int64_t fileTimeArgument(const struct timespec& t) {
  if (t.tv_nsec == UTIME_OMIT) return 0;
  return fileTimeOf(t.tv_nsec == UTIME_NOW ? now() : t);
}

// Which of USERDATA, GENERAL and the AV tree a path is in: a rename between
// two of them is a move between file systems, which mv does by copying.
int areaOf(const std::u16string& path) {
  if (!isUserArea(path)) return 0;
  return isAtOrBelow(path, u"\\USERDATA") ? 1 : 2;
}

VolumeFs* self() { return static_cast<VolumeFs*>(fuse_get_context()->private_data); }

}  // namespace

// A failure met on the way that did not decide the operation (a lookup
// that found nothing) is not the operation's to report.
void forgetRefusal() { lastRefusal = Refusal{}; }

VolumeFs::VolumeFs(MountOptions options) : options_(options), owner_(getuid()), group_(getgid()) {}

bool VolumeFs::openVolume(const std::u16string& rootPath, const std::string& shown) {
  std::lock_guard<std::mutex> lock(mutex_);
  _Volume_Param param{};
  param.maxClipReadHandles = 8;
  // A read-only mount opens a write-protected volume: nothing on the disc
  // changes, not even what opening a writable volume repairs.
  param.recInhMode = options_.readOnly ? 1 : 0;
  QUILPlatform_SetLastError(0);
  if (QUILAPI_CreateVolume(rootPath.c_str(), &param) != 0) {
    refuse("QUILAPI_CreateVolume");
    // "drive E: CODE TEXT" rather than "E:: CODE TEXT".
    const bool drive = shown.size() == 2 && shown[1] == ':';
    std::fprintf(stderr, "quilfs: %s: %s\n", drive ? ("drive " + shown.substr(0, 1)).c_str() : shown.c_str(),
                 describe(lastRefusal).c_str());
    return false;
  }
  shownRoot_ = shown;
  volumeOpen_ = true;
  mountedAt_ = now();
  return true;
}

bool VolumeFs::closeVolume() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!volumeOpen_) return closedCleanly_;
  volumeOpen_ = false;
  bool closed = true;
  // Files the kernel never released (an unmount forced by a signal, or a
  // connection that broke): each is closed on its own, so that a recording
  // is finished and a failed close is known.
  const size_t left = files_.size();
  for (const auto& [handle, file] : files_) {
    if (QUILAPI_CloseHandle(handle) == 0) {
      refuse("QUILAPI_CloseHandle");
      std::fprintf(stderr, "quilfs: %s: closing at unmount failed: %s\n", utf8Of(file.path).c_str(),
                   describe(lastRefusal).c_str());
      closed = false;
    }
  }
  files_.clear();
  if (QUILAPI_CloseVolume(0) == 0) {
    refuse("QUILAPI_CloseVolume");
    std::fprintf(stderr, "quilfs: %s: closing the volume failed: %s\n", shownRoot_.c_str(),
                 describe(lastRefusal).c_str());
    closed = false;
  }
  std::fprintf(stderr, "quilfs: %s: volume closed%s (%zu file%s still open at unmount)\n", shownRoot_.c_str(),
               closed ? "" : " with failures", left, left == 1 ? " was" : "s were");
  closedCleanly_ = closed;
  return closed;
}

// Every operation: the path it is about, the failure written to standard
// error, and no exception let out into libfuse.
template <class Body>
int VolumeFs::run(const char* operation, const char* path, Body&& body) {
  lastRefusal = Refusal{};
  currentPath.clear();
  if (path != nullptr) {
    if (auto p = volumePathOf(path)) currentPath = std::move(*p);
  }
  QUILPlatform_SetLastError(0);
  // What only looks leaves the last listing's entries as they are.
  static constexpr std::string_view kLooking[] = {"getattr", "access", "opendir", "readdir", "releasedir",
                                                  "read",    "statfs", "flush",   "fsync"};
  const bool changing = std::find(std::begin(kLooking), std::end(kLooking), operation) == std::end(kLooking);
  if (changing) ++changes_;
  int rc = 0;
  try {
    rc = body();
  } catch (const std::bad_alloc&) {
    rc = refuseHere(ENOMEM);
  } catch (...) {
    rc = refuseHere(EIO);
  }
  if (changing) ++changes_;
  if (rc >= 0) return rc;
  const Refusal& r = lastRefusal;
  const std::string shown = currentPath.empty() ? std::string(path != nullptr ? path : "?") : utf8Of(currentPath);
  if (r.call == nullptr) {
    // The daemon's own answers (unsupported calls, names the volume cannot
    // hold) are part of normal use: only with -d.
    if (options_.debug) std::fprintf(stderr, "quilfs: %s %s: %s\n", operation, shown.c_str(), std::strerror(-rc));
    return rc;
  }
  // "Does it exist?" is asked all the time and answered "no" as often.
  if (rc == -ENOENT && std::strcmp(operation, "getattr") == 0 && !options_.debug) return rc;
  std::fprintf(stderr, "quilfs: %s %s: %s: %s -> %s\n", operation, shown.c_str(), r.call, describe(r).c_str(),
               std::strerror(-rc));
  return rc;
}

// The kernel sends the release of a closed file without waiting for it, so
// with several worker threads the next request of the same program (open
// another file for writing, rename or delete this one) can reach the
// library first and find the file still open. A refusal with EBUSY while a
// file whose descriptor was just closed awaits its release is tried again
// after each release, for at most kReleaseWait. A file really in use is
// refused at once.
// (A descriptor inherited by a child, closed when the child exits, looks
// the same: then the refusal comes kReleaseWait after that close.)
template <class Attempt>
int VolumeFs::retryAfterRelease(std::unique_lock<std::mutex>& lock, Attempt&& attempt) {
  for (;;) {
    const int rc = attempt();
    if (rc != -EBUSY || !options_.multithreaded) return rc;
    const auto deadline = releaseExpectedUntil();
    if (deadline <= std::chrono::steady_clock::now()) return rc;
    const uint64_t seen = releases_;
    if (!released_.wait_until(lock, deadline, [&] { return releases_ != seen; })) return rc;
  }
}

// A write open while a written file's descriptor is closed but its release
// has not come: the volume takes one writer at a time, so the open would
// be refused and tried again, leaving a failure in the operation log that
// no caller caused. It waits for that release first (bounded as above).
void VolumeFs::awaitWriterRelease(std::unique_lock<std::mutex>& lock) {
  if (!options_.multithreaded) return;
  const auto pending = [&] {
    for (const auto& [handle, file] : files_) {
      if (file.writable && file.closedAt != std::chrono::steady_clock::time_point{}) return true;
    }
    return false;
  };
  if (!pending()) return;
  released_.wait_until(lock, releaseExpectedUntil(), [&] { return !pending(); });
}

std::chrono::steady_clock::time_point VolumeFs::releaseExpectedUntil() const {
  std::chrono::steady_clock::time_point latest{};
  for (const auto& [handle, file] : files_) latest = std::max(latest, file.closedAt);
  return latest == std::chrono::steady_clock::time_point{} ? latest : latest + kReleaseWait;
}

VolumeFs::OpenFile* VolumeFs::fileOf(const fuse_file_info* fi) {
  if (fi == nullptr) return nullptr;
  const auto it = files_.find(static_cast<int32_t>(fi->fh));
  if (it == files_.end()) return nullptr;
  if (currentPath.empty()) currentPath = it->second.path;
  return &it->second;
}

int32_t VolumeFs::writerFor(const std::u16string& path) const {
  for (const auto& [handle, file] : files_) {
    if (file.writable && sameName(file.path, path)) return handle;
  }
  return -1;
}

int VolumeFs::pathOf(const char* path, const fuse_file_info* fi, std::u16string& out) {
  if (path != nullptr) {
    auto p = volumePathOf(path);
    if (!p) return refuseHere(ENOENT);
    // A name longer than a listing record carries can be neither made nor
    // found on the medium: too long, as POSIX says it.
    for (size_t start = 1; start <= p->size();) {
      const size_t end = std::min(p->find(u'\\', start), p->size());
      if (end - start > kNameUnits) return refuseHere(ENAMETOOLONG);
      start = end + 1;
    }
    out = std::move(*p);
    return 0;
  }
  // A file removed while open has no path any more: its own record tells.
  if (const OpenFile* f = fileOf(fi)) {
    out = f->path;
    return 0;
  }
  return refuseHere(EBADF);
}

// The directory entry of exactly this path: an enumeration of its own name.
int VolumeFs::findEntry(const std::u16string& path, FindData& found) {
  const std::u16string_view name = lastName(path);
  // Wildcards would list other entries; no name on the volume holds them.
  if (name.empty() || name.find_first_of(u"*?") != std::u16string_view::npos) return refuseHere(ENOENT);
  FindData entry{};
  const int32_t find = QUILAPI_FindFirstFile(0, path.c_str(), &entry);
  if (find == -1) return refuse("QUILAPI_FindFirstFile");
  bool matched = false;
  do {
    // The record holds 64 units of a name: a longer one compares by them.
    const std::u16string entryName = nameOf(entry);
    matched = name.size() >= kNameUnits ? sameName(name.substr(0, kNameUnits), entryName) : sameName(name, entryName);
    if (matched) found = entry;
  } while (!matched && QUILAPI_FindNextFile(find, &entry) != 0);
  QUILAPI_FindClose(find);
  return matched ? 0 : refuseHere(ENOENT);
}

VolumeFs::Entry VolumeFs::entryOf(const FindData& found) {
  Entry entry;
  entry.directory = (found.attributes & kAttributeDirectory) != 0;
  entry.readOnly = (found.attributes & kAttributeReadOnly) != 0;
  entry.size = found.size;
  entry.accessed = timespecOf(found.time2);
  entry.written = timespecOf(found.time3);
  // The medium keeps a creation time, not a change time: the later of
  // creation and last write stands in for it.
  const struct timespec created = timespecOf(found.time1);
  entry.changed = later(created, entry.written) ? created : entry.written;
  return entry;
}

// After the kernel has taken the mount's settings (it lowers the readahead
// to what it offered then, 128 KiB): only root may raise it, and a value a
// user set meanwhile is not lowered.
void VolumeFs::raiseReadahead() {
  const std::string& file = readaheadFile_;
  if (file.empty()) return;
  unsigned current = 0;
  if (FILE* in = std::fopen(file.c_str(), "re")) {
    if (std::fscanf(in, "%u", &current) != 1) current = 0;
    std::fclose(in);
  }
  if (current >= kReadaheadKiB) return;
  const std::string value = std::to_string(kReadaheadKiB);
  const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  const bool raised = fd >= 0 && ::write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
  const int error = errno;
  if (fd >= 0) ::close(fd);
  if (!raised && options_.debug) {
    std::fprintf(stderr, "quilfs: readahead stays at %u KiB: %s: %s\n", current, file.c_str(), std::strerror(error));
  }
}

int VolumeFs::lookup(const std::u16string& path, int32_t handle, Entry& entry) {
  FindData found{};
  const int rc = findEntry(path, found);
  // The size of a file being written is the writer's: the entry may lag.
  int32_t sizeFrom = writerFor(path);
  if (rc == 0) {
    entry = entryOf(found);
  } else {
    // A file just created, or removed while open, may have no entry: the
    // open handle answers for it.
    if (sizeFrom == -1) sizeFrom = handle;
    if (sizeFrom == -1) return rc;
    entry = Entry{};
    entry.accessed = entry.written = entry.changed = now();
  }
  if (sizeFrom != -1 && !entry.directory) {
    int64_t size = 0;
    if (QUILAPI_GetFileSize(sizeFrom, &size) == 0) return refuse("QUILAPI_GetFileSize");
    entry.size = size;
  }
  lastRefusal = Refusal{};
  return 0;
}

bool VolumeFs::listedEntry(const std::u16string& path, Entry& entry) const {
  if (listed_.generation != changes_.load() || std::chrono::steady_clock::now() - listed_.at > kAttributesKept) return false;
  const auto it = listed_.entries.find(path);
  // A file being written has the writer's size, not the entry's.
  if (it == listed_.entries.end() || writerFor(path) != -1) return false;
  entry = it->second;
  return true;
}

bool VolumeFs::writeProtected() const {
  uint32_t status = 0;
  uint32_t flags = 0;
  return options_.readOnly || (QUILAPI_GetVolumeInformation(0, &status, &flags) != 0 && flags != 0);
}

void VolumeFs::fill(const Entry& entry, struct stat* st) const {
  std::memset(st, 0, sizeof *st);
  const bool noWrite = entry.readOnly;
  st->st_mode = entry.directory ? (S_IFDIR | (noWrite ? 0555 : 0755)) : (S_IFREG | (noWrite ? 0444 : 0644));
  st->st_nlink = 1;  // "unknown" for a folder: find must not count subfolders by it
  st->st_uid = owner_;
  st->st_gid = group_;
  st->st_size = entry.directory ? 0 : entry.size;
  st->st_blksize = kBlock;
  st->st_blocks = (st->st_size + 511) / 512;
  st->st_atim = entry.accessed;
  st->st_mtim = entry.written;
  st->st_ctim = entry.changed;
}

void* VolumeFs::init(fuse_conn_info* conn, fuse_config* config) {
  conn->max_write = kBlock;
  conn->max_read = kBlock;  // matches the max_read mount option main gives
  conn->max_readahead = kBlock;
  // O_TRUNC arrives with the open, to become "create always".
  if ((conn->capable & FUSE_CAP_ATOMIC_O_TRUNC) != 0) conn->want |= FUSE_CAP_ATOMIC_O_TRUNC;
  conn->want &= ~FUSE_CAP_WRITEBACK_CACHE;  // every write reaches the library when it is made
  // Whether the pages of a file stay is decided at its open (keepCache);
  // the kernel would otherwise drop them whenever a file's time moves, as
  // it does after every write through the mount.
  conn->want &= ~FUSE_CAP_AUTO_INVAL_DATA;
  // Removing an open file: libfuse renames it to a hidden name, which the
  // daemon turns into the delete itself (the library decides whether it
  // may) and keeps off the medium; the open file stays reachable, for fstat
  // too (see hideUnlinked).
  config->hard_remove = 0;
  // Calls on an open file (read, write, flush, release) come without a
  // path, so they take no lock on it: a release the kernel sent while the
  // same program's unlink or rename of that file is waiting for it (see
  // retryAfterRelease) would otherwise queue behind that very request.
  config->nullpath_ok = 1;
  config->use_ino = 0;
  config->kernel_cache = 0;
  config->auto_cache = 0;
  config->direct_io = 0;
  config->entry_timeout = 1.0;
  config->attr_timeout = static_cast<double>(kAttributesKept.count());
  config->negative_timeout = 0.0;
  return this;
}

int VolumeFs::getattr(const char* path, struct stat* st, fuse_file_info* fi) {
  return run("getattr", path, [&] {
    std::unique_lock<std::mutex> lock(mutex_);
    std::u16string p;
    if (const int rc = pathOf(path, fi, p)) return rc;
    Entry entry;
    bool unlinked = false;
    if (p == u"\\") {
      entry.directory = true;
      entry.accessed = entry.written = entry.changed = mountedAt_;
    } else if (const auto hidden = hidden_.find(p); hidden != hidden_.end()) {
      // An unlinked file still open: what its handle says, with no link left.
      int64_t size = 0;
      if (hidden->second != -1 && QUILAPI_GetFileSize(hidden->second, &size) == 0) {
        return refuse("QUILAPI_GetFileSize");
      }
      entry.size = size;
      entry.accessed = entry.written = entry.changed = now();
      unlinked = true;
    } else if (isHiddenName(p)) {
      return refuseHere(ENOENT);  // libfuse looking for a free hidden name
    } else {
      const OpenFile* f = fileOf(fi);
      if (f != nullptr || !listedEntry(p, entry)) {
        if (const int rc = lookup(p, f != nullptr ? static_cast<int32_t>(fi->fh) : -1, entry)) return rc;
      }
      unlinked = f != nullptr && f->unlinked;
    }
    if (writeProtected()) entry.readOnly = true;
    fill(entry, st);
    if (unlinked) st->st_nlink = 0;
    return 0;
  });
}

// access(2): what the modes getattr shows allow (no permission is checked
// on the mount otherwise; the library refuses what it refuses).
int VolumeFs::access(const char* path, int mask) {
  return run("access", path, [&] {
    std::unique_lock<std::mutex> lock(mutex_);
    std::u16string p;
    if (const int rc = pathOf(path, nullptr, p)) return rc;
    Entry entry;
    if (p == u"\\") {
      entry.directory = true;
    } else if (const int rc = lookup(p, -1, entry)) {
      return rc;
    }
    if ((mask & W_OK) != 0 && writeProtected()) return refuseHere(EROFS);
    if ((mask & W_OK) != 0 && entry.readOnly) return refuseHere(EACCES);
    if ((mask & X_OK) != 0 && !entry.directory) return refuseHere(EACCES);
    return 0;
  });
}

int VolumeFs::opendir(const char* path, fuse_file_info* fi) {
  return run("opendir", path, [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    std::u16string p;
    if (const int rc = pathOf(path, nullptr, p)) return rc;
    fi->fh = nextFolder_++;
    folders_.emplace(fi->fh, std::move(p));
    return 0;
  });
}

int VolumeFs::releasedir(fuse_file_info* fi) {
  std::lock_guard<std::mutex> lock(mutex_);
  folders_.erase(fi->fh);
  return 0;
}

int VolumeFs::readdir(const char* path, void* buffer, fuse_fill_dir_t filler, fuse_readdir_flags flags,
                      fuse_file_info* fi) {
  return run("readdir", path, [&] {
    std::unique_lock<std::mutex> lock(mutex_);
    std::u16string p;
    if (path != nullptr) {
      if (const int rc = pathOf(path, nullptr, p)) return rc;
    } else if (const auto it = folders_.find(fi->fh); it != folders_.end()) {
      p = it->second;
      currentPath = p;
    } else {
      return refuseHere(EBADF);
    }
    const std::u16string prefix = p == u"\\" ? p : p + u"\\";  // of every entry's volume path
    const std::u16string pattern = prefix + u"*";
    Listing listing;
    listing.generation = changes_.load();
    listing.at = std::chrono::steady_clock::now();
    const auto fillFlags = (flags & FUSE_READDIR_PLUS) != 0 ? FUSE_FILL_DIR_PLUS : static_cast<fuse_fill_dir_flags>(0);
    filler(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    filler(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    FindData found{};
    const int32_t find = QUILAPI_FindFirstFile(0, pattern.c_str(), &found);
    if (find == -1) {
      const int rc = refuse("QUILAPI_FindFirstFile");
      // Nothing matches "*" in an empty folder.
      return rc == -ENOENT ? 0 : rc;
    }
    const bool protectedVolume = writeProtected();
    do {
      Entry entry = entryOf(found);
      listing.entries.emplace(prefix + nameOf(found), entry);
      entry.readOnly = entry.readOnly || protectedVolume;
      struct stat st;
      fill(entry, &st);
      if (filler(buffer, utf8Of(nameOf(found)).c_str(), &st, 0, fillFlags) != 0) break;
    } while (QUILAPI_FindNextFile(find, &found) != 0);
    QUILAPI_FindClose(find);
    listed_ = std::move(listing);
    return 0;
  });
}

int VolumeFs::openFile(const std::u16string& path, int flags, uint32_t disposition, uint32_t attributes,
                       fuse_file_info* fi, bool mayKeepCache) {
  const uint32_t access = accessOf(flags);
  std::call_once(readaheadRaised_, [this] { raiseReadahead(); });
  std::unique_lock<std::mutex> lock(mutex_);
  if ((access & kWrite) != 0) awaitWriterRelease(lock);
  int32_t handle = -1;
  const int rc = retryAfterRelease(lock, [&] {
    handle = QUILAPI_CreateFile(0, path.c_str(), access, kShareAll, nullptr, disposition, attributes, nullptr);
    return handle == -1 ? refuse("QUILAPI_CreateFile") : 0;
  });
  if (rc != 0) return rc;
  OpenFile file;
  file.path = path;
  file.readable = (access & kRead) != 0;
  file.writable = (access & kWrite) != 0;
  files_[handle] = std::move(file);
  fi->fh = static_cast<uint64_t>(handle);
  fi->keep_cache = mayKeepCache && keepCache(path, handle) ? 1 : 0;
  fi->direct_io = 0;
  return 0;
}

int VolumeFs::open(const char* path, fuse_file_info* fi) {
  return run("open", path, [&] {
    std::u16string p;
    if (const int rc = pathOf(path, nullptr, p)) return rc;
    // The file exists (the kernel looked it up): O_TRUNC empties it.
    const bool truncating = (fi->flags & O_TRUNC) != 0;
    return openFile(p, fi->flags, truncating ? kCreateAlways : kOpenExisting, 0, fi, !truncating);
  });
}

int VolumeFs::create(const char* path, mode_t mode, fuse_file_info* fi) {
  return run("create", path, [&] {
    auto p = volumePathOf(path);
    if (!p) return refuseHere(EINVAL);
    const int flags = fi->flags;
    uint32_t disposition = (flags & O_EXCL) != 0 ? kCreateNew : (flags & O_TRUNC) != 0 ? kCreateAlways : kOpenAlways;
    // A clip or component is recorded once, always as a new file.
    if (isRecordedEssence(*p)) disposition = kCreateNew;
    // A user-data file created without any write bit is made read-only;
    // its creator still writes it through this descriptor.
    const uint32_t attributes = isUserArea(*p) && (mode & 0222) == 0 ? kAttributeReadOnly : 0;
    return openFile(*p, flags, disposition, attributes, fi);
  });
}

int VolumeFs::mknod(const char* path, mode_t mode) {
  return run("mknod", path, [&] {
    if (!S_ISREG(mode)) return refuseHere(EPERM);  // no devices, pipes or sockets on a disc
    fuse_file_info fi{};
    fi.flags = O_WRONLY | O_CREAT | O_EXCL;
    auto p = volumePathOf(path);
    if (!p) return refuseHere(EINVAL);
    const uint32_t attributes = isUserArea(*p) && (mode & 0222) == 0 ? kAttributeReadOnly : 0;
    if (const int rc = openFile(*p, fi.flags, kCreateNew, attributes, &fi)) return rc;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto handle = static_cast<int32_t>(fi.fh);
    files_.erase(handle);
    return QUILAPI_CloseHandle(handle) == 0 ? refuse("QUILAPI_CloseHandle") : 0;
  });
}

int VolumeFs::seekTo(int32_t handle, OpenFile& file, off_t offset) {
  if (file.position == offset) return 0;
  int64_t position = -1;
  if (QUILAPI_SetFilePointer(handle, offset, &position, kFromStart) == 0) {
    file.position = -1;
    return refuse("QUILAPI_SetFilePointer");
  }
  file.position = position;
  return 0;
}

int VolumeFs::read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  return run("read", path, [&]() -> int {
    std::lock_guard<std::mutex> lock(mutex_);
    OpenFile* file = fileOf(fi);
    if (file == nullptr) return refuseHere(EBADF);
    const auto handle = static_cast<int32_t>(fi->fh);
    if (file->confirmsCache) confirmCache(handle, *file);
    if (const int rc = seekTo(handle, *file, offset)) return rc;
    size_t done = 0;
    // The kernel wants the whole request unless the file ends first.
    while (done < size) {
      uint32_t got = 0;
      if (QUILAPI_ReadFile(handle, buffer + done, static_cast<uint32_t>(std::min<size_t>(size - done, kBlock)), &got) ==
          0) {
        file->position = -1;
        if (done > 0) break;  // the next read meets the failure again
        return refuse("QUILAPI_ReadFile");
      }
      if (got == 0) break;
      done += got;
      file->position += got;
    }
    return static_cast<int>(done);
  });
}

int VolumeFs::write(const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  return run("write", path, [&]() -> int {
    std::lock_guard<std::mutex> lock(mutex_);
    OpenFile* file = fileOf(fi);
    if (file == nullptr) return refuseHere(EBADF);
    const auto handle = static_cast<int32_t>(fi->fh);
    if (const int rc = seekTo(handle, *file, offset)) return rc;
    file->changed = true;
    size_t done = 0;
    while (done < size) {
      const auto wanted = static_cast<uint32_t>(std::min<size_t>(size - done, kBlock));
      uint32_t put = 0;
      if (QUILAPI_WriteFile(handle, buffer + done, wanted, &put) == 0) {
        const int rc = refuse("QUILAPI_WriteFile");
        // A disc that fills keeps what fits and fails the call without a
        // count: the file pointer tells how much landed, which the caller
        // gets as a short write (the next write meets the failure).
        int64_t at = -1;
        file->position = QUILAPI_SetFilePointer(handle, 0, &at, kFromCurrent) != 0 ? at : -1;
        const int64_t landed = file->position - (offset + static_cast<int64_t>(done));
        if (file->position >= 0 && landed > 0 && landed < wanted) done += static_cast<size_t>(landed);
        if (done > 0) break;
        return rc;
      }
      done += put;
      file->position += put;
      // The drive stopped a recording (size or duration full): the rest is
      // not taken, and the writer sees a short write.
      if (put < wanted) break;
    }
    return static_cast<int>(done);
  });
}

int VolumeFs::resize(int32_t handle, OpenFile& file, off_t size) {
  file.changed = true;
  if (isUserArea(file.path)) {
    if (const int rc = seekTo(handle, file, size)) return rc;
    if (QUILAPI_SetEndOfFile(handle) == 0) return refuse("QUILAPI_SetEndOfFile");
    return 0;
  }
  file.position = -1;  // the pointer of an AV-tree file after a size change is the writer's
  return QUILAPI_SetFileSize(handle, size) == 0 ? refuse("QUILAPI_SetFileSize") : 0;
}

// Runs a change that needs a handle with write access: the given one, the
// one of the file being written through the mount, or one opened for the
// change alone.
template <class Change>
int VolumeFs::withWriter(std::unique_lock<std::mutex>& lock, const std::u16string& path, int32_t handle,
                         Change&& change) {
  if (handle == -1) handle = writerFor(path);
  if (handle != -1) return change(handle, files_.at(handle));
  awaitWriterRelease(lock);
  int32_t temporary = -1;
  int rc = retryAfterRelease(lock, [&] {
    temporary = QUILAPI_CreateFile(0, path.c_str(), kWrite, kShareAll, nullptr, kOpenExisting, 0, nullptr);
    return temporary == -1 ? refuse("QUILAPI_CreateFile") : 0;
  });
  if (rc != 0) return rc;
  OpenFile file;
  file.path = path;
  file.writable = true;
  rc = change(temporary, file);
  if (QUILAPI_CloseHandle(temporary) == 0 && rc == 0) rc = refuse("QUILAPI_CloseHandle");
  return rc;
}

int VolumeFs::truncate(const char* path, off_t size, fuse_file_info* fi) {
  return run("truncate", path, [&] {
    std::unique_lock<std::mutex> lock(mutex_);
    std::u16string p;
    if (const int rc = pathOf(path, fi, p)) return rc;
    const OpenFile* file = fileOf(fi);
    int32_t handle = file != nullptr && file->writable ? static_cast<int32_t>(fi->fh) : writerFor(p);
    // A recorded clip is never opened again for writing.
    if (handle == -1 && isRecordedEssence(p)) return refuseHere(EPERM);
    return withWriter(lock, p, handle, [&](int32_t h, OpenFile& f) { return resize(h, f, size); });
  });
}

int VolumeFs::utimens(const char* path, const struct timespec times[2], fuse_file_info* fi) {
  return run("utimens", path, [&] {
    std::unique_lock<std::mutex> lock(mutex_);
    std::u16string p;
    if (const int rc = pathOf(path, fi, p)) return rc;
    if (times[0].tv_nsec == UTIME_OMIT && times[1].tv_nsec == UTIME_OMIT) return 0;
    // Only user-data and general files keep times a caller sets.
    if (!isUserArea(p)) return refuseHere(EPERM);
    const int64_t accessed = fileTimeArgument(times[0]);
    const int64_t written = fileTimeArgument(times[1]);
    const OpenFile* file = fileOf(fi);
    const int32_t handle = file != nullptr && file->writable ? static_cast<int32_t>(fi->fh) : writerFor(p);
    if (handle == -1) {
      // Times are set through a file handle, which a folder has not.
      Entry entry;
      if (const int rc = lookup(p, -1, entry)) return rc;
      if (entry.directory) return refuseHere(EPERM);
    }
    return withWriter(lock, p, handle, [&](int32_t h, OpenFile&) {
      // Creation 0: left as it is.
      return QUILAPI_SetFileTime(h, 0, accessed, written) == 0 ? refuse("QUILAPI_SetFileTime") : 0;
    });
  });
}

int VolumeFs::chmod(const char* path, mode_t mode, fuse_file_info* fi) {
  return run("chmod", path, [&] {
    std::unique_lock<std::mutex> lock(mutex_);
    std::u16string p;
    if (const int rc = pathOf(path, fi, p)) return rc;
    // The volume keeps one bit: read-only (a locked clip or component, a
    // read-only user-data file). Other mode bits have nowhere to live.
    const bool wantReadOnly = (mode & 0222) == 0;
    Entry entry;
    if (p == u"\\") {
      entry.directory = true;
    } else if (const int rc = lookup(p, -1, entry)) {
      return rc;
    }
    if (wantReadOnly == entry.readOnly) return 0;
    if (entry.directory) return refuseHere(EPERM);
    return retryAfterRelease(lock, [&] {
      const uint32_t attributes = wantReadOnly ? kAttributeReadOnly : kAttributeNormal;
      return QUILAPI_SetFileAttributes(0, p.c_str(), attributes) == 0 ? refuse("QUILAPI_SetFileAttributes") : 0;
    });
  });
}

int VolumeFs::chown(const char* path, uid_t uid, gid_t gid, fuse_file_info*) {
  return run("chown", path, [&] {
    // The volume keeps no owners: everything belongs to the daemon's user,
    // and only that answer is accepted.
    const bool sameOwner = uid == static_cast<uid_t>(-1) || uid == owner_;
    const bool sameGroup = gid == static_cast<gid_t>(-1) || gid == group_;
    return sameOwner && sameGroup ? 0 : refuseHere(EPERM);
  });
}

int VolumeFs::deleteAndForget(const std::u16string& p, std::unique_lock<std::mutex>& lock) {
  const int rc = retryAfterRelease(lock, [&] {
    return QUILAPI_DeleteFile(0, p.c_str()) == 0 ? refuse("QUILAPI_DeleteFile") : 0;
  });
  if (rc != 0) return rc;
  forgetCache(p);
  for (auto& [handle, file] : files_) {
    if (sameName(file.path, p)) file.unlinked = true;
  }
  return 0;
}

int VolumeFs::unlink(const char* path) {
  return run("unlink", path, [&] {
    std::unique_lock<std::mutex> lock(mutex_);
    std::u16string p;
    if (const int rc = pathOf(path, nullptr, p)) return rc;
    // The last release of a hidden file: the file went from the medium when
    // it was unlinked (or goes when its writer closes).
    if (hidden_.erase(p) != 0) return 0;
    return deleteAndForget(p, lock);
  });
}

// libfuse keeps an open file that is unlinked reachable by renaming it to a
// hidden name in its folder, and unlinks that name at the last release.
// Here that rename is the unlink, and the hidden name lives in the daemon
// only: nothing of it reaches the medium or its listings.
int VolumeFs::hideUnlinked(const std::u16string& source, const std::u16string& hidden,
                           std::unique_lock<std::mutex>& lock) {
  if (const int rc = deleteAndForget(source, lock)) return rc;
  // The handle that answers for it; -1 when its release came meanwhile
  // (the kernel had not sent it yet when libfuse chose to hide the file).
  int32_t open = -1;
  for (const auto& [handle, file] : files_) {
    if (sameName(file.path, source)) open = handle;
  }
  hidden_[hidden] = open;
  return 0;
}

int VolumeFs::rename(const char* from, const char* to, unsigned int flags) {
  // libfuse hiding an unlinked open file: the user asked for an unlink, and
  // the daemon's messages say so.
  if (const auto hidden = volumePathOf(to != nullptr ? to : ""); hidden && isHiddenName(*hidden)) {
    return run("unlink", from, [&] {
      std::unique_lock<std::mutex> lock(mutex_);
      std::u16string source;
      if (const int rc = pathOf(from, nullptr, source)) return rc;
      return hideUnlinked(source, *hidden, lock);
    });
  }
  return run("rename", from, [&] {
    if ((flags & ~static_cast<unsigned int>(RENAME_NOREPLACE)) != 0) return refuseHere(EINVAL);
    std::unique_lock<std::mutex> lock(mutex_);
    std::u16string source;
    if (const int rc = pathOf(from, nullptr, source)) return rc;
    std::u16string targetPath;
    if (const int rc = pathOf(to, nullptr, targetPath)) return rc;
    const auto target = std::optional<std::u16string>(targetPath);
    if (areaOf(source) != areaOf(*target)) return refuseHere(EXDEV);
    const bool noReplace = (flags & RENAME_NOREPLACE) != 0;
    // A folder onto a folder: POSIX replaces an empty one (the medium has no
    // such rename, so the empty folder is removed first, which is not
    // atomic) and refuses one that holds anything (ENOTEMPTY).
    if (!noReplace && isUserArea(source) && !sameName(source, *target)) {
      FindData from{}, onto{};
      if (findEntry(source, from) == 0 && (from.attributes & kAttributeDirectory) != 0 &&
          findEntry(*target, onto) == 0 && (onto.attributes & kAttributeDirectory) != 0) {
        if (QUILAPI_RemoveDirectory(0, target->c_str()) == 0) return refuse("QUILAPI_RemoveDirectory");
      }
      lastRefusal = Refusal{};
    }
    if (noReplace && !sameName(source, *target)) {
      FindData existing{};
      const int rc = findEntry(*target, existing);
      if (rc == 0 || writerFor(*target) != -1) return refuseHere(EEXIST);
      if (rc != -ENOENT) return rc;
    }
    const int rc = retryAfterRelease(lock, [&] {
      // A rename replaces what the new name held, as rename(2) does; the
      // library does that for user-data and general files only.
      if (isUserArea(source)) {
        const uint32_t moveFlags = noReplace ? 0 : kMoveReplaceExisting;
        return QUILAPI_MoveFileEx(0, source.c_str(), target->c_str(), moveFlags) == 0 ? refuse("QUILAPI_MoveFileEx")
                                                                                      : 0;
      }
      return QUILAPI_MoveFile(0, source.c_str(), target->c_str()) == 0 ? refuse("QUILAPI_MoveFile") : 0;
    });
    if (rc != 0) return rc;
    forgetCache(source);
    forgetCache(*target);
    for (auto& [handle, file] : files_) {
      if (isAtOrBelow(file.path, source)) {
        file.path = *target + file.path.substr(source.size());
      } else if (isAtOrBelow(file.path, *target)) {
        file.unlinked = true;  // replaced
      }
    }
    return 0;
  });
}

int VolumeFs::mkdir(const char* path) {
  return run("mkdir", path, [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    auto p = volumePathOf(path);
    if (!p) return refuseHere(EINVAL);
    return QUILAPI_CreateDirectory(0, p->c_str(), nullptr) == 0 ? refuse("QUILAPI_CreateDirectory") : 0;
  });
}

int VolumeFs::rmdir(const char* path) {
  return run("rmdir", path, [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    std::u16string p;
    if (const int rc = pathOf(path, nullptr, p)) return rc;
    return QUILAPI_RemoveDirectory(0, p.c_str()) == 0 ? refuse("QUILAPI_RemoveDirectory") : 0;
  });
}

int VolumeFs::statfs(struct statvfs* st) {
  return run("statfs", "/", [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t total = 0;
    uint64_t free = 0;
    if (QUILAPI_GetVolumeCapacity(0, &total, &free) == 0) return refuse("QUILAPI_GetVolumeCapacity");
    constexpr unsigned kFragment = 4096;
    std::memset(st, 0, sizeof *st);
    st->f_bsize = kBlock;
    st->f_frsize = kFragment;
    st->f_blocks = total / kFragment;
    st->f_bfree = free / kFragment;
    st->f_bavail = free / kFragment;
    st->f_namemax = kNameUnits;  // what a listing record carries
    return 0;
  });
}

int VolumeFs::flush(fuse_file_info* fi) {
  return run("flush", nullptr, [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    OpenFile* file = fileOf(fi);
    if (file == nullptr) return 0;
    if (file->confirmsCache) confirmCache(static_cast<int32_t>(fi->fh), *file);
    // Every write already reached the library, which failed it there if it
    // failed: a close has nothing to add. Making the bytes durable is what
    // fsync asks for, as on any Linux file system; a flush of the whole
    // disc at every close would cost each small file a sync.
    // A descriptor was closed: the release usually follows (see
    // retryAfterRelease). The wait for it counts from here.
    file->closedAt = std::chrono::steady_clock::now();
    return 0;
  });
}

int VolumeFs::fsync(fuse_file_info* /*fi*/) {
  return run("fsync", nullptr, [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    return QUILAPI_FlushVolume(0) == 0 ? refuse("QUILAPI_FlushVolume") : 0;
  });
}

int VolumeFs::unsupported(const char* operation, const char* path, int error) {
  return run(operation, path, [&] { return refuseHere(error); });
}

int VolumeFs::release(fuse_file_info* fi) {
  return run("release", nullptr, [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    OpenFile* file = fileOf(fi);
    if (file == nullptr) return 0;
    const auto handle = static_cast<int32_t>(fi->fh);
    if (file->confirmsCache) confirmCache(handle, *file);
    // The kernel does not wait for this answer: a failure to close (a
    // written file the writer could not finish) is only reported here.
    const int rc = QUILAPI_CloseHandle(handle) == 0 ? refuse("QUILAPI_CloseHandle") : 0;
    if (file->changed) {
      if (rc == 0) {
        recordWritten(*file);
      } else {
        forgetCache(file->path);
      }
    }
    files_.erase(handle);
    ++releases_;
    released_.notify_all();
    return rc;
  });
}

// ---------------------------------------------------------------------------
// The table for libfuse.

const fuse_operations& VolumeFs::operations() {
  static const fuse_operations table = [] {
    fuse_operations ops{};
    ops.init = [](fuse_conn_info* conn, fuse_config* config) { return self()->init(conn, config); };
    ops.destroy = [](void* data) { static_cast<VolumeFs*>(data)->closeVolume(); };
    ops.getattr = [](const char* path, struct stat* st, fuse_file_info* fi) { return self()->getattr(path, st, fi); };
    ops.access = [](const char* path, int mask) { return self()->access(path, mask); };
    ops.opendir = [](const char* path, fuse_file_info* fi) { return self()->opendir(path, fi); };
    ops.readdir = [](const char* path, void* buffer, fuse_fill_dir_t filler, off_t, fuse_file_info* fi,
                     fuse_readdir_flags flags) { return self()->readdir(path, buffer, filler, flags, fi); };
    ops.releasedir = [](const char*, fuse_file_info* fi) { return self()->releasedir(fi); };
    ops.open = [](const char* path, fuse_file_info* fi) { return self()->open(path, fi); };
    ops.create = [](const char* path, mode_t mode, fuse_file_info* fi) { return self()->create(path, mode, fi); };
    ops.mknod = [](const char* path, mode_t mode, dev_t) { return self()->mknod(path, mode); };
    ops.read = [](const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
      return self()->read(path, buffer, size, offset, fi);
    };
    ops.write = [](const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
      return self()->write(path, buffer, size, offset, fi);
    };
    ops.truncate = [](const char* path, off_t size, fuse_file_info* fi) { return self()->truncate(path, size, fi); };
    ops.utimens = [](const char* path, const struct timespec times[2], fuse_file_info* fi) {
      return self()->utimens(path, times, fi);
    };
    ops.chmod = [](const char* path, mode_t mode, fuse_file_info* fi) { return self()->chmod(path, mode, fi); };
    ops.chown = [](const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
      return self()->chown(path, uid, gid, fi);
    };
    ops.unlink = [](const char* path) { return self()->unlink(path); };
    ops.rename = [](const char* from, const char* to, unsigned int flags) { return self()->rename(from, to, flags); };
    ops.mkdir = [](const char* path, mode_t) { return self()->mkdir(path); };
    ops.rmdir = [](const char* path) { return self()->rmdir(path); };
    ops.statfs = [](const char*, struct statvfs* st) { return self()->statfs(st); };
    ops.flush = [](const char*, fuse_file_info* fi) { return self()->flush(fi); };
    ops.fsync = [](const char*, int, fuse_file_info* fi) { return self()->fsync(fi); };
    ops.release = [](const char*, fuse_file_info* fi) { return self()->release(fi); };
    // What a disc cannot hold: links, special files, extended attributes.
    ops.link = [](const char* from, const char*) { return self()->unsupported("link", from, EPERM); };
    ops.symlink = [](const char*, const char* to) { return self()->unsupported("symlink", to, EPERM); };
    ops.readlink = [](const char* path, char*, size_t) { return self()->unsupported("readlink", path, ENOTSUP); };
    ops.setxattr = [](const char* path, const char*, const char*, size_t, int) {
      return self()->unsupported("setxattr", path, ENOTSUP);
    };
    // Reading, listing and removing extended attributes are left unset:
    // libfuse answers ENOSYS, after which the kernel answers ENOTSUP itself
    // and stops asking. Otherwise every write would cost a round trip to
    // the daemon first, for the kernel's check of a security.capability
    // attribute to clear.
    return ops;
  }();
  return table;
}

}  // namespace quilfs
