// Essence files being recorded: clips (\CLIP\<name>.MXF) and components
// (\COMPONENT\<name>.MXF). Bytes go straight to the host file; every byte
// that makes the file longer is first reserved from the disc's space
// account, so a recording stops where the medium is full, as on the drive.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <mutex>
#include <pugixml.hpp>
#include <sstream>

#include "share_registry.h"
#include "text/utf.h"
#include "writer_support.h"

namespace quilwriter {

namespace {

using quil::emulator::ShareRegistry;
using quil::emulator::SpaceAccount;

// One open essence file. While it is open the file is registered as written
// (others may read and write, as the drive lets a clip be played while it
// is recorded, but nobody may delete or rename it).
class EssenceFile {
 public:
  EssenceFile(const Disc& disc, std::string host)
      : folder_(disc.folder), host_(std::move(host)), space_(SpaceAccount::of(disc.folder)) {}
  ~EssenceFile() { closeQuietly(); }
  EssenceFile(const EssenceFile&) = delete;
  EssenceFile& operator=(const EssenceFile&) = delete;

  void create() {
    fd_ = quil::emulator::openBeneath(folder_, host_, O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd_ < 0) {
      if (errno == EEXIST) QW_FAIL(kExists, host_ + " already exists");
      QW_FAIL(codeOf(kOpenError, errno), "cannot create " + host_ + ": " + std::to_string(errno));
    }
    share_ = ShareRegistry::instance().acquire(folder_, host_, quil::emulator::kAccessWrite,
                                               quil::emulator::kShareRead | quil::emulator::kShareWrite);
  }

  const std::string& host() const { return host_; }
  bool open() const { return fd_ >= 0; }
  int64_t position() const { return position_; }

  void requireOpen() const {
    if (fd_ < 0) QW_FAIL(kInvalidOperation, host_ + " is already closed");
  }

  int64_t size() const {
    requireOpen();
    struct stat st {};
    if (::fstat(fd_, &st) != 0) QW_FAIL(kGetSizeError, "cannot stat " + host_);
    return static_cast<int64_t>(st.st_size);
  }

  int64_t seek(int64_t distance, QUILWriter::_QUIL_WHENCE whence) {
    const int64_t current = size();
    position_ = seekTarget(position_, current, distance, whence);
    return position_;
  }

  // Writes at the position what the medium has room for; the count may be
  // short of length only because the medium is full.
  uint32_t write(const void* buffer, uint32_t length) {
    requireOpen();
    if (length == 0) return 0;
    if (buffer == nullptr) QW_FAIL(kInvalidParameter, "no buffer to write from");
    const SpaceWrite done = writeWithinSpace(fd_, position_, buffer, length, space_);
    position_ += static_cast<int64_t>(done.written);
    if (done.error != 0) {
      QW_FAIL(done.error == ENOSPC ? kNoSpace : kWriteError,
              "write to " + host_ + " failed: " + std::to_string(done.error));
    }
    return static_cast<uint32_t>(done.written);
  }

  void setSize(int64_t wanted) {
    requireOpen();
    if (wanted < 0) QW_FAIL(kInvalidParameter, "negative file size");
    const int err = resizeWithinSpace(fd_, wanted, space_);
    if (err == ENOSPC) QW_FAIL(kNoSpace, "no room to make " + host_ + " " + std::to_string(wanted) + " bytes long");
    if (err != 0) QW_FAIL(kSetEndError, "cannot resize " + host_ + ": " + std::to_string(err));
  }

  void close() {
    requireOpen();
    const int fd = fd_;
    fd_ = -1;
    releaseShare();
    if (::close(fd) != 0) QW_FAIL(kWriteError, "closing " + host_ + " failed: " + std::to_string(errno));
  }

 private:
  void releaseShare() { releaseShareToken(share_); }
  void closeQuietly() { quilwriter::closeQuietly(fd_, share_); }

