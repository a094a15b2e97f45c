// Small host services that stand in for Windows calls: the program-files
// folder, the process id, and the "Users" read/write grant on new files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include <string_view>

namespace quil::platform {

// QUIL_PROGRAM_FILES when set and not empty, else /opt. No trailing slash.
std::string programFilesFolder();

uint32_t processId();

// Where the debugger output goes: standard error.
int debugOutputDescriptor();

// Gives group and others read and write access to the open file `fd`, as
// Windows gives the local "Users" group. By descriptor: the file changed is
// the one held, never what a path leads to meanwhile. Returns false when the
// file's mode could not be read or changed; the file is left as it was then.
bool grantUsersReadWrite(int fd);

// An open descriptor, closed with its owner.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor();
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor& operator=(Descriptor&&) = delete;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

// The names in a folder that are not folders themselves (links are not
// followed); false when the folder cannot be read to the end.
bool fileNamesIn(const std::string& folder, std::vector<std::string>& names);

// A file of the folder without a name yet (O_TMPFILE), for writing; -1 with
// errno where the file system makes none.
int createUnnamedFile(const std::string& folder);

// Gives an unnamed file its name; fails with EEXIST when the name is taken.
bool nameUnnamedFile(int fd, const std::string& path);

// An existing file opened for appending, never through a link and only
// when it is a regular file (a FIFO neither blocks nor is written to); -1
// with errno ENOENT when there is none.
int openRegularForAppend(const std::string& path);

// A new file made for appending; EEXIST when the name is taken by anything.
int createForAppend(const std::string& path);

bool removeFile(const std::string& path);

// A folder named `name` inside the folder `parent` (a host path, whose own
// links are followed: a drive is a link by design), as an O_PATH descriptor
// opened without following a link in the last place; -1 with errno (ELOOP
// or ENOTDIR for a link) otherwise.
int openSubfolder(const std::string& parent, const std::string& name);

// Whether anything (a link too) has the name in the folder `dir`.
bool entryExistsAt(int dir, const std::string& name);

// mkdir of `name` in the folder `dir`, never through a link; 0, or -1 with
// errno (EEXIST when anything has the name by now).
int makeFolderAt(int dir, const std::string& name);

// The host folder of a volume root path. A drive root (the letter and a
// colon, with or without a backslash) is the link "e:" in the drive folder
// (QUIL_DRIVES, else /var/lib/quil/drives), as Wine's dosdevices are; any
// other root is a host folder already. Trailing separators are dropped.
std::string hostPathOfVolumeRoot(std::u16string_view root);

}  // namespace quil::platform
