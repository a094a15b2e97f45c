// Files of the reader, with the semantics of CreateFileW and its companions:
// dispositions, access and sharing, a file pointer per handle, space that
// runs out. Files below \USERDATA and \GENERAL may be made and written; the
// AV tree is read only, since clips and their metadata change only through
// the writer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "quil/emulator_control.h"
#include "reader_core.h"
#include "share_registry.h"
#include "text/format.h"

using namespace quil::emulator;
using namespace quil::emulator::reader;

namespace {

constexpr uint32_t kCreateNew = 1;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kOpenAlways = 4;
constexpr uint32_t kTruncateExisting = 5;

constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeNormal = 0x80;
constexpr uint32_t kFileTypeDisk = 1;

// The finer-grained rights that callers sometimes pass instead of the generic
// ones mean the same here.
uint32_t accessOf(uint32_t requested) {
  constexpr uint32_t kGenericAll = 0x10000000;
  constexpr uint32_t kReadData = 0x1;
  constexpr uint32_t kWriteData = 0x2;
  constexpr uint32_t kAppendData = 0x4;
  uint32_t access = 0;
  if ((requested & (kAccessRead | kReadData | kGenericAll)) != 0) access |= kAccessRead;
  if ((requested & (kAccessWrite | kWriteData | kAppendData | kGenericAll)) != 0) access |= kAccessWrite;
  if ((requested & (kAccessDelete | kGenericAll)) != 0) access |= kAccessDelete;
  return access;
}

// A file without any write bit is what a locked clip or a read-only user
// file looks like on the host. Checked by bits, not by trying: root may
// write anything.
bool hostReadOnly(const struct stat& st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

std::u16string errnoText(int error) { return quil::fromUtf8(std::strerror(error)); }

struct Located {
  PathFacts facts;
  ResolvedPath resolved;
  bool parentExists = false;
  std::optional<ImageLocation> inImage;  // where the path leads in an image
};

// A path in an image: what the folder resolver would say of it, with a host
// text that names it for the sharing rules alone.
Located locateInImage(const Volume& v, std::u16string_view text, Located l) {
  l.inImage = v.image->locate(text);
  if (!l.inImage) failRefusedPath(text, false, l.facts.userArea);
  l.resolved.exists = l.inImage->exists;
  l.resolved.isDirectory = l.inImage->directory;
  l.resolved.status.st_mode = l.inImage->directory ? S_IFDIR | 0755 : S_IFREG | 0644;
  l.resolved.host = v.folder;
  for (const auto& name : l.inImage->raw) l.resolved.host.append("/").append(name);
  if (l.resolved.exists) {
    l.parentExists = true;
  } else {
    const auto parent = v.image->locate(l.facts.parentText());
    l.parentExists = parent && parent->exists && parent->directory;
  }
  return l;
}

Located locate(const Volume& v, const QUILCHAR* path) {
  const std::u16string_view text = textArgument(path, u"the path");
  Located l;
  l.facts = describePath(text);
  if (v.image) return locateInImage(v, text, std::move(l));
  bool throughLink = false;
  const auto resolved = resolvePath(v.folder, text, &throughLink);
  if (!resolved) failRefusedPath(text, throughLink, l.facts.userArea);
  l.resolved = *resolved;
  if (resolved->exists) {
    l.parentExists = true;
  } else {
    const auto parent = resolvePath(v.folder, l.facts.parentText());
    l.parentExists = parent && parent->exists && parent->isDirectory;
  }
  return l;
}

[[noreturn]] void failMissing(const Located& l, int32_t code) {
  const bool user = l.facts.userArea;
  if (l.parentExists) fail(code, l.facts.text() + u" does not exist", windowsErrorFor(user, kWinFileNotFound));
  fail(code, u"the folder " + l.facts.parentText() + u" does not exist", windowsErrorFor(user, kWinPathNotFound));
}

int64_t sizeOf(const OpenFile& f) {
  if (f.memory) return static_cast<int64_t>(f.memory->size());
  if (f.imageFile) return f.imageFile->size();
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) {
    const int error = errno;
    fail(kIoError, f.path.text() + u" cannot be examined: " + errnoText(error),
         windowsErrorFor(f.path.userArea, windowsErrorOfErrno(error, kWinReadFault)));
  }
  return static_cast<int64_t>(st.st_size);
}

void requireAccess(const OpenFile& f, uint32_t access, const char16_t* what) {
  if ((f.access & access) == 0) {
    fail(kInvalidAccess, f.path.text() + u" was not opened for " + what,
         windowsErrorFor(f.path.userArea, kWinAccessDenied));
  }
}

uint64_t acquireShare(const std::string& folder, const std::string& host, const PathFacts& facts, uint32_t access, uint32_t share) {
  const uint64_t token = ShareRegistry::instance().acquire(folder, host, access, share);
  if (token == 0) {
    fail(kSharingViolation,
         facts.text() + u" is open elsewhere, and that open and this one do not share each other's access",
         windowsErrorFor(facts.userArea, kWinSharingViolation));
  }
  return token;
}

}  // namespace

