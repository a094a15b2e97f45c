// What the reader library's functions share: its tables of volumes, open
// files and enumerations, the way a failure becomes the reader's last error,
// and what a volume path says about the file it names.
//
// Every QUIL_* function runs its body through `guarded`, which applies a
// fault the tests asked for, turns a thrown `Failure` into the reader's last
// error (and, for user data and general files, its Windows-level error), and
// keeps every other exception on this side of the C boundary.
#pragma once

#include "windows_errors.h"
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "disc.h"
#include "disc_image.h"
#include "quil/sibling/quilreader.h"
#include "text/utf.h"

namespace quil::emulator::reader {

// Windows error numbers the reader leaves for user-data and general files.
using namespace quil::emulator::winerror;  // the Windows error numbers

// Reader codes used here (the core's table gives their texts).
inline constexpr int32_t kInternal = -1;
inline constexpr int32_t kInvalidHandle = -4;
inline constexpr int32_t kInvalidParameter = -5;
inline constexpr int32_t kNotSupported = -6;
inline constexpr int32_t kDenied = -8;
inline constexpr int32_t kInvalidFilename = -9;
inline constexpr int32_t kIoError = -1000;
inline constexpr int32_t kOpenError = -1100;
inline constexpr int32_t kReadError = -1300;
inline constexpr int32_t kWriteError = -1400;
inline constexpr int32_t kDiscCorrupted = -3002;
inline constexpr int32_t kNoFreeSpace = -3003;
inline constexpr int32_t kAlreadyExists = -3008;
inline constexpr int32_t kSharingViolation = -3010;
inline constexpr int32_t kInvalidAccess = -3011;
inline constexpr int32_t kWriteProtected = -3012;
inline constexpr int32_t kNotFound = 1000;

// A failure on its way to the caller: thrown inside a QUIL_* body, caught by
// `guarded`. windowsError 0 leaves the reader's Windows-level error alone.
struct Failure {
  int32_t code;
  std::u16string message;
  uint32_t windowsError = 0;
};

[[noreturn]] void fail(int32_t code, std::u16string message, uint32_t windowsError = 0);

// The Windows error of a failure reaches the core only for user data and
// general files, so every other path passes 0.
inline uint32_t windowsErrorFor(bool userArea, uint32_t error) { return userArea ? error : 0; }

// The Windows error closest to a host errno, for the failures nobody planned.
uint32_t windowsErrorOfErrno(int error, uint32_t fallback);

// A path the resolver refused: a name the medium cannot hold, or one that
// passes through a link (throughLink), which no disc holds. Fails with -9
// and, for user data and general files, Windows error 123.
[[noreturn]] void failRefusedPath(std::u16string_view path, bool throughLink, bool userArea);

// What a volume path names, judged from its text alone.
struct PathFacts {
  std::vector<std::u16string> components;  // as given, empty ones dropped
  bool userArea = false;                   // below or at \USERDATA or \GENERAL
  bool writableArea = false;               // strictly below one of them: files may be made and written there
  bool rootAlias = false;                  // \ALIAS.XML
  bool clipEssence = false;                // \CLIP\<name>.MXF
  std::u16string clipName;                 // <name> of a clip essence file
  int32_t family = 0;                      // the last two digits of the -1x00 code families

  std::u16string text() const;        // "\A\B", for messages
  std::u16string parentText() const;  // the folder holding the last component
};

PathFacts describePath(std::u16string_view volumePath);

// One opened disc.
struct Volume {
  int32_t id = 0;
  std::string folder;  // the disc folder on the host, or the image file
  std::shared_ptr<DiscImage> image;  // set for an image, which is read instead of a folder
  bool writeInhibited = false;
  MediumDescription medium;  // as it was at opening; the label is re-read when asked
  // ALIAS.XML content handed over by QUIL_NotifyVirtualAlias, shown instead of
  // the disc's own; guarded by the tables' mutex.
  std::shared_ptr<const std::vector<uint8_t>> virtualAlias;
};

// One open file. The tables hold it by shared pointer so that a read still
// running on another thread keeps the descriptor alive after a close.
struct OpenFile {
  std::shared_ptr<Volume> volume;
  PathFacts path;
  std::string host;
  uint32_t access = 0;  // kAccess* bits
  int fd = -1;          // -1 for a file held in memory or read from an image
  std::unique_ptr<ImageFile> imageFile;
  std::shared_ptr<const std::vector<uint8_t>> memory;
  uint64_t shareToken = 0;