  std::string folder_;
  std::string host_;
  SpaceAccount& space_;
  int fd_ = -1;
  int64_t position_ = 0;
  uint64_t share_ = 0;
};

// Room held back from the start of a recording for the clip's metadata
// file, so that a clip that fills the medium can still be closed whole.
constexpr uint64_t kNrtMetaReserve = 4096;

std::string nowText() {
  const time_t t = time(nullptr);
  struct tm parts {};
  gmtime_r(&t, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

// The clip's non-real-time metadata as this emulator writes it when a
// recording ends: what the clip is, and how long its essence is.
std::vector<uint8_t> nrtMetaOf(const std::u16string& name, const std::u16string& clipId, int64_t bytes) {
  pugi::xml_document doc;
  auto decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  auto root = doc.append_child("NonRealTimeMeta");
  root.append_attribute("xmlns") = "urn:schemas-orbelDisc:emulatorNrtMeta:ver.1.00";
  root.append_child("ClipName").append_attribute("value") = quil::toUtf8(name).c_str();
  root.append_child("TargetMaterial").append_attribute("umidRef") = quil::toUtf8(clipId).c_str();
  auto duration = root.append_child("Duration");
  duration.append_attribute("value") = static_cast<long long>(bytes);
  duration.append_attribute("unit") = "byte";
  root.append_child("CreationDate").append_attribute("value") = nowText().c_str();
  std::ostringstream out;
  doc.save(out, "\t", pugi::format_default, pugi::encoding_utf8);
  const std::string text = out.str();
  return std::vector<uint8_t>(text.begin(), text.end());
}

class Clip final : public QUILWriter::ClipWriter {
 public:
  Clip(const Disc& disc, std::u16string name, std::string host)
      : folder_(disc.folder), name_(std::move(name)), file_(disc, std::move(host)), clipLimit_(disc.medium.clipLimit) {}

  ~Clip() override {
    if (reserved_ != 0) SpaceAccount::of(folder_).release(reserved_);
  }

  void start() {
    reserved_ = SpaceAccount::of(folder_).reserve(kNrtMetaReserve);
    if (reserved_ < kNrtMetaReserve) QW_FAIL(kNoSpace, "no room to start recording " + quil::toUtf8(name_));
    file_.create();
  }

  std::u16string GetClipId() override {
    EntryPoint entry("ClipWriter::GetClipId");
    std::lock_guard<std::mutex> lock(mutex_);
    return quil::emulator::clipIdentifier(folder_, name_);
  }

  void Seek(int64_t distance, int64_t* newPosition, QUILWriter::_QUIL_WHENCE whence) override {
    EntryPoint entry("ClipWriter::Seek");
    std::lock_guard<std::mutex> lock(mutex_);
    const int64_t position = file_.seek(distance, whence);
    if (newPosition != nullptr) *newPosition = position;
  }

  // A write that meets the end of the medium, or the longest clip the
  // drive records, records what fits and stops the recording: the count is
  // short, later writes record nothing, and the close reports the stop.
  void Write(const void* buffer, uint32_t length, uint32_t* written) override {
    EntryPoint entry("ClipWriter::Write");
    std::lock_guard<std::mutex> lock(mutex_);
    if (written == nullptr) QW_FAIL(kInvalidParameter, "no count to write to");
    file_.requireOpen();
    uint32_t count = 0;
    if (!mediumFull_ && !durationFull_) {
      uint32_t allowed = length;
      if (clipLimit_ != 0) {
        const uint64_t at = static_cast<uint64_t>(std::max<int64_t>(file_.position(), 0));
        const uint64_t room = at < clipLimit_ ? clipLimit_ - at : 0;
        if (room < length) {
          allowed = static_cast<uint32_t>(room);
          durationFull_ = true;
        }
      }
      if (allowed != 0) count = file_.write(buffer, allowed);
      if (count < allowed) mediumFull_ = true;
    }
    *written = count;
  }

  int64_t GetFileSize() override {
    EntryPoint entry("ClipWriter::GetFileSize");
    std::lock_guard<std::mutex> lock(mutex_);
    return file_.size();
  }

  QUILWriter::_QUIL_FILE_TYPE GetFileType() override {
    EntryPoint entry("ClipWriter::GetFileType");
    std::lock_guard<std::mutex> lock(mutex_);
    file_.requireOpen();
    return QUILWriter::QUIL_FILE_TYPE_DISK;
  }

  // *result: 1 when the medium filled during the recording, 2 when the
  // clip reached the drive's longest clip, else 0.
  void Close(int32_t* result) override {
    EntryPoint entry("ClipWriter::Close");
    std::lock_guard<std::mutex> lock(mutex_);
    if (result == nullptr) QW_FAIL(kInvalidParameter, "no result to close into");
    const int64_t bytes = file_.size();
    file_.close();
    writeNrtMeta(bytes);
    *result = mediumFull_ ? 1 : durationFull_ ? 2 : 0;
  }

  void SetFileSize(int64_t size) override {
    EntryPoint entry("ClipWriter::SetFileSize");
    std::lock_guard<std::mutex> lock(mutex_);
    file_.setSize(size);
  }

 private:
  // A clip is complete with its metadata file: made here unless the clip
  // already has one, in one step, out of the room held back at the start.
  void writeNrtMeta(int64_t bytes) {
    auto& space = SpaceAccount::of(folder_);
    const uint64_t reserved = reserved_;
    reserved_ = 0;
    const auto target = quil::emulator::resolvePath(folder_, volumePath(u"CLIP", name_ + u"M01.XML"));
    if (!target || target->exists) {
      space.release(reserved);
      return;
    }
    const auto meta = nrtMetaOf(name_, quil::emulator::clipIdentifier(folder_, name_), bytes);
    uint64_t held = reserved;
    if (meta.size() > held) {
      // The held-back room is sized well above this file; should a name be
      // that long, take the rest from the medium if it has it.
      const uint64_t more = meta.size() - held;
      held += space.reserve(more);
      if (held < meta.size()) {
        space.release(held);
        QW_FAIL(kNoSpace, "no room for the metadata of " + quil::toUtf8(name_));
      }
    }
    try {
      replaceAtomically(folder_, target->host, meta);
    } catch (...) {
      space.release(held);
      throw;
    }
    space.release(held - meta.size());
  }

  // Held by every operation, so that a Close racing a Write never leaves
  // it a closed or reused descriptor.
  std::mutex mutex_;
  std::string folder_;
  std::u16string name_;
  EssenceFile file_;
  uint64_t clipLimit_ = 0;
  uint64_t reserved_ = 0;
  bool mediumFull_ = false;
  bool durationFull_ = false;
};

class Component final : public QUILWriter::ComponentWriter {
 public:
  Component(const Disc& disc, std::string host) : file_(disc, std::move(host)) {}

  void start() { file_.create(); }

  void Close() override {
    EntryPoint entry("ComponentWriter::Close");
    std::lock_guard<std::mutex> lock(mutex_);
    file_.close();
  }

  void Seek(int64_t distance, int64_t* newPosition, QUILWriter::_QUIL_WHENCE whence) override {
    EntryPoint entry("ComponentWriter::Seek");
    std::lock_guard<std::mutex> lock(mutex_);
    const int64_t position = file_.seek(distance, whence);
    if (newPosition != nullptr) *newPosition = position;
  }

  // A component has no recording to stop: what fits is written and counted;
  // a write of which nothing fits fails with no space.
  void Write(const void* buffer, uint32_t length, uint32_t* written) override {
    EntryPoint entry("ComponentWriter::Write");
    std::lock_guard<std::mutex> lock(mutex_);
    if (written == nullptr) QW_FAIL(kInvalidParameter, "no count to write to");
    const uint32_t count = file_.write(buffer, length);
    if (count == 0 && length != 0) QW_FAIL(kNoSpace, "the medium is full: " + file_.host());
    *written = count;
  }

  int64_t GetFileSize() override {
    EntryPoint entry("ComponentWriter::GetFileSize");
    std::lock_guard<std::mutex> lock(mutex_);
    return file_.size();
  }

  QUILWriter::_QUIL_FILE_TYPE GetFileType() override {
    EntryPoint entry("ComponentWriter::GetFileType");
    std::lock_guard<std::mutex> lock(mutex_);
    file_.requireOpen();
    return QUILWriter::QUIL_FILE_TYPE_DISK;
  }

  void SetFileSize(int64_t size) override {
    EntryPoint entry("ComponentWriter::SetFileSize");
    std::lock_guard<std::mutex> lock(mutex_);
    file_.setSize(size);
  }

 private:
  std::mutex mutex_;  // held by every operation, as for a clip
  EssenceFile file_;
};

}  // namespace

}  // namespace quilwriter

namespace QUILWriter {

using namespace quilwriter;

std::shared_ptr<ClipWriter> ClipWriter::create(const std::u16string& root, const std::u16string& name,
                                               const _Clip_Param& param) {
  EntryPoint entry("ClipWriter::create");
  (void)param;  // the emulator records essence as given: no UMID or audio layout to apply
  const Disc disc = openDisc(root);
  requireWritable(disc);
  checkAvName(name);
  auto clip = std::make_shared<Clip>(disc, name, hostForNewFile(disc, u"CLIP", name + u".MXF"));
  clip->start();
  return clip;
}

std::shared_ptr<ComponentWriter> ComponentWriter::create(const std::u16string& root, const std::u16string& name,
                                                         const _Component_Param& param) {
  EntryPoint entry("ComponentWriter::create");
  (void)param;
  const Disc disc = openDisc(root);
  requireWritable(disc);
  checkAvName(name);
  auto component = std::make_shared<Component>(disc, hostForNewFile(disc, u"COMPONENT", name + u".MXF"));
  component->start();
  return component;
}

}  // namespace QUILWriter