extern "C" {

int32_t QUIL_CreateFile(int32_t volume, const QUILCHAR* path, uint32_t access, uint32_t share, void* /*security*/,
                        uint32_t disposition, uint32_t /*flags*/, void* /*extra*/) {
  return guarded("QUIL_CreateFile", -1, [&] {
    Tables& tables = Tables::instance();
    const auto v = tables.volume(volume);
    const Located l = locate(*v, path);
    const PathFacts& facts = l.facts;
    const std::u16string name = facts.text();
    const bool user = facts.userArea;
    const uint32_t wanted = accessOf(access);
    if (disposition < kCreateNew || disposition > kTruncateExisting) {
      fail(kInvalidParameter, quil::format(u"creation disposition %lu is not one of 1 to 5", disposition),
           windowsErrorFor(user, kWinInvalidParameter));
    }

    auto f = std::make_shared<OpenFile>();
    f->volume = v;
    f->path = facts;
    f->host = l.resolved.host;
    f->access = wanted;

    // ALIAS.XML handed over by the core is what readers of the disc see.
    if (facts.rootAlias && (wanted & kAccessWrite) == 0 &&
        (disposition == kOpenExisting || disposition == kOpenAlways)) {
      if (auto alias = tables.virtualAlias(*v)) {
        f->memory = std::move(alias);
        f->shareToken = acquireShare(f->volume->folder, f->host, facts, wanted, share);
        return tables.addFile(std::move(f));
      }
    }

    const bool exists = l.resolved.exists;
    if (exists && l.resolved.isDirectory) {
      fail(kOpenError, name + u" is a folder, not a file", windowsErrorFor(user, kWinAccessDenied));
    }
    if (!exists && (disposition == kOpenExisting || disposition == kTruncateExisting)) failMissing(l, kOpenError);
    if (exists && disposition == kCreateNew) {
      fail(kAlreadyExists, name + u" already exists", windowsErrorFor(user, kWinFileExists));
    }
    if (!exists && !l.parentExists) failMissing(l, kOpenError);

    const bool creates = !exists;
    const bool truncates = exists && (disposition == kCreateAlways || disposition == kTruncateExisting);
    const bool writes = (wanted & kAccessWrite) != 0;
    const bool changes = writes || creates || truncates;
    if (changes && v->writeInhibited) {
      fail(kWriteProtected,
           u"the disc is write-protected: " + name + (creates ? u" cannot be created" : u" cannot be written"),
           windowsErrorFor(user, kWinWriteProtect));
    }
    if (exists && (writes || truncates)) {
      struct stat st {};
      if (statBeneath(v->folder, f->host, st) == 0 && hostReadOnly(st)) {
        fail(kDenied, name + u" is read-only", windowsErrorFor(user, kWinAccessDenied));
      }
    }
    if (changes && !facts.writableArea) {
      fail(kInvalidAccess, name + u" is not a user data or general file: only those are made or written here",
           windowsErrorFor(user, kWinAccessDenied));
    }
    if (disposition == kTruncateExisting && !writes) {
      fail(kInvalidParameter, u"truncating " + name + u" needs write access",
           windowsErrorFor(user, kWinInvalidParameter));
    }

    // An existing file is claimed before it is touched, so that a refused
    // opener never truncates a file someone else holds.
    if (exists) {
      // Emptying a file is writing to it, for the other openers' sharing too,
      // even when this handle will only read.
      if (truncates && !writes)
        ShareRegistry::instance().release(acquireShare(f->volume->folder, f->host, facts, wanted | kAccessWrite, share));
      f->shareToken = acquireShare(f->volume->folder, f->host, facts, wanted, share);
    }
    if (l.inImage) {
      // Only reading gets this far on an image: it is never writable.
      f->imageFile = v->image->openFile(*l.inImage);
      if (!f->imageFile) fail(kOpenError, name + u" cannot be read from the disc image", windowsErrorFor(user, kWinReadFault));
      return tables.addFile(std::move(f));
    }
    int flags = O_CLOEXEC | (writes || truncates ? O_RDWR : O_RDONLY);
    if (creates) flags |= O_CREAT | (disposition == kCreateNew ? O_EXCL : 0);
    // Reached from the disc folder without following a link, whatever was
    // found when the path was resolved: a link swapped in since is refused.
    f->fd = openBeneath(v->folder, f->host, flags, 0666);
    if (f->fd < 0) {
      const int error = errno;
      if (error == ELOOP) failRefusedPath(name, true, user);
      if (error == EEXIST) fail(kAlreadyExists, name + u" already exists", windowsErrorFor(user, kWinFileExists));
      fail(kOpenError, name + u" cannot be opened: " + errnoText(error),
           windowsErrorFor(user, windowsErrorOfErrno(error, kWinAccessDenied)));
    }
    if (creates) f->shareToken = acquireShare(f->volume->folder, f->host, facts, wanted, share);
    if (truncates) {
      const int64_t before = sizeOf(*f);
      if (::ftruncate(f->fd, 0) != 0) {
        const int error = errno;
        fail(kWriteError - facts.family, name + u" cannot be emptied: " + errnoText(error),
             windowsErrorFor(user, windowsErrorOfErrno(error, kWinWriteFault)));
      }
      SpaceAccount::of(v->folder).release(static_cast<uint64_t>(before));
    }
    return tables.addFile(std::move(f));
  });
}

int32_t QUIL_CloseHandle(int32_t file) {
  return guarded("QUIL_CloseHandle", 0, [&] {
    if (!Tables::instance().removeFile(file)) {
      fail(kInvalidHandle, quil::format(u"no reader file %ld is open", file));
    }
    return 1;
  });
}

int32_t QUIL_ReadFile(int32_t file, void* buffer, uint32_t size, uint32_t* done) {
  return guarded("QUIL_ReadFile", 0, [&] {
    const auto f = Tables::instance().file(file);
    if (done != nullptr) *done = 0;
    if (buffer == nullptr && size != 0) {
      fail(kInvalidParameter, u"the read buffer is NULL", windowsErrorFor(f->path.userArea, kWinInvalidParameter));
    }
    requireAccess(*f, kAccessRead, u"reading");
    std::lock_guard<std::mutex> lock(f->mutex);
    auto* out = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    if (f->memory) {
      const auto& bytes = *f->memory;
      if (f->position < static_cast<int64_t>(bytes.size())) {
        got = std::min<size_t>(size, bytes.size() - static_cast<size_t>(f->position));
        std::copy_n(bytes.data() + f->position, got, out);
      }
    } else if (f->imageFile) {
      const ssize_t n = f->imageFile->read(out, size, f->position);
      if (n < 0) {
        fail(kReadError - f->path.family, f->path.text() + u" cannot be read from the disc image",
             windowsErrorFor(f->path.userArea, kWinReadFault));
      }
      got = static_cast<size_t>(n);
    } else {
      while (got < size) {
        const ssize_t n = ::pread(f->fd, out + got, size - got, static_cast<off_t>(f->position + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          const int error = errno;
          fail(kReadError - f->path.family, f->path.text() + u" cannot be read: " + errnoText(error),
               windowsErrorFor(f->path.userArea, windowsErrorOfErrno(error, kWinReadFault)));
        }
        if (n == 0) break;  // end of file
        got += static_cast<size_t>(n);
      }
    }
    f->position += static_cast<int64_t>(got);
    if (done != nullptr) *done = static_cast<uint32_t>(got);
    return 1;
  });
}

int32_t QUIL_WriteFile(int32_t file, const void* buffer, uint32_t size, uint32_t* done) {
  return guarded("QUIL_WriteFile", 0, [&] {
    const auto f = Tables::instance().file(file);
    const bool user = f->path.userArea;
    if (done != nullptr) *done = 0;
    if (buffer == nullptr && size != 0) {
      fail(kInvalidParameter, u"the write buffer is NULL", windowsErrorFor(user, kWinInvalidParameter));
    }
    requireAccess(*f, kAccessWrite, u"writing");
    std::lock_guard<std::mutex> lock(f->mutex);
    const uint64_t current = static_cast<uint64_t>(sizeOf(*f));
    const uint64_t position = static_cast<uint64_t>(f->position);
    const uint64_t end = position + size;

    // Only what lies beyond the end of the file takes new space; when the
    // disc cannot give all of it, the part that fits is written.
    SpaceAccount& space = SpaceAccount::of(f->volume->folder);
    const uint64_t growth = end > current ? end - current : 0;
    const uint64_t granted = growth != 0 ? space.reserve(growth) : 0;
    uint64_t writable = size;
    if (granted < growth) {
      const uint64_t limit = current + granted;
      writable = limit > position ? std::min<uint64_t>(size, limit - position) : 0;
    }

    const auto* in = static_cast<const uint8_t*>(buffer);
    uint64_t written = 0;
    int error = 0;
    while (written < writable) {
      const int hostFault = takeHostFault("write");
      if (hostFault != 0) errno = hostFault;
      const ssize_t n = hostFault != 0 ? -1
                                       : ::pwrite(f->fd, in + written, writable - written,
                                                  static_cast<off_t>(position + written));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = n < 0 ? errno : EIO;
        break;
      }
      written += static_cast<uint64_t>(n);
    }
    const uint64_t newEnd = position + written;
    const uint64_t used = written != 0 && newEnd > current ? newEnd - current : 0;
    if (granted > used) space.release(granted - used);
    f->position += static_cast<int64_t>(written);
    if (done != nullptr) *done = static_cast<uint32_t>(written);

    if (error != 0) {
      fail(error == ENOSPC ? kNoFreeSpace : kWriteError - f->path.family,
           f->path.text() + u" cannot be written: " + errnoText(error),
           windowsErrorFor(user, windowsErrorOfErrno(error, kWinWriteFault)));
    }
    if (written < size) {
      fail(kNoFreeSpace,
           quil::format(u"the disc is full: %llu of %lu bytes were written to %ls", written, size, f->path.text()),
           windowsErrorFor(user, kWinDiskFull));
    }
    return 1;
  });
}

int32_t QUIL_SetFilePointer(int32_t file, int64_t distance, int64_t* position, uint32_t method) {
  return guarded("QUIL_SetFilePointer", 0, [&] {
    const auto f = Tables::instance().file(file);
    const bool user = f->path.userArea;
    std::lock_guard<std::mutex> lock(f->mutex);
    int64_t base = 0;
    switch (method) {
      case 0:
        base = 0;
        break;
      case 1:
        base = f->position;
        break;
      case 2:
        base = sizeOf(*f);
        break;
      default:
        fail(kInvalidParameter, quil::format(u"move method %lu is not 0, 1 or 2", method),
             windowsErrorFor(user, kWinInvalidParameter));
    }
    int64_t target = 0;
    if (__builtin_add_overflow(base, distance, &target) || target < 0) {
      fail(kInvalidParameter,
           quil::format(u"moving by %lld would put the pointer of %ls before the start", distance, f->path.text()),
           windowsErrorFor(user, kWinNegativeSeek));
    }
    f->position = target;
    if (position != nullptr) *position = target;
    return 1;
  });
}

int32_t QUIL_GetFileSize(int32_t file, int64_t* size) {
  return guarded("QUIL_GetFileSize", 0, [&] {
    const auto f = Tables::instance().file(file);
    if (size == nullptr) fail(kInvalidParameter, u"the size pointer is NULL");
    *size = sizeOf(*f);
    return 1;
  });
}

int32_t QUIL_SetFileSize(int32_t file, int64_t size) {
  return guarded("QUIL_SetFileSize", 0, [&] {
    const auto f = Tables::instance().file(file);
    const bool user = f->path.userArea;
    if (!f->path.writableArea) {
      fail(kInvalidAccess, f->path.text() + u" is not a user data or general file: its size is not set here");
    }
    requireAccess(*f, kAccessWrite, u"writing");
    if (size < 0) {
      fail(kInvalidParameter, quil::format(u"a size of %lld is negative", size),
           windowsErrorFor(user, kWinInvalidParameter));
    }
    std::lock_guard<std::mutex> lock(f->mutex);
    const int64_t current = sizeOf(*f);
    SpaceAccount& space = SpaceAccount::of(f->volume->folder);
    const uint64_t growth = size > current ? static_cast<uint64_t>(size - current) : 0;
    if (growth != 0) {
      const uint64_t granted = space.reserve(growth);
      if (granted < growth) {
        space.release(granted);
        fail(kNoFreeSpace, quil::format(u"the disc is full: %ls cannot grow by %llu bytes", f->path.text(), growth),
             windowsErrorFor(user, kWinDiskFull));
      }
    }
    if (::ftruncate(f->fd, static_cast<off_t>(size)) != 0) {
      const int error = errno;
      space.release(growth);
      fail(error == ENOSPC ? kNoFreeSpace : kWriteError - f->path.family,
           f->path.text() + u" cannot be resized: " + errnoText(error),
           windowsErrorFor(user, windowsErrorOfErrno(error, kWinWriteFault)));
    }
    if (size < current) space.release(static_cast<uint64_t>(current - size));
    return 1;
  });
}

int32_t QUIL_GetFileType(int32_t file, uint32_t* type) {
  return guarded("QUIL_GetFileType", 0, [&] {
    Tables::instance().file(file);
    if (type == nullptr) fail(kInvalidParameter, u"the type pointer is NULL");
    *type = kFileTypeDisk;
    return 1;
  });
}

int32_t QUIL_GetClipId(int32_t file, QUILCHAR* buffer, uint32_t length, uint32_t* lengthOut) {
  return guarded("QUIL_GetClipId", 0, [&] {
    const auto f = Tables::instance().file(file);
    if (!f->path.clipEssence) {
      fail(kNotSupported, f->path.text() + u" is not a clip essence file, so it has no clip identifier");
    }
    // Derived from the clip's name and the disc, never stored: the writer
    // computes the same one, and it survives reopening and other processes.
    copyOut(clipIdentifier(f->volume->folder, f->path.clipName), buffer, length, lengthOut, u"clip identifier");
    return 1;
  });
}

int32_t QUIL_GetFileAttributes(int32_t volume, const QUILCHAR* path, uint32_t* attributes) {
  return guarded("QUIL_GetFileAttributes", 0, [&] {
    const auto v = Tables::instance().volume(volume);
    const Located l = locate(*v, path);
    if (attributes == nullptr) fail(kInvalidParameter, u"the attributes pointer is NULL");
    if (!l.resolved.exists) failMissing(l, kNotFound);
    // The walk that found the file, refusing links, has its status already.
    const struct stat& st = l.resolved.status;
    uint32_t bits = 0;
    if (S_ISDIR(st.st_mode)) bits |= kAttributeDirectory;
    if (hostReadOnly(st)) bits |= kAttributeReadOnly;
    *attributes = bits != 0 ? bits : kAttributeNormal;
    return 1;
  });
}

}  // extern "C"
