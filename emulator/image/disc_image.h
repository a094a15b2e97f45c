// A disc recorded elsewhere, as an image of its UDF file system (2048-byte
// sectors), read through libudfread. An image is never written: the file is
// opened read-only and nothing here has a way to change it.
//
// The tree is presented as the disc folder presents its own: names matched
// without regard to case, the names the medium cannot hold left out. Every
// read goes through a block input that refuses what lies beyond the end of
// the file, so a damaged image can make a read fail but never reach outside.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#define QUIL_EMULATOR_API __attribute__((visibility("default")))

struct udfread;

namespace quil::emulator {

// One entry of a folder of the image.
struct ImageEntry {
  std::string raw;       // the name as libudfread spells it, to open the entry by
  std::u16string name;   // as shown
  std::u16string folded; // for comparison
  bool directory = false;
  int64_t size = 0;
};

// Where a volume path leads in the image.
struct ImageLocation {
  bool exists = false;
  bool directory = false;
  int64_t size = 0;
  std::vector<std::string> raw;  // the raw names from the root, when it exists
};

class ImageFile;

class QUIL_EMULATOR_API DiscImage : public std::enable_shared_from_this<DiscImage> {
 public:
  // Whether the disc at `path` is an image: a regular file, where a disc
  // folder is a folder. Links are followed, as for a drive link.
  static bool isImage(const std::string& path);

  // The image at `path`, shared by every user in the process while the file
  // stays as it was (same inode, size and modification time). nullptr when
  // it is no readable UDF image; *why then says why, in words.
  static std::shared_ptr<DiscImage> open(const std::string& path, std::string* why = nullptr);

  ~DiscImage();
  DiscImage(const DiscImage&) = delete;
  DiscImage& operator=(const DiscImage&) = delete;

  const std::string& path() const { return path_; }
  const std::u16string& volumeIdentifier() const { return volumeId_; }
  // The image file's modification time: libudfread does not give the times
  // of the entries, so every entry shows this one.
  const struct timespec& modified() const { return modified_; }
  uint64_t bytes() const { return bytes_; }

  // Resolves a volume path as the disc folder's resolver does: components
  // match without regard to case (an exact spelling first); nullopt for a
  // path the medium could not hold.
  std::optional<ImageLocation> locate(std::u16string_view volumePath);

  // The entries of a folder, sorted by folded name; empty when it cannot be
  // read.
  std::vector<ImageEntry> entries(const ImageLocation& folder);

  // A file to read; nullptr when libudfread cannot open it.
  std::unique_ptr<ImageFile> openFile(const ImageLocation& file);

  // The whole content of a small file (at most `limit` bytes), by volume path.
  std::optional<std::string> readWhole(std::u16string_view volumePath, size_t limit = 1 << 20);

 private:
  friend class ImageFile;
  struct Input;
  DiscImage() = default;
  // The cached listing of the folder at `raw`, read on first use; the lock is held.
  const std::vector<ImageEntry>* folderLocked(const std::vector<std::string>& raw);

  std::string path_;
  int fd_ = -1;
  uint64_t bytes_ = 0;
  struct timespec modified_ {};
  std::u16string volumeId_;
  std::unique_ptr<Input> input_;
  udfread* udf_ = nullptr;
  // libudfread keeps its own caches in the volume object: every call into
  // it is made under this lock.
  std::mutex mutex_;
  std::map<std::string, std::vector<ImageEntry>> folders_;  // by the raw names joined with NULs
};

// One file of an image, open for reading.
class QUIL_EMULATOR_API ImageFile {
 public:
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  int64_t size() const { return size_; }
  // Reads up to `size` bytes at `offset`: the count read (0 at the end), -1
  // when the image cannot give them.
  ssize_t read(void* buffer, size_t size, int64_t offset);

 private:
  friend class DiscImage;
  ImageFile(std::shared_ptr<DiscImage> image, void* file, int64_t size);
  std::shared_ptr<DiscImage> image_;
  void* file_;  // UDFFILE
  int64_t size_;
};

}  // namespace quil::emulator
