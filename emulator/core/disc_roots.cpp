// Which disc folder a volume root names: a drive through the drive folder,
// else the root as a host folder.
#include "disc.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <mutex>

#include "platform/drive_folder.h"
#include "text/utf.h"

namespace quil::emulator {

namespace fs = std::filesystem;

namespace {

// A drive link as last resolved: the link's own identity and where it led.
struct ResolvedLink {
  ino_t inode = 0;
  struct timespec changed {};
  std::string target;
};

}  // namespace

std::optional<std::string> discFolderOfDrive(char16_t letter) {
  const auto link = quil::platform::driveLink(letter);
  if (!link) return std::nullopt;
  // Asked at every writer call and driver control: the link is resolved
  // again only when it was replaced (a new inode or change time); its
  // target is still asked whether it is there.
  static std::mutex& mutex = *new std::mutex;
  static auto& resolved = *new std::map<std::string, ResolvedLink>;
  struct stat linkStatus {};
  if (::lstat(link->c_str(), &linkStatus) != 0) return std::nullopt;
  const auto disc = [](const std::string& target) {
    struct stat st {};
    // A disc folder, or the image of a disc recorded elsewhere.
    return ::stat(target.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode));
  };
  {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = resolved.find(*link);
    if (it != resolved.end() && it->second.inode == linkStatus.st_ino &&
        it->second.changed.tv_sec == linkStatus.st_ctim.tv_sec &&
        it->second.changed.tv_nsec == linkStatus.st_ctim.tv_nsec) {
      return disc(it->second.target) ? std::optional<std::string>(it->second.target) : std::nullopt;
    }
  }
  std::error_code ec;
  const std::string target = fs::canonical(*link, ec).string();
  if (ec || !disc(target)) return std::nullopt;
  std::lock_guard<std::mutex> lock(mutex);
  resolved[*link] = ResolvedLink{linkStatus.st_ino, linkStatus.st_ctim, target};
  return target;
}

std::optional<std::string> discFolderOfRoot(std::u16string_view root) {
  while (root.size() > 1 && (root.back() == u'\\' || root.back() == u'/')) root.remove_suffix(1);
  if (root.size() == 2 && root[1] == u':') return discFolderOfDrive(root[0]);
  if (root.empty()) return std::nullopt;
  std::error_code ec;
  const fs::path folder = fs::path(toUtf8(root));
  if (!fs::is_directory(folder, ec) && !fs::is_regular_file(folder, ec)) return std::nullopt;
  return fs::canonical(folder, ec).string();
}

}  // namespace quil::emulator
