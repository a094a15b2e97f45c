// What every process that works on one disc shares with the others: the
// files open on it with their access and share modes, and its space
// account. On the drive this is the file system's own state, seen by every
// process of the machine; here it is a shared memory segment named after
// the disc folder's device and inode, so that one disc reached through two
// paths or links is one disc.
//
// A process that dies holding entries leaves nothing that blocks the next:
// the table's mutex is robust (a dead holder's is taken over), the
// disc-wide lock is an open-file-description lock, which the kernel drops
// with the process, and an entry whose process is gone (or whose number now
// belongs to a younger process) is ignored and freed where it is met.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#define QUIL_EMULATOR_API __attribute__((visibility("default")))

namespace quil::emulator {

// One registered open. `used` is set last and cleared first, so that an
// entry torn by a kill in the middle of a change reads as free.
struct SegmentOpen {
  static constexpr size_t kKeyBytes = 448;
  uint32_t used;
  uint32_t access;
  uint32_t share;
  int32_t pid;
  uint64_t started;  // the process's start time, against a reused number
  uint64_t stamp;    // the token its process knows it by
  uint64_t keyHash;  // of the whole key; the key itself is kept up to kKeyBytes
  uint32_t keyLength;
  char key[kKeyBytes];
};

struct SegmentProcess {
  int32_t pid;
  uint32_t reserved;
  uint64_t started;
};

struct SegmentSpace {
  uint32_t valid;  // 0 until the first refresh after the segment was (re)set
  uint32_t reserved;
  uint64_t capacity;
  uint64_t used;
};

class QUIL_EMULATOR_API DiscSegment {
 public:
  static constexpr size_t kOpens = 4096;
  static constexpr size_t kProcesses = 128;

  // The segment of the disc in `discFolder`, made on first use; never
  // destroyed (objects other libraries hold at exit still release here).
  // Where no shared memory can be had, a private one: sharing then holds
  // within this process only.
  static DiscSegment& of(const std::string& discFolder);

  // The key of a host path below the disc folder: the path from the disc
  // folder, in upper case, since names on the medium ignore case.
  std::string keyOf(const std::string& hostPath) const;

  // Held while the table or the space account is read or changed.
  class TableLock {
   public:
    explicit TableLock(DiscSegment& segment);
    ~TableLock();
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

   private:
    DiscSegment& segment_;
  };

  // Held around changes of the disc's own state that two processes could
  // otherwise interleave (the medium description and its label). Taken
  // before the table lock, never while holding it.
  class DiscLock {
   public:
    explicit DiscLock(DiscSegment& segment);
    ~DiscLock();
    DiscLock(const DiscLock&) = delete;
    DiscLock& operator=(const DiscLock&) = delete;

   private:
    DiscSegment& segment_;
  };

  // Under the table lock.
  SegmentOpen* opens() { return layout_->opens; }
  uint32_t& highWater() { return layout_->highWater; }
  SegmentSpace& space() { return layout_->space; }
  // Whether the entry belongs to a process that still runs.
  bool holderAlive(const SegmentOpen& open);

  static int32_t selfPid();
  static uint64_t selfStarted();

 private:
  struct Layout {
    uint64_t magic;
    uint32_t mutexReady;
    pthread_mutex_t tableMutex;
    uint32_t highWater;  // entries at or beyond it are free
    uint32_t reserved;
    SegmentSpace space;
    SegmentProcess processes[kProcesses];
    SegmentOpen opens[kOpens];
  };

  DiscSegment(std::string folder, std::string name, int fd, Layout* layout);
  static DiscSegment& open(const std::string& discFolder);
  bool attach();  // false: the segment was removed meanwhile
  static void detachAll();
  static std::vector<DiscSegment*>& all();
  bool lockByte(off_t byte, bool take);
  void prepareMutex();

  std::string folder_;
  std::string name_;  // of the shared memory object; empty for a private one
  int fd_;  // -1: a private segment
  Layout* layout_;
  std::mutex tableMutex_;  // for a private segment only
  std::mutex discMutex_;
};

}  // namespace quil::emulator
