// Delete and rename by path. The disc is changed by the writer side; the
// tables decide whether it may be, readers that allow it give way, and the
// reader library is told the file is gone or has a new name.
#include <initializer_list>
#include <vector>

#include "quil/platform_error.h"
#include "quil/sibling/quilreader.h"
#include "quil/sibling/quilwriter.h"
#include "volume/volume_handle.h"
#include "volume/volume_detail.h"

namespace quil::volume {

namespace {

using namespace detail;
using namespace quil::files;
using quil::writer::WriterStatus;

constexpr uint32_t kWindowsSharingViolation = 32;



bool isRenamable(uint32_t kind) {
  return kind == Clip || kind == Component || kind == Editlist || kind == UserData || kind == General;
}

}  // namespace

// Kinds 1 to 12 being written forbid any change by name; a general file
// also waits for user data being written.
bool VolumeHandle::otherWriterBlocks(uint32_t kind) const {
  for (uint32_t k = IndexXml; k <= EdlNrtMeta; ++k) {
    if (openFiles_->isOpen(kWriting, k, nullptr, 1)) return true;
  }
  return kind == General && openFiles_->isOpen(kWriting, UserData, nullptr, 1);
}

int32_t VolumeHandle::nameGate(const FileNameManage& name) const {
  const uint32_t kind = name.fileKind();
  if (clipProtectMode_ == 1 && kind == Clip) return kDenied;
  if (writeProtectFlag_ != 0) return writeProtectError();
  if (!isFreeArea(kind) && openFiles_->isOpen(kWriting, kind, &name, 1)) return kSharingViolation;
  if (otherWriterBlocks(kind)) return kDenied;
  return 0;
}

int32_t VolumeHandle::deleteFile(int32_t volume, const QUILCHAR* path) {
  constexpr auto fn = u"VolumeHandle::deleteFile";
  if (!checkVolume(volume)) return 0;
  const FileNamePtr name = classify(path);
  const FileNameManage& n = *name;
  if (const int32_t code = nameGate(n); code != 0) return fail(code);
  const auto readers = [&](uint32_t k) { return openFiles_->isOpen(kReading, k, nullptr, 1); };
  const auto readersOnThis = [&](uint32_t k) { return openFiles_->isOpen(kReading, k, &n, 1); };
  std::vector<HandleRecord*> gathered;
  const auto gather = [&](uint32_t k, bool own) { return openFiles_->collectReaders(gathered, k, own ? &n : nullptr); };
  switch (n.fileKind()) {
    case None: return fail(kInvalidFileName);
    case Clip:
      if (readersOnThis(Clip)) return fail(kSharingViolation);
      if (readers(IndexXml) || readers(AliasXml) || readers(DiscMetaXml) || readersOnThis(ClipUserMeta) ||
          readersOnThis(SubClip) || readers(Editlist) || readers(EdlNrtMeta)) {
        return fail(kDenied);
      }
      if (gather(MediaProXml, false) || gather(ClipNrtMeta, true)) return fail(kDenied);
      break;
    case ClipUserMeta:
      if (readersOnThis(ClipUserMeta)) return fail(kSharingViolation);
      if (readers(IndexXml) || readersOnThis(Clip)) return fail(kDenied);
      break;
    case Component:
      if (readersOnThis(Component)) return fail(kSharingViolation);
      if (readers(IndexXml) || readers(AliasXml) || readers(Editlist) || readers(EdlNrtMeta)) return fail(kDenied);
      if (gather(MediaProXml, false)) return fail(kDenied);
      break;
    case Editlist:
      if (readersOnThis(Editlist)) return fail(kSharingViolation);
      if (readers(IndexXml) || readers(AliasXml) || readersOnThis(EdlNrtMeta)) return fail(kDenied);
      if (gather(MediaProXml, false)) return fail(kDenied);
      break;
    case UserData:
    case General: {
      quil::api::SiblingErrorRelay relay(*this, quil::api::SiblingLibrary::kWriter);
      const WriterStatus s = writerVolume_->deleteFile(n);
      if (quil::writer::writerOutcome(s).success) return -1;
      quil::writer::setLastErrorFrom(s);
      // Still open for writing elsewhere: the delete waits for that close.
      if (QUILWriterLastError::QUILLastErrorManager::get() == kWindowsSharingViolation) {
        openFiles_->markDeletePending(n);
      }
      return 0;
    }
    default: return fail(kInvalidOperation);
  }
  if (!suspendReaders(gathered)) return 0;
  const WriterStatus s = writerVolume_->deleteFile(n);
  const auto outcome = quil::writer::writerOutcome(s);
  if (!outcome.success) quil::writer::setLastErrorFrom(s);
  tellReader(outcome, s, [&](uint32_t status) {
    trace(fn, __LINE__, u"QUIL_NotifyDeleteFile(%ld, 0x%08X, \"%ls\"\n", readerVolume_, status, n.notifyPath());
    const int32_t told = reader_->notifyDeleteFile(readerVolume_, status, n.notifyPath().c_str());
    trace(fn, __LINE__, u"QUIL_NotifyDeleteFile return=%ld\n", told);
  });
  return outcome.success ? -1 : 0;
}

int32_t VolumeHandle::moveFile(int32_t volume, const QUILCHAR* from, const QUILCHAR* to) {
  constexpr auto fn = u"VolumeHandle::moveFile";
  if (!checkVolume(volume)) return 0;
  const FileNamePtr oldName =
      classify(from);
  const FileNameManage& o = *oldName;
  if (const int32_t code = nameGate(o); code != 0) return fail(code);
  const FileNamePtr newName = classify(to);
  const FileNameManage& t = *newName;
  if (const int32_t code = renameKinds(o.fileKind(), t.fileKind()); code != 0) return fail(code);

  const auto readers = [&](uint32_t k) { return openFiles_->isOpen(kReading, k, nullptr, 1); };
  const auto readersOnThis = [&](uint32_t k) { return openFiles_->isOpen(kReading, k, &o, 1); };
  std::vector<HandleRecord*> gathered;
  const auto gather = [&](uint32_t k, bool own) { return openFiles_->collectReaders(gathered, k, own ? &o : nullptr); };
  switch (o.fileKind()) {
    case Clip:
      if (readersOnThis(Clip)) return fail(kSharingViolation);
      if (readers(IndexXml) || readers(AliasXml) || readers(DiscMetaXml) || readersOnThis(ClipUserMeta) ||
          readersOnThis(SubClip)) {
        return fail(kDenied);
      }
      if (gather(MediaProXml, false) || gather(ClipNrtMeta, true)) return fail(kDenied);
      break;
    case Component:
      if (readersOnThis(Component)) return fail(kSharingViolation);
      if (readers(IndexXml) || readers(AliasXml)) return fail(kDenied);
      if (gather(MediaProXml, false)) return fail(kDenied);
      break;
    case Editlist:
      if (readersOnThis(Editlist)) return fail(kSharingViolation);
      if (readers(IndexXml) || readers(AliasXml) || readersOnThis(EdlNrtMeta)) return fail(kDenied);
      if (gather(MediaProXml, false)) return fail(kDenied);
      break;
    default: {  // user data and general files
      if (o.fileKind() == UserData && readersOnThis(UserData)) return fail(kSharingViolation);
      quil::api::SiblingErrorRelay relay(*this, quil::api::SiblingLibrary::kWriter);
      const WriterStatus s = writerVolume_->moveFile(o, t);
      if (quil::writer::writerOutcome(s).success) return -1;
      quil::writer::setLastErrorFrom(s);
      return 0;
    }
  }
  if (!suspendReaders(gathered)) return 0;
  const WriterStatus s = writerVolume_->moveFile(o, t);
  const auto outcome = quil::writer::writerOutcome(s);
  if (!outcome.success) quil::writer::setLastErrorFrom(s);
  tellReader(outcome, s, [&](uint32_t status) {
    trace(fn, __LINE__, u"QUIL_NotifyMoveFile(%ld, 0x%08X, \"%ls\", \"%ls\")\n", readerVolume_, status, o.notifyPath(),
          t.notifyPath());
    const int32_t told = reader_->notifyMoveFile(readerVolume_, status, o.notifyPath().c_str(), t.notifyPath().c_str());
    trace(fn, __LINE__, u"QUIL_NotifyMoveFile return=%ld\n", told);
  });
  return outcome.success ? -1 : 0;
}

int32_t VolumeHandle::renameKinds(uint32_t from, uint32_t to) {
  // A kind that can never be renamed is named before a path that names nothing.
  if ((from != None && !isRenamable(from)) || (to != None && !isRenamable(to))) return kInvalidOperation;
  if (from == None || to == None) return kInvalidFileName;
  return from != to ? kInvalidOperation : 0;
}

int32_t VolumeHandle::moveFileEx(int32_t volume, const QUILCHAR* from, const QUILCHAR* to, uint32_t flags) {
  if (!checkVolume(volume)) return 0;
  if (writeProtectFlag_ != 0) return fail(writeProtectError());
  const FileNamePtr oldName =
      classify(from);
  const FileNameManage& o = *oldName;
  if (otherWriterBlocks(o.fileKind())) return fail(kDenied);
  const FileNamePtr newName = classify(to);
  const FileNameManage& t = *newName;
  const auto freeOrNone = [](uint32_t k) { return k == None || isFreeArea(k); };
  if (!freeOrNone(o.fileKind()) || !freeOrNone(t.fileKind())) return fail(kInvalidOperation);
  if (o.fileKind() == None || t.fileKind() == None) return fail(kInvalidFileName);
  if (o.fileKind() != t.fileKind()) return fail(kInvalidOperation);
  if (o.fileKind() == UserData && openFiles_->isOpen(kReading, UserData, &o, 1)) return fail(kSharingViolation);
  quil::api::SiblingErrorRelay relay(*this, quil::api::SiblingLibrary::kWriter);
  const WriterStatus s = writerVolume_->moveFileEx(o, t, flags);
  if (quil::writer::writerOutcome(s).success) return -1;
  quil::writer::setLastErrorFrom(s);
  return 0;
}

}  // namespace quil::volume
