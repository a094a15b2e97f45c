// The writer library's common ground.
//
// Fault injection. Every public entry point of the writer library starts
// with an EntryPoint frame named "<Class>::<Method>" for the file objects
// ("ClipWriter::create", "ClipWriter::Write", "ClipWriter::Close",
// "UserDataWriter::createFile", "XMLReaderWriter::Close", ...) or
// "QUILWriter::<Function>" for the free functions ("QUILWriter::DeleteClipFile",
// "QUILWriter::CheckKeldaFile", ...). The frame asks the emulator's control
// (quil::emulator::takeFault) whether a test made a fault pending for that
// name; a pending fault is consumed and thrown before the call does anything:
//   kWriterException   QUILWriterException(writerCode, repairStatus, message)
//   kWindowsError      the writer's Windows-level error := windowsError, then
//                      QUILWriterException(writerCode, or 0x82000024 when
//                      writerCode is 0, with repairStatus)
//   kStandardException std::runtime_error(message)
//   kNonStandardObject an int (42), which is no std::exception at all
//   kReaderError       a reader fault asked of a writer call: thrown as a
//                      writer exception, the same as kWriterException
// The exception names the entry point as its function and this file and
// line as its place. Outside injected faults the library throws nothing but
// QUILWriterException.
#include "writer_support.h"

#include "folder_names.h"

#include "share_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "quil/emulator_control.h"
#include "text/utf.h"

