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

namespace {

constexpr uint32_t bit(uint32_t kind) { return 1u << kind; }

// What refuses opening a file of the AV tree for reading, by kind: -3010
// while this very file is written (where the kind says so), else -8 while a
// file of the listed kinds is written (any of them, or the one of this
// file's name).
struct ReadRefusal {
  uint32_t kind;
  bool whileThisIsWritten;
  uint32_t whileWritten;          // kinds, any name
  uint32_t whileThisIsWrittenAs;  // kinds, this file's name
};

constexpr ReadRefusal kReadRefusals[] = {
    {IndexXml, false, bit(AliasXml) | bit(Clip) | bit(ClipUserMeta) | bit(Editlist) | bit(Component), 0},
    {AliasXml, true, bit(Clip) | bit(Editlist) | bit(Component), 0},
    {DiscMetaXml, true, 0, 0},
    {MediaProXml, false,
     bit(AliasXml) | bit(DiscMetaXml) | bit(Clip) | bit(ClipNrtMeta) | bit(ClipUserMeta) | bit(Editlist) |
         bit(EdlNrtMeta) | bit(Component),
     0},
    {SysProXml, false, 0, 0},
    {Clip, false, bit(AliasXml), bit(ClipNrtMeta) | bit(ClipUserMeta)},
    {ClipNrtMeta, true, bit(AliasXml), 0},
    {ClipUserMeta, true, bit(AliasXml), 0},
    {SubClip, false, bit(AliasXml), 0},
    {Component, false, bit(AliasXml), 0},
    {Editlist, true, bit(AliasXml), 0},
    {EdlNrtMeta, true, bit(AliasXml), bit(Editlist)},
};

// The kinds, general files aside, whose one writer takes the volume's one
// place for a writer.
constexpr uint32_t kSingleWriterKinds = bit(Clip) | bit(Component) | bit(IndexXml) | bit(AliasXml) |
                                        bit(DiscMetaXml) | bit(MediaProXml) | bit(SysProXml) | bit(ClipNrtMeta) |
                                        bit(ClipUserMeta) | bit(SubClip) | bit(Editlist) | bit(EdlNrtMeta) |
                                        bit(UserData);

}  // namespace

bool VolumeHandle::writing(uint32_t kinds, const FileNameManage* name) const {
  for (uint32_t k = IndexXml; k <= General; ++k) {
    if ((kinds & bit(k)) != 0 && openFiles_->isOpen(kWriting, k, name, 1)) return true;
  }
  return false;
}

bool VolumeHandle::reading(uint32_t kinds, const FileNameManage* name) const {
  for (uint32_t k = IndexXml; k <= General; ++k) {
    if ((kinds & bit(k)) != 0 && openFiles_->isOpen(kReading, k, name, 1)) return true;
  }
  return false;
}

int32_t VolumeHandle::createFile(int32_t volume, const QUILCHAR* path, uint32_t access, uint32_t share,
                                 void* security, uint32_t disposition, uint32_t flags, void* extra,
                                 uint32_t& openKind) {
  if (!checkVolume(volume)) return -1;
  const FileNamePtr name = classify(path);
  const uint32_t kind = name->fileKind();
  if ((access & kWrite) == 0) {
    if (isFreeArea(kind)) {
      if (writing(bit(kind), name.get())) return refuse(kSharingViolation);
      // Any disposition but open-existing may create the file: the writer does that.
      if (disposition == 3) return openForReading(name, access, share, disposition, flags, extra, openKind);
      return openForWriting(name, access, share, security, disposition, flags, extra, openKind, false);
    }
    if ((access & kRead) == 0) return refuse(kInvalidParameter);
    const ReadRefusal* rule = nullptr;
    for (const ReadRefusal& r : kReadRefusals) {
      if (r.kind == kind) rule = &r;
    }
    if (rule == nullptr) return refuse(kInvalidFileName);
    if (rule->whileThisIsWritten && writing(bit(kind), name.get())) return refuse(kSharingViolation);
    if (writing(rule->whileWritten, nullptr) || writing(rule->whileThisIsWrittenAs, name.get())) {
      return refuse(kDenied);
    }
    return openForReading(name, access, share, disposition, flags, extra, openKind);
  }

  // Opening for writing.
  if (clipProtectMode_ == 1 && kind == Clip) return refuse(kDenied);
  if (!checkWritable()) return -1;
  if (kind != General && writing(bit(kind), name.get())) return refuse(kSharingViolation);
  // At most one writer on the volume, but for general files.
  if (writing(kSingleWriterKinds, nullptr) || (kind != General && writing(bit(General), nullptr))) {
    return refuse(kDenied);
  }
  std::vector<HandleRecord*> gathered;
  if (const int32_t refused = writeOpenRefusal(*name, disposition, flags, gathered)) {
    return refused == -1 ? -1 : refuse(refused);
  }
  if (!suspendReaders(gathered)) return -1;
  const bool deleteAccess = isFreeArea(kind) && (access & kDeleteByHandle) != 0;
  return openForWriting(name, access, share, security, disposition, flags, extra, openKind, deleteAccess);
}

