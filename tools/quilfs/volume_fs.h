// The volume as a file system: each FUSE operation of the high-level
// libfuse 3 interface done with the library's exports, one caller at a
// time, with the library's refusals turned into errno values.
#pragma once

#ifndef FUSE_USE_VERSION
#define FUSE_USE_VERSION 312
#endif
#include <fuse.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "quil/quilcoreapi.h"

namespace quilfs {

struct MountOptions {
  bool readOnly = false;      // -o ro: the volume is opened write-protected too
  bool multithreaded = true;  // FUSE's multithreaded loop (not -s)
  bool debug = false;         // -d: also report what the daemon refuses on its own
};

// Clears the failed library call this thread's operation would report.
void forgetRefusal();

class VolumeFs {
 public:
  explicit VolumeFs(MountOptions options);
  VolumeFs(const VolumeFs&) = delete;
  VolumeFs& operator=(const VolumeFs&) = delete;

  // The table for fuse_new; its private data must be this object.
  static const fuse_operations& operations();

  // Opens the volume at rootPath ("E:", or "Q:" for a disc folder reached
  // through a private drive folder); shown names it in messages. On failure
  // the library's code and text are written to standard error.
  bool openVolume(const std::u16string& rootPath, const std::string& shown);
  // Closes every file the kernel left open, then the volume. False when
  // anything failed to close; does nothing the second time.
  bool closeVolume();
  // The mount's read_ahead_kb in /sys/class/bdi, raised at the first open;
  // set before the loop starts.
  void setReadaheadFile(std::string file) { readaheadFile_ = std::move(file); }

