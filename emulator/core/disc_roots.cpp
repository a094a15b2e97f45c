// Which disc folder a volume root names: a drive through the drive folder,
// else the root as a host folder.
#include "disc.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <mutex>

#include "beneath.h"
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

std::optional<std::string> discFolderOfDrive(char16_t letter, bool* image) {
  struct stat linkStatus {};
  const auto link = quil::platform::driveLink(letter, &linkStatus);
  if (!link || linkStatus.st_nlink == 0) return std::nullopt;
  // Asked at every writer call and driver control: the link is resolved
  // again only when it was replaced (a new inode or change time); its
  // target is still asked whether it is there.
  static std::mutex& mutex = *new std::mutex;
  static auto& resolved = *new std::map<std::string, ResolvedLink>;
  const auto disc = [image](const std::string& target) {
    struct stat st {};
    // A disc folder, or the image of a disc recorded elsewhere.
    if (::stat(target.c_str(), &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))) {
      releaseDiscFolder(target);
      return false;
    }
    if (image != nullptr) *image = S_ISREG(st.st_mode);
    confirmDiscFolder(target, st);
    return true;
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

std::optional<std::string> discFolderOfRoot(std::u16string_view root, bool* image) {
  while (root.size() > 1 && (root.back() == u'\\' || root.back() == u'/')) root.remove_suffix(1);
  if (root.size() == 2 && root[1] == u':') return discFolderOfDrive(root[0], image);
  if (root.empty()) return std::nullopt;
  const std::string folder = toUtf8(root);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))) return std::nullopt;
  if (image != nullptr) *image = S_ISREG(st.st_mode);
  std::error_code ec;
  std::string canonical = fs::canonical(folder, ec).string();
  if (ec) return std::nullopt;
  confirmDiscFolder(canonical, st);
  return canonical;
}

}  // namespace quil::emulator
