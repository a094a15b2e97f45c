#include "share_registry.h"

#include <cstring>

#include "disc_segment.h"

namespace quil::emulator {

namespace {
// Access an opener wants that another's share mode does not grant.
bool refuses(uint32_t access, uint32_t otherShare) {
  if ((access & kAccessRead) != 0 && (otherShare & kShareRead) == 0) return true;
  if ((access & kAccessWrite) != 0 && (otherShare & kShareWrite) == 0) return true;
  if ((access & kAccessDelete) != 0 && (otherShare & kShareDelete) == 0) return true;
  return false;
}

uint64_t hashOf(const std::string& key) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (const unsigned char c : key) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

bool sameKey(const SegmentOpen& open, const std::string& key, uint64_t hash) {
  return open.keyHash == hash && open.keyLength == key.size() &&
         std::memcmp(open.key, key.data(), std::min(key.size(), SegmentOpen::kKeyBytes)) == 0;
}

// Frees an entry; the high-water mark comes down over free entries so that
// scans stay as short as the opens of the disc are few.
void freeEntry(DiscSegment& segment, uint32_t index) {
  segment.opens()[index].used = 0;
  uint32_t& high = segment.highWater();
  while (high > 0 && segment.opens()[high - 1].used == 0) --high;
}

// Whether a live open of another process or of this one stands in the way;
// an entry left by a process that died is freed where it is met.
template <class Conflicts>
bool anyLiveConflict(DiscSegment& segment, const std::string& key, uint64_t hash, Conflicts conflicts) {
  SegmentOpen* opens = segment.opens();
  for (uint32_t i = 0; i < segment.highWater(); ++i) {
    SegmentOpen& open = opens[i];
    if (open.used == 0 || !sameKey(open, key, hash) || !conflicts(open)) continue;
    if (segment.holderAlive(open)) return true;
    freeEntry(segment, i);
  }
  return false;
}

// A free entry, dead processes' entries made free if the table is full.
bool freeIndex(DiscSegment& segment, uint32_t* index) {
  SegmentOpen* opens = segment.opens();
  uint32_t& high = segment.highWater();
  for (uint32_t i = 0; i < high; ++i) {
    if (opens[i].used == 0) {
      *index = i;
      return true;
    }
  }
  if (high < DiscSegment::kOpens) {
    *index = high++;
    return true;
  }
  for (uint32_t i = 0; i < high; ++i) {
    if (!segment.holderAlive(opens[i])) {
      opens[i].used = 0;
      *index = i;
      return true;
    }
  }
  return false;
}
}  // namespace

ShareRegistry& ShareRegistry::instance() {
  // Never destroyed: writer objects that another library still holds at
  // process exit give their share tokens back here from its destructors.
  static ShareRegistry* registry = new ShareRegistry;
  return *registry;
}

uint64_t ShareRegistry::acquire(const std::string& discFolder, const std::string& hostPath, uint32_t access,
                                uint32_t share) {
  uint64_t token = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    token = next_++;
  }
  if ((access & (kAccessRead | kAccessWrite | kAccessDelete)) == 0) {
    // An open for attributes only takes no part in sharing, either way.
    std::lock_guard<std::mutex> lock(mutex_);
    held_[token] = Held{nullptr, 0};
    return token;
  }
  DiscSegment& segment = DiscSegment::of(discFolder);
  const std::string key = segment.keyOf(hostPath);
  const uint64_t hash = hashOf(key);
  uint32_t index = 0;
  {
    DiscSegment::TableLock lock(segment);
    const bool conflict = anyLiveConflict(segment, key, hash, [&](const SegmentOpen& open) {
      return refuses(access, open.share) || refuses(open.access, share);
    });
    if (conflict || !freeIndex(segment, &index)) return 0;
    SegmentOpen& open = segment.opens()[index];
    open.access = access;
    open.share = share;
    open.pid = DiscSegment::selfPid();
    open.started = DiscSegment::selfStarted();
    open.stamp = token;
    open.keyHash = hash;
    open.keyLength = static_cast<uint32_t>(key.size());
    std::memcpy(open.key, key.data(), std::min(key.size(), SegmentOpen::kKeyBytes));
    open.used = 1;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  held_[token] = Held{&segment, index};
  return token;
}

void ShareRegistry::release(uint64_t token) {
  Held held{};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = held_.find(token);
    if (it == held_.end()) return;
    held = it->second;
    held_.erase(it);
  }
  if (held.segment == nullptr) return;
  DiscSegment::TableLock lock(*held.segment);
  const SegmentOpen& open = held.segment->opens()[held.index];
  // Only the entry this process made under this token: a segment that was
  // started afresh meanwhile may have given the place to someone else.
  if (open.used != 0 && open.stamp == token && open.pid == DiscSegment::selfPid()) freeEntry(*held.segment, held.index);
}

bool ShareRegistry::blocksDelete(const std::string& discFolder, const std::string& hostPath) const {
  DiscSegment& segment = DiscSegment::of(discFolder);
  const std::string key = segment.keyOf(hostPath);
  DiscSegment::TableLock lock(segment);
  return anyLiveConflict(segment, key, hashOf(key),
                         [](const SegmentOpen& open) { return (open.share & kShareDelete) == 0; });
}

bool ShareRegistry::writtenElsewhere(const std::string& discFolder, const std::string* hostPath) const {
  DiscSegment& segment = DiscSegment::of(discFolder);
  const std::string key = hostPath != nullptr ? segment.keyOf(*hostPath) : std::string();
  const uint64_t hash = hashOf(key);
  const int32_t self = DiscSegment::selfPid();
  DiscSegment::TableLock lock(segment);
  SegmentOpen* opens = segment.opens();
  for (uint32_t i = 0; i < segment.highWater(); ++i) {
    SegmentOpen& open = opens[i];
    if (open.used == 0 || open.pid == self || (open.access & kAccessWrite) == 0) continue;
    if (hostPath != nullptr && !sameKey(open, key, hash)) continue;
    if (segment.holderAlive(open)) return true;
    freeEntry(segment, i);
  }
  return false;
}

}  // namespace quil::emulator
