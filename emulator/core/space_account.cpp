// What a disc holds and what is left: the bytes on the host, and the
// account every reader and writer of every process reserves from.
#include "disc.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "beneath.h"
#include "disc_image.h"
#include "disc_segment.h"
#include "text/utf.h"

namespace quil::emulator {

namespace {

// The bytes of the files in the folder `dir` and below it. Every folder is
// opened relative to its parent without following a link, so that a link,
// even one swapped in while counting, never counts what lies outside.
uint64_t bytesBelow(int dir, int depth) {
  const int listing = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return 0;
  std::unique_ptr<DIR, int (*)(DIR*)> d(fdopendir(listing), closedir);
  if (!d) {
    ::close(listing);
    return 0;
  }
  uint64_t total = 0;
  while (const dirent* e = readdir(d.get())) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    struct stat st {};
    if (::fstatat(dirfd(d.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(st.st_mode) && !isEmulatorFile(fromUtf8(e->d_name))) total += static_cast<uint64_t>(st.st_size);
    // Bounded, as a descriptor is held open for every level.
    if (S_ISDIR(st.st_mode) && depth < 128) {
      const Descriptor sub(::openat(dirfd(d.get()), e->d_name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (sub) total += bytesBelow(sub.get(), depth + 1);
    }
  }
  return total;
}

}  // namespace

uint64_t usedBytes(const std::string& discFolder) {
  const Descriptor dir(::open(discFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  return dir ? bytesBelow(dir.get(), 0) : 0;
}

SpaceAccount& SpaceAccount::of(const std::string& discFolder) {
  // Never destroyed: a recording that another library ends from its static
  // destructors at process exit still gives its room back here.
  static std::mutex& mutex = *new std::mutex;
  static auto& accounts = *new std::map<std::string, std::unique_ptr<SpaceAccount>>;
  std::lock_guard<std::mutex> lock(mutex);
  auto& slot = accounts[discFolder];
  if (!slot) {
    slot.reset(new SpaceAccount(discFolder));  // private constructor: one account per disc
    slot->refresh();
  }
  return *slot;
}

SpaceAccount::SpaceAccount(std::string folder) : folder_(std::move(folder)), segment_(DiscSegment::of(folder_)) {}

void SpaceAccount::refresh() {
  const auto medium = MediumDescription::load(folder_);
  // An image is full: nothing is ever added to it.
  const bool image = DiscImage::isImage(folder_);
  const uint64_t onDisc = image ? (medium ? medium->capacity : 0) : usedBytes(folder_);
  DiscSegment::TableLock lock(segment_);
  SegmentSpace& space = segment_.space();
  space.capacity = medium ? medium->capacity : 0;
  // Reservations still held by open files, of this process or another, are
  // not on the disc yet: never count less than the account already does,
  // only what was added outside.
  if (space.valid == 0 || onDisc > space.used || image) space.used = onDisc;
  space.valid = 1;
}

namespace {

// What the host folder can still take: the medium never offers more than
// that, so that callers see a full disc before their writes fail.
uint64_t hostFreeBytes(const std::string& folder) {
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0) return UINT64_MAX;  // unknown: the account alone decides
  return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

}  // namespace

uint64_t SpaceAccount::reserve(uint64_t wanted) {
  const uint64_t host = hostFreeBytes(folder_);
  DiscSegment::TableLock lock(segment_);
  SegmentSpace& space = segment_.space();
  uint64_t free = space.capacity > space.used ? space.capacity - space.used : 0;
  if (host < free) free = host;
  const uint64_t granted = wanted < free ? wanted : free;
  space.used += granted;
  return granted;
}

void SpaceAccount::release(uint64_t bytes) {
  DiscSegment::TableLock lock(segment_);
  SegmentSpace& space = segment_.space();
  space.used = bytes > space.used ? 0 : space.used - bytes;
}

uint64_t SpaceAccount::freeBytes() {
  const uint64_t host = hostFreeBytes(folder_);
  DiscSegment::TableLock lock(segment_);
  const SegmentSpace& space = segment_.space();
  const uint64_t free = space.capacity > space.used ? space.capacity - space.used : 0;
  return host < free ? host : free;
}

uint64_t SpaceAccount::capacity() {
  DiscSegment::TableLock lock(segment_);
  return segment_.space().capacity;
}

}  // namespace quil::emulator
