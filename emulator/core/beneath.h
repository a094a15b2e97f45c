// Reaching a host path below a disc folder without ever following a link.
//
// A disc folder is data: it may come from a disc image or from another
// user, and a symbolic link inside it (USERDATA/x -> /etc) must never lead
// the reader, the writer or the formatter out of it. A real disc holds no
// links, so the emulator refuses them altogether: below the disc folder a
// link is never followed, never listed, and never made.
//
// The disc folder itself is resolved once, canonically (a drive letter
// reaches it through the drive folder's link, by design). Below it, every
// call here reaches the folder of the last component from a descriptor of
// the disc folder, refusing a link in every place, and then works on the
// last component relative to that folder's descriptor, again without
// following a link. A link swapped in while a call runs makes the call
// fail; nothing here relies on an earlier check of the same path.
//
// The kernel walks the path in one step where it offers openat2
// (RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS); elsewhere the walk is ours, one
// folder at a time with O_NOFOLLOW | O_DIRECTORY.
//
// Each function takes the disc folder and a host path at or below it, as
// resolvePath gives them, and returns -1 (or fails) with errno set: ELOOP
// when a link stands in the way, EXDEV for a path that is not below the
// disc folder, else the host's own errno.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

#define QUIL_EMULATOR_API __attribute__((visibility("default")))

namespace quil::emulator {

// A descriptor closed when it goes out of scope.
class QUIL_EMULATOR_API Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor();
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// An O_PATH descriptor of the disc folder, kept from one call to the next:
// opening the folder by its path walks the whole host path, and that walk
// was a quarter of a lookup's time. The descriptor held stays in use while
// the path still names that folder: confirmDiscFolder, called wherever the
// emulator stats the disc folder's path anyway (the drive check of every
// writer call and driver control, the opening of a volume, a format), drops
// one the path no longer names, and a folder removed since is seen by its
// link count at every use. Between two checks an open volume keeps reading
// the folder it found, as a mounted volume keeps its medium. nullptr when
// the folder cannot be opened (errno set).
QUIL_EMULATOR_API std::shared_ptr<const Descriptor> discFolderDescriptor(const std::string& discFolder);

// The disc folder's path was just stat'ed (following links) with this
// result: a descriptor held for the path is dropped unless it is of that
// same folder.
QUIL_EMULATOR_API void confirmDiscFolder(const std::string& discFolder, const struct stat& status);

// Lets go of the descriptor held for the path, if any: its volume closed
// (a folder on a removable medium must not stay busy), or the path no
// longer names a folder.
QUIL_EMULATOR_API void releaseDiscFolder(const std::string& discFolder);

// open(2) of host with these flags (O_NOFOLLOW and O_CLOEXEC are added).
// The disc folder itself may be opened too.
QUIL_EMULATOR_API int openBeneath(const std::string& discFolder, const std::string& host, int flags,
                                  mode_t mode = 0);

// An O_PATH descriptor of `relative` (components joined by '/') below the
// folder `root`, in one step of the kernel's walk that refuses every link
// (ELOOP) and every way out; a trailing link is opened as itself. -2 when
// the kernel offers no such walk here (the caller then walks on its own).
QUIL_EMULATOR_API int openPathOfRelative(int root, const std::string& relative);

// The folder holding host's last component, as an O_PATH descriptor for the
// *at calls; leaf gets the component. The disc folder itself has none.
QUIL_EMULATOR_API int openParentBeneath(const std::string& discFolder, const std::string& host, std::string& leaf);

// lstat(2): a link is not followed but refused with ELOOP.
QUIL_EMULATOR_API int statBeneath(const std::string& discFolder, const std::string& host, struct stat& st);

QUIL_EMULATOR_API int mkdirBeneath(const std::string& discFolder, const std::string& host, mode_t mode);

// unlink(2), or rmdir(2) when folder.
QUIL_EMULATOR_API int removeBeneath(const std::string& discFolder, const std::string& host, bool folder);

// rename(2) of one path below the disc folder onto another.
QUIL_EMULATOR_API int renameBeneath(const std::string& discFolder, const std::string& from, const std::string& to);

// chmod(2) of a file or folder; a link is refused with ELOOP.
QUIL_EMULATOR_API int chmodBeneath(const std::string& discFolder, const std::string& host, mode_t mode);

// fsync(2) of a folder below the disc folder, best effort.
QUIL_EMULATOR_API void syncFolderBeneath(const std::string& discFolder, const std::string& host);

// The whole content of a file below the disc folder, reached without
// following a link; nullopt when it cannot be read.
QUIL_EMULATOR_API std::optional<std::string> readWholeBeneath(const std::string& discFolder, const std::string& host);

// Whether the kernel's one-step walk is used where it is offered (the
// default) or always the emulator's own; tests run both.
QUIL_EMULATOR_API void useKernelWalk(bool on);

}  // namespace quil::emulator
