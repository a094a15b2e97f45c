// The writer side of one open volume. The volume object makes it when a
// volume is opened and keeps it until the volume closes; it serves the
// writer operations that work on names rather than on an open file (volume
// creation and checks, delete, rename, lock, directories, attributes, label,
// flush), and the writer file objects read the root and the volume
// parameters from it. Each path operation picks the writer function by the
// path's kind; a kind it does not handle gives status 2. Nothing thrown by
// the writer gets out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/file_name_manage.h"
#include "quil/quilcoreapi.h"
#include "quil/sibling/quilwriter.h"
#include "writer/writer_status.h"

namespace quil::writer {

class WriterVolume;

// What creation gives: the volume (null unless the status is 0 or 1) and
// the status.
struct WriterVolumeResult {
  std::unique_ptr<WriterVolume> volume;
  WriterStatus status;
};

// Results of the AV-tree check.
enum KeldaCheck : int32_t {
  kKeldaGood = 0,
  kKeldaUnsupported = 1,     // writer code 0x8400000F, or an exception that is not the writer's
  kKeldaWriteProtect = 2,    // writer code 0x84000010: open the volume write-protected
  kKeldaOtherFailure = 3,
};

class WriterVolume {
 public:
  // Reads the medium through the driver into media (isRMedia, fwVersion,
  // mediumType) and starts the writer's volume, which reads the disc
  // through reader; reader must outlive the volume.
  static WriterVolumeResult create(const std::u16string& root, const _Volume_Param& param, Media_Param_& media,
                                   QUILWriter::QUILCacheReader& reader);

  virtual ~WriterVolume();
  WriterVolume(const WriterVolume&) = delete;
  WriterVolume& operator=(const WriterVolume&) = delete;

  WriterStatus CreateVolume(Media_Param_& media, QUILWriter::QUILCacheReader& reader);
  // Status 0 when the writer finds the volume good; otherwise status 3 with
  // the writer's result mapped as a writer error code.
  WriterStatus checkVolume();
  KeldaCheck checkKeldaFile(const _Volume_Param& param, std::string& discId,
                            QUILWriter::QUIL_AliasRename& aliasRename);
  // What the writer's parse says; any exception counts as false.
  bool parseDiscmeta(const char* text, uint32_t length, std::string& discId, bool& versionIsCurrent);
  // Makes sure \KELDA\CMPTR exists, creating it in the driver's privileged
  // mode when the medium is writable. False only when it is missing and
  // could not be made.
  bool checkCmptrFolder(bool& created);
  void setVirtualAlias(const std::vector<uint8_t>& alias);
  void CreateVolumeEnd();
  // Registers the process as privileged with the disc's driver.
  bool registerPrivilegedProcess();

  WriterStatus deleteFile(const quil::files::FileNameManage& name);
  WriterStatus moveFile(const quil::files::FileNameManage& from, const quil::files::FileNameManage& to);
  WriterStatus moveFileEx(const quil::files::FileNameManage& from, const quil::files::FileNameManage& to,
                          uint32_t flags);
  WriterStatus lockFile(const quil::files::FileNameManage& name, bool lock);
  WriterStatus createDirectory(const quil::files::FileNameManage& name, void* security);
  WriterStatus removeDirectory(const quil::files::FileNameManage& name);
  WriterStatus setFileAttributes(const quil::files::FileNameManage& name, uint32_t attributes);
  WriterStatus setVolumeLabel(const std::u16string& label);
  WriterStatus flushVolume();

  const std::u16string& root() const { return root_; }
  const _Volume_Param& volumeParam() const { return param_; }
  QUILWriter::_QUIL_NAMING_MODE naming() const {
    return static_cast<QUILWriter::_QUIL_NAMING_MODE>(param_.namingMode);
  }

 private:
  WriterVolume(std::u16string root, const _Volume_Param& param) : root_(std::move(root)), param_(param) {}

  std::u16string root_;
  _Volume_Param param_;
};

// Media types of write-once (R) media, as the driver reports them.
bool isRMedium(uint8_t mediumType);

}  // namespace quil::writer
