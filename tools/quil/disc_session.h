// What every quil subcommand that works on a disc shares: choosing the disc
// (--drive, --root, QUIL_DRIVE), opening and closing its volume through the
// public header, volume paths as users type them, and failures reported
// with the path, the library's code and its text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "quil/quilcoreapi.h"

namespace quiltool {

// Exit statuses.
inline constexpr int kOk = 0;
inline constexpr int kLibraryFailure = 1;
inline constexpr int kUsage = 2;

// A failure to report and the exit status it ends the program with.
struct Failure : std::runtime_error {
  Failure(const std::string& text, int status) : std::runtime_error(text), exitStatus(status) {}
  int exitStatus;
};

// The library's last error for what: "quil: WHAT: CODE TEXT" (or the
// thread's Windows error when the library relayed one).
[[noreturn]] void libraryFailure(const std::string& what);

std::u16string widen(const std::string& utf8);
std::string narrow(std::u16string_view text);

// "/CLIP/C0001.MXF", "CLIP\C0001.MXF" and "\CLIP\C0001.MXF" are one path.
std::u16string volumePath(const std::string& typed);

struct DiscChoice {
  std::string drive;  // "E:" (from --drive or QUIL_DRIVE)
  std::string root;   // a host folder holding a disc (--root)
};

// The volume of the chosen disc, open for the life of the object.
class OpenVolume {
 public:
  explicit OpenVolume(const DiscChoice& choice);
  ~OpenVolume();
  OpenVolume(const OpenVolume&) = delete;
  OpenVolume& operator=(const OpenVolume&) = delete;

  const std::u16string& rootPath() const { return rootPath_; }
  // The disc image the volume reads, when the disc is one (never written);
  // empty for a disc folder.
  const std::string& imageFile() const { return imageFile_; }
  // Closes the volume now and reports a failure to close.
  void close();

 private:
  std::u16string rootPath_;
  std::string driveFolder_;  // a private drive folder for --root, removed at the end
  std::string shown_;        // the disc as the user named it, for failure lines
  std::string imageFile_;
  bool open_ = false;
};

// A file handle closed at the end of its scope.
class OpenFile {
 public:
  OpenFile(const std::u16string& path, uint32_t access, uint32_t share, uint32_t disposition);
  ~OpenFile();
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int32_t handle() const { return handle_; }
  // Closes now; a failed close is a failure of the command.
  void close();

 private:
  std::u16string path_;
  int32_t handle_ = -1;
};

}  // namespace quiltool
