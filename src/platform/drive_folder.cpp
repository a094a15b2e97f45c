#include "platform/drive_folder.h"

#include <sys/stat.h>

#include <cstdlib>

namespace quil::platform {

std::string driveFolder() {
  const char* env = std::getenv("QUIL_DRIVES");
  return env != nullptr && *env != '\0' ? env : "/var/lib/quil/drives";
}

std::optional<std::string> driveLink(char16_t letter, struct stat* status) {
  // Compared as UTF-16 units: a letter outside ASCII is never narrowed into one.
  char lower = 0;
  if (letter >= u'a' && letter <= u'z') lower = static_cast<char>(letter - u'a' + 'a');
  else if (letter >= u'A' && letter <= u'Z') lower = static_cast<char>(letter - u'A' + 'a');
  else return std::nullopt;
  const std::string folder = driveFolder();
  const std::string link = folder + "/" + lower + ":";
  struct stat ignored {};
  struct stat& st = status != nullptr ? *status : ignored;
  if (::lstat(link.c_str(), &st) == 0) return link;
  const std::string upper = folder + "/" + static_cast<char>(lower - 'a' + 'A') + ":";
  if (::lstat(upper.c_str(), &st) == 0) return upper;
  st = {};
  return link;
}

}  // namespace quil::platform