namespace quilwriter {

namespace {

thread_local const char* tEntryPoint = "QUILWriter";

constexpr int kInjectedObject = 42;

[[noreturn]] void throwFault(const char* name, const quil::emulator::Fault& fault) {
  using quil::emulator::FaultKind;
  const std::string text = fault.message.empty() ? std::string("injected fault in ") + name : quil::toUtf8(fault.message);
  switch (fault.kind) {
    case FaultKind::kStandardException:
      throw std::runtime_error(text);
    case FaultKind::kNonStandardObject:
      throw kInjectedObject;
    case FaultKind::kWindowsError:
      QUILWriterLastError::QUILLastErrorManager::set(fault.windowsError);
      throw QUILWriter::QUILWriterException(fault.writerCode != 0 ? fault.writerCode : kDenied, fault.repairStatus,
                                            __FILE__, name, __LINE__, text);
    case FaultKind::kWriterException:
    case FaultKind::kReaderError:
    default:
      throw QUILWriter::QUILWriterException(fault.writerCode, fault.repairStatus, __FILE__, name, __LINE__, text);
  }
}

}  // namespace

EntryPoint::EntryPoint(const char* name) : previous_(tEntryPoint) {
  quil::emulator::Fault fault;
  if (quil::emulator::takeFault(name, fault)) throwFault(name, fault);
  tEntryPoint = name;
}

EntryPoint::~EntryPoint() { tEntryPoint = previous_; }

void fail(uint32_t code, uint32_t windowsError, const std::string& message, const char* file, int line) {
  if (windowsError != 0) QUILWriterLastError::QUILLastErrorManager::set(windowsError);
  throw QUILWriter::QUILWriterException(code, 0, file, tEntryPoint, line, message);
}

uint32_t windowsErrorOf(int err) {
  switch (err) {
    case ENOENT: return kWinFileNotFound;
    case ENOTDIR: return kWinPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR: return kWinAccessDenied;
    case EROFS: return kWinWriteProtect;
    case EBUSY:
    case ETXTBSY: return kWinSharingViolation;
    case EEXIST: return kWinAlreadyExists;
    case EINVAL: return kWinInvalidParameter;
    case ENOSPC:
    case EDQUOT: return kWinDiskFull;
    case ENAMETOOLONG:
    case ELOOP: return kWinInvalidName;  // ELOOP: a link below the disc folder
    case ENOTEMPTY: return kWinDirNotEmpty;
    default: return kWinIoDevice;
  }
}

Disc openDisc(const std::u16string& root) {
  bool isImage = false;
  const auto folder = quil::emulator::discFolderOfRoot(root, &isImage);
  // As the driver answers a drive letter with no disc: not a damaged disc.
  if (!folder) QW_FAIL(kNoDrive, "no disc at root " + quil::toUtf8(root));
  // A folder without a medium description was never formatted as a disc.
  std::shared_ptr<quil::emulator::DiscImage> image;
  if (isImage) {
    std::string why;
    image = quil::emulator::DiscImage::open(*folder, &why);
    if (!image) QW_FAIL(kDiscCorrupted, *folder + " is no disc image: " + why);
  }
  auto medium = quil::emulator::MediumDescription::load(*folder);
  if (!medium) QW_FAIL(kDiscCorrupted, "no medium description in " + *folder);
  return Disc{*folder, std::move(*medium), std::move(image)};
}

void requireWritable(const Disc& disc, bool userData) {
  if (!disc.medium.writable) {
    QW_FAIL_WIN(kWriteProtected, userData ? kWinWriteProtect : 0, "the medium in " + disc.folder + " is not writable");
  }
}

quil::emulator::ResolvedPath resolve(const Disc& disc, std::u16string_view path, bool userData) {
  if (disc.image) {
    // What the image holds, for the checks before a write (which an image
    // refuses); the host text only names the entry in messages.
    const auto found = disc.image->locate(path);
    if (!found) QW_FAIL_WIN(kInvalidName, userData ? kWinInvalidName : 0, "invalid name " + quil::toUtf8(path));
    quil::emulator::ResolvedPath resolved;
    resolved.host = disc.folder + ":" + quil::toUtf8(path);
    resolved.exists = found->exists;
    resolved.isDirectory = found->directory;
    resolved.status.st_mode = found->directory ? S_IFDIR | 0755 : S_IFREG | 0644;
    return resolved;
  }
  bool throughLink = false;
  auto resolved = quil::emulator::resolvePath(disc.folder, path, &throughLink);
  if (!resolved) {
    QW_FAIL_WIN(kInvalidName, userData ? kWinInvalidName : 0,
                throughLink ? quil::toUtf8(path) + " passes through a link, which a disc cannot hold"
                            : "invalid name " + quil::toUtf8(path));
  }
  return *resolved;
}

void checkAvName(std::u16string_view name) {
  if (!quil::emulator::nameAllowed(name)) QW_FAIL(kInvalidName, "invalid name " + quil::toUtf8(name));
  // Every member of the set must fit a listing record: the longest suffix
  // is seven units (M01.XML, E01.SMI).
  if (name.size() + 7 > quil::emulator::kMaxNameUnits) {
    QW_FAIL(kInvalidName, "the name " + quil::toUtf8(name) + " is too long for the medium");
  }
}

std::u16string volumePath(std::u16string_view folder, std::u16string_view file) {
  std::u16string out = u"\\";
  out += folder;
  out += u"\\";
  out += file;
  return out;
}

std::string hostForNewFile(const Disc& disc, std::u16string_view folder, std::u16string_view file) {
  if (!quil::emulator::fitsTheMedium(volumePath(folder, file))) {
    QW_FAIL(kInvalidName, quil::toUtf8(file) + " is too long for the medium");
  }
  const auto resolved = resolve(disc, volumePath(folder, file));
  if (resolved.exists) QW_FAIL(kExists, resolved.host + " already exists");
  if (!resolved.parentIsFolder) {
    QW_FAIL(kDiscCorrupted, "the folder " + quil::toUtf8(folder) + " is missing from " + disc.folder);
  }
  return resolved.host;
}

std::string hostOfExisting(const Disc& disc, std::u16string_view folder, std::u16string_view file) {
  const auto resolved = resolve(disc, volumePath(folder, file));
  if (!resolved.exists || resolved.isDirectory) QW_FAIL(kNotFound, resolved.host + " does not exist");
  return resolved.host;
}

int64_t seekTarget(int64_t position, int64_t size, int64_t distance, QUILWriter::_QUIL_WHENCE whence,
                   bool userData) {
  int64_t base = 0;
  switch (whence) {
    case QUILWriter::QUIL_WHENCE_BEGIN: base = 0; break;
    case QUILWriter::QUIL_WHENCE_CURRENT: base = position; break;
    case QUILWriter::QUIL_WHENCE_END: base = size; break;
    default:
      QW_FAIL_WIN(kInvalidParameter, userData ? kWinInvalidParameter : 0,
                  "unknown seek origin " + std::to_string(static_cast<uint32_t>(whence)));
  }
  int64_t target = 0;
  if (__builtin_add_overflow(base, distance, &target) || target < 0) {
    QW_FAIL_WIN(kSeekError, userData ? kWinNegativeSeek : 0, "seek before the start of the file");
  }
  return target;
}

SpaceWrite writeWithinSpace(int fd, int64_t position, const void* buffer, uint64_t length,
                            quil::emulator::SpaceAccount& space) {
  SpaceWrite out;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    out.error = errno;
    return out;
  }
  const int64_t before = static_cast<int64_t>(st.st_size);
  const int64_t end = position + static_cast<int64_t>(length);
  const uint64_t growth = end > before ? static_cast<uint64_t>(end - before) : 0;
  const uint64_t granted = growth != 0 ? space.reserve(growth) : 0;
  uint64_t writable = length;
  if (granted < growth) {
    // What does not fit comes off the end of the buffer; a gap before the
    // position that does not fit leaves nothing to write.
    const uint64_t missing = growth - granted;
    writable = missing >= length ? 0 : length - missing;
  }
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  while (out.written < writable) {
    const int hostFault = quil::emulator::takeHostFault("write");
    if (hostFault != 0) errno = hostFault;
    const ssize_t n = hostFault != 0 ? -1
                                     : ::pwrite(fd, bytes + out.written, writable - out.written,
                                                position + static_cast<int64_t>(out.written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      out.error = n < 0 ? errno : EIO;
      break;
    }
    out.written += static_cast<uint64_t>(n);
  }
  const int64_t after = std::max(before, position + static_cast<int64_t>(out.written));
  const uint64_t used = out.written == 0 ? 0 : static_cast<uint64_t>(after - before);
  space.release(granted - used);
  return out;
}

int resizeWithinSpace(int fd, int64_t wanted, quil::emulator::SpaceAccount& space) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  const int64_t before = static_cast<int64_t>(st.st_size);
  if (wanted > before) {
    const uint64_t growth = static_cast<uint64_t>(wanted - before);
    const uint64_t granted = space.reserve(growth);
    if (granted < growth) {
      space.release(granted);
      return ENOSPC;
    }
    if (::ftruncate(fd, wanted) != 0) {
      const int err = errno;
      space.release(growth);
      return err;
    }
  } else if (wanted < before) {
    if (::ftruncate(fd, wanted) != 0) return errno;
    space.release(static_cast<uint64_t>(before - wanted));
  }
  return 0;
}

