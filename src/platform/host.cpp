#include "platform/host.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "platform/drive_folder.h"
#include "text/utf.h"

namespace quil::platform {

std::string programFilesFolder() {
  const char* env = std::getenv("QUIL_PROGRAM_FILES");
  std::string folder = env != nullptr && *env != '\0' ? std::string(env) : std::string("/opt");
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

namespace {
// getpid() is a system call on every use; every trace line wants the id, so
// it is kept and renewed in the child after a fork.
std::atomic<uint32_t> gProcessId{0};
void renewProcessId() { gProcessId.store(static_cast<uint32_t>(getpid()), std::memory_order_relaxed); }
}  // namespace

uint32_t processId() {
  static const bool registered = [] {
    renewProcessId();
    pthread_atfork(nullptr, nullptr, renewProcessId);
    return true;
  }();
  (void)registered;
  return gProcessId.load(std::memory_order_relaxed);
}

int debugOutputDescriptor() { return STDERR_FILENO; }

bool grantUsersReadWrite(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  const mode_t wanted = st.st_mode | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
  if (wanted == st.st_mode) return true;
  return fchmod(fd, wanted & 07777) == 0;
}

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

bool fileNamesIn(const std::string& folder, std::vector<std::string>& names) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  errno = 0;
  while (const dirent* e = ::readdir(dir)) {
    struct stat st {};
    if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) continue;
    names.emplace_back(e->d_name);
    errno = 0;
  }
  const bool whole = errno == 0;
  ::closedir(dir);
  return whole;
}

int createUnnamedFile(const std::string& folder) {
  return ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

bool nameUnnamedFile(int fd, const std::string& path) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

int openRegularForAppend(const std::string& path) {
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, O_APPEND) != 0) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

int createForAppend(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

int openSubfolder(const std::string& parent, const std::string& name) {
  const int folder = ::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return -1;
  const int sub = ::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  const int error = errno;
  ::close(folder);
  errno = error;
  return sub;
}

bool entryExistsAt(int dir, const std::string& name) {
  struct stat st {};
  return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

int makeFolderAt(int dir, const std::string& name) { return ::mkdirat(dir, name.c_str(), 0777); }

std::string hostPathOfVolumeRoot(std::u16string_view root) {
  while (root.size() > 1 && (root.back() == u'\\' || root.back() == u'/')) root.remove_suffix(1);
  if (root.size() == 2 && root[1] == u':') {
    if (const auto link = driveLink(root[0])) return *link;
  }
  return quil::toUtf8(root);
}

}  // namespace quil::platform
