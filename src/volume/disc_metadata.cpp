// What the volume opening repairs before any caller sees the volume:
// DISCMETA.XML (rewritten from the template when broken, written back on a
// disc in 2.3 mode), the CMPTR folder, and the writer's handling of
// duplicated file names (ALIAS.XML rewritten, or a virtual alias on a
// write-protected volume).
#include <string>
#include <vector>

#include "api/operation_log.h"
#include "notify/close_error_notify.h"
#include "platform/local_time.h"
#include "quil/sibling/quilreader.h"
#include "volume/volume_handle.h"
#include "volume/volume_detail.h"
#include "writer/writer_file.h"

namespace quil::volume {

namespace {

using namespace detail;
using quil::files::FileKind;
using quil::files::FileNameManage;

constexpr uint32_t kTreeWriteProtect = 0x10;
constexpr uint32_t kQuil23WriteProtect = 0x40000000;
constexpr const char16_t* kCmptrPath = u"\\KELDA\\CMPTR";

// Every log line of these steps is an operation-flag-0 line with its place.
template <class... A>
void logLine(uint32_t level, const char16_t* function, int32_t line, quil::FormatString<A...> format,
             const A&... args) {
  QUILLogger::writeTrace<A...>(1, level, 0, kSource, function, line, format, args...);
}

constexpr const char* kDiscMetaTemplate =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<DiscMeta xmlns=\"urn:schemas-orbelDisc:discMeta:ver.1.10\" xmlns:lib=\"urn:schemas-orbelDisc:lib:ver.1.40\">\n"
    "\t<KeldaIdRef value=\"@\"/>\n"
    "\t<InitializedDate value=\"#\"/>\n"
    "</DiscMeta>\n";

bool rewritableMedium(uint8_t mediumType) { return mediumType == 'S' || mediumType == 'W'; }

const char* trueFalse(bool value) { return value ? "true" : "false"; }

void replaceFirst(std::string& text, char placeholder, const std::string& value) {
  const size_t at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, 1, value);
}

// The local date with its zone designator, as the C runtime gives it: the
// standard offset west of UTC, moved an hour east while daylight time is in
// effect.
std::string initializedDate() {
  const quil::platform::RuntimeZone zone = quil::platform::runtimeZoneNow();
  long offset = zone.secondsWest;
  if (zone.daylightNow) offset -= zone.daylight * 3600L;
  char sign = '-';
  if (offset <= 0) {
    sign = '+';
    offset = -offset;
  }
  const int32_t hours = static_cast<int32_t>(offset / 3600);
  const int32_t minutes = static_cast<int32_t>((offset / 60) % 60);
  const std::u16string designator =
      hours == 0 && minutes == 0 ? std::u16string(u"Z") : quil::format(u"%c%02ld:%02ld", sign, hours, minutes);
  const auto& t = zone.now;
  const std::u16string date = quil::format(u"%04d-%02d-%02dT%02d:%02d:%02d%s", t.year, t.month, t.day, t.hour,
                                           t.minute, t.second, designator);
  return std::string(date.begin(), date.end());  // digits, signs and letters only
}

}  // namespace

void VolumeHandle::notifyCreateFile(uint32_t status, const std::u16string& notifyPath, const char16_t* function) {
  trace(function, __LINE__, u"QUIL_NotifyCreateFile(%ld, 0x%08X, \"%ls\")\n", readerVolume_, status, notifyPath);
  const int32_t result = reader_->notifyCreateFile(readerVolume_, status, notifyPath.c_str());
  trace(function, __LINE__, u"QUIL_NotifyCreateFile return=%ld\n", result);
}

