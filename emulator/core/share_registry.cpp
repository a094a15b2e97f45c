#include "share_registry.h"

namespace quil::emulator {

namespace {
// Access an opener wants that another's share mode does not grant.
bool refuses(uint32_t access, uint32_t otherShare) {
  if ((access & kAccessRead) != 0 && (otherShare & kShareRead) == 0) return true;
  if ((access & kAccessWrite) != 0 && (otherShare & kShareWrite) == 0) return true;
  if ((access & kAccessDelete) != 0 && (otherShare & kShareDelete) == 0) return true;
  return false;
}
}  // namespace

ShareRegistry& ShareRegistry::instance() {
  // Never destroyed: writer objects that another library still holds at
  // process exit give their share tokens back here from its destructors.
  static ShareRegistry* registry = new ShareRegistry;
  return *registry;
}

uint64_t ShareRegistry::acquire(const std::string& hostPath, uint32_t access, uint32_t share) {
  std::lock_guard<std::mutex> lock(mutex_);
  if ((access & (kAccessRead | kAccessWrite | kAccessDelete)) == 0) {
    // An open for attributes only takes no part in sharing, either way.
    const uint64_t token = next_++;
    opens_[token] = Open{hostPath, 0, kShareRead | kShareWrite | kShareDelete};
    return token;
  }
  for (const auto& [token, open] : opens_) {
    if (open.path != hostPath) continue;
    if (refuses(access, open.share) || refuses(open.access, share)) return 0;
  }
  const uint64_t token = next_++;
  opens_[token] = Open{hostPath, access, share};
  return token;
}

void ShareRegistry::release(uint64_t token) {
  std::lock_guard<std::mutex> lock(mutex_);
  opens_.erase(token);
}

bool ShareRegistry::blocksDelete(const std::string& hostPath) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [token, open] : opens_) {
    if (open.path == hostPath && (open.share & kShareDelete) == 0) return true;
  }
  return false;
}

bool ShareRegistry::isOpen(const std::string& hostPath) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [token, open] : opens_) {
    if (open.path == hostPath) return true;
  }
  return false;
}

}  // namespace quil::emulator
