// One emulated disc: a host folder holding the AV tree and the free areas,
// plus a description of the medium kept in a hidden file beside them.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "beneath.h"

#define QUIL_EMULATOR_API __attribute__((visibility("default")))

namespace quil::emulator {

// The hidden file that describes the medium; never listed, never reachable
// through a volume path.
inline constexpr std::string_view kMediumFileName = ".quil-medium";

struct QUIL_EMULATOR_API MediumDescription {
  char mediumType = 'S';        // 'S', 'W', 'R', ... as the driver reports it
  bool writeOnce = false;       // an R medium
  bool writable = true;         // false: the drive reports the medium not writable
  std::string firmware = "0100";  // four decimal digits
  std::u16string label;
  uint64_t capacity = 50ull << 30;
  bool is23ModeCheckOk = true;
  // The longest clip the drive records, in bytes of essence (0: no limit):
  // a recording that reaches it stops there, as at the drive's longest
  // duration.
  uint64_t clipLimit = 0;

  // The driver's medium type code: write-once media report an R code.
  uint8_t mediumTypeCode() const;

  static std::optional<MediumDescription> load(const std::string& discFolder);
  bool save(const std::string& discFolder) const;
};

// The disc folder a volume root path names: a drive root ("E:", "E:\")
// through the drive folder ($QUIL_DRIVES or /var/lib/quil/drives, where "e:"
// links to the disc), else the root path itself as a host folder.
// *image (if given) tells whether it is a disc image rather than a folder.
QUIL_EMULATOR_API std::optional<std::string> discFolderOfRoot(std::u16string_view root, bool* image = nullptr);

// The folder of the drive letter, through the drive folder.
QUIL_EMULATOR_API std::optional<std::string> discFolderOfDrive(char16_t letter, bool* image = nullptr);

struct ResolvedPath {
  std::string host;         // the host path, UTF-8
  bool exists = false;      // every component was found
  bool isDirectory = false;
  // Every component before the last was found, and is a folder: a name
  // about to be made has somewhere to go.
  bool parentIsFolder = false;
  // What the last component's lstat said when it was found; its mode tells
  // file, folder and write bits without another walk.
  struct stat status {};
};

// Turns a volume path ("\CLIP\C0001.MXF", '/' also accepted) into a host path
// below the disc folder. Components match existing entries without regard to
// case, as on the medium. Refused (nullopt): "." or "..", a NUL, characters
// the medium cannot hold, names ending in a space or a dot, names longer than
// 255 units, the emulator's own hidden files, and a path that meets a
// symbolic link anywhere below the disc folder (then *throughLink is set): a
// real disc holds no links, and one must never lead outside the disc. The
// folders are walked from the disc folder without following a link. The
// host path is what to hand to the calls of beneath.h, which refuse a link
// put in place after this check just as well. When the path names a folder
// that exists, *folder (if given) receives the O_PATH descriptor the walk
// reached it by, so that a listing works on that very folder without
// walking the path again; status is then what fstat of it said.
QUIL_EMULATOR_API std::optional<ResolvedPath> resolvePath(const std::string& discFolder, std::u16string_view volumePath,
                                                          bool* throughLink = nullptr, Descriptor* folder = nullptr);

// Whether a single name may exist on the medium.
QUIL_EMULATOR_API bool nameAllowed(std::u16string_view name);

// What a name and a path may hold to be made on the medium: a listing
// record carries 64 UTF-16 units of a name, so no longer name is made (one
// made elsewhere is left out of listings rather than shown cut); a volume
// path holds at most 1023 units with its leading backslash.
inline constexpr size_t kMaxNameUnits = 64;
inline constexpr size_t kMaxPathUnits = 1023;

// Whether every name of the volume path fits a listing record and the path
// its limit: what a create, mkdir or rename must check of its new path.
QUIL_EMULATOR_API bool fitsTheMedium(std::u16string_view volumePath);

// The emulator's own hidden files (".quil" in any case), never part of the medium.
QUIL_EMULATOR_API bool isEmulatorFile(std::u16string_view name);

// Upper case for name comparison (the whole Basic Multilingual Plane).
QUIL_EMULATOR_API std::u16string foldName(std::u16string_view name);

// Bytes used by files on the disc (the medium file aside) and what remains.
QUIL_EMULATOR_API uint64_t usedBytes(const std::string& discFolder);

// Space bookkeeping of one disc, shared by every reader and writer of every
// process working on it (it lives in the disc's shared segment): reserve
// before writing, give back what was not written.
class DiscSegment;
class QUIL_EMULATOR_API SpaceAccount {
 public:
  static SpaceAccount& of(const std::string& discFolder);
  // Reserves up to `wanted` bytes; returns how many may be written.
  uint64_t reserve(uint64_t wanted);
  void release(uint64_t bytes);
  uint64_t freeBytes();
  uint64_t capacity();
  // Re-reads the capacity and the used bytes (at volume opening).
  void refresh();

 private:
  explicit SpaceAccount(std::string folder);
  std::string folder_;
  DiscSegment& segment_;
};

// The stable identifier of a clip: "060A2B340101010501010D4313" and 32
// upper-case hex digits, the FNV-1a-64 of the folded clip name's UTF-16
// units, then the FNV-1a-64 of the disc's KeldaIdRef text (UTF-8 bytes of
// DISCMETA.XML's KeldaIdRef value). The same clip on the same disc always
// gets the same identifier, through the reader and the writer alike.
QUIL_EMULATOR_API std::u16string clipIdentifier(const std::string& discFolder, std::u16string_view clipName);

// The KeldaIdRef value of the disc's DISCMETA.XML, empty when absent.
QUIL_EMULATOR_API std::string discIdentifier(const std::string& discFolder);

// Makes a fresh, empty disc in `folder` (created if needed; must be empty):
// the five root XML files, CLIP, SUB, COMPONENT, EDIT, USERDATA, GENERAL and
// KELDA, and the medium description. Returns an error text, empty on success.
// Every entry is made new, relative to the folder's descriptor: an entry
// (a link above all) that appears in the folder meanwhile fails the format
// instead of being written through.
QUIL_EMULATOR_API std::string formatDisc(const std::string& folder, const MediumDescription& medium);

}  // namespace quil::emulator
