#include "disc_segment.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "disc.h"
#include "text/utf.h"

namespace quil::emulator {

namespace {

// Changes with the layout, so that a process of another build never reads
// a segment it does not understand: the name carries it too.
constexpr uint64_t kMagic = 0x5155494c53454732ull;  // "QUILSEG2"
constexpr off_t kDiscByte = 1;
constexpr off_t kInitByte = 2;

// The start time of a process in clock ticks since boot (field 22 of its
// stat line), 0 when it is gone or a zombie: a zombie holds nothing any more.
uint64_t startTimeOf(int32_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char line[1024];
  const ssize_t n = ::read(fd, line, sizeof line - 1);
  ::close(fd);
  if (n <= 0) return 0;
  line[n] = '\0';
  // The command name may hold spaces and parentheses: count from the last ')'.
  const char* p = std::strrchr(line, ')');
  if (p == nullptr || p[1] == '\0') return 0;
  p += 2;
  if (*p == 'Z' || *p == 'X') return 0;
  for (int field = 3; field < 22 && p != nullptr; ++field) {
    p = std::strchr(p, ' ');
    if (p != nullptr) ++p;
  }
  return p == nullptr ? 0 : std::strtoull(p, nullptr, 10);
}

bool processAlive(int32_t pid, uint64_t started) {
  if (pid <= 0) return false;
  if (pid == DiscSegment::selfPid()) return started == DiscSegment::selfStarted();
  return started != 0 && startTimeOf(pid) == started;
}

}  // namespace

namespace {
// getpid is a system call; the number only changes in a forked child.
std::atomic<int32_t> cachedPid{0};
std::atomic<uint64_t> cachedStart{0};
void forgetPid() {
  cachedPid.store(0);
  cachedStart.store(0);
}
}  // namespace

int32_t DiscSegment::selfPid() {
  int32_t pid = cachedPid.load(std::memory_order_relaxed);
  if (pid == 0) {
    static const bool registered = ::pthread_atfork(nullptr, nullptr, forgetPid) == 0;
    (void)registered;
    pid = static_cast<int32_t>(::getpid());
    cachedPid.store(pid, std::memory_order_relaxed);
  }
  return pid;
}

uint64_t DiscSegment::selfStarted() {
  uint64_t started = cachedStart.load(std::memory_order_relaxed);
  if (started == 0) {
    started = startTimeOf(selfPid());
    cachedStart.store(started, std::memory_order_relaxed);
  }
  return started;
}

DiscSegment& DiscSegment::of(const std::string& discFolder) {
  static std::mutex& mutex = *new std::mutex;
  static auto& segments = *new std::map<std::string, DiscSegment*>;
  std::lock_guard<std::mutex> lock(mutex);
  // Asked at every open and write: the folder is looked at once per process.
  DiscSegment*& slot = segments[discFolder];
  if (slot == nullptr) slot = &open(discFolder);
  return *slot;
}

DiscSegment& DiscSegment::open(const std::string& discFolder) {
  // A disc is its folder's device, inode and birth time: a folder removed
  // and made again, even with the inode of the old one, is another disc.
  struct statx sx {};
  const bool known = ::statx(AT_FDCWD, discFolder.c_str(), 0, STATX_INO | STATX_BTIME, &sx) == 0;
  char identity[96];
  std::snprintf(identity, sizeof identity, "%llx-%llx-%llx-%llx-%x",
                static_cast<unsigned long long>(known ? makedev(sx.stx_dev_major, sx.stx_dev_minor) : 0),
                static_cast<unsigned long long>(sx.stx_ino),
                static_cast<unsigned long long>((sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime.tv_sec : 0),
                static_cast<unsigned long long>((sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime.tv_nsec : 0),
                static_cast<unsigned>(kMagic & 0xffff));

  static const bool detachAtExit = std::atexit(detachAll) == 0;
  (void)detachAtExit;
  const std::string name = std::string("/quil-disc-") + identity;
  for (int attempt = 0; known && attempt < 8; ++attempt) {
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) break;
    // Every user of the machine may open the disc: the segment is theirs too.
    (void)::fchmod(fd, 0666);
    struct stat seg {};
    void* memory = MAP_FAILED;
    if (::fstat(fd, &seg) == 0 && (static_cast<size_t>(seg.st_size) >= sizeof(Layout) || ::ftruncate(fd, sizeof(Layout)) == 0)) {
      memory = ::mmap(nullptr, sizeof(Layout), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    if (memory == MAP_FAILED) {
      ::close(fd);
      break;
    }
    // Owned by the map for the life of the process: the constructor is private.
    auto segment = std::unique_ptr<DiscSegment>(new DiscSegment(discFolder, name, fd, static_cast<Layout*>(memory)));
    // The last process of a disc removes the name at its exit; one that
    // opened it just before finds it unlinked here and opens it anew.
    segment->prepareMutex();
    if (segment->attach()) return *segment.release();
    ::munmap(memory, sizeof(Layout));
    ::close(fd);
  }
  void* memory = ::mmap(nullptr, sizeof(Layout), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) std::abort();  // no memory for a table of a few MiB: nothing sensible is left
  auto* segment = new DiscSegment(discFolder, "", -1, static_cast<Layout*>(memory));
  segment->attach();
  return *segment;
}

DiscSegment::DiscSegment(std::string folder, std::string name, int fd, Layout* layout)
    : folder_(std::move(folder)), name_(std::move(name)), fd_(fd), layout_(layout) {}

std::vector<DiscSegment*>& DiscSegment::all() {
  static auto& segments = *new std::vector<DiscSegment*>;
  return segments;
}

// Joins the processes of the disc. When none of those listed still runs,
// whatever the segment holds was left by processes that died (or by an
// earlier disc that had the same inode): it starts afresh.
bool DiscSegment::attach() {
  TableLock lock(*this);
  struct stat st {};
  if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || st.st_nlink == 0)) return false;
  bool anyAlive = false;
  SegmentProcess* free = nullptr;
  for (auto& p : layout_->processes) {
    if (p.pid != 0 && processAlive(p.pid, p.started)) {
      anyAlive = true;
      continue;
    }
    p.pid = 0;
    if (free == nullptr) free = &p;
  }
  if (!anyAlive || layout_->magic != kMagic) {
    for (uint32_t i = 0; i < layout_->highWater && i < kOpens; ++i) layout_->opens[i].used = 0;
    layout_->highWater = 0;
    layout_->space = SegmentSpace{};
    layout_->magic = kMagic;
  }
  if (free != nullptr) {
    free->started = selfStarted();
    free->pid = selfPid();
  }
  all().push_back(this);
  return true;
}

// At exit: this process leaves every disc it joined, and the last to leave
// a disc removes its segment, so that none outlives the processes using it.
void DiscSegment::detachAll() {
  for (DiscSegment* segment : all()) {
    if (segment->fd_ < 0) continue;
    TableLock lock(*segment);
    bool anyAlive = false;
    for (auto& p : segment->layout_->processes) {
      if (p.pid == selfPid()) p.pid = 0;
      else if (p.pid != 0 && processAlive(p.pid, p.started)) anyAlive = true;
    }
    if (!anyAlive) ::shm_unlink(segment->name_.c_str());
  }
}

std::string DiscSegment::keyOf(const std::string& hostPath) const {
  std::string_view relative(hostPath);
  if (relative.size() >= folder_.size() && relative.compare(0, folder_.size(), folder_) == 0) {
    relative.remove_prefix(folder_.size());
  }
  while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
  return toUtf8(foldName(fromUtf8(relative)));
}

bool DiscSegment::holderAlive(const SegmentOpen& open) { return processAlive(open.pid, open.started); }

bool DiscSegment::lockByte(off_t byte, bool take) {
  if (fd_ < 0) return true;
  struct flock fl {};
  fl.l_type = take ? F_WRLCK : F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  while (::fcntl(fd_, F_OFD_SETLKW, &fl) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// The table's mutex is made once per segment, by whoever finds it unmade,
// under a byte lock that the kernel drops should that process die there.
void DiscSegment::prepareMutex() {
  if (fd_ < 0) return;
  lockByte(kInitByte, true);
  if (layout_->mutexReady != static_cast<uint32_t>(kMagic)) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&layout_->tableMutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    layout_->mutexReady = static_cast<uint32_t>(kMagic);
  }
  lockByte(kInitByte, false);
}

// A robust process-shared mutex: taken without a system call when free.
// A holder that died hands it on marked, and the table is usable as it is
// (an entry counts only once its `used` word is set, which is written
// last). The wait is cut into slices: when a holder dies the kernel wakes
// one waiter only, which may be a thread of the same dying process.
DiscSegment::TableLock::TableLock(DiscSegment& segment) : segment_(segment) {
  if (segment_.fd_ < 0) {
    segment_.tableMutex_.lock();
    return;
  }
  for (;;) {
    timespec until {};
    ::clock_gettime(CLOCK_REALTIME, &until);
    until.tv_nsec += 100'000'000;
    if (until.tv_nsec >= 1'000'000'000) {
      until.tv_nsec -= 1'000'000'000;
      ++until.tv_sec;
    }
    const int rc = ::pthread_mutex_timedlock(&segment_.layout_->tableMutex, &until);
    if (rc == 0) return;
    if (rc == EOWNERDEAD) {
      ::pthread_mutex_consistent(&segment_.layout_->tableMutex);
      return;
    }
  }
}

DiscSegment::TableLock::~TableLock() {
  if (segment_.fd_ < 0) segment_.tableMutex_.unlock();
  else ::pthread_mutex_unlock(&segment_.layout_->tableMutex);
}

DiscSegment::DiscLock::DiscLock(DiscSegment& segment) : segment_(segment) {
  segment_.discMutex_.lock();
  segment_.lockByte(kDiscByte, true);
}

DiscSegment::DiscLock::~DiscLock() {
  segment_.lockByte(kDiscByte, false);
  segment_.discMutex_.unlock();
}

}  // namespace quil::emulator