bool VolumeHandle::rewriteRootFile(FileKind kind, const void* content, uint32_t size) {
  constexpr auto fn = u"VolumeHandle::rewriteRootFile";
  const FileNameManage name(kind, freeNaming_);
  const std::u16string& path = name.path();
  // Opened, never created, with UMID mode 2; closed and released on every
  // path (the result owns the object).
  quil::writer::WriterFileResult opened = quil::writer::WriterFile::open(*writerVolume_, name, 2);
  if (!quil::writer::writerOutcome(opened.status).success || !opened.file) {
    quil::writer::setLastErrorFrom(opened.status);
    logLine(4, fn, __LINE__, u"WriterFile::createFile(%ls) error", path);
    return false;
  }
  quil::writer::WriterFile& file = *opened.file;
  uint32_t written = 0;
  quil::writer::WriterStatus s = file.writeFile(content, size, &written);
  if (!quil::writer::writerOutcome(s).success) {
    quil::writer::setLastErrorFrom(s);
    logLine(4, fn, __LINE__, u"WriterFile::writeFile(%ls) error", path);
    file.close();
    return false;
  }
  s = file.setFileSize(size);
  if (!quil::writer::writerOutcome(s).success) {
    quil::writer::setLastErrorFrom(s);
    logLine(4, fn, __LINE__, u"WriterFile::setFileSize(%ls) error", path);
    file.close();
    return false;
  }
  s = file.close();
  if (!quil::writer::writerOutcome(s).success) {
    quil::writer::setLastErrorFrom(s);
    logLine(4, fn, __LINE__, u"WriterFile::close(%ls) error", path);
    return false;
  }
  return true;
}

bool VolumeHandle::checkDiscMeta(const _Volume_Param& param, const Media_Param_& media, bool is23modeCheckOK,
                                 const std::string& treeDiscId) {
  constexpr auto fn = u"VolumeHandle::checkDiscMeta";
  const FileNameManage name(quil::files::DiscMetaXml, freeNaming_);
  const std::u16string& path = name.path();

  const int32_t file = cacheOpen(path.c_str());
  if (file == -1) {
    logLine(2, fn, __LINE__, u"quilCreateFile(%ls) error. DISCMETA.XML cannot read", path);
    quil::api::setLastError(kDiscCorrupted);
    return false;
  }
  int64_t size = 0;
  if (cacheGetSize(file, &size) == 0) {
    logLine(4, fn, __LINE__, u"quilGetFileSize(%ls) error", path);
    quil::api::takeOverReaderError();
    cacheClose(file);
    return false;
  }
  std::string bytes(static_cast<size_t>(size < 0 ? 0 : size), '\0');
  uint32_t read = 0;
  if (cacheRead(file, bytes.data(), static_cast<uint32_t>(bytes.size()), &read) == 0 ||
      static_cast<int64_t>(read) != size) {
    logLine(4, fn, __LINE__, u"quilReadFile(%ls) fileSize=%llu readSize=%u error", path, static_cast<uint64_t>(size),
            read);
    quil::api::takeOverReaderError();
    cacheClose(file);
    return false;
  }
  cacheClose(file);

  const char* reasonText = "QUIL2.3Mode version change to 1.00";
  const bool quil23 = param.Quil23Mode;
  const bool sw = rewritableMedium(media.mediumType);
  std::string discId = treeDiscId;
  bool versionIsCurrent = false;
  std::string content;
  if (writerVolume_->parseDiscmeta(bytes.data(), static_cast<uint32_t>(bytes.size()), discId, versionIsCurrent)) {
    if (quil23 && sw && !is23modeCheckOK) writeProtectFlag_ |= kQuil23WriteProtect;
    // Only a disc in 2.3 mode whose file is not yet in the current form is
    // written back, unchanged: the writer brings it to the current form.
    if (!(quil23 && sw && is23modeCheckOK && writeProtectFlag_ == 0 && !versionIsCurrent)) return true;
    content = bytes;
  } else {
    logLine(2, fn, __LINE__, u"parse Discmeta error");
    reasonText = "broken DISCMETA.XML";
    const bool rewritable = sw && !(quil23 && !is23modeCheckOK) && writeProtectFlag_ == 0;
    if (!rewritable) {
      logLine(2, fn, __LINE__,
              u"DISCMETA.XML not rewritable because MediumType=0x%X, WriteProtectFlag=0x%X, Quil23Mode=%hs & "
              u"is23modeCheckOK=%hs",
              media.mediumType, writeProtectFlag_, quil23 ? "ON" : "OFF", trueFalse(is23modeCheckOK));
      quil::api::setLastError(kDiscMetaNotRewritable);
      return false;
    }
    content = kDiscMetaTemplate;
    replaceFirst(content, '@', discId);
    replaceFirst(content, '#', initializedDate());
  }
  if (!rewriteRootFile(quil::files::DiscMetaXml, content.data(), static_cast<uint32_t>(content.size()))) return false;
  logLine(2, fn, __LINE__, u"DISCMETA.XML rewrite successed for %hs", reasonText);
  notifyCreateFile(0, name.notifyPath(), fn);
  return true;
}

