// What to fix when a disc could not be opened: the tools add this line to
// the library's own, which gives a code but cannot say which link or folder
// was missing.
#pragma once

#include <stdlib.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "quil/emulator_control.h"

namespace quiltools {

inline bool isDriveRoot(const std::string& root) {
  return root.size() == 2 && root[1] == ':' && std::isalpha(static_cast<unsigned char>(root[0])) != 0;
}

// For a drive root ("E:") or a host folder given instead (drive empty);
// `instead` says how the tool takes a folder in place of a drive. Empty
// when nothing looks wrong from here.
inline std::string discAdvice(const std::string& drive, const std::string& folder, const std::string& instead) {
  namespace fs = std::filesystem;
  std::error_code ec;
  // A file stands for the image of a disc: what it lacks is said in full.
  const auto imageAdvice = [&](const std::string& file) {
    const std::string problem = quil::emulator::imageProblem(file);
    return problem.empty() ? std::string() : file + " is not a disc image that can be read: " + problem;
  };
  const auto notADisc = [&](const std::string& dir) {
    return dir + " is not a disc made by quil mkdisc (it has no .quil-medium): make one with `quil mkdisc " + dir +
           "`";
  };
  if (!folder.empty()) {
    if (fs::is_regular_file(folder, ec)) return imageAdvice(folder);
    if (!fs::is_directory(folder, ec)) return folder + " is neither a folder nor a disc image";
    if (!fs::exists(fs::path(folder) / ".quil-medium", ec)) return notADisc(folder);
    return "";
  }
  if (!isDriveRoot(drive)) return drive + " is not a drive: a drive is a letter and a colon, such as E:";
  const char* env = std::getenv("QUIL_DRIVES");
  const std::string drives = env != nullptr && *env != '\0' ? env : "/var/lib/quil/drives";
  const std::string lower(1, static_cast<char>(std::tolower(static_cast<unsigned char>(drive[0]))));
  const std::string link = drives + "/" + lower + ":";
  if (!fs::is_directory(drives, ec)) {
    return "the drive folder " + drives + " does not exist (" + (env != nullptr ? "QUIL_DRIVES" : "the default") +
           "): make it and link a disc as `ln -s DIR " + link + "`, set QUIL_DRIVES, or " + instead;
  }
  std::string found;
  for (const std::string& name : {lower + ":", std::string(1, static_cast<char>(std::toupper(lower[0]))) + ":"}) {
    if (fs::is_symlink(fs::path(drives) / name, ec) || fs::exists(fs::path(drives) / name, ec)) {
      found = drives + "/" + name;
      break;
    }
  }
  if (found.empty()) {
    return "no link for drive " + drive + " in the drive folder " + drives + " (looked for " + link +
           "): link a disc with `ln -s DIR " + link + "`, or " + instead;
  }
  if (fs::is_regular_file(found, ec)) return imageAdvice(fs::canonical(found, ec).string());
  if (!fs::is_directory(found, ec)) {
    return found + " does not lead to a folder: link it to a disc folder or a disc image";
  }
  if (!fs::exists(fs::path(found) / ".quil-medium", ec)) return notADisc(fs::canonical(found, ec).string());
  return "";
}

// A drive folder of this process's own in the temporary folder, made new
// (mkdtemp): a folder a killed run left behind never stands in the way.
// Empty when none can be made.
inline std::string privateDriveFolder(const char* tool) {
  std::string folder = (std::filesystem::temp_directory_path() / (std::string(tool) + "-drive-XXXXXX")).string();
  return ::mkdtemp(folder.data()) != nullptr ? folder : std::string();
}

}  // namespace quiltools
