// A file created or opened for writing: one class per family of files on
// the volume, all derived from WriterFile. The object owns the writer
// library's object for the file, forwards each operation to it inside the
// catching frame, traces the call and its result, and answers what its
// family does not support with status 2. No operation throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "files/file_name_manage.h"
#include "quil/sibling/quilwriter.h"
#include "writer/writer_status.h"

namespace quil::writer {

class WriterVolume;
class WriterFile;

// What create, open and createFile give: the object (null unless the status
// is 0 or 1) and the status.
struct WriterFileResult {
  std::unique_ptr<WriterFile> file;
  WriterStatus status;
};

class WriterFile {
 public:
  virtual ~WriterFile();
  WriterFile(const WriterFile&) = delete;
  WriterFile& operator=(const WriterFile&) = delete;

  // The class is chosen by the path's kind; a kind without a writer class
  // (None, INDEX.XML, MEDIAPRO.XML, SYSPRO.XML, sub clips) gives status 2.
  static WriterFileResult create(WriterVolume& volume, const quil::files::FileNameManage& name, uint32_t umidMode);
  static WriterFileResult open(WriterVolume& volume, const quil::files::FileNameManage& name, uint32_t umidMode);
  // User-data and general files, with the arguments of CreateFileW.
  static WriterFileResult createFile(WriterVolume& volume, const quil::files::FileNameManage& name, uint32_t access,
                                     uint32_t share, void* security, uint32_t disposition, uint32_t flags,
                                     void* templateFile);

  // Out-values are written only on success.
  WriterStatus close();
  WriterStatus getClipId(std::u16string& clipId);
  WriterStatus getFileSize(int64_t* size);
  WriterStatus getFileType(QUILWriter::_QUIL_FILE_TYPE* type);
  WriterStatus readFile(void* buffer, uint32_t length, uint32_t* count);
  WriterStatus setFileSize(int64_t size);  // marks the file modified first
  WriterStatus setFilePointer(int64_t distance, int64_t* newPosition, QUILWriter::_QUIL_WHENCE whence);
  WriterStatus writeFile(const void* buffer, uint32_t length, uint32_t* count);  // marks the file modified first
  WriterStatus setEndOfFile();
  WriterStatus setFileTime(int64_t creation, int64_t lastAccess, int64_t lastWrite);

  bool modified() const { return modified_; }
  uint32_t umidMode() const { return umidMode_; }

 protected:
  WriterFile() = default;

  // Each family overrides what it supports; the rest answer status 2.
  virtual WriterStatus createFileImpl(const quil::files::FileNameManage& name, uint32_t access, uint32_t share,
                                      void* security, uint32_t disposition, uint32_t flags, void* templateFile);
  virtual WriterStatus createImpl(const quil::files::FileNameManage& name);
  virtual WriterStatus openImpl(const quil::files::FileNameManage& name);
  virtual WriterStatus closeImpl();
  virtual WriterStatus getClipIdImpl(std::u16string& clipId);
  virtual WriterStatus getFileSizeImpl(int64_t* size);
  virtual WriterStatus getFileTypeImpl(QUILWriter::_QUIL_FILE_TYPE* type);
  virtual WriterStatus readFileImpl(void* buffer, uint32_t length, uint32_t* count);
  virtual WriterStatus setFileSizeImpl(int64_t size);
  virtual WriterStatus setFilePointerImpl(int64_t distance, int64_t* newPosition, QUILWriter::_QUIL_WHENCE whence);
  virtual WriterStatus writeFileImpl(const void* buffer, uint32_t length, uint32_t* count);
  virtual WriterStatus setEndOfFileImpl();
  virtual WriterStatus setFileTimeImpl(int64_t creation, int64_t lastAccess, int64_t lastWrite);

  // Status 2 with its debug trace line.
  static WriterStatus returnNoImplement();

  const std::u16string& root() const;
  QUILWriter::_QUIL_NAMING_MODE naming() const;
  const _Volume_Param& volumeParam() const;

 private:
  // The factory, then the making operation in the catching frame; the
  // object is kept only for status 0 and 1.
  template <class... A>
  static WriterFileResult make(WriterVolume& volume, quil::files::FileKind kind, uint32_t umidMode,
                               WriterStatus (WriterFile::*op)(A...), std::type_identity_t<A>... args);
  template <class... A>
  WriterStatus invoke(WriterStatus (WriterFile::*op)(A...), A... args);

  uint32_t umidMode_ = 1;
  WriterVolume* volume_ = nullptr;  // not owned
  bool modified_ = false;
};

// The parameter dump of the clip and component create trace:
// "(volumeParam=(namingMode=... mixedRecMode=...) umidMode=N)".
std::u16string dumpClipParam(const QUILWriter::_Clip_Param& param);

}  // namespace quil::writer
