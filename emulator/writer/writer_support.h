// What the writer library's pieces share: the codes it throws, the entry
// point frame (fault injection and the function named in exceptions), the
// disc behind a root, name checks, atomic replacement of a file, and the
// state of the volumes opened in this process.
#pragma once

#include "windows_errors.h"
#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "disc.h"
#include "disc_image.h"
#include "quil/sibling/quilwriter.h"

namespace quilwriter {

// The writer codes this library throws. Each was picked for the system code
// it gives through the core's writer error map (shown after it).
inline constexpr uint32_t kBusy = 0x81000004;              // -3004 drive is busy
inline constexpr uint32_t kNoSpace = 0x82000002;           // -3003 no free space
inline constexpr uint32_t kOpenError = 0x82000005;         // -1100 file open error
inline constexpr uint32_t kWriteError = 0x8200000D;        // -1400 file write error
inline constexpr uint32_t kReadError = 0x8200001B;         // -1300 file read error
inline constexpr uint32_t kGetSizeError = 0x8200001C;      // -3207 GetFileSize error
inline constexpr uint32_t kSetEndError = 0x8200001E;       // -3208 SetEndOfFile error
inline constexpr uint32_t kSeekError = 0x82000020;         // -3206 SetFilePointer error
inline constexpr uint32_t kDenied = 0x82000024;            // -8    denied / sharing
inline constexpr uint32_t kUnsupportedTree = 0x8400000F;   // the AV tree cannot be handled
inline constexpr uint32_t kWriteProtectTree = 0x84000010;  // the AV tree must open write-protected
inline constexpr uint32_t kInvalidName = 0x86000003;       // -9    invalid file name
inline constexpr uint32_t kInvalidParameter = 0x86000006;  // -5    invalid parameter
inline constexpr uint32_t kExists = 0x86000008;            // -3008 already exists
inline constexpr uint32_t kDiscCorrupted = 0x8600000F;     // -3002 disc corrupted
inline constexpr uint32_t kNoDrive = 0x8200000B;           // -3101 no disc or drive at the root
inline constexpr uint32_t kNotFound = 0x86000010;          // 1000  not found
inline constexpr uint32_t kInvalidOperation = 0x87000001;  // -3005 invalid operation (closed object)
inline constexpr uint32_t kWriteProtected = 0x88000013;    // -3012 write protected
inline constexpr uint32_t kCreateDirError = 0x8A000001;    // -3201 CreateDirectory error
inline constexpr uint32_t kRemoveDirError = 0x8A000002;    // -3204 RemoveDirectory error
inline constexpr uint32_t kMoveError = 0x8A000003;         // -3202 MoveFile error
inline constexpr uint32_t kDeleteError = 0x8A000004;       // -3203 DeleteFile error
inline constexpr uint32_t kSetAttributesError = 0x8A000005;  // -3205 SetFileAttributes error

// Windows error numbers that user-data and general failures leave behind.
using namespace quil::emulator::winerror;  // the Windows error numbers

// The namespace of DISCMETA.XML in the form a disc in 2.3 mode needs.
inline constexpr const char* kDiscMetaNamespace100 = "urn:schemas-orbelDisc:discMeta:ver.1.00";

// Every public entry point opens one of these first. It consumes a fault
// that a test made pending for the entry point (see writer_support.cpp) and
// names the entry point in the exceptions thrown while it runs.
class EntryPoint {
 public:
  explicit EntryPoint(const char* name);
  ~EntryPoint();
  EntryPoint(const EntryPoint&) = delete;
  EntryPoint& operator=(const EntryPoint&) = delete;