void VolumeHandle::checkCmptrFolder() {
  constexpr auto fn = u"VolumeHandle::checkCmptrFolder";
  if (writeProtectFlag_ != 0) return;
  bool created = false;
  bool failed = false;
  if (!writerVolume_->checkCmptrFolder(created)) {
    logLine(2, fn, __LINE__, u"checkCmptrFolder error");
    failed = true;
  } else if (created) {
    trace(fn, __LINE__, u"QUIL_NotifyCreateDirectory(%ld, 0x%08X, \"%ls\")\n", readerVolume_, 0u, kCmptrPath);
    if (reader_->notifyCreateDirectory(readerVolume_, 0, kCmptrPath) == 0) {
      logLine(2, fn, __LINE__, u"QUIL_NotifyCreateDirectory %ls error", kCmptrPath);
      failed = true;
    }
  }
  if (failed) {
    // The volume still opens, write-protected and without an error.
    writeProtectFlag_ |= kTreeWriteProtect;
    clearLastError();
  }
}

bool VolumeHandle::applyDuplicatedNames(const QUILWriter::QUIL_AliasRename& aliasRename) {
  constexpr auto fn = u"VolumeHandle::applyDuplicatedNames";
  const std::vector<uint8_t>& alias = aliasRename.virtualAlias;
  if (alias.empty()) return true;
  if (writeProtectFlag_ != 0) {
    // Nothing may be written: reader and writer present the alias table
    // instead of the file.
    writerVolume_->setVirtualAlias(alias);
    if (reader_->notifyVirtualAlias(readerVolume_, alias.data(), static_cast<uint32_t>(alias.size())) == 0) {
      logLine(2, fn, __LINE__, u"QUIL_NotifyVirtualAlias failed");
    }
    quil::notify::notifiCloseError(quil::notify::kDuplicateAliased, u"", rootPath_);
    return true;
  }
  if (!rewriteRootFile(quil::files::AliasXml, alias.data(), static_cast<uint32_t>(alias.size()))) return false;
  logLine(2, fn, __LINE__, u"ALIAS.XML rewrite successed");
  notifyCreateFile(0, FileNameManage(quil::files::AliasXml, freeNaming_).notifyPath(), fn);
  namespace oplog = quil::api::oplog;
  const std::u16string drive = oplog::drive(rootPath_);
  for (const auto& r : aliasRename.renames) {
    const std::u16string oldPath = u"\\" + r.directory + u"\\" + r.oldName;
    const std::u16string newPath = u"\\" + r.directory + u"\\" + r.newName;
    oplog::line(5, 1, u"%ls Changing the duplicated filename finished. %ls -> %ls", drive,
                oplog::file(oplog::FileRole::kOldFile, rootPath_, oldPath.c_str()),
                oplog::file(oplog::FileRole::kNewFile, rootPath_, newPath.c_str()));
  }
  quil::notify::notifiCloseError(quil::notify::kDuplicateRenamed, u"", rootPath_);
  return true;
}

}  // namespace quil::volume
