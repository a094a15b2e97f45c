// Create and open: which side serves the file (the reader library, or a
// writer file object), the sharing rules between readers and writers across
// related files, and the readers that must give way to a writer.
#include <initializer_list>
#include <optional>
#include <vector>

#include "quil/sibling/quilreader.h"
#include "volume/volume_handle.h"
#include "volume/volume_detail.h"
#include "writer/writer_file.h"

namespace quil::volume {

namespace {

using namespace detail;
using namespace quil::files;

constexpr uint32_t kRead = 0x80000000u;
constexpr uint32_t kWrite = 0x40000000u;
constexpr uint32_t kDeleteByHandle = 0x00010000u;
constexpr uint32_t kFlagUmidMode2 = 0x00010000u;
constexpr uint32_t kFlagAliasWritable = 0x00020000u;
constexpr uint32_t kReadOnlyAttribute = 0x1u;


int32_t refuse(int32_t code) {
  quil::api::setLastError(code);
  return -1;
}


}  // namespace

bool VolumeHandle::checkWritable() {
  if (writeProtectFlag_ == 0) return true;
  quil::api::setLastError(writeProtectError());
  return false;
}

int32_t VolumeHandle::closeRead(HandleRecord& record, const char16_t* function) {
  if (record.clipEntry != nullptr && clipReadManager_) {
    ClipReadEntry* entry = record.clipEntry;
    record.clipEntry = nullptr;  // the manager frees it
    return clipReadManager_->close(entry);
  }
  trace(function, __LINE__, u"QUIL_CloseHandle(%ld)\n", record.readerHandle);
  const int32_t result = reader_->closeHandle(record.readerHandle);
  trace(function, __LINE__, u"QUIL_CloseHandle return=%ld\n", result);
  return result;
}

bool VolumeHandle::suspendReaders(const std::vector<HandleRecord*>& readers) {
  for (HandleRecord* record : readers) {
    if (record->suspended) continue;
    record->suspended = true;
    if (closeRead(*record, u"VolumeHandle::closeRead") != 0) {
      record->suspendError = 0;
      continue;
    }
    // The owner learns of it when it closes the handle.
    quil::api::takeOverReaderError();
    const auto& error = quil::api::lastErrorRecord();
    record->suspendError = error.code;
    record->suspendMessage = error.message;
    return false;
  }
  return true;
}

int32_t VolumeHandle::createFile(int32_t volume, const QUILCHAR* path, uint32_t access, uint32_t share,
                                 void* security, uint32_t disposition, uint32_t flags, void* extra,
                                 uint32_t& openKind) {
  if (!checkVolume(volume)) return -1;
  const FileNamePtr name = classify(path);
  const FileNameManage& n = *name;
  const uint32_t kind = n.fileKind();
  const auto writers = [&](uint32_t k) { return openFiles_->isOpen(kWriting, k, nullptr, 1); };
  const auto writersOnThis = [&](uint32_t k) { return openFiles_->isOpen(kWriting, k, &n, 1); };
  const auto readers = [&](uint32_t k) { return openFiles_->isOpen(kReading, k, nullptr, 1); };
  const auto readersOnThis = [&](uint32_t k) { return openFiles_->isOpen(kReading, k, &n, 1); };
  const auto anyWriters = [&](std::initializer_list<uint32_t> kinds) {
    for (uint32_t k : kinds) {
      if (writers(k)) return true;
    }
    return false;
  };
  const auto anyReaders = [&](std::initializer_list<uint32_t> kinds) {
    for (uint32_t k : kinds) {
      if (readers(k)) return true;
    }
    return false;
  };

  if ((access & kWrite) == 0) {
    if (isFreeArea(kind)) {
      if (writersOnThis(kind)) return refuse(kSharingViolation);
      // Any disposition but open-existing may create the file: the writer does that.
      if (disposition == 3) return openForReading(name, access, share, disposition, flags, extra, openKind);
      return openForWriting(name, access, share, security, disposition, flags, extra, openKind, false);
    }
    if ((access & kRead) == 0) return refuse(kInvalidParameter);
    bool denied = false;
    switch (kind) {
      case None: return refuse(kInvalidFileName);
      case IndexXml: denied = anyWriters({AliasXml, Clip, ClipUserMeta, Editlist, Component}); break;
      case AliasXml:
        if (writersOnThis(kind)) return refuse(kSharingViolation);
        denied = anyWriters({Clip, Editlist, Component});
        break;
      case DiscMetaXml:
        if (writersOnThis(kind)) return refuse(kSharingViolation);
        break;
      case MediaProXml:
        denied = anyWriters({AliasXml, DiscMetaXml, Clip, ClipNrtMeta, ClipUserMeta, Editlist, EdlNrtMeta, Component});
        break;
      case SysProXml: break;
      case Clip: denied = writers(AliasXml) || writersOnThis(ClipNrtMeta) || writersOnThis(ClipUserMeta); break;
      case ClipNrtMeta:
      case ClipUserMeta:
      case Editlist:
        if (writersOnThis(kind)) return refuse(kSharingViolation);
        denied = writers(AliasXml);
        break;
      case SubClip:
      case Component: denied = writers(AliasXml); break;
      case EdlNrtMeta:
        if (writersOnThis(kind)) return refuse(kSharingViolation);
        denied = writers(AliasXml) || writersOnThis(Editlist);
        break;
      default: return refuse(kInvalidFileName);
    }
    if (denied) return refuse(kDenied);
    return openForReading(name, access, share, disposition, flags, extra, openKind);
  }

  // Opening for writing.
  if (clipProtectMode_ == 1 && kind == Clip) return refuse(kDenied);
  if (!checkWritable()) return -1;
  if (kind != General && writersOnThis(kind)) return refuse(kSharingViolation);
  // At most one writer on the volume, but for general files.
  if (anyWriters({Clip, Component, IndexXml, AliasXml, DiscMetaXml, MediaProXml, SysProXml, ClipNrtMeta,
                  ClipUserMeta, SubClip, Editlist, EdlNrtMeta, UserData}) ||
      (kind != General && writers(General))) {
    return refuse(kDenied);
  }

  std::vector<HandleRecord*> gathered;
  // collect K: gather the readers of kind K (of this file's name with
  // `own`); one that shares neither write nor delete refuses the open.
  const auto collect = [&](uint32_t k, bool own) { return openFiles_->collectReaders(gathered, k, own ? &n : nullptr); };
  const auto toCreateNew = [&]() -> bool {
    if (disposition >= 2 && disposition <= 4) disposition = 1;
    return disposition == 1;
  };
  const auto toOpenExisting = [&]() -> bool {
    if (disposition == 2 || disposition == 4) disposition = 3;
    return disposition == 3;
  };
  const auto anyDisposition = [&]() { return disposition >= 1 && disposition <= 4; };
  switch (kind) {
    case None: return refuse(kInvalidFileName);
    case IndexXml:
    case MediaProXml:
    case SysProXml:
    case SubClip: return refuse(kInvalidOperation);
    case AliasXml:
      if ((flags & kFlagAliasWritable) == 0 || !freeNaming_) return refuse(kInvalidOperation);
      if (disposition == 2 || disposition == 3) disposition = 4;
      if (disposition != 4) return refuse(kInvalidParameter);
      if (readersOnThis(kind)) return refuse(kSharingViolation);
      if (anyReaders({IndexXml, Clip, Editlist, SubClip, Component})) return refuse(kDenied);
      if (collect(MediaProXml, false)) return refuse(kDenied);
      break;
    case DiscMetaXml:
      if (!toOpenExisting()) return refuse(kInvalidParameter);
      if (readersOnThis(kind)) return refuse(kSharingViolation);
      if (collect(MediaProXml, false)) return refuse(kDenied);
      break;
    case Clip:
      if (!toCreateNew()) return refuse(kInvalidParameter);
      if (readersOnThis(kind)) return refuse(kSharingViolation);
      if (readers(IndexXml) || readers(AliasXml) || readersOnThis(ClipUserMeta) || readersOnThis(SubClip)) {
        return refuse(kDenied);
      }
      if (collect(MediaProXml, false) || collect(ClipNrtMeta, true)) return refuse(kDenied);
      break;
    case ClipNrtMeta: {
      if (!toOpenExisting()) return refuse(kInvalidParameter);
      if (collect(ClipNrtMeta, true)) return refuse(kSharingViolation);
      if (readersOnThis(Clip)) return refuse(kDenied);
      if (collect(MediaProXml, false)) return refuse(kDenied);
      // A metadata file made read-only is not opened for writing.
      uint32_t attributes = 0;
      constexpr auto fn = u"VolumeHandle::createFile";
      trace(fn, __LINE__, u"QUIL_GetFileAttributes(%ld, \"%ls\", %p)\n", readerVolume_, n.path(), ptr(&attributes));
      const int32_t got = reader_->getFileAttributes(readerVolume_, n.path().c_str(), &attributes);
      trace(fn, __LINE__, u"QUIL_GetFileAttributes return=%ld (0x%08X)\n", got, attributes);
      if (got == 0) {
        quil::api::takeOverReaderError();
        return -1;
      }
      if ((attributes & kReadOnlyAttribute) != 0) return refuse(kDenied);
      break;
    }
    case ClipUserMeta:
      if (!anyDisposition()) return refuse(kInvalidParameter);
      if (readersOnThis(kind)) return refuse(kSharingViolation);
      if (readers(IndexXml) || readersOnThis(Clip)) return refuse(kDenied);
      break;
    case Component:
      if (!toCreateNew()) return refuse(kInvalidParameter);
      if (readersOnThis(kind)) return refuse(kSharingViolation);
      if (readers(IndexXml) || readers(AliasXml)) return refuse(kDenied);
      if (collect(MediaProXml, false)) return refuse(kDenied);
      break;
    case Editlist:
      if (!anyDisposition()) return refuse(kInvalidParameter);
      if (readersOnThis(kind)) return refuse(kSharingViolation);
      if (readers(IndexXml) || readers(AliasXml) || readersOnThis(EdlNrtMeta)) return refuse(kDenied);
      if (collect(MediaProXml, false)) return refuse(kDenied);
      break;
    case EdlNrtMeta:
      if (!toOpenExisting()) return refuse(kInvalidParameter);
      if (readersOnThis(kind)) return refuse(kSharingViolation);
      if (collect(MediaProXml, false)) return refuse(kDenied);
      break;
    case UserData:
      if (readersOnThis(kind)) return refuse(kSharingViolation);
      break;
    case General:
      if (openFiles_->isOpen(kWriting, General, nullptr, 4) || readersOnThis(kind)) return refuse(kSharingViolation);
      break;
    default: return refuse(kInvalidFileName);
  }
  if (!suspendReaders(gathered)) return -1;
  const bool deleteAccess = isFreeArea(kind) && (access & kDeleteByHandle) != 0;
  return openForWriting(name, access, share, security, disposition, flags, extra, openKind, deleteAccess);
}

int32_t VolumeHandle::openForWriting(const FileNamePtr& name, uint32_t access, uint32_t share, void* security,
                                     uint32_t disposition, uint32_t flags, void* extra, uint32_t openKind,
                                     bool deleteAccess) {
  using quil::writer::WriterFile;
  const uint32_t kind = name->fileKind();
  quil::writer::WriterFileResult opened;
  if (isFreeArea(kind)) {
    quil::api::SiblingErrorRelay relay(*this, quil::api::SiblingLibrary::kWriter);
    opened = WriterFile::createFile(*writerVolume_, *name, access, share, security, disposition, flags, extra);
    if (!quil::writer::writerOutcome(opened.status).success || !opened.file) {
      quil::writer::setLastErrorFrom(opened.status);
      return -1;
    }
  } else {
    const uint32_t umidMode = (flags & kFlagUmidMode2) != 0 ? 2 : 1;
    if (disposition == 1) {
      opened = WriterFile::create(*writerVolume_, *name, umidMode);
    } else {
      opened = WriterFile::open(*writerVolume_, *name, umidMode);
      if (disposition != 3 && opened.status.status() != 0) opened = WriterFile::create(*writerVolume_, *name, umidMode);
    }
    // A repaired failure (status 4) counts as success but leaves no object:
    // without a file there is nothing to hand out, so the open fails with
    // the writer's code.
    if (!quil::writer::writerOutcome(opened.status).success || !opened.file) {
      quil::writer::setLastErrorFrom(opened.status);
      return -1;
    }
  }
  // The writer file is closed again on every failure below (its own
  // result does not matter: the open fails with the code already set).
  UndoUnlessCommitted closeWriter([&] { opened.file->close(); });
  int32_t number = -1;
  HandleRecord* record = newHandle(number);
  if (record == nullptr) return -1;
  UndoUnlessCommitted dropRecord([&] { handles_->erase(number); });
  OpenFileStruct* file = openFiles_->increment(kWriting, name, record);
  if (file == nullptr) return refuse(kInternal);
  dropRecord.commit();
  closeWriter.commit();
  file->openKind = openKind;
  record->openFile = file;
  record->type = isFreeArea(kind) || (access & kRead) != 0 ? kWriterFile : kWriterFileNoRead;
  record->writerFile = std::move(opened.file);
  record->shareMode = share;
  record->deleteAccess = deleteAccess;
  ++openFileCount_;
  return number;
}

int32_t VolumeHandle::openForReading(const FileNamePtr& name, uint32_t access, uint32_t share, uint32_t disposition,
                                     uint32_t flags, void* extra, uint32_t openKind) {
  constexpr auto fn = u"VolumeHandle::createFile";
  const uint32_t kind = name->fileKind();
  ClipReadEntry* entry = nullptr;
  int32_t readerFile = -1;
  {
    std::optional<quil::api::SiblingErrorRelay> relay;
    if (isFreeArea(kind)) relay.emplace(*this, quil::api::SiblingLibrary::kReader);
    if (kind == Clip && clipReadManager_) {
      entry = clipReadManager_->create(name->path(), access, share, disposition, flags, extra);
      if (entry == nullptr) {
        quil::api::takeOverReaderError();
        return -1;
      }
    } else {
      // The reader takes no security attributes (its contract: always
      // NULL); the caller's have no meaning on the medium and are not passed.
      trace(fn, __LINE__, u"QUIL_CreateFile(%ld, \"%ls\", 0x%08X, 0x%08X, %p, 0x%08X, 0x%08X, %p)\n", readerVolume_,
            name->path(), access, share, ptr(nullptr), disposition, flags, extra);
      readerFile = reader_->createFile(readerVolume_, name->path().c_str(), access, share, nullptr, disposition, flags,
                                   extra);
      trace(fn, __LINE__, u"QUIL_CreateFile return=%ld\n", readerFile);
      if (readerFile == -1) {
        quil::api::takeOverReaderError();
        return -1;
      }
    }
  }
  // The reader side is given back on every failure below.
  UndoUnlessCommitted closeReader([&] {
    if (entry != nullptr) {
      clipReadManager_->close(entry);
    } else {
      trace(fn, __LINE__, u"QUIL_CloseHandle(%ld)\n", readerFile);
      const int32_t closed = reader_->closeHandle(readerFile);
      trace(fn, __LINE__, u"QUIL_CloseHandle return=%ld\n", closed);
    }
  });
  int32_t number = -1;
  HandleRecord* record = newHandle(number);
  if (record == nullptr) return -1;
  UndoUnlessCommitted dropRecord([&] { handles_->erase(number); });
  OpenFileStruct* file = openFiles_->increment(kReading, name, record);
  if (file == nullptr) return refuse(kInternal);
  dropRecord.commit();
  closeReader.commit();
  file->openKind = openKind;
  record->openFile = file;
  record->type = kReaderFile;
  record->clipEntry = entry;
  record->readerHandle = readerFile;
  record->shareMode = share;
  return number;
}

}  // namespace quil::volume