  void* init(fuse_conn_info* conn, fuse_config* config);
  int getattr(const char* path, struct stat* st, fuse_file_info* fi);
  int access(const char* path, int mask);
  int opendir(const char* path, fuse_file_info* fi);
  int readdir(const char* path, void* buffer, fuse_fill_dir_t filler, fuse_readdir_flags flags, fuse_file_info* fi);
  int releasedir(fuse_file_info* fi);
  int open(const char* path, fuse_file_info* fi);
  int create(const char* path, mode_t mode, fuse_file_info* fi);
  int mknod(const char* path, mode_t mode);
  int read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi);
  int write(const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* fi);
  int truncate(const char* path, off_t size, fuse_file_info* fi);
  int utimens(const char* path, const struct timespec times[2], fuse_file_info* fi);
  int chmod(const char* path, mode_t mode, fuse_file_info* fi);
  int chown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi);
  int unlink(const char* path);
  int rename(const char* from, const char* to, unsigned int flags);
  int mkdir(const char* path);
  int rmdir(const char* path);
  int statfs(struct statvfs* st);
  int flush(fuse_file_info* fi);
  int fsync(fuse_file_info* fi);
  int release(fuse_file_info* fi);
  // Links, special files and extended attributes: the answer, with a
  // message under -d.
  int unsupported(const char* operation, const char* path, int error);

 private:
  // A file the kernel has open: one library handle per FUSE open.
  struct OpenFile {
    std::u16string path;  // follows renames made through the mount
    bool readable = false;
    bool writable = false;
    int64_t position = 0;         // the library's file pointer; -1 when unknown
    bool changed = false;         // written or resized through this handle
    bool unlinked = false;        // removed (or replaced) through the mount while open
    bool confirmsCache = false;   // its next request makes the record its open made trusted
    std::chrono::steady_clock::time_point closedAt{};  // a descriptor of it was closed
  };

  // What a directory entry says of a file's contents: when any of these
  // differs, the contents may have changed.
  struct Stamp {
    int64_t size = 0;
    struct timespec created {};
    struct timespec written {};
    bool operator==(const Stamp& other) const;
  };
  // What the kernel's pages of a file hold, by the exact path the kernel
  // opened it by: another spelling of a name is another inode with pages of
  // its own.
  struct Cached {
    Stamp stamp;             // the entry the pages were read or written at
    bool trusted = false;    // the kernel may keep them at an open that finds this stamp
    bool settled = false;    // no later change can leave the stamp's times as they are
    int32_t confirmBy = -1;  // trusted (when settled) once this handle's next request arrives
  };

  // What one lookup tells getattr and chmod.
  struct Entry {
    bool directory = false;
    bool readOnly = false;
    int64_t size = 0;
    struct timespec accessed {};
    struct timespec written {};
    struct timespec changed {};
  };

  template <class Body>
  int run(const char* operation, const char* path, Body&& body);
  template <class Attempt>
  int retryAfterRelease(std::unique_lock<std::mutex>& lock, Attempt&& attempt);
  // Until when a release of a file whose descriptor was closed is awaited.
  std::chrono::steady_clock::time_point releaseExpectedUntil() const;
  void awaitWriterRelease(std::unique_lock<std::mutex>& lock);

  OpenFile* fileOf(const fuse_file_info* fi);
  int32_t writerFor(const std::u16string& path) const;
  int pathOf(const char* path, const fuse_file_info* fi, std::u16string& out);
  static Entry entryOf(const FindData& found);
  int findEntry(const std::u16string& path, FindData& found);
  int lookup(const std::u16string& path, int32_t handle, Entry& entry);
  void fill(const Entry& entry, struct stat* st) const;
  bool writeProtected() const;
  int seekTo(int32_t handle, OpenFile& file, off_t offset);
  int resize(int32_t handle, OpenFile& file, off_t size);
  int openFile(const std::u16string& path, int flags, uint32_t disposition, uint32_t attributes,
               fuse_file_info* fi, bool mayKeepCache = false);
  static Stamp stampOf(const FindData& found);
  static bool settled(const Stamp& stamp);
  bool keepCache(const std::u16string& path, int32_t handle);
  void confirmCache(int32_t handle, OpenFile& file);
  void recordWritten(const OpenFile& file);
  void forgetCache(const std::u16string& path);
  void raiseReadahead();
  template <class Change>
  int withWriter(std::unique_lock<std::mutex>& lock, const std::u16string& path, int32_t handle, Change&& change);

  MountOptions options_;
  std::string shownRoot_;
  bool volumeOpen_ = false;
  bool closedCleanly_ = true;
  struct timespec mountedAt_ {};
  uid_t owner_;
  gid_t group_;

  std::mutex mutex_;  // held around every call into the library
  std::map<int32_t, OpenFile> files_;
  // The folders the kernel has open, by the number given at opendir:
  // reading a folder's entries comes without a path.
  std::map<uint64_t, std::u16string> folders_;
  uint64_t nextFolder_ = 1;
  std::map<std::u16string, Cached> cached_;  // by folded path, a NUL, then the spelling
  // Open files unlinked through the mount, by the name libfuse hid them
  // under (".fuse_hidden..."): that name exists in the daemon only.
  std::map<std::u16string, int32_t> hidden_;
  int hideUnlinked(const std::u16string& source, const std::u16string& hidden, std::unique_lock<std::mutex>& lock);
  int deleteAndForget(const std::u16string& path, std::unique_lock<std::mutex>& lock);
  // The entries the last readdir gave, by volume path, for the stat of
  // each entry that usually follows it (ls -l; libfuse asks getattr for
  // every entry of a listing too). They answer getattr for as long as the
  // kernel itself keeps attributes (attr_timeout), and only while nothing
  // changed through the mount: every operation that may change something
  // moves changes_ before and after it.
  struct Listing {
    uint64_t generation = 0;
    std::chrono::steady_clock::time_point at{};
    std::unordered_map<std::u16string, Entry> entries;
  };
  Listing listed_;
  std::atomic<uint64_t> changes_{0};
  bool listedEntry(const std::u16string& path, Entry& entry) const;
  std::string readaheadFile_;
  std::once_flag readaheadRaised_;
  uint64_t releases_ = 0;
  std::condition_variable released_;
};

}  // namespace quilfs
