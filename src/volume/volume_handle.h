// The one volume session of the process. Every export calls one of its
// operations. A volume handle is valid only when it is 0 and a volume is
// open; file and find handles are looked up in the handle table, which
// exists only while a volume is open.
//
// The class is one object, but its operations live in files by concern:
//   volume_handle.cpp      the object, its interfaces, volume information
//   volume_open.cpp        createVolume and closeVolume
//   disc_metadata.cpp      DISCMETA.XML, the CMPTR folder, duplicated names
//   file_open.cpp          createFile with its sharing rules
//   file_io.cpp            read, write, seek, size, type, times
//   file_close.cpp         closeHandle and delete-by-handle
//   volume_find.cpp        enumeration and the reader's queries
//   volume_names.cpp       delete and rename
//   volume_attributes.cpp  attributes and locks, directories, label, flush, clip id
#pragma once

#include "sibling/reader_library.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "api/last_error.h"
#include "files/clip_read_manager.h"
#include "files/file_name_manage.h"
#include "files/open_files.h"
#include "quil/quilcoreapi.h"
#include "quil/sibling/quilwriter.h"
#include "writer/writer_status.h"
#include "writer/writer_volume.h"

namespace quil::volume {

// Lets the volume record the code a volume opening left behind.
class SetVolumeStatusIf {
 public:
  virtual ~SetVolumeStatusIf() = default;
  virtual void setVolumeStatus() = 0;
};

class VolumeHandle : public SetVolumeStatusIf,
                     public quil::api::ClearQUILLastErrorIf,
                     public QUILWriter::QUILCacheReader {
 public:
  VolumeHandle() = default;
  // Frees what is still held without calling the reader or the writer
  // library: at unload they may already be going.
  ~VolumeHandle() override;
  VolumeHandle(const VolumeHandle&) = delete;
  VolumeHandle& operator=(const VolumeHandle&) = delete;

  // The process's volume, built when the library loads.
  static VolumeHandle& instance();

  void setVolumeStatus() override;
  void clearLastError() override;

  // How the writer library reads the disc: straight to the reader library,
  // without handle records, tracing or last-error handling.
  int32_t cacheOpen(const QUILCHAR* path) override;
  int32_t cacheClose(int32_t file) override;
  int32_t cacheRead(int32_t file, void* buffer, uint32_t size, uint32_t* read) override;
  int32_t cacheGetSize(int32_t file, int64_t* size) override;

  // Volume.
  int32_t createVolume(const QUILCHAR* rootPath, const _Volume_Param* param);
  int32_t closeVolume(int32_t volume);
  int32_t getVolumeInformation(int32_t volume, uint32_t* status, uint32_t* writeProtectFlag);
  int32_t flushVolume(int32_t volume);
  int32_t getVolumeCapacity(int32_t volume, uint64_t* first, uint64_t* second);
  int32_t getVolumeLabel(int32_t volume, QUILCHAR* buffer, uint32_t bufferLength, uint32_t* length);
  int32_t setVolumeLabel(int32_t volume, const QUILCHAR* label, uint32_t length);
  int32_t getNRTdata(int32_t volume, const NrtDataRequest* request, NrtResult* result);
  int32_t getNRTinfo(int32_t volume, const NrtInfoRequest* request, NrtResult* result);

  // Files by path.
  int32_t createFile(int32_t volume, const QUILCHAR* path, uint32_t desiredAccess, uint32_t shareMode,
                     void* securityAttributes, uint32_t creationDisposition, uint32_t flagsAndAttributes, void* extra,
                     uint32_t& openKind);
  int32_t deleteFile(int32_t volume, const QUILCHAR* path);
  int32_t moveFile(int32_t volume, const QUILCHAR* from, const QUILCHAR* to);
  int32_t moveFileEx(int32_t volume, const QUILCHAR* from, const QUILCHAR* to, uint32_t flags);
  int32_t getFileAttributes(int32_t volume, const QUILCHAR* path, uint32_t* attributes);
  int32_t setFileAttributes(int32_t volume, const QUILCHAR* path, uint32_t attributes);
  int32_t createDirectory(int32_t volume, const QUILCHAR* path, void* security);
  int32_t removeDirectory(int32_t volume, const QUILCHAR* path);
  int32_t findFirstFile(int32_t volume, const QUILCHAR* pattern, FindData* data);

  // Files by handle.
  int32_t closeHandle(int32_t handle, uint32_t& openKind, uint32_t& stopReason);
  int32_t deleteFileWithHandle(int32_t handle);
  int32_t readFile(int32_t handle, void* buffer, uint32_t size, uint32_t* read);
  // The path a file handle was opened with, for log lines; empty for any
  // other number. A read never closes its handle, so a failure line asks
  // afterwards, and a read that succeeds copies nothing.
  std::u16string pathOfHandle(int32_t handle) const;
  int32_t writeFile(int32_t handle, const void* buffer, uint32_t size, uint32_t* written);
  int32_t setFilePointer(int32_t handle, int64_t distance, int64_t* newPosition, uint32_t moveMethod);
  int32_t getFileSize(int32_t handle, int64_t* size);
  int32_t setFileSize(int32_t handle, int64_t size);
  int32_t setEndOfFile(int32_t handle);
  int32_t setFileTime(int32_t handle, int64_t creation, int64_t lastAccess, int64_t lastWrite);
  int32_t getFileType(int32_t handle, uint32_t* type);
  int32_t getClipId(int32_t handle, QUILCHAR* buffer, uint32_t bufferLength, uint32_t* length);
  int32_t isHandleReadable(int32_t handle, int32_t* readable);
  int32_t findNextFile(int32_t handle, FindData* data);
  int32_t findClose(int32_t handle);

  // The root path given to the last createVolume; its first character is
  // the drive letter of the operation log.
  const std::u16string& rootPath() const { return rootPath_; }
  bool created() const { return created_; }
  // For tests, with no volume open: the reader library to call.
  void useReaderLibrary(const quil::sibling::ReaderLibrary& reader) { reader_ = &reader; }
  int32_t volumeStatus() const { return volumeStatus_; }

 private:
  // What a caller's path names under this volume's naming (NULL names nothing).
  quil::files::FileNamePtr classify(const QUILCHAR* path) const {
    return quil::files::classifyPath(path != nullptr ? std::u16string_view(path) : std::u16string_view(), freeNaming_);
  }
  // --- volume_open.cpp
  int32_t openVolume(const QUILCHAR* rootPath, const _Volume_Param& param);
  // Undoes what a failed opening had opened: the reader volume.
  void closeReaderVolume(bool takeOverError);
  // --- disc_metadata.cpp
  bool checkDiscMeta(const _Volume_Param& param, const Media_Param_& media, bool is23modeCheckOK,
                     const std::string& discId);
  void checkCmptrFolder();
  bool applyDuplicatedNames(const QUILWriter::QUIL_AliasRename& aliasRename);
  // Writes content over an existing root file (DISCMETA.XML, ALIAS.XML)
  // through the writer, then tells the reader.
  bool rewriteRootFile(quil::files::FileKind kind, const void* content, uint32_t size);
  void notifyCreateFile(uint32_t status, const std::u16string& notifyPath, const char16_t* function);

  // --- file_open.cpp
  // Whether a file of one of the kinds (a bit per kind) is open for
  // writing or reading; with a name, a file of that name.
  bool writing(uint32_t kinds, const quil::files::FileNameManage* name) const;
  bool reading(uint32_t kinds, const quil::files::FileNameManage* name) const;
  int32_t writeOpenRefusal(const quil::files::FileNameManage& n, uint32_t& disposition, uint32_t flags,
                           std::vector<quil::files::HandleRecord*>& gathered);
  int32_t readOnlyRefusal(const quil::files::FileNameManage& n);
  int32_t openForWriting(const quil::files::FileNamePtr& name, uint32_t access, uint32_t share, void* security,
                         uint32_t disposition, uint32_t flags, void* extra, uint32_t openKind, bool deleteAccess);
  int32_t openForReading(const quil::files::FileNamePtr& name, uint32_t access, uint32_t share, uint32_t disposition,
                         uint32_t flags, void* extra, uint32_t openKind);
  // Closes the reader side of each gathered handle so a writer can come in.
  bool suspendReaders(const std::vector<quil::files::HandleRecord*>& readers);
  // Closes a reader handle's reader side (clip entries through the clip
  // read manager); the reader's result.
  int32_t closeRead(quil::files::HandleRecord& record, const char16_t* function);
  // -3002 or -3012 when the volume is write-protected; true when it is not.
  bool checkWritable();

  // --- file_io.cpp
  // The handle's record after the common checks (volume, handle, suspended);
  // null with the last error set.
  quil::files::HandleRecord* handleForIo(int32_t handle);
  // The reader file of a reader handle (reopening a managed clip); -1 with
  // the reader's error taken over.
  int32_t readerFileOf(quil::files::HandleRecord& record);

  // --- file_close.cpp
  void notifySetFileAttribute(uint32_t status, const std::u16string& notifyPath, const char16_t* function);

  // --- volume_names.cpp
  // The checks delete and rename share, for the old path: 0 or the refusal.
  int32_t nameGate(const quil::files::FileNameManage& name) const;
  // Kinds 1 to 12 being written forbid a change by name (user data too,
  // for a general file).
  bool otherWriterBlocks(uint32_t kind) const;
  // 0 when a file of kind `from` may be renamed to a path of kind `to`.
  static int32_t renameKinds(uint32_t from, uint32_t to);

  // --- volume_handle.cpp
  // True when the volume handle names the open volume; else sets -4.
  bool checkVolume(int32_t volume) const;
  // The handle's record; null (with -4) when no volume is open or the
  // number is unknown.
  quil::files::HandleRecord* findHandle(int32_t handle) const;
  // The notify column of the writer's outcome: when it says notify, a
  // failure marks the volume changed-on-failure (0x80000000 in the
  // write-protect flag word) and `tell` gives the reader the status, 0 on
  // success or the failure's code.
  template <class Tell>  // defined in volume_detail.h
  void tellReader(const quil::writer::WriterOutcome& outcome, const quil::writer::WriterStatus& s, Tell&& tell);
  // A new handle record and its number; nullptr, with the last error set,
  // when this volume session has handed out every number.
  quil::files::HandleRecord* newHandle(int32_t& number);
  // The failure a changing operation gets on a write-protected volume.
  int32_t writeProtectError() const { return writeProtectFlag_ == 0x80000000u ? -3002 : -3012; }
  // The file's kind and path as the handle's open-file record has them.
  static const quil::files::FileNameManage& nameOf(const quil::files::HandleRecord& record);

  bool created_ = false;
  std::unique_ptr<quil::files::HandleTable> handles_;
  std::unique_ptr<quil::files::OpenFileControl> openFiles_;
  uint32_t openFileCount_ = 0;
  bool freeNaming_ = false;
  uint32_t writeProtectFlag_ = 0;
  uint32_t clipProtectMode_ = 0;
  int32_t volumeStatus_ = -9999;
  int32_t readerVolume_ = -1;
  // The reader library every reader call goes through (the clip read
  // manager gets the same table): a test may put a recording fake here.
  const quil::sibling::ReaderLibrary* reader_ = &quil::sibling::readerLibrary();
  std::unique_ptr<quil::writer::WriterVolume> writerVolume_;
  std::unique_ptr<quil::files::ClipReadManager> clipReadManager_;
  std::u16string rootPath_;
};

}  // namespace quil::volume
