#include "beneath.h"

#include "folder_names.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#if __has_include(<linux/openat2.h>) && defined(SYS_openat2)
#include <linux/openat2.h>
#define QUIL_HAVE_OPENAT2 1
#endif

namespace quil::emulator {

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

namespace {

std::atomic<bool> gKernelWalkWanted{true};
std::atomic<bool> gKernelWalkMissing{false};  // the kernel answered ENOSYS once

// -2 from a kernel walk: not offered here; walk on our own.
constexpr int kNotOffered = -2;

int failWith(int error) {
  errno = error;
  return -1;
}

// The components of host below discFolder; false with errno EXDEV when host
// does not lie at or below it, or names "." or "..".
bool componentsBelow(const std::string& discFolder, const std::string& host, std::vector<std::string>& parts) {
  if (discFolder.empty() || host.compare(0, discFolder.size(), discFolder) != 0 ||
      (host.size() > discFolder.size() && host[discFolder.size()] != '/')) {
    errno = EXDEV;
    return false;
  }
  size_t start = discFolder.size();
  while (start < host.size()) {
    size_t end = host.find('/', start + 1);
    if (end == std::string::npos) end = host.size();
    std::string part = host.substr(start + 1, end - start - 1);
    if (part == "." || part == "..") {
      errno = EXDEV;
      return false;
    }
    if (!part.empty()) parts.push_back(std::move(part));
    start = end;
  }
  return true;
}

std::string joined(const std::vector<std::string>& parts, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += (i == 0 ? "" : "/") + parts[i];
  return out;
}

// An O_DIRECTORY | O_NOFOLLOW open meeting a link says ENOTDIR: a link it is.
int linkAware(int dir, const std::string& name, int error) {
  struct stat st {};
  if (error == ENOTDIR && ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    return ELOOP;
  }
  return error;
}

// The kernel's walk of relative below root, refusing every link and every
// way out; kNotOffered when the kernel has no openat2 or it is not wanted.
int kernelOpen(int root, const std::string& relative, int flags, mode_t mode) {
#ifdef QUIL_HAVE_OPENAT2
  if (!gKernelWalkWanted.load(std::memory_order_relaxed) || gKernelWalkMissing.load(std::memory_order_relaxed)) {
    return kNotOffered;
  }
  struct open_how how {};
  // An O_PATH | O_NOFOLLOW open would hand out a trailing link itself.
  how.flags = static_cast<uint64_t>(flags | O_CLOEXEC | ((flags & O_PATH) != 0 ? 0 : O_NOFOLLOW));
  how.mode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const long fd = ::syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    // EAGAIN: a rename elsewhere raced the walk; the kernel asks to retry.
    if (errno == EAGAIN || errno == EINTR) continue;
    if (errno == ENOSYS) gKernelWalkMissing.store(true, std::memory_order_relaxed);
    // EPERM: a system call filter refuses openat2; our own walk is as safe.
    // ENOTDIR: a folder expected, a link or a file found; our walk tells
    // which.
    if (errno == ENOSYS || errno == EPERM || errno == ENOTDIR) return kNotOffered;
    return -1;
  }
  return kNotOffered;
#else
  (void)root, (void)relative, (void)flags, (void)mode;
  return kNotOffered;
#endif
}

// The folder of the first count components, walked one by one from root;
// an O_PATH descriptor of our own. Each component is opened with O_NOFOLLOW
// (a link is opened as itself) and judged by what the descriptor holds, so
// that a link is told from a file even while entries are being swapped.
int ownWalk(int root, const std::vector<std::string>& parts, size_t count) {
  Descriptor current(::fcntl(root, F_DUPFD_CLOEXEC, 0));
  if (!current) return -1;
  for (size_t i = 0; i < count; ++i) {
    Descriptor next(::openat(current.get(), parts[i].c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!next) return -1;
    struct stat st {};
    if (::fstat(next.get(), &st) != 0) return -1;
    if (S_ISLNK(st.st_mode)) return failWith(ELOOP);
    if (!S_ISDIR(st.st_mode)) return failWith(ENOTDIR);
    current = std::move(next);
  }
  return current.release();
}

struct HeldFolder {
  dev_t device = 0;
  ino_t inode = 0;
  std::shared_ptr<const Descriptor> descriptor;
};

// Disc folders held at once; beyond it all are let go and opened again
// when next asked (a process works on a handful of discs).
constexpr size_t kMaxHeldFolders = 16;

std::mutex& heldMutex() {
  static std::mutex& m = *new std::mutex;
  return m;
}

std::map<std::string, HeldFolder>& heldFolders() {
  static auto& all = *new std::map<std::string, HeldFolder>;
  return all;
}

// The folder of the last component and the component; -1 for the disc
// folder itself (EINVAL) or a path outside it. The descriptor is the
// caller's own (a duplicate of the disc folder's for a name right in it).
int parentOfParts(const std::string& discFolder, const std::vector<std::string>& parts, std::string& leaf) {
  if (parts.empty()) return failWith(EINVAL);
  const auto root = discFolderDescriptor(discFolder);
  if (!root) return -1;
  leaf = parts.back();
  const size_t count = parts.size() - 1;
  if (count == 0) return ::fcntl(root->get(), F_DUPFD_CLOEXEC, 0);
  const int fd = kernelOpen(root->get(), joined(parts, count), O_PATH | O_DIRECTORY, 0);
  if (fd != kNotOffered) return fd;
  return ownWalk(root->get(), parts, count);
}

int parentOfHost(const std::string& discFolder, const std::string& host, std::string& leaf) {
  std::vector<std::string> parts;
  if (!componentsBelow(discFolder, host, parts)) return -1;
  return parentOfParts(discFolder, parts, leaf);
}

}  // namespace

std::shared_ptr<const Descriptor> discFolderDescriptor(const std::string& discFolder) {
  std::lock_guard<std::mutex> lock(heldMutex());
  auto& all = heldFolders();
  if (const auto it = all.find(discFolder); it != all.end()) {
    struct stat st {};
    if (::fstat(it->second.descriptor->get(), &st) == 0 && st.st_nlink > 0) return it->second.descriptor;
    all.erase(it);  // removed since it was opened
  }
  auto descriptor = std::make_shared<const Descriptor>(::open(discFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat st {};
  if (!*descriptor || ::fstat(descriptor->get(), &st) != 0) return nullptr;
  if (all.size() >= kMaxHeldFolders) all.clear();
  all[discFolder] = HeldFolder{st.st_dev, st.st_ino, descriptor};
  return descriptor;
}

void confirmDiscFolder(const std::string& discFolder, const struct stat& status) {
  std::lock_guard<std::mutex> lock(heldMutex());
  auto& all = heldFolders();
  const auto it = all.find(discFolder);
  if (it != all.end() && (it->second.device != status.st_dev || it->second.inode != status.st_ino)) all.erase(it);
}

void releaseDiscFolder(const std::string& discFolder) {
  std::lock_guard<std::mutex> lock(heldMutex());
  heldFolders().erase(discFolder);
}

void useKernelWalk(bool on) { gKernelWalkWanted.store(on, std::memory_order_relaxed); }

int openBeneath(const std::string& discFolder, const std::string& host, int flags, mode_t mode) {
  std::vector<std::string> parts;
  if (!componentsBelow(discFolder, host, parts)) return -1;
  if (parts.empty()) return ::open(discFolder.c_str(), flags | O_CLOEXEC, mode);
  // A create goes through the folder's descriptor, which its name index
  // is told of the new name by.
  if ((flags & O_CREAT) == 0) {
    const auto root = discFolderDescriptor(discFolder);
    if (!root) return -1;
    const int fd = kernelOpen(root->get(), joined(parts, parts.size()), flags, mode);
    if (fd != kNotOffered) return fd;
  }
  std::string leaf;
  Descriptor dir(parentOfParts(discFolder, parts, leaf));
  if (!dir) return -1;
  const int fd = ::openat(dir.get(), leaf.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return failWith(linkAware(dir.get(), leaf, errno));
  if ((flags & O_CREAT) != 0) noteFolderChange(dir.get(), "", leaf);
  return fd;
}

int openPathOfRelative(int root, const std::string& relative) {
  const int fd = kernelOpen(root, relative, O_PATH, 0);
  return fd == kNotOffered ? -2 : fd;
}

int openParentBeneath(const std::string& discFolder, const std::string& host, std::string& leaf) {
  return parentOfHost(discFolder, host, leaf);
}

int statBeneath(const std::string& discFolder, const std::string& host, struct stat& st) {
  std::vector<std::string> parts;
  if (!componentsBelow(discFolder, host, parts)) return -1;
  if (parts.empty()) return ::stat(discFolder.c_str(), &st);
  std::string leaf;
  Descriptor dir(parentOfParts(discFolder, parts, leaf));
  if (!dir) return -1;
  if (::fstatat(dir.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  return S_ISLNK(st.st_mode) ? failWith(ELOOP) : 0;
}

int mkdirBeneath(const std::string& discFolder, const std::string& host, mode_t mode) {
  std::string leaf;
  Descriptor dir(parentOfHost(discFolder, host, leaf));
  if (!dir) return -1;
  // never follows a link in the last place
  if (::mkdirat(dir.get(), leaf.c_str(), mode) != 0) return -1;
  noteFolderChange(dir.get(), "", leaf);
  return 0;
}

int removeBeneath(const std::string& discFolder, const std::string& host, bool folder) {
  std::string leaf;
  Descriptor dir(parentOfHost(discFolder, host, leaf));
  if (!dir) return -1;
  if (::unlinkat(dir.get(), leaf.c_str(), folder ? AT_REMOVEDIR : 0) != 0) return -1;
  noteFolderChange(dir.get(), leaf, "");
  return 0;
}

int renameBeneath(const std::string& discFolder, const std::string& from, const std::string& to) {
  std::string fromLeaf;
  std::string toLeaf;
  Descriptor fromDir(parentOfHost(discFolder, from, fromLeaf));
  if (!fromDir) return -1;
  Descriptor toDir(parentOfHost(discFolder, to, toLeaf));
  if (!toDir) return -1;
  if (::renameat(fromDir.get(), fromLeaf.c_str(), toDir.get(), toLeaf.c_str()) != 0) return -1;
  noteFolderChange(fromDir.get(), fromLeaf, "");
  noteFolderChange(toDir.get(), "", toLeaf);
  return 0;
}

int chmodBeneath(const std::string& discFolder, const std::string& host, mode_t mode) {
  std::string leaf;
  Descriptor dir(parentOfHost(discFolder, host, leaf));
  if (!dir) return -1;
  if (::fchmodat(dir.get(), leaf.c_str(), mode, AT_SYMLINK_NOFOLLOW) == 0) return 0;
  if (errno != EOPNOTSUPP && errno != ENOTSUP) return -1;
  struct stat st {};
  if (::fstatat(dir.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    return failWith(ELOOP);
  }
  // No /proc for the C library's way: through a descriptor of the file.
  Descriptor fd(::openat(dir.get(), leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return failWith(linkAware(dir.get(), leaf, errno));
  return ::fchmod(fd.get(), mode);
}

void syncFolderBeneath(const std::string& discFolder, const std::string& host) {
  const Descriptor fd(openBeneath(discFolder, host, O_RDONLY | O_DIRECTORY));
  if (fd) ::fsync(fd.get());
}

// The whole content of a file below the disc folder, reached without
// following a link; nullopt when it cannot be read.
std::optional<std::string> readWholeBeneath(const std::string& discFolder, const std::string& host) {
  const Descriptor fd(openBeneath(discFolder, host, O_RDONLY));
  if (!fd) return std::nullopt;
  std::string text;
  char chunk[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
  return text;
}

}  // namespace quil::emulator
