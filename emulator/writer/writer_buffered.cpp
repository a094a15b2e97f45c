// Files that are rewritten whole: the XML files (ALIAS.XML, DISCMETA.XML,
// edit lists, clip and edit-list non-real-time metadata) and the clip user
// metadata (*M02.KLV). Their content is held in memory while open and
// reaches the disc at Close in one atomic replacement, so that a crash or a
// full medium never leaves half a metadata file behind: the drive reads
// these files to make sense of the disc, and a torn one would make the
// whole AV tree unreadable.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <pugixml.hpp>

#include "text/utf.h"
#include "writer_support.h"

namespace quilwriter {

namespace {

using quil::emulator::SpaceAccount;

// The entry point names of one family, for fault injection and exceptions.
struct FamilyNames {
  const char* close;
  const char* getFileSize;
  const char* read;
  const char* seek;
  const char* write;
  const char* setFileSize;
};

constexpr FamilyNames kXmlNames{"XMLReaderWriter::Close",       "XMLReaderWriter::GetFileSize",
                                "XMLReaderWriter::Read",        "XMLReaderWriter::Seek",
                                "XMLReaderWriter::Write",       "XMLReaderWriter::SetFileSize"};
constexpr FamilyNames kUserMetaNames{"UserMetaWriter::Close",   "UserMetaWriter::GetFileSize",
                                     "UserMetaWriter::Read",    "UserMetaWriter::Seek",
                                     "UserMetaWriter::Write",   "UserMetaWriter::SetFileSize"};

std::vector<uint8_t> loadFile(const Disc& disc, const std::string& host) {
  const int fd = quil::emulator::openBeneath(disc.folder, host, O_RDONLY);
  if (fd < 0) QW_FAIL(errno == ENOENT ? kNotFound : codeOf(kOpenError, errno), "cannot open " + host);
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      QW_FAIL(kReadError, "cannot read " + host);
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  ::close(fd);
  return bytes;
}

// The largest content such a file may grow to. These are small XML and KLV
// files held whole in memory; a seek or size far beyond this is a mistake of
// the caller, refused before any room is reserved or memory taken.
constexpr uint64_t kMaxContent = uint64_t{64} << 20;

// Takes the name at once, so that a second create of it fails, as the
// creation of a file on the medium would; the content follows at Close.
void createEmpty(const Disc& disc, const std::string& host) {
  const int fd = quil::emulator::openBeneath(disc.folder, host, O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (fd < 0) QW_FAIL(errno == EEXIST ? kExists : codeOf(kOpenError, errno), "cannot create " + host);
  ::close(fd);
}

// The operations every rewritten-whole file shares, on top of the writer
// interface of its family (one of the XML writers or UserMetaWriter).
template <class Interface>
class BufferedFile : public Interface {
 public:
  BufferedFile(const Disc& disc, std::string host, std::vector<uint8_t> content, const FamilyNames& names)
      : folder_(disc.folder),
        host_(std::move(host)),
        names_(names),
        buffer_(std::move(content)),
        committedSize_(buffer_.size()) {}

  ~BufferedFile() override {
    if (reserved_ != 0) SpaceAccount::of(folder_).release(reserved_);
  }

  // Commits only what was changed: an unchanged file is left as it is.
  void Close() override {
    EntryPoint entry(names_.close);
    std::lock_guard<std::mutex> lock(mutex_);
    requireOpen();
    try {
      if (modified_) commit();
    } catch (const std::bad_alloc&) {
      QW_FAIL(kWriteError, "no memory to commit " + host_);
    }
    closed_ = true;
  }

  int64_t GetFileSize() override {
    EntryPoint entry(names_.getFileSize);
    std::lock_guard<std::mutex> lock(mutex_);
    requireOpen();
    return static_cast<int64_t>(buffer_.size());
  }

  void Read(void* buffer, uint32_t length, uint32_t* read) override {
    EntryPoint entry(names_.read);
    std::lock_guard<std::mutex> lock(mutex_);
    requireOpen();
    if (read == nullptr || (buffer == nullptr && length != 0)) QW_FAIL(kInvalidParameter, "no buffer to read into");
    uint32_t count = 0;
    if (position_ < buffer_.size()) {
      count = static_cast<uint32_t>(std::min<uint64_t>(length, buffer_.size() - position_));
      std::memcpy(buffer, buffer_.data() + position_, count);
    }
    position_ += count;
    *read = count;
  }

  void Seek(int64_t distance, int64_t* newPosition, QUILWriter::_QUIL_WHENCE whence) override {
    EntryPoint entry(names_.seek);
    std::lock_guard<std::mutex> lock(mutex_);
    requireOpen();
    position_ = static_cast<uint64_t>(
        seekTarget(static_cast<int64_t>(position_), static_cast<int64_t>(buffer_.size()), distance, whence));
    if (newPosition != nullptr) *newPosition = static_cast<int64_t>(position_);
  }

  // The whole length or nothing: metadata is never cut short.
  void Write(const void* buffer, uint32_t length, uint32_t* written) override {
    EntryPoint entry(names_.write);
    std::lock_guard<std::mutex> lock(mutex_);
    requireOpen();
    if (written == nullptr || (buffer == nullptr && length != 0)) QW_FAIL(kInvalidParameter, "no buffer to write");
    const uint64_t end = position_ + length;
    if (end > buffer_.size()) growTo(end);
    if (length != 0) std::memcpy(buffer_.data() + position_, buffer, length);
    position_ = end;
    modified_ = true;
    *written = length;
  }

  void SetFileSize(int64_t size) override {
    EntryPoint entry(names_.setFileSize);
    std::lock_guard<std::mutex> lock(mutex_);
    requireOpen();
    if (size < 0) QW_FAIL(kInvalidParameter, "negative file size");
    if (static_cast<uint64_t>(size) > buffer_.size()) growTo(static_cast<uint64_t>(size));
    else buffer_.resize(static_cast<size_t>(size));
    modified_ = true;
  }

 protected:
  // What reaches the disc at Close; a family may bring the content to the
  // form the disc needs.
  virtual std::vector<uint8_t> contentToCommit() { return buffer_; }

  const std::string& folder() const { return folder_; }

 private:
  void requireOpen() const {
    if (closed_) QW_FAIL(kInvalidOperation, host_ + " is already closed");
  }

  // Makes the content size bytes long: refused beyond kMaxContent before
  // anything is reserved; room the growth reserved is given back when the
  // memory cannot be had.
  void growTo(uint64_t size) {
    if (size > kMaxContent) {
      QW_FAIL(kInvalidParameter, "cannot grow " + host_ + " to " + std::to_string(size) + " bytes: at most " +
                                     std::to_string(kMaxContent) + " are held");
    }
    const uint64_t reservedBefore = reserved_;
    holdRoomFor(size);
    try {
      buffer_.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
      giveBackSince(reservedBefore);
      QW_FAIL(kNoSpace, "no memory to grow " + host_ + " to " + std::to_string(size) + " bytes");
    } catch (const std::length_error&) {
      giveBackSince(reservedBefore);
      QW_FAIL(kNoSpace, "no memory to grow " + host_ + " to " + std::to_string(size) + " bytes");
    }
  }

  void giveBackSince(uint64_t reservedBefore) {
    const uint64_t taken = reserved_ - reservedBefore;
    reserved_ = reservedBefore;
    if (taken != 0) SpaceAccount::of(folder_).release(taken);
  }

  // Growth beyond what is on the disc is reserved as it happens, so that a
  // full medium is reported by the write that overflows it, not at Close.
  void holdRoomFor(uint64_t size) {
    const uint64_t held = committedSize_ + reserved_;
    if (size <= held) return;
    const uint64_t wanted = size - held;
    auto& space = SpaceAccount::of(folder_);
    const uint64_t granted = space.reserve(wanted);
    if (granted < wanted) {
      space.release(granted);
      QW_FAIL(kNoSpace, "no room to grow " + host_ + " to " + std::to_string(size) + " bytes");
    }
    reserved_ += wanted;
  }

  void commit() {
    const std::vector<uint8_t> content = contentToCommit();
    holdRoomFor(content.size());
    replaceAtomically(folder_, host_, content);
    // The account now holds the committed size; give back the rest.
    auto& space = SpaceAccount::of(folder_);
    const uint64_t growth = content.size() > committedSize_ ? content.size() - committedSize_ : 0;
    space.release(reserved_ - growth);
    if (content.size() < committedSize_) space.release(committedSize_ - content.size());
    reserved_ = 0;
    committedSize_ = content.size();
    modified_ = false;
  }

  std::mutex mutex_;  // held by every operation
  std::string folder_;
  std::string host_;
  const FamilyNames& names_;
  std::vector<uint8_t> buffer_;
  uint64_t committedSize_;
  uint64_t reserved_ = 0;
  uint64_t position_ = 0;
  bool modified_ = false;
  bool closed_ = false;
};

// A disc used in 2.3 mode needs DISCMETA.XML in its 1.00 form: the core
// writes the parsed file back unchanged and leaves the change of form to
// us. Only the namespace of the root element differs; the rest of the
// bytes, the identifier and the date above all, are kept as they are.
std::vector<uint8_t> asDiscMeta100(const std::vector<uint8_t>& bytes) {
  pugi::xml_document doc;
  if (!doc.load_buffer(bytes.data(), bytes.size())) return bytes;
  const pugi::xml_node root = doc.document_element();
  if (std::strcmp(root.name(), "DiscMeta") != 0) return bytes;
  const std::string ns = root.attribute("xmlns").value();
  if (ns.empty() || ns == kDiscMetaNamespace100) return bytes;
  const std::string text(bytes.begin(), bytes.end());
  const size_t tag = text.find("<DiscMeta");
  const size_t tagEnd = tag == std::string::npos ? std::string::npos : text.find('>', tag);
  const size_t at = tagEnd == std::string::npos ? std::string::npos : text.find(ns, tag);
  if (at == std::string::npos || at > tagEnd) return bytes;
  std::string out = text.substr(0, at) + kDiscMetaNamespace100 + text.substr(at + ns.size());
  return std::vector<uint8_t>(out.begin(), out.end());
}

class AliasFile final : public BufferedFile<QUILWriter::AliasWriter> {
 public:
  using BufferedFile::BufferedFile;
};

class DiscMetaFile final : public BufferedFile<QUILWriter::DiscMetaWriter> {
 public:
  using BufferedFile::BufferedFile;

 protected:
  std::vector<uint8_t> contentToCommit() override {
    std::vector<uint8_t> content = BufferedFile::contentToCommit();
    return volumeIn23Mode(folder()) ? asDiscMeta100(content) : content;
  }
};

class EditlistFile final : public BufferedFile<QUILWriter::EditlistWriter> {
 public:
  using BufferedFile::BufferedFile;
};

class ClipNrtMetaFile final : public BufferedFile<QUILWriter::ClipNRTMetaWriter> {
 public:
  using BufferedFile::BufferedFile;
};

class EdlNrtMetaFile final : public BufferedFile<QUILWriter::EdlNRTMetaWriter> {
 public:
  using BufferedFile::BufferedFile;
};

class UserMetaFile final : public BufferedFile<QUILWriter::UserMetaWriter> {
 public:
  using BufferedFile::BufferedFile;
};

// Opens (existing) or creates (!existing) the file of an AV folder ("" for
// the root) as an object of class File.
template <class File>
std::shared_ptr<File> make(const std::u16string& root, std::u16string_view folder, const std::u16string& file,
                           bool existing, const FamilyNames& names) {
  const Disc disc = openDisc(root);
  requireWritable(disc);
  checkAvName(file);
  if (existing) {
    std::string host = hostOfExisting(disc, folder, file);
    std::vector<uint8_t> content = loadFile(disc, host);
    return std::make_shared<File>(disc, std::move(host), std::move(content), names);
  }
  std::string host = hostForNewFile(disc, folder, file);
  createEmpty(disc, host);
  return std::make_shared<File>(disc, std::move(host), std::vector<uint8_t>(), names);
}

}  // namespace

}  // namespace quilwriter

namespace QUILWriter {

using namespace quilwriter;

std::shared_ptr<AliasWriter> AliasWriter::create(const std::u16string& root) {
  EntryPoint entry("AliasWriter::create");
  return make<AliasFile>(root, u"", u"ALIAS.XML", false, kXmlNames);
}

std::shared_ptr<AliasWriter> AliasWriter::open(const std::u16string& root) {
  EntryPoint entry("AliasWriter::open");
  return make<AliasFile>(root, u"", u"ALIAS.XML", true, kXmlNames);
}

std::shared_ptr<DiscMetaWriter> DiscMetaWriter::open(const std::u16string& root, bool openExisting) {
  EntryPoint entry("DiscMetaWriter::open");
  return make<DiscMetaFile>(root, u"", u"DISCMETA.XML", openExisting, kXmlNames);
}

// The name of an edit list already carries its E01 suffix.
std::shared_ptr<EditlistWriter> EditlistWriter::create(const std::u16string& root, const std::u16string& name,
                                                       _QUIL_NAMING_MODE naming, _QUIL_UMID_MODE umidMode) {
  EntryPoint entry("EditlistWriter::create");
  (void)naming;
  (void)umidMode;
  return make<EditlistFile>(root, u"EDIT", name + u".SMI", false, kXmlNames);
}

std::shared_ptr<EditlistWriter> EditlistWriter::open(const std::u16string& root, const std::u16string& name,
                                                     _QUIL_NAMING_MODE naming, _QUIL_UMID_MODE umidMode) {
  EntryPoint entry("EditlistWriter::open");
  (void)naming;
  (void)umidMode;
  return make<EditlistFile>(root, u"EDIT", name + u".SMI", true, kXmlNames);
}

// The name of a clip's metadata is the clip's name.
std::shared_ptr<ClipNRTMetaWriter> ClipNRTMetaWriter::open(const std::u16string& root, const std::u16string& name,
                                                           _QUIL_NAMING_MODE naming) {
  EntryPoint entry("ClipNRTMetaWriter::open");
  (void)naming;
  return make<ClipNrtMetaFile>(root, u"CLIP", name + u"M01.XML", true, kXmlNames);
}

// The name of an edit list's metadata already carries its M01 suffix.
std::shared_ptr<EdlNRTMetaWriter> EdlNRTMetaWriter::open(const std::u16string& root, const std::u16string& name,
                                                         _QUIL_NAMING_MODE naming) {
  EntryPoint entry("EdlNRTMetaWriter::open");
  (void)naming;
  return make<EdlNrtMetaFile>(root, u"EDIT", name + u".XML", true, kXmlNames);
}

std::shared_ptr<UserMetaWriter> UserMetaWriter::create(const std::u16string& root, const std::u16string& name,
                                                       _QUIL_NAMING_MODE naming) {
  EntryPoint entry("UserMetaWriter::create");
  (void)naming;
  return make<UserMetaFile>(root, u"CLIP", name + u"M02.KLV", false, kUserMetaNames);
}

std::shared_ptr<UserMetaWriter> UserMetaWriter::open(const std::u16string& root, const std::u16string& name,
                                                     _QUIL_NAMING_MODE naming) {
  EntryPoint entry("UserMetaWriter::open");
  (void)naming;
  return make<UserMetaFile>(root, u"CLIP", name + u"M02.KLV", true, kUserMetaNames);
}

}  // namespace QUILWriter