// The refusal of a write open by the kind's rules (0 when none, -1 when a
// reader call failed and its error is taken over); the disposition becomes
// what the kind allows, and the readers that must give way are gathered
// (one that shares neither write nor delete refuses the open).
int32_t VolumeHandle::writeOpenRefusal(const FileNameManage& n, uint32_t& disposition, uint32_t flags,
                                       std::vector<HandleRecord*>& gathered) {
  const uint32_t kind = n.fileKind();
  const auto collect = [&](uint32_t k, bool own) {
    return openFiles_->collectReaders(gathered, k, own ? &n : nullptr);
  };
  const auto toCreateNew = [&]() -> bool {
    if (disposition >= 2 && disposition <= 4) disposition = 1;
    return disposition == 1;
  };
  const auto toOpenExisting = [&]() -> bool {
    if (disposition == 2 || disposition == 4) disposition = 3;
    return disposition == 3;
  };
  const auto anyDisposition = [&]() { return disposition >= 1 && disposition <= 4; };
  const bool thisRead = reading(bit(kind), &n);
  switch (kind) {
    case IndexXml:
    case MediaProXml:
    case SysProXml:
    case SubClip: return kInvalidOperation;
    case AliasXml:
      if ((flags & kFlagAliasWritable) == 0 || !freeNaming_) return kInvalidOperation;
      if (disposition == 2 || disposition == 3) disposition = 4;
      if (disposition != 4) return kInvalidParameter;
      if (thisRead) return kSharingViolation;
      if (reading(bit(IndexXml) | bit(Clip) | bit(Editlist) | bit(SubClip) | bit(Component), nullptr)) {
        return kDenied;
      }
      return collect(MediaProXml, false) ? kDenied : 0;
    case DiscMetaXml:
      if (!toOpenExisting()) return kInvalidParameter;
      if (thisRead) return kSharingViolation;
      return collect(MediaProXml, false) ? kDenied : 0;
    case Clip:
      if (!toCreateNew()) return kInvalidParameter;
      if (thisRead) return kSharingViolation;
      if (reading(bit(IndexXml) | bit(AliasXml), nullptr) || reading(bit(ClipUserMeta) | bit(SubClip), &n)) {
        return kDenied;
      }
      return collect(MediaProXml, false) || collect(ClipNrtMeta, true) ? kDenied : 0;
    case ClipNrtMeta:
      if (!toOpenExisting()) return kInvalidParameter;
      if (collect(ClipNrtMeta, true)) return kSharingViolation;
      if (reading(bit(Clip), &n) || collect(MediaProXml, false)) return kDenied;
      return readOnlyRefusal(n);
    case ClipUserMeta:
      if (!anyDisposition()) return kInvalidParameter;
      if (thisRead) return kSharingViolation;
      return reading(bit(IndexXml), nullptr) || reading(bit(Clip), &n) ? kDenied : 0;
    case Component:
      if (!toCreateNew()) return kInvalidParameter;
      if (thisRead) return kSharingViolation;
      if (reading(bit(IndexXml) | bit(AliasXml), nullptr)) return kDenied;
      return collect(MediaProXml, false) ? kDenied : 0;
    case Editlist:
      if (!anyDisposition()) return kInvalidParameter;
      if (thisRead) return kSharingViolation;
      if (reading(bit(IndexXml) | bit(AliasXml), nullptr) || reading(bit(EdlNrtMeta), &n)) return kDenied;
      return collect(MediaProXml, false) ? kDenied : 0;
    case EdlNrtMeta:
      if (!toOpenExisting()) return kInvalidParameter;
      if (thisRead) return kSharingViolation;
      return collect(MediaProXml, false) ? kDenied : 0;
    case UserData: return thisRead ? kSharingViolation : 0;
    case General: return openFiles_->isOpen(kWriting, General, nullptr, 4) || thisRead ? kSharingViolation : 0;
    default: return kInvalidFileName;
  }
}

// A clip's metadata file made read-only is not opened for writing.
int32_t VolumeHandle::readOnlyRefusal(const FileNameManage& n) {
  constexpr auto fn = u"VolumeHandle::createFile";
  uint32_t attributes = 0;
  trace(fn, __LINE__, u"QUIL_GetFileAttributes(%ld, \"%ls\", %p)\n", readerVolume_, n.path(), ptr(&attributes));
  const int32_t got = reader_->getFileAttributes(readerVolume_, n.path().c_str(), &attributes);
  trace(fn, __LINE__, u"QUIL_GetFileAttributes return=%ld (0x%08X)\n", got, attributes);
  if (got == 0) {
    quil::api::takeOverReaderError();
    return -1;
  }
  return (attributes & kReadOnlyAttribute) != 0 ? kDenied : 0;
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
