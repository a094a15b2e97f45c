// Files and folders below \USERDATA and \GENERAL: plain files that the
// drive lets a host use as on any Windows volume. Their operations take
// CreateFileW's arguments and follow its rules, and every failure leaves the
// Windows error that Windows would leave (2, 3, 5, 32, 80, 112, 183, ...)
// as the writer's Windows-level error before the exception.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "share_registry.h"
#include "text/utf.h"
#include "writer_support.h"

namespace quilwriter {

namespace {

using quil::emulator::ShareRegistry;
using quil::emulator::SpaceAccount;

// CreateFileW's access rights and flags that matter here.
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kGenericAll = 0x10000000u;
constexpr uint32_t kFileReadData = 0x0001u;
constexpr uint32_t kFileWriteData = 0x0002u;
constexpr uint32_t kFileAppendData = 0x0004u;
constexpr uint32_t kDelete = 0x00010000u;
constexpr uint32_t kAttributeReadOnly = 0x0001u;
constexpr uint32_t kMoveReplaceExisting = 0x0001u;
constexpr uint32_t kMoveWriteThrough = 0x0008u;

constexpr uint32_t kWinNotReady = 21;
constexpr uint32_t kWinInvalidHandle = 6;

enum Disposition : uint32_t {
  kCreateNew = 1,
  kCreateAlways = 2,
  kOpenExisting = 3,
  kOpenAlways = 4,
  kTruncateExisting = 5,
};

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeEpoch = 116444736000000000LL;

const char16_t* topFolder(bool general) { return general ? u"GENERAL" : u"USERDATA"; }

// The disc of a user-data call: a missing disc is a device not ready.
Disc openUserDisc(const std::u16string& root) {
  try {
    return openDisc(root);
  } catch (const QUILWriter::QUILWriterException&) {
    QUILWriterLastError::QUILLastErrorManager::set(kWinNotReady);
    throw;
  }
}

quil::emulator::ResolvedPath resolveUser(const Disc& disc, bool general, const std::u16string& name) {
  if (name.empty()) QW_FAIL_WIN(kInvalidName, kWinInvalidName, "empty name");
  // Separators alone would name \USERDATA or \GENERAL itself, which no
  // user-data call may create, open, move or remove.
  if (name.find_first_not_of(u"\\/") == std::u16string::npos) {
    QW_FAIL_WIN(kInvalidName, kWinInvalidName, "no name in " + quil::toUtf8(name));
  }
  return resolve(disc, volumePath(topFolder(general), name), true);
}

// A path about to be made (created, made a folder, renamed to) must fit the
// medium: it is refused as Windows refuses a name too long, never cut.
void requireFits(bool general, const std::u16string& name) {
  if (!quil::emulator::fitsTheMedium(volumePath(topFolder(general), name))) {
    QW_FAIL_WIN(kInvalidName, kWinFilenameTooLong, quil::toUtf8(name) + " is too long for the medium");
  }
}

// Windows tells a missing file (2) from a missing folder on its way (3).
[[noreturn]] void failMissing(const quil::emulator::ResolvedPath& path, const char* file, int line) {
  fail(kNotFound, path.parentIsFolder ? kWinFileNotFound : kWinPathNotFound, path.host + " does not exist", file, line);
}
#define QW_FAIL_MISSING(path) failMissing((path), __FILE__, __LINE__)

// Every host call below goes through beneath.h: a link that appeared after
// the path was resolved fails it with ELOOP, an invalid name as a link found
// by the resolver is.
[[noreturn]] void failErrno(uint32_t code, int err, const std::string& what, const char* file, int line) {
  fail(codeOf(code, err), windowsErrorOf(err), what + ": " + std::to_string(err), file, line);
}
#define QW_FAIL_ERRNO(code, err, what) failErrno((code), (err), (what), __FILE__, __LINE__)

class UserDataFile final : public QUILWriter::UserDataWriter {
 public:
  UserDataFile(const Disc& disc, std::string host, int fd, bool readable, bool writable, uint64_t share)
      : host_(std::move(host)),
        space_(SpaceAccount::of(disc.folder)),
        fd_(fd),
        readable_(readable),
        writable_(writable),
        share_(share) {}

  ~UserDataFile() override { closeQuietly(); }

