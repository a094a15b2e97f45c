// Read, write, seek, size, type and times of an open handle: writer handles
// go to their writer file object, reader handles to the reader library (a
// managed clip through the clip read manager).
#include <optional>

#include "quil/sibling/quilreader.h"
#include "volume/volume_handle.h"
#include "volume/volume_detail.h"
#include "writer/writer_file.h"

namespace quil::volume {

namespace {

using namespace detail;
using namespace quil::files;
using quil::writer::WriterStatus;

bool isWriterHandle(const HandleRecord& r) { return r.type == kWriterFileNoRead || r.type == kWriterFile; }

// The relay of the library doing the work, for user-data and general files.
class RelayFor {
 public:
  RelayFor(quil::api::ClearQUILLastErrorIf& owner, const HandleRecord& record) {
    if (record.openFile == nullptr || !isFreeArea(record.openFile->fileName->fileKind())) return;
    relay_.emplace(owner, isWriterHandle(record) ? quil::api::SiblingLibrary::kWriter
                                                 : quil::api::SiblingLibrary::kReader);
  }

 private:
  std::optional<quil::api::SiblingErrorRelay> relay_;
};

// The kind of file a handle was opened on; None for an enumeration.
uint32_t kindOf(const HandleRecord& r) { return r.openFile != nullptr ? r.openFile->fileName->fileKind() : None; }

}  // namespace

HandleRecord* VolumeHandle::handleForIo(int32_t handle) {
  HandleRecord* record = findHandle(handle);
  if (record == nullptr) return nullptr;
  if (record->suspended) {
    quil::api::setLastError(kInvalidFileAccess);
    return nullptr;
  }
  if (record->type > kEnumeration) {
    quil::api::setLastError(kInvalidHandle);
    return nullptr;
  }
  return record;
}

int32_t VolumeHandle::readerFileOf(HandleRecord& record) {
  if (record.clipEntry == nullptr || !clipReadManager_) return record.readerHandle;
  const uint32_t file = clipReadManager_->getHandle(record.clipEntry);
  if (file == kClosedReaderHandle) {
    quil::api::takeOverReaderError();
    return -1;
  }
  return static_cast<int32_t>(file);
}

std::u16string VolumeHandle::pathOfHandle(int32_t handle) const {
  const HandleRecord* known = created_ && handles_ ? handles_->find(handle) : nullptr;
  return known != nullptr && known->openFile != nullptr ? nameOf(*known).path() : std::u16string();
}

int32_t VolumeHandle::readFile(int32_t handle, void* buffer, uint32_t size, uint32_t* read) {
  constexpr auto fn = u"VolumeHandle::readFile";
  HandleRecord* record = handleForIo(handle);
  if (record == nullptr) return 0;
  if (buffer == nullptr && size != 0) return fail(kInvalidParameter);
  const uint32_t kind = kindOf(*record);
  RelayFor relay(*this, *record);
  if (isWriterHandle(*record)) {
    if (record->type == kWriterFileNoRead || kind == Clip || kind == Component) return fail(kInvalidOperation);
    uint32_t done = 0;
    const int32_t result = judged(record->writerFile->readFile(buffer, size, &done));
    if (result != 0 && read != nullptr) *read = done;
    return result;
  }
  if (record->clipEntry != nullptr && clipReadManager_) {
    return readerResult(clipReadManager_->read(record->clipEntry, buffer, size, read));
  }
  trace(fn, __LINE__, u"QUIL_ReadFile(%ld, %p, %lu, %p)\n", record->readerHandle, buffer, size, ptr(read));
  const int32_t result = reader_->readFile(record->readerHandle, buffer, size, read);
  if (read != nullptr) {
    trace(fn, __LINE__, u"QUIL_ReadFile return=%ld (%lu)\n", result, *read);
  } else {
    trace(fn, __LINE__, u"QUIL_ReadFile return=%ld (NULL)\n", result);
  }
  return readerResult(result);
}

int32_t VolumeHandle::writeFile(int32_t handle, const void* buffer, uint32_t size, uint32_t* written) {
  constexpr auto fn = u"VolumeHandle::writeFile";
  HandleRecord* record = handleForIo(handle);
  if (record == nullptr) return 0;
  record->written = true;
  if (buffer == nullptr && size != 0) return fail(kInvalidParameter);
  const uint32_t kind = kindOf(*record);
  RelayFor relay(*this, *record);
  if (isWriterHandle(*record)) {
    if (record->openFile->deletePending) return fail(kDenied);
    if (isFreeArea(kind) && record->noSpace) return fail(kNoSpace);
    uint32_t done = 0;
    const int32_t result = judged(record->writerFile->writeFile(buffer, size, &done));
    if (result != 0 && written != nullptr) *written = done;
    return result;
  }
  const int32_t file = readerFileOf(*record);
  if (file == -1) return 0;
  trace(fn, __LINE__, u"QUIL_WriteFile(%ld, %p, %lu, %p)\n", file, buffer, size, ptr(written));
  const int32_t result = reader_->writeFile(file, buffer, size, written);
  if (written != nullptr) {
    trace(fn, __LINE__, u"QUIL_WriteFile return=%ld (%lu)\n", result, *written);
  } else {
    trace(fn, __LINE__, u"QUIL_WriteFile return=%ld (NULL)\n", result);
  }
  return readerResult(result);
}

int32_t VolumeHandle::setFilePointer(int32_t handle, int64_t distance, int64_t* newPosition, uint32_t moveMethod) {
  constexpr auto fn = u"VolumeHandle::setFilePointer";
  HandleRecord* record = handleForIo(handle);
  if (record == nullptr) return 0;
  RelayFor relay(*this, *record);
  if (isWriterHandle(*record)) {
    int64_t position = 0;
    const int32_t result = judged(record->writerFile->setFilePointer(
        distance, &position, static_cast<QUILWriter::_QUIL_WHENCE>(moveMethod)));
    if (result != 0 && newPosition != nullptr) *newPosition = position;
    return result;
  }
  if (record->clipEntry != nullptr && clipReadManager_) {
    return readerResult(clipReadManager_->setFilePointer(record->clipEntry, distance, newPosition, moveMethod));
  }
  trace(fn, __LINE__, u"QUIL_SetFilePointer(%ld, %lld, %p, 0x%08X)\n", record->readerHandle, distance,
        ptr(newPosition), moveMethod);
  const int32_t result = reader_->setFilePointer(record->readerHandle, distance, newPosition, moveMethod);
  if (newPosition != nullptr) {
    trace(fn, __LINE__, u"QUIL_SetFilePointer return=%ld (%lld)\n", result, *newPosition);
  } else {
    trace(fn, __LINE__, u"QUIL_SetFilePointer return=%ld (NULL)\n", result);
  }
  return readerResult(result);
}

int32_t VolumeHandle::getFileSize(int32_t handle, int64_t* size) {
  constexpr auto fn = u"VolumeHandle::getFileSize";
  HandleRecord* record = handleForIo(handle);
  if (record == nullptr) return 0;
  RelayFor relay(*this, *record);
  if (isWriterHandle(*record)) {
    int64_t value = 0;
    const int32_t result = judged(record->writerFile->getFileSize(&value));
    if (result != 0 && size != nullptr) *size = value;
    return result;
  }
  const int32_t file = readerFileOf(*record);
  if (file == -1) return 0;
  trace(fn, __LINE__, u"QUIL_GetFileSize(%ld, %p)\n", file, ptr(size));
  const int32_t result = reader_->getFileSize(file, size);
  if (size != nullptr) {
    trace(fn, __LINE__, u"QUIL_GetFileSize return=%ld (%lld)\n", result, *size);
  } else {
    trace(fn, __LINE__, u"QUIL_GetFileSize return=%ld (NULL)\n", result);
  }
  return readerResult(result);
}

int32_t VolumeHandle::getFileType(int32_t handle, uint32_t* type) {
  constexpr auto fn = u"VolumeHandle::getFileType";
  HandleRecord* record = handleForIo(handle);
  if (record == nullptr) return 0;
  RelayFor relay(*this, *record);
  if (isWriterHandle(*record)) {
    QUILWriter::_QUIL_FILE_TYPE value = QUILWriter::QUIL_FILE_TYPE_UNKNOWN;
    const int32_t result = judged(record->writerFile->getFileType(&value));
    if (result != 0 && type != nullptr) *type = value;
    return result;
  }
  const int32_t file = readerFileOf(*record);
  if (file == -1) return 0;
  uint32_t value = 1;
  trace(fn, __LINE__, u"QUIL_GetFileType(%ld, %p)\n", file, ptr(&value));
  const int32_t result = reader_->getFileType(file, &value);
  trace(fn, __LINE__, u"QUIL_GetFileType return=%ld (%lu)\n", result, value);
  if (result != 0 && type != nullptr) *type = value;
  return readerResult(result);
}

int32_t VolumeHandle::setFileSize(int32_t handle, int64_t size) {
  constexpr auto fn = u"VolumeHandle::setFileSize";
  const HandleRecord* known = findHandle(handle);
  if (known == nullptr) return 0;
  // User data and general files change their size by end of file instead.
  if (isFreeArea(kindOf(*known))) return fail(kNotSupported);
  HandleRecord* record = handleForIo(handle);
  if (record == nullptr) return 0;
  if (isWriterHandle(*record)) return judged(record->writerFile->setFileSize(size));
  const int32_t file = readerFileOf(*record);
  if (file == -1) return 0;
  trace(fn, __LINE__, u"QUIL_SetFileSize(%ld, %lld)\n", file, size);
  const int32_t result = reader_->setFileSize(file, size);
  trace(fn, __LINE__, u"QUIL_SetFileSize return=%ld\n", result);
  return readerResult(result);
}

int32_t VolumeHandle::setEndOfFile(int32_t handle) {
  HandleRecord* record = findHandle(handle);
  if (record == nullptr) return 0;
  if (!isFreeArea(kindOf(*record)) || !isWriterHandle(*record)) return fail(kNotSupported);
  quil::api::SiblingErrorRelay relay(*this, quil::api::SiblingLibrary::kWriter);
  const WriterStatus s = record->writerFile->setEndOfFile();
  record->noSpace = s.errorCode() == kNoSpace;
  return judged(s);
}

int32_t VolumeHandle::setFileTime(int32_t handle, int64_t creation, int64_t lastAccess, int64_t lastWrite) {
  HandleRecord* record = findHandle(handle);
  if (record == nullptr) return 0;
  if (!isFreeArea(kindOf(*record)) || !isWriterHandle(*record)) return fail(kNotSupported);
  quil::api::SiblingErrorRelay relay(*this, quil::api::SiblingLibrary::kWriter);
  return judged(record->writerFile->setFileTime(creation, lastAccess, lastWrite));
}

int32_t VolumeHandle::isHandleReadable(int32_t handle, int32_t* readable) {
  const HandleRecord* record = findHandle(handle);
  if (record == nullptr) return 0;
  if (readable == nullptr) return -1;
  // A clip or component being written cannot be read back.
  const uint32_t kind = kindOf(*record);
  *readable = isWriterHandle(*record) && (kind == Clip || kind == Component) ? 0 : -1;
  return -1;
}

}  // namespace quil::volume
