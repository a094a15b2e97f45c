#include "log_files.h"

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>

#include "logging/log_file_name.h"
#include "logging/log_settings.h"
#include "platform/host.h"
#include "platform/local_time.h"
#include "platform/registry.h"
#include "text/utf.h"

namespace quiltool {

namespace fs = std::filesystem;

namespace {

// Today's files by their index (0 for the day's first), named as the
// library names them.
std::map<unsigned, std::string> todaysFiles() {
  std::map<unsigned, std::string> files;
  const std::u16string today = QUILLogger::dateKeyOf(quil::platform::localNow());
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(logFolder(), ec)) {
    const auto info =
        QUILLogger::parseLogFileName(quil::fromUtf8(entry.path().filename().string()), QUILLogger::kServiceFilePrefix);
    if (info.valid && info.dateKey == today) files[info.index] = entry.path().string();
  }
  return files;
}

}  // namespace

std::string logFolder() {
  const auto registry = quil::platform::Registry::fromFile(quil::platform::Registry::defaultPath());
  const auto settings = QUILLogger::readLogSettings(registry, QUILLogger::kServiceRegistryKey,
                                                    QUILLogger::kServiceFolderTail,
                                                    quil::platform::programFilesFolder());
  std::string folder = quil::toUtf8(settings.folder);
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string todaysLogFile() {
  const auto files = todaysFiles();
  return files.empty() ? std::string() : files.rbegin()->second;
}

std::vector<std::string> lastLines(const std::string& path, size_t n) {
  std::deque<std::string> kept;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    kept.push_back(line);
    if (kept.size() > n) kept.pop_front();
  }
  return std::vector<std::string>(kept.begin(), kept.end());
}

std::vector<std::string> todaysLogLines() {
  std::vector<std::string> lines;
  for (const auto& [index, path] : todaysFiles()) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  return lines;
}

}  // namespace quiltool