  void Close() override {
    EntryPoint entry("UserDataWriter::Close");
    std::lock_guard<std::mutex> lock(mutex_);
    requireOpen();
    const int fd = fd_;
    fd_ = -1;
    releaseShare();
    if (::close(fd) != 0) QW_FAIL_ERRNO(kWriteError, errno, "closing " + host_);
  }

  void Read(void* buffer, uint32_t length, uint32_t* read) override {
    EntryPoint entry("UserDataWriter::Read");
    std::lock_guard<std::mutex> lock(mutex_);
    requireOpen();
    if (read == nullptr || (buffer == nullptr && length != 0)) {
      QW_FAIL_WIN(kInvalidParameter, kWinInvalidParameter, "no buffer to read into");
    }
    if (!readable_) QW_FAIL_WIN(kDenied, kWinAccessDenied, host_ + " was not opened for reading");
    uint32_t done = 0;
    while (done < length) {
      const ssize_t n = ::pread(fd_, static_cast<uint8_t*>(buffer) + done, length - done,
                                position_ + static_cast<int64_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) QW_FAIL_ERRNO(kReadError, errno, "reading " + host_);
      if (n == 0) break;
      done += static_cast<uint32_t>(n);
    }
    position_ += done;
    *read = done;
  }

  void Seek(int64_t distance, int64_t* newPosition, QUILWriter::_QUIL_WHENCE whence) override {
    EntryPoint entry("UserDataWriter::Seek");
    std::lock_guard<std::mutex> lock(mutex_);
    requireOpen();
    position_ = seekTarget(position_, sizeOfOpen(), distance, whence, true);
    if (newPosition != nullptr) *newPosition = position_;
  }

  // A medium that fills keeps what fits; the call then fails with disk
  // full, as WriteFile does.
  void Write(const void* buffer, uint32_t length, uint32_t* written) override {
    EntryPoint entry("UserDataWriter::Write");
    std::lock_guard<std::mutex> lock(mutex_);
    requireOpen();
    if (written == nullptr || (buffer == nullptr && length != 0)) {
      QW_FAIL_WIN(kInvalidParameter, kWinInvalidParameter, "no buffer to write from");
    }
    if (!writable_) QW_FAIL_WIN(kDenied, kWinAccessDenied, host_ + " was not opened for writing");
    *written = 0;
    if (length == 0) return;
    const SpaceWrite done = writeWithinSpace(fd_, position_, buffer, length, space_);
    position_ += static_cast<int64_t>(done.written);
    *written = static_cast<uint32_t>(done.written);
    if (done.error != 0 && done.error != ENOSPC) QW_FAIL_ERRNO(kWriteError, done.error, "writing " + host_);
    if (done.written < length) {
      QW_FAIL_WIN(kNoSpace, kWinDiskFull,
                  "the medium is full: " + std::to_string(done.written) + " of " + std::to_string(length) +
                      " bytes written to " + host_);
    }
  }

  // The plain member functions of UserDataWriter come here; like the
  // operations above, each holds the object's lock, so that a Close racing
  // another call never leaves it a closed or reused descriptor.
  int64_t size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sizeOfOpen();
  }

  QUILWriter::_QUIL_FILE_TYPE fileType() {
    std::lock_guard<std::mutex> lock(mutex_);
    requireOpen();
    return QUILWriter::QUIL_FILE_TYPE_DISK;
  }

  void setEndOfFile() {
    std::lock_guard<std::mutex> lock(mutex_);
    requireOpen();
    if (!writable_) QW_FAIL_WIN(kDenied, kWinAccessDenied, host_ + " was not opened for writing");
    const int err = resizeWithinSpace(fd_, position_, space_);
    if (err == ENOSPC) QW_FAIL_WIN(kNoSpace, kWinDiskFull, "no room to extend " + host_);
    if (err != 0) QW_FAIL_ERRNO(kSetEndError, err, "resizing " + host_);
  }

  // Linux keeps no settable creation time, so creation is accepted and not
  // kept; 0 (and -1, Windows' "stop updating") leaves a time unchanged.
  void setFileTime(int64_t creation, int64_t lastAccess, int64_t lastWrite) {
    std::lock_guard<std::mutex> lock(mutex_);
    requireOpen();
    (void)creation;
    if (!writable_) QW_FAIL_WIN(kDenied, kWinAccessDenied, host_ + " was not opened for writing");
    struct timespec times[2] = {timeOf(lastAccess), timeOf(lastWrite)};
    if (::futimens(fd_, times) != 0) QW_FAIL_ERRNO(kSetAttributesError, errno, "setting the times of " + host_);
  }

