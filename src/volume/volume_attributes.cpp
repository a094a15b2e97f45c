// Attributes and locks, directories, the volume label, flush and the clip
// identifier of an open handle. On the AV tree an attribute change means
// one thing only: a clip or component locked (read-only) or unlocked.
#include <string>

#include "quil/sibling/quilreader.h"
#include "volume/volume_handle.h"
#include "volume/volume_detail.h"
#include "writer/writer_file.h"

namespace quil::volume {

namespace {

using namespace detail;
using namespace quil::files;
using quil::writer::WriterStatus;

constexpr uint32_t kReadOnly = 0x1u;
constexpr uint32_t kNormal = 0x80u;



}  // namespace

int32_t VolumeHandle::setFileAttributes(int32_t volume, const QUILCHAR* path, uint32_t attributes) {
  constexpr auto fn = u"VolumeHandle::setFileAttributes";
  if (!checkVolume(volume)) return 0;
  const FileNamePtr name = classify(path);
  const FileNameManage& n = *name;
  const uint32_t kind = n.fileKind();
  if (clipProtectMode_ == 1 && kind == Clip) return fail(kDenied);
  if (writeProtectFlag_ != 0) return fail(writeProtectError());

  // A clip or component being written takes the lock when it closes.
  HandleRecord* writing = nullptr;
  if (openFiles_->isOpen(kWriting, Clip, nullptr, 1) || openFiles_->isOpen(kWriting, Component, nullptr, 1)) {
    writing = openFiles_->findHandle(kWriting, kind, n);
  }
  if (writing == nullptr) {
    if (!isFreeArea(kind) && openFiles_->isOpen(kWriting, kind, &n, 1)) return fail(kSharingViolation);
    if (otherWriterBlocks(kind)) return fail(kDenied);
    if (isFreeArea(kind)) {
      quil::api::SiblingErrorRelay relay(*this, quil::api::SiblingLibrary::kWriter);
      return judged(writerVolume_->setFileAttributes(n, attributes));
    }
    if (kind != Clip && kind != Component) return fail(kInvalidOperation);
  }

  bool lock = false;
  if ((attributes & kReadOnly) != 0) {
    lock = true;
  } else if ((attributes & kNormal) == 0) {
    return -1;  // neither read-only nor normal: nothing to change
  }
  if (writing != nullptr) {
    writing->lockAtClose = lock;
    return -1;
  }
  const WriterStatus s = writerVolume_->lockFile(n, lock);
  const auto outcome = quil::writer::writerOutcome(s);
  if (!outcome.success) quil::writer::setLastErrorFrom(s);
  tellReader(outcome, s, [&](uint32_t status) { notifySetFileAttribute(status, n.notifyPath(), fn); });
  return outcome.success ? -1 : 0;
}

// Directories exist only below \USERDATA and \GENERAL; nothing open is
// consulted and nothing is notified.
int32_t VolumeHandle::createDirectory(int32_t volume, const QUILCHAR* path, void* security) {
  if (!checkVolume(volume)) return 0;
  if (writeProtectFlag_ != 0) return fail(writeProtectError());
  const FileNamePtr name = classify(path);
  const FileNameManage& n = *name;
  if (!isFreeArea(n.fileKind())) return fail(kInvalidOperation);
  quil::api::SiblingErrorRelay relay(*this, quil::api::SiblingLibrary::kWriter);
  return judged(writerVolume_->createDirectory(n, security));
}

int32_t VolumeHandle::removeDirectory(int32_t volume, const QUILCHAR* path) {
  if (!checkVolume(volume)) return 0;
  if (writeProtectFlag_ != 0) return fail(writeProtectError());
  const FileNamePtr name = classify(path);
  const FileNameManage& n = *name;
  if (!isFreeArea(n.fileKind())) return fail(kInvalidOperation);
  quil::api::SiblingErrorRelay relay(*this, quil::api::SiblingLibrary::kWriter);
  return judged(writerVolume_->removeDirectory(n));
}

int32_t VolumeHandle::setVolumeLabel(int32_t volume, const QUILCHAR* label, uint32_t length) {
  constexpr auto fn = u"VolumeHandle::setVolumeLabel";
  if (!checkVolume(volume)) return 0;
  if (writeProtectFlag_ != 0) return fail(writeProtectError());
  if (otherWriterBlocks(None)) return fail(kDenied);
  std::u16string newLabel;
  if (label != nullptr) {
    // At most `length` units are read: the caller's buffer need not be
    // terminated when the label fills it.
    size_t n = 0;
    while (n < length && label[n] != u'\0') ++n;
    newLabel.assign(label, n);
  } else if (length != 0) {
    return fail(kInvalidParameter);
  }
  const WriterStatus s = writerVolume_->setVolumeLabel(newLabel);
  const auto outcome = quil::writer::writerOutcome(s);
  if (!outcome.success) quil::writer::setLastErrorFrom(s);
  tellReader(outcome, s, [&](uint32_t status) {
    trace(fn, __LINE__, u"QUIL_NotifySetVolumeLabel(%ld, 0x%08X, \"%ls\")\n", readerVolume_, status, newLabel);
    const int32_t told = reader_->notifySetVolumeLabel(readerVolume_, status, newLabel.c_str());
    trace(fn, __LINE__, u"QUIL_NotifySetVolumeLabel return=%ld\n", told);
  });
  return outcome.success ? -1 : 0;
}

int32_t VolumeHandle::flushVolume(int32_t volume) {
  if (!checkVolume(volume)) return 0;
  return judged(writerVolume_->flushVolume());
}

int32_t VolumeHandle::getClipId(int32_t handle, QUILCHAR* buffer, uint32_t bufferLength, uint32_t* length) {
  constexpr auto fn = u"VolumeHandle::getClipId";
  HandleRecord* record = findHandle(handle);
  if (record == nullptr) return 0;
  if (record->suspended) return fail(kInvalidFileAccess);
  if (record->type == kWriterFileNoRead || record->type == kWriterFile) {
    std::u16string clipId;
    if (judged(record->writerFile->getClipId(clipId)) == 0) return 0;
    if (bufferLength != 0 && buffer != nullptr) {
      const size_t n = std::min<size_t>(clipId.size(), bufferLength - 1);
      clipId.copy(buffer, n);
      buffer[n] = u'\0';
    }
    if (length != nullptr) *length = static_cast<uint32_t>(clipId.size() + 1);
    return -1;
  }
  if (record->type != kReaderFile && record->type != kEnumeration) return fail(kInvalidHandle);
  const int32_t file = readerFileOf(*record);
  if (file == -1) return 0;
  trace(fn, __LINE__, u"QUIL_GetClipId(%ld, %p, %lu, %p)\n", file, ptr(buffer), bufferLength, ptr(length));
  const int32_t result = reader_->getClipId(file, buffer, bufferLength, length);
  // A buffer is printed to at most its size: the reader need not end it.
  const int32_t precision = buffer != nullptr ? static_cast<int32_t>(std::min<uint32_t>(bufferLength, INT32_MAX)) : 0;
  const char16_t* shown = buffer != nullptr ? buffer : u"";
  if (length != nullptr) {
    // "retrun": the line's own spelling, kept for the tools that match on it.
    trace(fn, __LINE__, u"QUIL_GetClipId retrun=%ld (\"%.*s\", %lu)\n", result, precision, shown, *length);
  } else {
    trace(fn, __LINE__, u"QUIL_GetClipId retrun=%ld (\"%.*s\", NULL)\n", result, precision, shown);
  }
  if (result == 0) quil::api::takeOverReaderError();
  return result;
}

}  // namespace quil::volume
