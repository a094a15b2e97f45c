#include "platform/host.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace quil::platform {

std::string programFilesFolder() {
  const char* env = std::getenv("QUIL_PROGRAM_FILES");
  std::string folder = env != nullptr && *env != '\0' ? std::string(env) : std::string("/opt");
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

uint32_t processId() { return static_cast<uint32_t>(getpid()); }

int debugOutputDescriptor() { return STDERR_FILENO; }

bool grantUsersReadWrite(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  const mode_t wanted = st.st_mode | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
  if (wanted == st.st_mode) return true;
  return chmod(path.c_str(), wanted & 07777) == 0;
}

}  // namespace quil::platform
