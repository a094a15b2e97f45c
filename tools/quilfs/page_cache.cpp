// Which files' pages the kernel keeps between opens: only those whose
// directory entry shows they cannot have changed since the pages were
// filled (the stamp of size and times), or that the mount itself wrote.
#include <algorithm>

#include "names.h"
#include "volume_fs.h"

namespace quilfs {

namespace {

// Times of an entry older than this are settled: any later change gets
// other times, however coarse the clock's tick and though the entry keeps
// only milliseconds.
constexpr time_t kSettledSeconds = 2;
// Records of cached files beyond this are dropped all at once: a file
// without one is read afresh at its next open, which is always correct.
constexpr size_t kMostCached = 4096;

// A kept page record is the kernel's, which holds pages per spelling of a
// name: the key is the spelling, after its folded form so that every
// spelling of a path and everything below it sort together.
std::u16string cacheKey(const std::u16string& path) { return foldedPath(path) + u'\0' + path; }

}  // namespace

bool VolumeFs::Stamp::operator==(const Stamp& other) const {
  return size == other.size && sameTime(created, other.created) && sameTime(written, other.written);
}

VolumeFs::Stamp VolumeFs::stampOf(const FindData& found) {
  return {found.size, timespecOf(found.time1), timespecOf(found.time3)};
}

// No change to come can leave these times as they are: they are older
// than now by more than a clock tick.
bool VolumeFs::settled(const Stamp& stamp) {
  const struct timespec newest = later(stamp.created, stamp.written) ? stamp.created : stamp.written;
  return newest.tv_sec + kSettledSeconds < now().tv_sec;
}

// The kernel keeps the pages of a file between opens only when they are
// known to hold what the file holds now: it finds the stamp it had when the
// pages were filled, and that stamp would show any change made since (the
// file's times were settled when the daemon saw them, or the pages are
// what the mount itself wrote). Every other open drops them. A file changed
// through the library by another program is therefore read afresh at its
// next open, as a file on NFS is.
bool VolumeFs::keepCache(const std::u16string& path, int32_t handle) {
  FindData found{};
  if (findEntry(path, found) != 0) {
    forgetRefusal();
    cached_.erase(cacheKey(path));
    return false;
  }
  const Stamp stamp = stampOf(found);
  const auto it = cached_.find(cacheKey(path));
  if (it != cached_.end() && it->second.trusted && it->second.stamp == stamp) return true;
  if (cached_.size() >= kMostCached) cached_.clear();
  // The pages are dropped when this open completes, and filled afresh by
  // reads after this stamp was taken. Until a request of this handle shows
  // that the kernel has dropped them, another open must not keep them.
  Cached record;
  record.stamp = stamp;
  record.settled = settled(stamp);
  record.confirmBy = handle;
  cached_[cacheKey(path)] = record;
  files_.at(handle).confirmsCache = true;
  return false;
}

void VolumeFs::confirmCache(int32_t handle, OpenFile& file) {
  file.confirmsCache = false;
  const auto it = cached_.find(cacheKey(file.path));
  if (it == cached_.end() || it->second.confirmBy != handle) return;
  it->second.trusted = it->second.settled;
  it->second.confirmBy = -1;
}

// A user-data or general file written through the mount: the kernel's
// pages hold what was written (the library keeps those bytes as they are),
// so the stamp after the close vouches for them. Other kinds may be
// finished by the writer at their close, and are read afresh.
void VolumeFs::recordWritten(const OpenFile& file) {
  FindData found{};
  if (file.unlinked || !isUserArea(file.path) || findEntry(file.path, found) != 0) {
    forgetRefusal();
    cached_.erase(cacheKey(file.path));
    return;
  }
  if (cached_.size() >= kMostCached) cached_.clear();
  Cached record;
  record.stamp = stampOf(found);
  record.trusted = true;
  record.settled = true;
  cached_[cacheKey(file.path)] = record;
}

// Removed or renamed through the mount: whatever now has the name is read
// afresh at its next open, under any spelling of it.
void VolumeFs::forgetCache(const std::u16string& path) {
  // Keys begin with the folded path: the path in every spelling is one run
  // ("PATH\0..."), what lies below it another ("PATH\\...").
  const std::u16string folded = foldedPath(path);
  for (const std::u16string& prefix : {folded + u'\0', folded == u"\\" ? folded : folded + u'\\'}) {
    auto it = cached_.lower_bound(prefix);
    while (it != cached_.end() && it->first.compare(0, prefix.size(), prefix) == 0) it = cached_.erase(it);
  }
}

}  // namespace quilfs
