#include "log_files.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>

namespace quiltool {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSettingsKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]";

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// A .reg string value: "text" with \\ and \" escaped.
std::string regString(const std::string& quoted) {
  std::string out;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    if (quoted[i] == '\\' && i + 2 < quoted.size()) ++i;
    out.push_back(quoted[i]);
  }
  return out;
}

// Today's files by their index (0 for the day's first).
std::map<unsigned, std::string> todaysFiles() {
  std::map<unsigned, std::string> files;
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  char day[16];
  strftime(day, sizeof day, "%Y%m%d", &local);
  const std::string prefix = std::string("QUILSVC_") + day;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(logFolder(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0 || name.size() < prefix.size() + 4 || name.substr(name.size() - 4) != ".log") {
      continue;
    }
    const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    if (middle.empty()) {
      files[0] = entry.path().string();
    } else if (middle[0] == '_' && middle.size() > 1 &&
               std::all_of(middle.begin() + 1, middle.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      files[static_cast<unsigned>(std::stoul(middle.substr(1)))] = entry.path().string();
    }
  }
  return files;
}

}  // namespace

std::string logFolder() {
  const char* env = std::getenv("QUIL_REGISTRY");
  std::ifstream in(env != nullptr && *env != '\0' ? env : "/etc/quil/registry.reg");
  bool inKey = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inKey = lower(line) == lower(kSettingsKey);
      continue;
    }
    const std::string name = "\"logfolder\"=";
    if (inKey && lower(line).rfind(name, 0) == 0) return regString(line.substr(name.size()));
  }
  const char* programFiles = std::getenv("QUIL_PROGRAM_FILES");
  const std::string base = programFiles != nullptr && *programFiles != '\0' ? programFiles : "/opt";
  return base + "/Merrow/TALVO Drive/quilsvc/log";
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
