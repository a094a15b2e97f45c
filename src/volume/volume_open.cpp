// Opening and closing the volume: the writer side and the driver first, the
// AV-tree check, the reader's view, the writer's volume check, the disc
// metadata steps, and only then the tables that make the volume usable.
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "quil/sibling/quilreader.h"
#include "volume/volume_handle.h"
#include "volume/volume_detail.h"
#include "writer/writer_file.h"

namespace quil::volume {

namespace {

// 1, as every volume session starts. QUIL_TEST_FIRST_HANDLE lets a test
// start near the top of the range, to see what happens when numbers run
// out without opening two billion handles first.
int32_t firstHandleNumber() {
  const char* text = std::getenv("QUIL_TEST_FIRST_HANDLE");
  if (text == nullptr || *text == '\0') return 1;
  const long long first = std::strtoll(text, nullptr, 10);
  return first >= 1 && first <= INT32_MAX ? static_cast<int32_t>(first) : 1;
}

}  // namespace

namespace {

using namespace detail;
using quil::writer::WriterVolume;

constexpr uint32_t kTreeWriteProtect = 0x10;

const char* trueFalse(bool value) { return value ? "true" : "false"; }

// The drive's model name (up to its first NUL, at most 32 bytes) with the
// white space around it removed, matched exactly against the known models.
uint32_t driveTypeOf(const _Volume_Param& param, std::string& trimmed) {
  const void* nul = std::memchr(param.modelName, '\0', sizeof param.modelName);
  const size_t length = nul != nullptr ? static_cast<const char*>(nul) - param.modelName : sizeof param.modelName;
  std::string name(param.modelName, length);
  const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!name.empty() && space(name.back())) name.pop_back();
  size_t first = 0;
  while (first < name.size() && space(name[first])) ++first;
  trimmed = name.substr(first);
  if (trimmed == "ZRD-K1") return 1;
  if (trimmed == "ZRD-K4") return 4;
  return 2;  // ZRD-K2 and every name we do not know
}

}  // namespace

int32_t VolumeHandle::createVolume(const QUILCHAR* rootPath, const _Volume_Param* param) {
  if (created_) {
    quil::api::setLastError(kAlreadyCreated);
    return -1;
  }
  // From here every return records the thread's code as the volume status.
  int32_t result = -1;
  if (rootPath == nullptr || param == nullptr) {
    quil::api::setLastError(kInvalidParameter);
  } else {
    result = openVolume(rootPath, *param);
  }
  setVolumeStatus();
  return result;
}

