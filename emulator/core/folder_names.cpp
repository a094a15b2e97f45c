#include "folder_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "disc.h"
#include "text/utf.h"

namespace quil::emulator {

namespace {

struct Stamp {
  struct timespec modified {};
  struct timespec changed {};
  off_t size = 0;
  bool operator==(const Stamp& o) const {
    return modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec && size == o.size;
  }
};

struct FolderIndex {
  Stamp stamp;
  bool trusted = false;
  std::unordered_map<std::string, std::vector<std::string>> byFolded;
};

// Folders indexed at once; beyond it every index is dropped and read anew
// when next asked (a disc has a handful of busy folders).
constexpr size_t kMaxFolders = 64;

std::mutex& indexMutex() {
  static std::mutex& m = *new std::mutex;
  return m;
}

std::map<std::pair<dev_t, ino_t>, FolderIndex>& indexes() {
  static auto& all = *new std::map<std::pair<dev_t, ino_t>, FolderIndex>;
  return all;
}

std::string foldedOf(const std::string& name) { return toUtf8(foldName(fromUtf8(name))); }

Stamp stampOf(const struct stat& st) { return Stamp{st.st_mtim, st.st_ctim, st.st_size}; }

// A stamp less than 50 ms old may not show a change made in the same tick.
bool settled(const Stamp& stamp) {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const auto ns = [](const struct timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec; };
  const int64_t last = std::max(ns(stamp.modified), ns(stamp.changed));
  return ns(now) - last >= 50'000'000;
}

bool readFolder(int dir, FolderIndex& index) {
  const int listing = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return false;
  std::unique_ptr<DIR, int (*)(DIR*)> d(fdopendir(listing), closedir);
  if (!d) {
    ::close(listing);
    return false;
  }
  index.byFolded.clear();
  while (const dirent* e = readdir(d.get())) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    index.byFolded[foldedOf(e->d_name)].emplace_back(e->d_name);
  }
  return true;
}

}  // namespace

std::vector<std::string> namesFolding(int dir, const std::string& folded, const struct stat* status) {
  struct stat st {};
  if (status != nullptr) st = *status;
  else if (::fstat(dir, &st) != 0) return {};
  const Stamp stamp = stampOf(st);
  std::lock_guard<std::mutex> lock(indexMutex());
  auto& all = indexes();
  const auto key = std::make_pair(st.st_dev, st.st_ino);
  auto it = all.find(key);
  if (it == all.end() || !it->second.trusted || !(it->second.stamp == stamp)) {
    if (all.size() >= kMaxFolders && it == all.end()) all.clear();
    FolderIndex& index = all[key];
    if (!readFolder(dir, index)) {
      all.erase(key);
      return {};
    }
    index.stamp = stamp;
    index.trusted = settled(stamp);
    it = all.find(key);
  }
  const auto found = it->second.byFolded.find(folded);
  return found == it->second.byFolded.end() ? std::vector<std::string>() : found->second;
}

void noteFolderChange(int dir, const std::string& removed, const std::string& added) {
  struct stat st {};
  if (::fstat(dir, &st) != 0) return;
  std::lock_guard<std::mutex> lock(indexMutex());
  auto& all = indexes();
  const auto it = all.find(std::make_pair(st.st_dev, st.st_ino));
  if (it == all.end()) return;
  FolderIndex& index = it->second;
  if (!removed.empty()) {
    const auto slot = index.byFolded.find(foldedOf(removed));
    if (slot != index.byFolded.end()) {
      auto& names = slot->second;
      names.erase(std::remove(names.begin(), names.end(), removed), names.end());
      if (names.empty()) index.byFolded.erase(slot);
    }
  }
  if (!added.empty()) {
    auto& names = index.byFolded[foldedOf(added)];
    if (std::find(names.begin(), names.end(), added) == names.end()) names.push_back(added);
  }
  // The change is ours and is in the index: the folder's new stamp is
  // trusted, whatever its age.
  index.stamp = stampOf(st);
  index.trusted = true;
}

}  // namespace quil::emulator