std::string parentOf(const std::string& hostPath) {
  const size_t slash = hostPath.rfind('/');
  return slash == std::string::npos ? std::string(".") : hostPath.substr(0, slash);
}

bool hasWriteBit(const quil::emulator::ResolvedPath& found) { return (found.status.st_mode & 0222) != 0; }

void replaceAtomically(const std::string& discFolder, const std::string& target, const std::vector<uint8_t>& bytes) {
  static std::atomic<uint64_t> counter{0};
  std::string leaf;
  const quil::emulator::Descriptor folder(quil::emulator::openParentBeneath(discFolder, target, leaf));
  if (!folder) {
    const int err = errno;
    QW_FAIL(codeOf(kWriteError, err), "cannot reach the folder of " + target + ": " + std::to_string(err));
  }
  // Keep the permissions of the file being replaced.
  struct stat st {};
  const mode_t mode = fstatat(folder.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode)
                          ? (st.st_mode & 07777)
                          : 0644;
  // The temporary name leaves out the target's, which may itself be as long
  // as a name can be; one left behind by an earlier process of the same id
  // is passed over.
  std::string temp;
  int fd = -1;
  int openError = 0;
  for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
    temp = std::string(kTempPrefix) + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
    fd = ::openat(folder.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    openError = fd < 0 ? errno : 0;
    if (openError != 0 && openError != EEXIST) break;
  }
  if (fd < 0) QW_FAIL(kWriteError, "cannot create " + temp + ": " + std::to_string(openError));
  size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  ok = ok && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  // A link in the target's place is replaced, never written through.
  if (!ok || ::renameat(folder.get(), temp.c_str(), folder.get(), leaf.c_str()) != 0) {
    const int err = errno;
    ::unlinkat(folder.get(), temp.c_str(), 0);
    QW_FAIL(kWriteError, "cannot replace " + target + ": " + std::to_string(err));
  }
  quil::emulator::noteFolderChange(folder.get(), temp, leaf);
  // The rename itself must reach the medium for the new content to survive.
  const quil::emulator::Descriptor dir(::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
}

namespace {

struct VolumeState {
  _Volume_Param param{};
  QUILWriter::QUILCacheReader* reader = nullptr;
  bool ready = false;
};

struct Volumes {
  std::mutex mutex;
  std::map<std::string, VolumeState> byFolder;
  std::string last;
  std::vector<uint8_t> virtualAlias;
};

Volumes& volumes() {
  static Volumes* v = new Volumes;  // never destroyed, like the rest of the emulator's state
  return *v;
}

}  // namespace

void rememberVolume(const std::string& folder, const _Volume_Param& param, QUILWriter::QUILCacheReader* reader) {
  auto& v = volumes();
  std::lock_guard<std::mutex> lock(v.mutex);
  v.byFolder[folder] = VolumeState{param, reader, false};
  v.last = folder;
}

void markLastVolumeReady() {
  auto& v = volumes();
  std::lock_guard<std::mutex> lock(v.mutex);
  const auto it = v.byFolder.find(v.last);
  if (it != v.byFolder.end()) it->second.ready = true;
}

bool volumeIn23Mode(const std::string& folder) {
  auto& v = volumes();
  std::lock_guard<std::mutex> lock(v.mutex);
  const auto it = v.byFolder.find(folder);
  return it != v.byFolder.end() && it->second.param.Quil23Mode;
}

void keepVirtualAlias(const std::vector<uint8_t>& alias) noexcept {
  try {
    auto& v = volumes();
    std::lock_guard<std::mutex> lock(v.mutex);
    v.virtualAlias = alias;
  } catch (...) {
    // Nothing may leave this call: the alias is then simply not kept.
  }
}

void releaseShareToken(uint64_t& token) {
  if (token != 0) quil::emulator::ShareRegistry::instance().release(token);
  token = 0;
}

void closeQuietly(int& fd, uint64_t& token) {
  if (fd >= 0) ::close(fd);
  fd = -1;
  releaseShareToken(token);
}

}  // namespace quilwriter
