// Which disc folder a volume root names: a drive through the drive folder,
// else the root as a host folder.
#include "disc.h"

#include <filesystem>

#include "platform/drive_folder.h"
#include "text/utf.h"

namespace quil::emulator {

namespace fs = std::filesystem;

std::optional<std::string> discFolderOfDrive(char16_t letter) {
  const auto link = quil::platform::driveLink(letter);
  if (!link) return std::nullopt;
  std::error_code ec;
  const fs::path target = fs::canonical(*link, ec);
  // A disc folder, or the image of a disc recorded elsewhere.
  if (ec || !(fs::is_directory(target, ec) || fs::is_regular_file(target, ec))) return std::nullopt;
  return target.string();
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