 private:
  const char* previous_;
};

// Throws QUILWriterException with repair status 0 (the disc needed no
// repair). A non-zero windowsError is left as the writer's Windows-level
// error first: user-data and general failures carry one.
[[noreturn]] void fail(uint32_t code, uint32_t windowsError, const std::string& message, const char* file, int line);

#define QW_FAIL(code, message) ::quilwriter::fail((code), 0, (message), __FILE__, __LINE__)
#define QW_FAIL_WIN(code, windowsError, message) \
  ::quilwriter::fail((code), (windowsError), (message), __FILE__, __LINE__)

// The Windows error closest to a host errno.
uint32_t windowsErrorOf(int err);

// The writer code of a failed host call: a link met below the disc folder
// (ELOOP) is an invalid name, as the resolver calls it; anything else is code.
inline uint32_t codeOf(uint32_t code, int err) { return err == ELOOP ? kInvalidName : code; }

// The disc behind a root, with its medium as it is described now.
struct Disc {
  std::string folder;  // the disc folder, or the image file
  quil::emulator::MediumDescription medium;
  std::shared_ptr<quil::emulator::DiscImage> image;  // set for an image: read only, never written
};

// Throws disc corrupted when the root names no emulated disc.
Disc openDisc(const std::u16string& root);

// Throws write protected when the drive reports the medium not writable;
// userData adds Windows error 19.
void requireWritable(const Disc& disc, bool userData = false);

// Resolves a volume path below the disc; a name the medium cannot hold, or a
// path through a link, throws invalid name (with Windows error 123 when
// userData). Every host call on the result goes through beneath.h.
quil::emulator::ResolvedPath resolve(const Disc& disc, std::u16string_view volumePath, bool userData = false);

// A clip, component or edit-list name is one name on the medium.
void checkAvName(std::u16string_view name);

// "\FOLDER\file" as a volume path.
std::u16string volumePath(std::u16string_view folder, std::u16string_view file);

// The host path of a file about to be created in an AV folder of the disc:
// an existing file of that name (in any case) throws already exists, a
// missing folder disc corrupted.
std::string hostForNewFile(const Disc& disc, std::u16string_view folder, std::u16string_view file);

// The host path of an existing file of an AV folder; throws not found.
std::string hostOfExisting(const Disc& disc, std::u16string_view folder, std::u16string_view file);

// The position a seek asks for; a position before the start throws the
// seek error (Windows error 131 when userData), an unknown whence invalid
// parameter (87).
int64_t seekTarget(int64_t position, int64_t size, int64_t distance, QUILWriter::_QUIL_WHENCE whence,
                   bool userData = false);

// What writeWithinSpace did: the bytes written, and the errno of a failed
// host write (0 when the count is short only because the medium is full).
struct SpaceWrite {
  uint64_t written = 0;
  int error = 0;
};

// Writes at position as much of buffer as the disc has room for: bytes that
// make the file longer are reserved from the disc's space account first,
// and what was reserved but not written is given back.
SpaceWrite writeWithinSpace(int fd, int64_t position, const void* buffer, uint64_t length,
                            quil::emulator::SpaceAccount& space);

// Sets the length of an open file, growth reserved first. 0 on success,
// ENOSPC when the medium has no room, else the errno of the host failure.
int resizeWithinSpace(int fd, int64_t wanted, quil::emulator::SpaceAccount& space);

std::string parentOf(const std::string& hostPath);
// From what the path's resolution found: no second walk.
bool hasWriteBit(const quil::emulator::ResolvedPath& found);

// Replaces target, a file below discFolder, by bytes so that a crash leaves
// either the old or the new file, never a mix: a hidden temporary file in
// the same folder is written, synced and renamed over the target, all
// relative to the folder's descriptor, reached without following a link.
// Throws write error on failure (invalid name for a link on the way).
void replaceAtomically(const std::string& discFolder, const std::string& target, const std::vector<uint8_t>& bytes);

// The hidden temporary files of replaceAtomically start with this.
inline constexpr std::string_view kTempPrefix = ".quil-tmp-";

// Volumes opened through CreateVolume in this process, by disc folder.
void rememberVolume(const std::string& folder, const _Volume_Param& param, QUILWriter::QUILCacheReader* reader);
void markLastVolumeReady();
bool volumeIn23Mode(const std::string& folder);

// The alias table the disc presents while it cannot be written.
void keepVirtualAlias(const std::vector<uint8_t>& alias) noexcept;

// An open host file's descriptor and sharing token, given back without
// reporting anything (error paths and destructors).
void releaseShareToken(uint64_t& token);
void closeQuietly(int& fd, uint64_t& token);

}  // namespace quilwriter
