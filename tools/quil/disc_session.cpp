#include "disc_session.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/disc_advice.h"
#include "common/settings_check.h"
#include "common/utf.h"
#include "common/windows_message.h"
#include "platform/drive_folder.h"
#include "quil/platform_error.h"

namespace quiltool {

namespace fs = std::filesystem;

// UTF-8 of the command line to the library's UTF-16; a broken sequence
// becomes U+FFFD.
std::u16string widen(const std::string& s) { return quiltools::utf16Lenient(s); }

std::string narrow(std::u16string_view text) { return quiltools::utf8Of(text); }

void libraryFailure(const std::string& what) {
  QUILCHAR message[256] = {};
  const int32_t code = QUILAPI_GetLastErrorWithMessage(message, 256, nullptr);
  const uint32_t windows = QUILPlatform_GetLastError();
  std::string text = "quil: " + what + ": ";
  if (code == 0 && windows != 0) {
    text += quiltools::windowsErrorLine(windows);
  } else {
    text += std::to_string(code) + " " + narrow(message);
  }
  throw Failure(text, kLibraryFailure);
}

std::u16string volumePath(const std::string& typed) {
  std::u16string path = widen(typed);
  for (char16_t& c : path) {
    if (c == u'/') c = u'\\';
  }
  if (path.empty() || path.front() != u'\\') path.insert(path.begin(), u'\\');
  return path;
}

OpenVolume::OpenVolume(const DiscChoice& choice) {
  quiltools::warnAboutSettingsAndLogs("quil");
  if (!choice.root.empty()) {
    // The driver reaches a disc by drive letter: a host folder gets a
    // drive folder of this process's own, with the letter Q.
    std::error_code ec;
    const fs::path disc = fs::absolute(choice.root, ec);
    // A disc folder, or the image of a disc recorded elsewhere (read-only).
    if (ec || !(fs::is_directory(disc) || fs::is_regular_file(disc))) {
      throw Failure("quil: " + choice.root + ": neither a disc folder nor a disc image", kUsage);
    }
    driveFolder_ = quiltools::privateDriveFolder("quil");
    if (driveFolder_.empty()) {
      throw Failure("quil: cannot make a drive folder: " + std::string(std::strerror(errno)), kLibraryFailure);
    }
    fs::create_symlink(disc, fs::path(driveFolder_) / "q:", ec);
    if (ec) throw Failure("quil: cannot reach " + choice.root + " as a drive: " + ec.message(), kLibraryFailure);
    setenv("QUIL_DRIVES", driveFolder_.c_str(), 1);
    rootPath_ = u"Q:";
  } else {
    rootPath_ = widen(choice.drive);
  }
  // "drive E", so that the failure line reads "quil: drive E: CODE TEXT".
  const bool letter = quiltools::isDriveRoot(choice.drive);
  shown_ = choice.root.empty() ? "drive " + (letter ? choice.drive.substr(0, 1) : choice.drive) : choice.root;
  _Volume_Param param{};
  param.maxClipReadHandles = 8;
  if (QUILAPI_CreateVolume(rootPath_.c_str(), &param) != 0) {
    std::error_code ec;
    if (!driveFolder_.empty()) fs::remove_all(driveFolder_, ec);
    // Named as the user named it: the folder, not the private drive letter.
    try {
      libraryFailure(shown_);
    } catch (const Failure& failure) {
      const std::string advice =
          quiltools::discAdvice(choice.root.empty() ? choice.drive : "", choice.root, "use --root DIR");
      if (advice.empty()) throw;
      throw Failure(std::string(failure.what()) + "\nquil: " + advice, failure.exitStatus);
    }
  }
  open_ = true;
  // Where the drive leads: a regular file there is a disc image.
  const auto link = quil::platform::driveLink(rootPath_.empty() ? u'E' : rootPath_[0]);
  std::error_code ec;
  const fs::path target = link ? fs::canonical(*link, ec) : fs::path();
  if (link && !ec && fs::is_regular_file(target, ec)) imageFile_ = target.string();
}

void OpenVolume::close() {
  if (!open_) return;
  open_ = false;
  const int32_t closed = QUILAPI_CloseVolume(0);
  std::error_code ec;
  if (!driveFolder_.empty()) fs::remove_all(driveFolder_, ec);
  if (closed == 0) libraryFailure(shown_);
}

OpenVolume::~OpenVolume() {
  if (!open_) return;
  QUILAPI_CloseVolume(0);
  std::error_code ec;
  if (!driveFolder_.empty()) fs::remove_all(driveFolder_, ec);
}

OpenFile::OpenFile(const std::u16string& path, uint32_t access, uint32_t share, uint32_t disposition)
    : path_(path), handle_(QUILAPI_CreateFile(0, path.c_str(), access, share, nullptr, disposition, 0, nullptr)) {
  if (handle_ == -1) libraryFailure(narrow(path_));
}

void OpenFile::close() {
  const int32_t h = handle_;
  handle_ = -1;
  if (h != -1 && QUILAPI_CloseHandle(h) == 0) libraryFailure(narrow(path_));
}

OpenFile::~OpenFile() {
  if (handle_ != -1) QUILAPI_CloseHandle(handle_);
}

}  // namespace quiltool