int32_t VolumeHandle::openVolume(const QUILCHAR* rootPath, const _Volume_Param& param) {
  constexpr auto fn = u"VolumeHandle::createVolume";
  openFileCount_ = 0;
  freeNaming_ = param.namingMode == 2;
  writeProtectFlag_ = param.recInhMode;
  rootPath_ = rootPath;
  clipProtectMode_ = param.clipProtectMode;

  Media_Param_ media{};
  std::string trimmed;
  media.driveType = driveTypeOf(param, trimmed);
  trace(fn, __LINE__, u"modelName=\"%.32hs\" trim \"%hs\" type=%d", param.modelName, trimmed, media.driveType);

  // The writer volume is held from here on; every failing step lets it go
  // again, so a closed volume never keeps one.
  quil::writer::WriterVolumeResult made = WriterVolume::create(rootPath_, param, media, *this);
  if (!quil::writer::writerOutcome(made.status).success || !made.volume) {
    quil::writer::setLastErrorFrom(made.status);
    return -1;
  }
  writerVolume_ = std::move(made.volume);
  const auto fail = [this](int32_t code) {
    if (code != 0) quil::api::setLastError(code);
    writerVolume_.reset();
    return -1;
  };

  if (!writerVolume_->registerPrivilegedProcess()) return fail(kDriverCommandError);

  std::string discId;
  QUILWriter::QUIL_AliasRename aliasRename;
  switch (writerVolume_->checkKeldaFile(param, discId, aliasRename)) {
    case quil::writer::kKeldaGood: break;
    case quil::writer::kKeldaUnsupported: return fail(kUnsupportedFiles);
    case quil::writer::kKeldaWriteProtect: writeProtectFlag_ |= kTreeWriteProtect; break;
    default: return fail(-1);
  }

  // The reader sees the caller's parameters with the volume's own
  // write-protect word, followed by the medium.
  QUIL_READER_VOLUME_PARAM record{};
  record.volume = param;
  record.volume.recInhMode = writeProtectFlag_;
  record.media = media;
  const _Volume_Param& v = record.volume;
  trace(fn, __LINE__,
        u"QUIL_CreateVolume(\"%ls\", (0x%08X,(0x%08X,0x%08X,0x%08X,0x%08X),0x%08X,0x%08X,(\"%.4hs\",\"%.4hs\","
        u"\"%.4hs\"),0x%08X,0x%08X,0x%08X,0x%08X,0x%08X,\"%.32hs\",\"%.64hs\",\"%.32hs\",0x%08X,%u,%u,%hs,%hs),"
        u"(%hs, %u, %u, 0x%02X))\n",
        rootPath_, v.namingMode, v.audioMode[0], v.audioMode[1], v.audioMode[2], v.audioMode[3], v.tcMode,
        v.dfndfMode, v.ownerInfo.country, v.ownerInfo.organization, v.ownerInfo.user, v.dataItemMode, v.alignMode,
        v.recInhMode, v.proHdnMode, v.clipProtectMode, v.modelName, v.serialNo, v.quilVersion, v.mixedRecMode,
        v.maxClipReadHandles, v.option196, trueFalse(v.Quil23Mode), v.norcFlag ? "NORC" : "not NORC",
        media.isRMedia ? "R" : "RE", media.driveType, media.fwVersion, media.mediumType);
  bool is23modeCheckOK = false;
  readerVolume_ = reader_->createVolume(rootPath_.c_str(), &record, &is23modeCheckOK);
  trace(fn, __LINE__, u"QUIL_CreateVolume return=%ld, is23modeCheckOK=%hs\n", readerVolume_,
        trueFalse(is23modeCheckOK));
  if (readerVolume_ == -1) {
    quil::api::takeOverReaderError();
    return fail(0);
  }

  const quil::writer::WriterStatus checked = writerVolume_->checkVolume();
  if (!quil::writer::writerOutcome(checked).success) {
    quil::writer::setLastErrorFrom(checked);
    closeReaderVolume(true);
    return fail(0);
  }

  // A failure of the disc metadata steps closes the reader volume too, so
  // that nothing stays open behind a failed opening (the code of the step
  // stays the thread's last error).
  if (!checkDiscMeta(param, media, is23modeCheckOK, discId)) {
    closeReaderVolume(false);
    return fail(0);
  }
  checkCmptrFolder();
  if (!applyDuplicatedNames(aliasRename)) {
    closeReaderVolume(false);
    return fail(0);
  }

  openFiles_ = std::make_unique<quil::files::OpenFileControl>(freeNaming_);
  handles_ = std::make_unique<quil::files::HandleTable>(firstHandleNumber());
  if (param.maxClipReadHandles != 0) {
    clipReadManager_ = std::make_unique<quil::files::ClipReadManager>(param.maxClipReadHandles, readerVolume_, *reader_);
  }
  created_ = true;
  writerVolume_->CreateVolumeEnd();
  return 0;
}

void VolumeHandle::closeReaderVolume(bool takeOverError) {
  constexpr auto fn = u"VolumeHandle::createVolume";
  trace(fn, __LINE__, u"QUIL_CloseVolume(%ld)\n", readerVolume_);
  const int32_t closed = reader_->closeVolume(readerVolume_);
  trace(fn, __LINE__, u"QUIL_CloseVolume return=%ld\n", closed);
  if (closed == 0 && takeOverError) quil::api::takeOverReaderError();
  readerVolume_ = -1;
}

int32_t VolumeHandle::closeVolume(int32_t volume) {
  constexpr auto fn = u"VolumeHandle::closeVolume";
  if (volume != 0 || !created_) {
    quil::api::setLastError(kInvalidHandle);
    return 0;
  }
  // Every handle still open is ended inwardly, in handle order; results
  // are not looked at.
  for (const auto& [number, record] : handles_->records()) {
    if (record->suspended) continue;
    switch (record->type) {
      case quil::files::kWriterFileNoRead:
      case quil::files::kWriterFile:
        if (record->writerFile) record->writerFile->close();
        break;
      case quil::files::kReaderFile:
        if (record->clipEntry != nullptr && clipReadManager_) {
          clipReadManager_->close(record->clipEntry);
          record->clipEntry = nullptr;
        } else {
          trace(fn, __LINE__, u"QUIL_CloseHandle(%ld)\n", record->readerHandle);
          const int32_t closed = reader_->closeHandle(record->readerHandle);
          trace(fn, __LINE__, u"QUIL_CloseHandle return=%ld\n", closed);
        }
        break;
      case quil::files::kEnumeration: {
        trace(fn, __LINE__, u"QUIL_FindClose(%ld)\n", record->readerHandle);
        const int32_t closed = reader_->findClose(record->readerHandle);
        trace(fn, __LINE__, u"QUIL_FindClose return=%ld\n", closed);
        break;
      }
      default:
        break;
    }
  }
  clipReadManager_.reset();
  trace(fn, __LINE__, u"QUIL_CloseVolume(%ld)\n", readerVolume_);
  const int32_t closed = reader_->closeVolume(readerVolume_);
  trace(fn, __LINE__, u"QUIL_CloseVolume return=%ld\n", closed);
  handles_.reset();
  openFiles_.reset();
  writerVolume_.reset();
  created_ = false;
  return -1;
}

}  // namespace quil::volume