 private:
  void requireOpen() const {
    if (fd_ < 0) QW_FAIL_WIN(kInvalidOperation, kWinInvalidHandle, host_ + " is already closed");
  }

  int64_t sizeOfOpen() const {
    requireOpen();
    struct stat st {};
    if (::fstat(fd_, &st) != 0) QW_FAIL_ERRNO(kGetSizeError, errno, "stat of " + host_);
    return static_cast<int64_t>(st.st_size);
  }

  static struct timespec timeOf(int64_t fileTime) {
    struct timespec ts {};
    if (fileTime == 0 || fileTime == -1) {
      ts.tv_nsec = UTIME_OMIT;
      return ts;
    }
    const int64_t ticks = fileTime - kFileTimeEpoch;
    int64_t seconds = ticks / 10000000;
    int64_t rest = ticks % 10000000;
    if (rest < 0) {
      rest += 10000000;
      --seconds;
    }
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>(rest * 100);
    return ts;
  }

  void releaseShare() { releaseShareToken(share_); }
  void closeQuietly() { quilwriter::closeQuietly(fd_, share_); }

  std::mutex mutex_;  // held by every operation on the open file
  std::string host_;
  SpaceAccount& space_;
  int fd_;
  int64_t position_ = 0;
  bool readable_;
  bool writable_;
  uint64_t share_;
};

UserDataFile& self(QUILWriter::UserDataWriter* writer) {
  // Only createFile below makes user-data writers.
  return *static_cast<UserDataFile*>(writer);
}

std::shared_ptr<QUILWriter::UserDataWriter> createUserFile(const std::u16string& root, const std::u16string& name,
                                                           uint32_t access, uint32_t share, uint32_t disposition,
                                                           uint32_t flags, bool general) {
  if (disposition < kCreateNew || disposition > kTruncateExisting) {
    QW_FAIL_WIN(kInvalidParameter, kWinInvalidParameter, "unknown disposition " + std::to_string(disposition));
  }
  const Disc disc = openUserDisc(root);
  const auto path = resolveUser(disc, general, name);
  const bool wantRead = (access & (kGenericRead | kGenericAll | kFileReadData)) != 0;
  const bool wantWrite = (access & (kGenericWrite | kGenericAll | kFileWriteData | kFileAppendData)) != 0;
  const bool wantDelete = (access & (kDelete | kGenericAll)) != 0;
  const uint32_t registered = (wantRead ? quil::emulator::kAccessRead : 0) |
                              (wantWrite ? quil::emulator::kAccessWrite : 0) |
                              (wantDelete ? quil::emulator::kAccessDelete : 0);

  if (path.exists && path.isDirectory) QW_FAIL_WIN(kDenied, kWinAccessDenied, path.host + " is a folder");
  if (!path.exists && !path.parentIsFolder) {
    QW_FAIL_WIN(kNotFound, kWinPathNotFound, "no folder for " + path.host);
  }
  if (path.exists && disposition == kCreateNew) QW_FAIL_WIN(kExists, kWinFileExists, path.host + " exists");
  if (!path.exists) requireFits(general, name);
  if (!path.exists && (disposition == kOpenExisting || disposition == kTruncateExisting)) {
    QW_FAIL_WIN(kNotFound, kWinFileNotFound, path.host + " does not exist");
  }
  if (disposition == kTruncateExisting && !wantWrite) {
    QW_FAIL_WIN(kInvalidParameter, kWinInvalidParameter, "truncating " + path.host + " needs write access");
  }
  const bool creating = !path.exists;
  const bool truncating = path.exists && (disposition == kCreateAlways || disposition == kTruncateExisting);
  if (wantWrite || creating || truncating) requireWritable(disc, true);
  if (path.exists && (wantWrite || truncating) && !hasWriteBit(path)) {
    QW_FAIL_WIN(kDenied, kWinAccessDenied, path.host + " is read-only");
  }

  int mode = wantRead && wantWrite ? O_RDWR : wantWrite ? O_WRONLY : O_RDONLY;
  if (truncating && mode == O_RDONLY) mode = O_RDWR;
  uint64_t token = 0;
  int fd = -1;
  if (creating) {
    // A file made read-only still lets its creator write through this handle.
    fd = quil::emulator::openBeneath(disc.folder, path.host, mode | O_CREAT | O_EXCL,
                                     (flags & kAttributeReadOnly) ? 0444 : 0666);
    if (fd < 0) QW_FAIL_ERRNO(kOpenError, errno, "creating " + path.host);
    token = ShareRegistry::instance().acquire(disc.folder, path.host, registered, share);
    if (token == 0) {
      // Someone registered the name while it did not exist yet.
      ::close(fd);
      quil::emulator::removeBeneath(disc.folder, path.host, false);
      QW_FAIL_WIN(kDenied, kWinSharingViolation, path.host + " is open and not shared so");
    }
  } else {
    auto& shares = ShareRegistry::instance();
    // Emptying a file is writing to it, for the other openers' sharing too,
    // even when this handle will only read: the open claims write access
    // until the file is empty, so that a refused opener never truncates a
    // file someone else holds without write sharing.
    const uint32_t claimed = truncating ? registered | quil::emulator::kAccessWrite : registered;
    const uint64_t claim = shares.acquire(disc.folder, path.host, claimed, share);
    if (claim == 0) QW_FAIL_WIN(kDenied, kWinSharingViolation, path.host + " is open and not shared so");
    fd = quil::emulator::openBeneath(disc.folder, path.host, mode);
    if (fd < 0) {
      const int err = errno;
      shares.release(claim);
      QW_FAIL_ERRNO(kOpenError, err, "opening " + path.host);
    }
    if (truncating) {
      const int err = resizeWithinSpace(fd, 0, SpaceAccount::of(disc.folder));
      if (err != 0) {
        ::close(fd);
        shares.release(claim);
        QW_FAIL_ERRNO(kSetEndError, err, "truncating " + path.host);
      }
    }
    token = claim;
    if (claimed != registered) {
      // The handle keeps only the access it asked for. It is registered
      // while the claim still holds the file when the two are compatible,
      // else just after the claim is given up.
      token = shares.acquire(disc.folder, path.host, registered, share);
      shares.release(claim);
      if (token == 0) token = shares.acquire(disc.folder, path.host, registered, share);
      if (token == 0) {
        ::close(fd);
        QW_FAIL_WIN(kDenied, kWinSharingViolation, path.host + " is open and not shared so");
      }
    }
  }
  // A success leaves no Windows error, not even the ERROR_ALREADY_EXISTS
  // that CreateFileW leaves behind CREATE_ALWAYS and OPEN_ALWAYS: the core
  // takes any Windows error the writer leaves as the outcome of the call.
  // The handle writes only when write access was asked for: the descriptor
  // of a truncating open may write, the caller's handle may not.
  return std::make_shared<UserDataFile>(disc, path.host, fd, wantRead, wantWrite, token);
}

void deleteUserFile(const std::u16string& root, const std::u16string& name, bool general) {
  const Disc disc = openUserDisc(root);
  requireWritable(disc, true);
  const auto path = resolveUser(disc, general, name);
  if (!path.exists) QW_FAIL_MISSING(path);
  if (path.isDirectory) QW_FAIL_WIN(kDenied, kWinAccessDenied, path.host + " is a folder");
  if (!hasWriteBit(path)) QW_FAIL_WIN(kDenied, kWinAccessDenied, path.host + " is read-only");
  if (ShareRegistry::instance().blocksDelete(disc.folder, path.host)) {
    QW_FAIL_WIN(kBusy, kWinSharingViolation, path.host + " is open without delete sharing");
  }
  const int64_t size = path.status.st_size;
  if (quil::emulator::removeBeneath(disc.folder, path.host, false) != 0) {
    QW_FAIL_ERRNO(kDeleteError, errno, "deleting " + path.host);
  }
  if (size > 0) SpaceAccount::of(disc.folder).release(static_cast<uint64_t>(size));
}

void createUserDirectory(const std::u16string& root, const std::u16string& name, bool general) {
  const Disc disc = openUserDisc(root);
  requireWritable(disc, true);
  const auto path = resolveUser(disc, general, name);
  if (path.exists) QW_FAIL_WIN(kExists, kWinAlreadyExists, path.host + " exists");
  requireFits(general, name);
  if (!path.parentIsFolder) {
    QW_FAIL_WIN(kNotFound, kWinPathNotFound, "no folder for " + path.host);
  }
  if (quil::emulator::mkdirBeneath(disc.folder, path.host, 0777) != 0) {
    QW_FAIL_ERRNO(kCreateDirError, errno, "creating " + path.host);
  }
}

void removeUserDirectory(const std::u16string& root, const std::u16string& name, bool general) {
  const Disc disc = openUserDisc(root);
  requireWritable(disc, true);
  const auto path = resolveUser(disc, general, name);
  if (!path.exists) QW_FAIL_MISSING(path);
  if (!path.isDirectory) QW_FAIL_WIN(kRemoveDirError, kWinDirectory, path.host + " is not a folder");
  if (quil::emulator::removeBeneath(disc.folder, path.host, true) != 0) {
    QW_FAIL_ERRNO(kRemoveDirError, errno, "removing " + path.host);
  }
}

void moveUserFile(const std::u16string& root, const std::u16string& oldName, const std::u16string& newName,
                  uint32_t flags, bool general) {
  const Disc disc = openUserDisc(root);
  requireWritable(disc, true);
  const auto from = resolveUser(disc, general, oldName);
  const auto to = resolveUser(disc, general, newName);
  requireFits(general, newName);
  if (!from.exists) QW_FAIL_MISSING(from);
  auto& shares = ShareRegistry::instance();
  if (shares.blocksDelete(disc.folder, from.host)) QW_FAIL_WIN(kBusy, kWinSharingViolation, from.host + " is open");
  // The name as asked for: resolving gives an existing entry's own case.
  const size_t cut = newName.find_last_of(u"\\/");
  const std::string target =
      parentOf(to.host) + "/" + quil::toUtf8(cut == std::u16string::npos ? newName : newName.substr(cut + 1));
  const bool sameFile = to.exists && to.host == from.host;
  int64_t replacedSize = 0;
  if (to.exists && !sameFile) {
    if ((flags & kMoveReplaceExisting) == 0) QW_FAIL_WIN(kExists, kWinAlreadyExists, to.host + " exists");
    if (to.isDirectory || from.isDirectory) QW_FAIL_WIN(kDenied, kWinAccessDenied, to.host + " cannot be replaced");
    if (!hasWriteBit(to)) QW_FAIL_WIN(kDenied, kWinAccessDenied, to.host + " is read-only");
    if (shares.blocksDelete(disc.folder, to.host)) QW_FAIL_WIN(kBusy, kWinSharingViolation, to.host + " is open");
    replacedSize = to.status.st_size;
  } else if (!to.exists && !to.parentIsFolder) {
    QW_FAIL_WIN(kNotFound, kWinPathNotFound, "no folder for " + to.host);
  }
  // Onto the existing entry first, so that a name differing only in case
  // never leaves two entries the medium could not tell apart.
  const std::string& first = to.exists ? to.host : target;
  if (quil::emulator::renameBeneath(disc.folder, from.host, first) != 0) {
    QW_FAIL_ERRNO(kMoveError, errno, "moving " + from.host);
  }
  if (first != target && quil::emulator::renameBeneath(disc.folder, first, target) != 0) {
    QW_FAIL_ERRNO(kMoveError, errno, "renaming " + first);
  }
  if (replacedSize > 0) SpaceAccount::of(disc.folder).release(static_cast<uint64_t>(replacedSize));
  if ((flags & kMoveWriteThrough) != 0) {
    quil::emulator::syncFolderBeneath(disc.folder, parentOf(from.host));
    quil::emulator::syncFolderBeneath(disc.folder, parentOf(target));
  }
}

void setUserAttributes(const std::u16string& root, const std::u16string& name, uint32_t attributes, bool general) {
  const Disc disc = openUserDisc(root);
  requireWritable(disc, true);
  const auto path = resolveUser(disc, general, name);
  if (!path.exists) QW_FAIL_MISSING(path);
  // Only read-only has a meaning on the host; Windows ignores it on folders
  // and the other attributes (hidden, archive, ...) have nowhere to live.
  if (path.isDirectory) return;
  struct stat st {};
  if (quil::emulator::statBeneath(disc.folder, path.host, st) != 0) {
    QW_FAIL_ERRNO(kSetAttributesError, errno, "stat of " + path.host);
  }
  mode_t mode = st.st_mode & 07777;
  if ((attributes & kAttributeReadOnly) != 0) mode &= ~static_cast<mode_t>(0222);
  else if ((mode & 0222) == 0) mode |= S_IWUSR;
  if (quil::emulator::chmodBeneath(disc.folder, path.host, mode) != 0) {
    QW_FAIL_ERRNO(kSetAttributesError, errno, "chmod of " + path.host);
  }
}

}  // namespace

}  // namespace quilwriter

