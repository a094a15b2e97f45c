// Reading a UDF image through libudfread, under one lock per image.
#include "disc_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <udfread/blockinput.h>
#include <udfread/udfread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "disc.h"
#include "quil/emulator_control.h"

namespace quil::emulator {

namespace {

constexpr uint32_t kSector = 2048;
constexpr uint32_t kAnchorSector = 256;
constexpr int kSymbolicLink = 12;  // the ICB tag's file type of a link
// A folder of more entries than this is not a disc's: the rest is left out
// rather than let a damaged directory take the memory.
constexpr size_t kMostEntries = 1u << 20;

// libudfread spells names in Modified UTF-8: NUL as C0 80, and (from 16-bit
// UDF names) surrogates as three bytes each. Anything else that is not
// UTF-8 gives no name; a lone surrogate passes here and is refused with the
// other names the medium cannot hold.
std::optional<std::u16string> decodeName(std::string_view raw) {
  std::u16string out;
  size_t i = 0;
  const auto continuation = [&](size_t at) {
    return at < raw.size() && (static_cast<unsigned char>(raw[at]) & 0xC0) == 0x80;
  };
  while (i < raw.size()) {
    const auto b = static_cast<unsigned char>(raw[i]);
    uint32_t code = 0;
    if (b < 0x80) {
      code = b, i += 1;
    } else if (b == 0xC0 && i + 1 < raw.size() && static_cast<unsigned char>(raw[i + 1]) == 0x80) {
      code = 0, i += 2;
    } else if (b >= 0xC2 && b <= 0xDF && continuation(i + 1)) {
      code = ((b & 0x1Fu) << 6) | (raw[i + 1] & 0x3F), i += 2;
    } else if (b >= 0xE0 && b <= 0xEF && continuation(i + 1) && continuation(i + 2)) {
      code = ((b & 0x0Fu) << 12) | ((raw[i + 1] & 0x3Fu) << 6) | (raw[i + 2] & 0x3F), i += 3;
      if (code < 0x800) return std::nullopt;
    } else if (b >= 0xF0 && b <= 0xF4 && continuation(i + 1) && continuation(i + 2) && continuation(i + 3)) {
      code = ((b & 0x07u) << 18) | ((raw[i + 1] & 0x3Fu) << 12) | ((raw[i + 2] & 0x3Fu) << 6) | (raw[i + 3] & 0x3F);
      i += 4;
      if (code < 0x10000 || code > 0x10FFFF) return std::nullopt;
    } else {
      return std::nullopt;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

std::string keyOf(const std::vector<std::string>& raw) {
  std::string key;
  for (const auto& name : raw) key.append(name).push_back('\0');
  return key;
}

// Whether the sector holds a descriptor tag with the identifier wanted and a
// checksum that adds up.
bool hasTag(const unsigned char* sector, uint16_t identifier) {
  const uint16_t found = static_cast<uint16_t>(sector[0] | (sector[1] << 8));
  unsigned sum = 0;
  for (int i = 0; i < 16; ++i) {
    if (i != 4) sum += sector[i];
  }
  return found == identifier && static_cast<unsigned char>(sum) == sector[4];
}

ssize_t readAt(int fd, void* buffer, size_t size, uint64_t offset) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

uint32_t le32(const unsigned char* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

// What the logical volume descriptor asks for that libudfread 1.1 does not
// read, found before libudfread is asked (which would only say "unknown
// partition" on standard error): blocks of another size, a virtual
// allocation table (UDF on sequentially recorded media: BD-R, DVD-R, CD-R)
// or a sparable partition (rewritable media with sparing: DVD-RW, CD-RW).
// Empty when nothing of the kind is found.
std::string layoutProblem(int fd, const unsigned char* anchor) {
  const uint32_t length = le32(anchor + 16);
  const uint32_t first = le32(anchor + 20);
  unsigned char sector[kSector];
  for (uint32_t s = 0; s < std::min<uint32_t>(length / kSector, 256); ++s) {
    if (readAt(fd, sector, kSector, (uint64_t{first} + s) * kSector) != kSector) break;
    if (hasTag(sector, 8)) break;  // the terminating descriptor
    if (!hasTag(sector, 6)) continue;
    const uint32_t blockSize = le32(sector + 212);
    if (blockSize != kSector) {
      return "its logical blocks are " + std::to_string(blockSize) + " bytes, and only 2048-byte blocks are read";
    }
    const uint32_t tableLength = std::min<uint32_t>(le32(sector + 264), kSector - 440);
    const uint32_t maps = le32(sector + 268);
    for (uint32_t at = 440, i = 0; i < maps && at + 2 <= 440 + tableLength; ++i) {
      const unsigned type = sector[at];
      const unsigned size = sector[at + 1];
      if (size < 2 || at + size > 440 + tableLength) break;
      if (type == 2 && size >= 28) {
        const std::string id(reinterpret_cast<const char*>(sector + at + 5), 23);
        if (id.rfind("*UDF Virtual Partition", 0) == 0) {
          return "it uses a virtual allocation table (UDF on sequentially recorded media), which libudfread does "
                 "not read";
        }
        if (id.rfind("*UDF Sparable Partition", 0) == 0) {
          return "it uses a sparable partition (UDF on rewritable media with sparing), which libudfread does not read";
        }
      }
      at += size;
    }
    return std::string();
  }
  return std::string();
}

struct Stamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  struct timespec modified {};
  bool operator==(const Stamp& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec;
  }
};

Stamp stampOf(const struct stat& st) { return Stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim}; }

void say(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
}

}  // namespace

// The block input libudfread reads through: whole sectors of the image
// file, never beyond its end.
struct DiscImage::Input {
  udfread_block_input base{};  // first member: libudfread hands back this address
  int fd = -1;
  uint32_t blocks = 0;
  // libudfread tells a folder from a file but not a link from a file: while
  // it opens a file (under the image's lock), the file type of the first
  // file entry it reads is kept here; -1 when none was read.
  bool watching = false;
  int fileType = -1;

  static int read(udfread_block_input* in, uint32_t lba, void* buffer, uint32_t count, int /*flags*/) {
    Input* self = reinterpret_cast<Input*>(in);
    if (lba >= self->blocks) return -1;
    count = std::min(count, self->blocks - lba);
    const ssize_t got = readAt(self->fd, buffer, static_cast<size_t>(count) * kSector, uint64_t{lba} * kSector);
    if (got < 0) return -1;
    for (ssize_t at = 0; self->watching && self->fileType < 0 && at + kSector <= got; at += kSector) {
      const auto* sector = static_cast<const unsigned char*>(buffer) + at;
      // A file entry (tag 261) or an extended one (266): its ICB tag's file
      // type is byte 27.
      if (hasTag(sector, 261) || hasTag(sector, 266)) self->fileType = sector[27];
    }
    return static_cast<int>(got / kSector);
  }
  static uint32_t size(udfread_block_input* in) { return reinterpret_cast<const Input*>(in)->blocks; }
};

bool DiscImage::isImage(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::shared_ptr<DiscImage> DiscImage::open(const std::string& path, std::string* why) {
  // Opened read-only, without touching the access time where the host lets
  // us: reading a disc leaves its image as it was.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    say(why, std::string("cannot open it: ") + std::strerror(errno));
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    say(why, "it is not a regular file");
    return nullptr;
  }

  // The images in use, so that the reader, the writer and the driver of one
  // session read one image object: an image lives while someone holds it.
  // Never destroyed: volumes of other libraries may still open an image
  // from their static destructors at exit.
  static std::mutex& cacheMutex = *new std::mutex;
  static auto& cache = *new std::map<std::string, std::pair<Stamp, std::weak_ptr<DiscImage>>>;
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    const auto it = cache.find(path);
    if (it != cache.end() && it->second.first == stampOf(st)) {
      if (auto held = it->second.second.lock()) {
        ::close(fd);
        return held;
      }
    }
  }

  auto image = std::shared_ptr<DiscImage>(new DiscImage);  // private constructor: made only here
  image->path_ = path;
  image->fd_ = fd;
  image->bytes_ = static_cast<uint64_t>(st.st_size);
  image->modified_ = st.st_mtim;
  if (image->bytes_ < uint64_t{kAnchorSector + 1} * kSector) {
    say(why, "it holds " + std::to_string(image->bytes_) + " bytes, too few for a UDF image (an anchor at sector " +
                 std::to_string(kAnchorSector) + " of 2048 bytes)");
    return nullptr;
  }
  unsigned char sector[kSector];
  if (readAt(fd, sector, kSector, uint64_t{kAnchorSector} * kSector) != kSector) {
    say(why, std::string("sector 256 cannot be read: ") + std::strerror(errno));
    return nullptr;
  }
  if (!hasTag(sector, 2)) {
    say(why, "no anchor volume descriptor at sector 256");
    return nullptr;
  }
  if (std::string problem = layoutProblem(fd, sector); !problem.empty()) {
    say(why, std::move(problem));
    return nullptr;
  }
  image->input_ = std::make_unique<Input>();
  image->input_->base.read = &Input::read;
  image->input_->base.size = &Input::size;
  image->input_->fd = fd;
  image->input_->blocks = static_cast<uint32_t>(std::min<uint64_t>(image->bytes_ / kSector, UINT32_MAX));
  image->udf_ = udfread_init();
  if (image->udf_ == nullptr || udfread_open_input(image->udf_, &image->input_->base) < 0) {
    say(why,
        "its UDF file system cannot be read: the volume descriptors, the partitions or the file set are missing, "
        "damaged or of a kind libudfread does not read");
    return nullptr;
  }
  const char* id = udfread_get_volume_id(image->udf_);
  image->volumeId_ = id != nullptr ? decodeName(id).value_or(std::u16string()) : std::u16string();
  // The root must be a folder that can be read, or nothing on the disc can.
  if (UDFDIR* root = udfread_opendir(image->udf_, "/"); root != nullptr) {
    udfread_closedir(root);
  } else {
    say(why, "its root folder cannot be read");
    return nullptr;
  }

  std::lock_guard<std::mutex> lock(cacheMutex);
  for (auto it = cache.begin(); it != cache.end();) it = it->second.second.expired() ? cache.erase(it) : std::next(it);
  cache[path] = {stampOf(st), image};
  return image;
}

DiscImage::~DiscImage() {
  if (udf_ != nullptr) udfread_close(udf_);
  if (fd_ >= 0) ::close(fd_);
}

const std::vector<ImageEntry>* DiscImage::folderLocked(const std::vector<std::string>& raw) {
  const std::string key = keyOf(raw);
  if (const auto it = folders_.find(key); it != folders_.end()) return &it->second;
  std::vector<ImageEntry>& entries = folders_[key];  // an unreadable folder stays empty, and is not tried again
  UDFDIR* dir = udfread_opendir(udf_, "/");
  for (const std::string& name : raw) {
    if (dir == nullptr) break;
    UDFDIR* next = udfread_opendir_at(dir, name.c_str());
    udfread_closedir(dir);
    dir = next;
  }
  if (dir == nullptr) return &entries;
  udfread_dirent found{};
  while (entries.size() < kMostEntries && udfread_readdir(dir, &found) != nullptr) {
    if (found.d_name == nullptr || (found.d_type != UDF_DT_DIR && found.d_type != UDF_DT_REG)) continue;
    ImageEntry entry;
    entry.raw = found.d_name;
    const auto name = decodeName(entry.raw);
    // "." and "..", names that are not UTF-16 and whatever else the medium
    // could not hold are left out, as in a disc folder.
    if (!name || !nameAllowed(*name)) continue;
    entry.name = *name;
    entry.folded = foldName(entry.name);
    entry.directory = found.d_type == UDF_DT_DIR;
    if (!entry.directory) {
      input_->watching = true, input_->fileType = -1;
      UDFFILE* file = udfread_file_openat(dir, found.d_name);
      input_->watching = false;
      if (file == nullptr) continue;  // a file entry that cannot be read is no file
      entry.size = udfread_file_size(file);
      udfread_file_close(file);
      // A symbolic link (file type 12) is no part of a disc: left out, as in
      // a disc folder, and never followed.
      if (entry.size < 0 || input_->fileType == kSymbolicLink) continue;
    }
    entries.push_back(std::move(entry));
  }
  udfread_closedir(dir);
  std::stable_sort(entries.begin(), entries.end(),
                   [](const ImageEntry& a, const ImageEntry& b) { return a.folded < b.folded; });
  return &entries;
}

std::optional<ImageLocation> DiscImage::locate(std::u16string_view volumePath) {
  std::vector<std::u16string_view> components;
  size_t start = 0;
  while (start <= volumePath.size()) {
    size_t end = volumePath.find_first_of(u"\\/", start);
    if (end == std::u16string_view::npos) end = volumePath.size();
    if (end > start) components.push_back(volumePath.substr(start, end - start));
    start = end + 1;
  }
  // No path longer than a volume path holds: a folder that holds itself is
  // walked that deep and no deeper.
  size_t units = 0;
  for (const auto c : components) {
    if (!nameAllowed(c)) return std::nullopt;
    units += 1 + c.size();
  }
  if (units > kMaxPathUnits) return std::nullopt;
  ImageLocation where;
  where.directory = true;
  where.exists = true;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto c : components) {
    if (!where.directory) return ImageLocation{};
    const auto* entries = folderLocked(where.raw);
    const ImageEntry* match = nullptr;
    for (const auto& e : *entries) {
      if (e.name == c) {
        match = &e;
        break;
      }
    }
    if (match == nullptr) {
      const std::u16string folded = foldName(c);
      const auto it = std::lower_bound(entries->begin(), entries->end(), folded,
                                       [](const ImageEntry& e, const std::u16string& f) { return e.folded < f; });
      if (it != entries->end() && it->folded == folded) match = &*it;
    }
    if (match == nullptr) return ImageLocation{};
    where.raw.push_back(match->raw);
    where.directory = match->directory;
    where.size = match->size;
  }
  return where;
}

std::vector<ImageEntry> DiscImage::entries(const ImageLocation& folder) {
  if (!folder.exists || !folder.directory) return {};
  std::lock_guard<std::mutex> lock(mutex_);
  return *folderLocked(folder.raw);
}

std::unique_ptr<ImageFile> DiscImage::openFile(const ImageLocation& file) {
  if (!file.exists || file.directory || file.raw.empty()) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  UDFDIR* dir = udfread_opendir(udf_, "/");
  for (size_t i = 0; dir != nullptr && i + 1 < file.raw.size(); ++i) {
    UDFDIR* next = udfread_opendir_at(dir, file.raw[i].c_str());
    udfread_closedir(dir);
    dir = next;
  }
  if (dir == nullptr) return nullptr;
  UDFFILE* opened = udfread_file_openat(dir, file.raw.back().c_str());
  udfread_closedir(dir);
  if (opened == nullptr) return nullptr;
  const int64_t size = udfread_file_size(opened);
  if (size < 0) {
    udfread_file_close(opened);
    return nullptr;
  }
  return std::unique_ptr<ImageFile>(new ImageFile(shared_from_this(), opened, size));
}

std::optional<std::string> DiscImage::readWhole(std::u16string_view volumePath, size_t limit) {
  const auto where = locate(volumePath);
  if (!where || !where->exists || where->directory || static_cast<uint64_t>(where->size) > limit) return std::nullopt;
  const auto file = openFile(*where);
  if (!file) return std::nullopt;
  std::string content(static_cast<size_t>(file->size()), '\0');
  if (file->read(content.data(), content.size(), 0) != static_cast<ssize_t>(content.size())) return std::nullopt;
  return content;
}

ImageFile::ImageFile(std::shared_ptr<DiscImage> image, void* file, int64_t size)
    : image_(std::move(image)), file_(file), size_(size) {}

ImageFile::~ImageFile() {
  std::lock_guard<std::mutex> lock(image_->mutex_);
  udfread_file_close(static_cast<UDFFILE*>(file_));
}

ssize_t ImageFile::read(void* buffer, size_t size, int64_t offset) {
  if (offset < 0) return -1;
  if (offset >= size_) return 0;
  size = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), size_ - offset));
  std::lock_guard<std::mutex> lock(image_->mutex_);
  auto* file = static_cast<UDFFILE*>(file_);
  if (udfread_file_seek(file, offset, UDF_SEEK_SET) != offset) return -1;
  size_t got = 0;
  while (got < size) {
    const ssize_t n = udfread_file_read(file, static_cast<char*>(buffer) + got, size - got);
    if (n < 0) return got != 0 ? static_cast<ssize_t>(got) : -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

std::string imageProblem(const std::string& path) {
  std::string why;
  const auto image = DiscImage::open(path, &why);
  if (!image) return why;
  const auto clip = image->locate(u"\\CLIP");
  const auto index = image->locate(u"\\INDEX.XML");
  if (!clip || !clip->exists || !clip->directory || !index || !index->exists || index->directory) {
    return "its UDF file system holds no CLIP folder and INDEX.XML: it is no recorded disc";
  }
  return std::string();
}

}  // namespace quil::emulator
