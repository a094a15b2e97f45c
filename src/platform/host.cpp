#include "platform/host.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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

std::string hostPathOfVolumeRoot(std::u16string_view root) {
  while (root.size() > 1 && (root.back() == u'\\' || root.back() == u'/')) root.remove_suffix(1);
  if (root.size() == 2 && root[1] == u':') {
    if (const auto link = driveLink(root[0])) return *link;
  }
  return quil::toUtf8(root);
}

}  // namespace quil::platform
