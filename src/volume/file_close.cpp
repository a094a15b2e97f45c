// Closing a handle finishes what a writer leaves to the end: the reader is
// told of the new or changed file, a lock deferred by an attribute change
// is applied, a delete accepted while the file was open is carried out, and
// the utility hears of written files that failed to close and of
// recordings cut short.
#include <optional>

#include "notify/close_error_notify.h"
#include "quil/sibling/quilreader.h"
#include "volume/volume_handle.h"
#include "volume/volume_detail.h"
#include "writer/writer_file.h"

namespace quil::volume {

namespace {

using namespace detail;
using namespace quil::files;
using quil::writer::WriterStatus;



}  // namespace

void VolumeHandle::notifySetFileAttribute(uint32_t status, const std::u16string& notifyPath,
                                          const char16_t* function) {
  trace(function, __LINE__, u"QUIL_NotifySetFileAttribute(%ld, 0x%08X, \"%ls\")\n", readerVolume_, status,
        notifyPath);
  const int32_t result = reader_->notifySetFileAttribute(readerVolume_, status, notifyPath.c_str());
  trace(function, __LINE__, u"QUIL_NotifySetFileAttribute return=%ld\n", result);
}

int32_t VolumeHandle::closeHandle(int32_t handle, uint32_t& openKind, uint32_t& stopReason) {
  constexpr auto fn = u"VolumeHandle::closeHandle";
  openKind = 0;
  HandleRecord* record = findHandle(handle);
  if (record == nullptr) return 0;
  if (record->type > kReaderFile || record->openFile == nullptr) {
    // Enumeration handles end with find-close.
    quil::api::setLastError(kInvalidHandle);
    return 0;
  }
  OpenFileStruct* file = record->openFile;
  openKind = file->openKind;
  const FileNamePtr name = file->fileName;
  const uint32_t kind = name->fileKind();
  const bool writer = record->type != kReaderFile;

  int32_t result = 0;
  if (writer) {
    std::optional<quil::api::SiblingErrorRelay> relay;
    if (isFreeArea(kind)) relay.emplace(*this, quil::api::SiblingLibrary::kWriter);
    const WriterStatus closed = record->writerFile->close();
    record->writerFile.reset();
    const auto outcome = quil::writer::writerOutcome(closed);
    if (file->deletePending && outcome.success) {
      quil::api::SiblingErrorRelay deleteRelay(*this, quil::api::SiblingLibrary::kWriter);
      const WriterStatus deleted = writerVolume_->deleteFile(*name);
      result = quil::writer::writerOutcome(deleted).success ? -1 : 0;
      if (result == 0) quil::writer::setLastErrorFrom(deleted);
    } else {
      result = outcome.success ? -1 : 0;
      if (!outcome.success) quil::writer::setLastErrorFrom(closed);
      if (!isFreeArea(kind)) {
        if (outcome.success && outcome.notify) stopReason = closed.closeResult();
        tellReader(outcome, closed, [&](uint32_t status) { notifyCreateFile(status, name->notifyPath(), fn); });
      }
      if (record->lockAtClose) {
        info(fn, __LINE__, u"lockFile start for \"%ls\" at close", name->notifyPath());
        const WriterStatus locked = writerVolume_->lockFile(*name, true);
        const auto lockOutcome = quil::writer::writerOutcome(locked);
        tellReader(lockOutcome, locked,
                   [&](uint32_t status) { notifySetFileAttribute(status, name->notifyPath(), fn); });
      }
    }
    --openFileCount_;
  } else if (record->suspended) {
    result = -1;
    if (record->suspendError != 0) {
      quil::api::setLastError(record->suspendError, record->suspendMessage);
      result = 0;
    }
  } else {
    std::optional<quil::api::SiblingErrorRelay> relay;
    if (isFreeArea(kind)) relay.emplace(*this, quil::api::SiblingLibrary::kReader);
    if (closeRead(*record, fn) != 0) {
      result = -1;
    } else {
      quil::api::takeOverReaderError();
    }
  }

  const bool written = record->written;
  const std::u16string path = name->path();
  if (file->decrement(writer ? kWriting : kReading, record) && kind >= Clip) openFiles_->remove(file);
  handles_->erase(handle);

  if (result == 0 && kind != General && written) {
    quil::notify::notifiCloseError(quil::notify::kCloseError, path, rootPath_);
    trace(fn, __LINE__, u"post notifiCloseError CloseError closeErrorFilename=%ls m_rootPath=%ls\n", path, rootPath_);
  }
  if (stopReason != 0 && result != 0 && kind == Clip) {
    quil::notify::notifiCloseError(quil::notify::kTruncate, path, rootPath_);
    trace(fn, __LINE__, u"post notifiCloseError Truncate closeErrorFilename=%ls m_rootPath=%ls\n", path, rootPath_);
  }
  return result;
}

int32_t VolumeHandle::deleteFileWithHandle(int32_t handle) {
  HandleRecord* record = findHandle(handle);
  if (record == nullptr) return 0;
  if (!record->deleteAccess || record->openFile == nullptr) {
    quil::api::setLastError(kDenied);
    return 0;
  }
  // The file goes when this handle closes.
  record->openFile->deletePending = true;
  return -1;
}

}  // namespace quil::volume
