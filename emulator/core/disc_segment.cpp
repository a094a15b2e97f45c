#include "disc_segment.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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
constexpr uint64_t kMagic = 0x5155494c53454731ull;  // "QUILSEG1"
constexpr off_t kTableByte = 0;
constexpr off_t kDiscByte = 1;

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

int32_t DiscSegment::selfPid() { return static_cast<int32_t>(::getpid()); }

uint64_t DiscSegment::selfStarted() {
  // Asked again after a fork: the child is another process.
  static thread_local int32_t askedFor = 0;
  static thread_local uint64_t started = 0;
  const int32_t pid = selfPid();
  if (askedFor != pid) {
    started = startTimeOf(pid);
    askedFor = pid;
  }
  return started;
}

DiscSegment& DiscSegment::of(const std::string& discFolder) {
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

  static std::mutex& mutex = *new std::mutex;
  static auto& segments = *new std::map<std::string, DiscSegment*>;
  std::lock_guard<std::mutex> lock(mutex);
  DiscSegment*& slot = segments[discFolder + '\0' + identity];
  if (slot != nullptr) return *slot;

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
    if (segment->attach()) {
      slot = segment.release();
      return *slot;
    }
    ::munmap(memory, sizeof(Layout));
    ::close(fd);
  }
  void* memory = ::mmap(nullptr, sizeof(Layout), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) std::abort();  // no memory for a table of a few MiB: nothing sensible is left
  slot = new DiscSegment(discFolder, "", -1, static_cast<Layout*>(memory));
  slot->attach();
  return *slot;
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

// The in-process mutex first: an open-file-description lock does not keep
// out the threads of the process that holds it.
DiscSegment::TableLock::TableLock(DiscSegment& segment) : segment_(segment) {
  segment_.tableMutex_.lock();
  segment_.lockByte(kTableByte, true);
}

DiscSegment::TableLock::~TableLock() {
  segment_.lockByte(kTableByte, false);
  segment_.tableMutex_.unlock();
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