  std::mutex mutex;  // serialises I/O on the handle, as a synchronous Windows handle does
  int64_t position = 0;

  OpenFile() = default;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile();
};

// One entry of a listing, taken when the listing starts.
struct FoundEntry {
  std::u16string name;
  uint32_t attributes = 0;
  QUIL_SYSTEMTIME created{};
  QUIL_SYSTEMTIME accessed{};
  QUIL_SYSTEMTIME written{};
  int64_t size = 0;
};

struct Enumeration {
  int32_t volumeId = 0;
  bool userArea = false;
  std::vector<FoundEntry> entries;
  size_t next = 0;
};

// The reader's tables, one lock for all three.
class Tables {
 public:
  static Tables& instance();

  std::shared_ptr<Volume> volume(int32_t id);  // throws -4 when unknown
  std::shared_ptr<OpenFile> file(int32_t id);  // throws -4 when unknown

  int32_t addVolume(std::shared_ptr<Volume> v);
  int32_t addFile(std::shared_ptr<OpenFile> f);
  int32_t addEnumeration(std::unique_ptr<Enumeration> e);

  bool removeFile(int32_t id);
  // Drops the volume with its files and enumerations; false when unknown.
  bool removeVolume(int32_t id);

  // Runs `use` on an enumeration under the lock; false when unknown.
  template <class Use>
  bool withEnumeration(int32_t id, Use&& use) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = enumerations_.find(id);
    if (it == enumerations_.end()) return false;
    use(*it->second);
    return true;
  }
  bool removeEnumeration(int32_t id);

  std::shared_ptr<const std::vector<uint8_t>> virtualAlias(const Volume& v);
  void setVirtualAlias(Volume& v, std::shared_ptr<const std::vector<uint8_t>> bytes);

 private:
  Tables() = default;
  template <class Map>
  static int32_t issue(Map& map, int32_t& next);

  std::mutex mutex_;
  std::map<int32_t, std::shared_ptr<Volume>> volumes_;
  std::map<int32_t, std::shared_ptr<OpenFile>> files_;
  std::map<int32_t, std::unique_ptr<Enumeration>> enumerations_;
  int32_t nextVolume_ = 1;
  int32_t nextFile_ = 1;
  int32_t nextEnumeration_ = 1;
};

// A pending injected fault for `function`, applied: throws a Failure or the
// exception the fault asks for.
void applyInjectedFault(const char* function);

// Records the failure as the reader's last error; never throws.
void report(const Failure& failure) noexcept;

// The frame of every QUIL_* function: no exception leaves it, a failure
// becomes the reader's last error and `failureValue`.
template <class Body>
int32_t guarded(const char* function, int32_t failureValue, Body&& body) noexcept {
  try {
    applyInjectedFault(function);
    return body();
  } catch (const Failure& f) {
    report(f);
  } catch (const std::exception& e) {
    try {
      report(Failure{kInternal, fromUtf8(std::string(function) + ": " + e.what())});
    } catch (...) {
    }
  } catch (...) {
    try {
      report(Failure{kInternal, fromUtf8(std::string(function) + ": an unknown exception was raised")});
    } catch (...) {
    }
  }
  return failureValue;
}

// A NUL-terminated UTF-16 argument, refused with -5 when NULL.
std::u16string_view textArgument(const QUILCHAR* text, const char16_t* what);

// Copies `text` into a caller's buffer of `length` units: what fits and a
// NUL. *lengthOut gets the units needed including the NUL. Fails with -5
// after copying when the text did not fit whole.
void copyOut(std::u16string_view text, QUILCHAR* buffer, uint32_t length, uint32_t* lengthOut, const char16_t* what);

}  // namespace quil::emulator::reader