namespace QUILWriter {

using namespace quilwriter;

std::shared_ptr<UserDataWriter> UserDataWriter::createFile(const std::u16string& root, const std::u16string& name,
                                                           uint32_t access, uint32_t share, void* security,
                                                           uint32_t disposition, uint32_t flags, void* templateFile,
                                                           bool general) {
  EntryPoint entry("UserDataWriter::createFile");
  (void)security;      // the medium keeps no security descriptors
  (void)templateFile;  // nor extended attributes to copy
  return createUserFile(root, name, access, share, disposition, flags, general);
}

int64_t UserDataWriter::GetFileSize() {
  EntryPoint entry("UserDataWriter::GetFileSize");
  return self(this).size();
}

_QUIL_FILE_TYPE UserDataWriter::GetFileType() {
  EntryPoint entry("UserDataWriter::GetFileType");
  return self(this).fileType();
}

void UserDataWriter::SetEndOfFile() {
  EntryPoint entry("UserDataWriter::SetEndOfFile");
  self(this).setEndOfFile();
}

void UserDataWriter::SetFileTime(int64_t creationTime, int64_t lastAccessTime, int64_t lastWriteTime) {
  EntryPoint entry("UserDataWriter::SetFileTime");
  self(this).setFileTime(creationTime, lastAccessTime, lastWriteTime);
}

void DeleteUserDataFile(const std::u16string& root, const std::u16string& name) {
  EntryPoint entry("QUILWriter::DeleteUserDataFile");
  deleteUserFile(root, name, false);
}

void DeleteGeneralFile(const std::u16string& root, const std::u16string& name) {
  EntryPoint entry("QUILWriter::DeleteGeneralFile");
  deleteUserFile(root, name, true);
}

void RemoveUserDataDirectory(const std::u16string& root, const std::u16string& name) {
  EntryPoint entry("QUILWriter::RemoveUserDataDirectory");
  removeUserDirectory(root, name, false);
}

void RemoveGeneralDirectory(const std::u16string& root, const std::u16string& name) {
  EntryPoint entry("QUILWriter::RemoveGeneralDirectory");
  removeUserDirectory(root, name, true);
}

void CreateUserDataDirectory(const std::u16string& root, const std::u16string& name, void* security) {
  EntryPoint entry("QUILWriter::CreateUserDataDirectory");
  (void)security;
  createUserDirectory(root, name, false);
}

void CreateGeneralDirectory(const std::u16string& root, const std::u16string& name, void* security) {
  EntryPoint entry("QUILWriter::CreateGeneralDirectory");
  (void)security;
  createUserDirectory(root, name, true);
}

void MoveUserDataFile(const std::u16string& root, const std::u16string& oldName, const std::u16string& newName) {
  EntryPoint entry("QUILWriter::MoveUserDataFile");
  moveUserFile(root, oldName, newName, 0, false);
}

void MoveGeneralFile(const std::u16string& root, const std::u16string& oldName, const std::u16string& newName) {
  EntryPoint entry("QUILWriter::MoveGeneralFile");
  moveUserFile(root, oldName, newName, 0, true);
}

void MoveUserDataFileEx(const std::u16string& root, const std::u16string& oldName, const std::u16string& newName,
                        uint32_t flags) {
  EntryPoint entry("QUILWriter::MoveUserDataFileEx");
  moveUserFile(root, oldName, newName, flags, false);
}

void MoveGeneralFileEx(const std::u16string& root, const std::u16string& oldName, const std::u16string& newName,
                       uint32_t flags) {
  EntryPoint entry("QUILWriter::MoveGeneralFileEx");
  moveUserFile(root, oldName, newName, flags, true);
}

void SetUserDataFileAttributes(const std::u16string& root, const std::u16string& name, uint32_t attributes) {
  EntryPoint entry("QUILWriter::SetUserDataFileAttributes");
  setUserAttributes(root, name, attributes, false);
}

void SetGeneralFileAttributes(const std::u16string& root, const std::u16string& name, uint32_t attributes) {
  EntryPoint entry("QUILWriter::SetGeneralFileAttributes");
  setUserAttributes(root, name, attributes, true);
}

}  // namespace QUILWriter
