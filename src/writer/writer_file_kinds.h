// The concrete writer file classes, one per family of files on the volume.
// Only the factory in writer_file.cpp makes them; everything else sees
// WriterFile.
#pragma once

#include <memory>
#include <stdexcept>

#include "writer/writer_file.h"

namespace quil::writer {

// The writer object behind a file, or a standard exception (caught by the
// frame like any other) when a create or open left none.
template <class T>
T& writerObject(const std::shared_ptr<T>& object) {
  if (!object) throw std::logic_error("no writer object behind this file");
  return *object;
}

class WriterClipFile final : public WriterFile {
 protected:
  WriterStatus createImpl(const quil::files::FileNameManage& name) override;
  WriterStatus closeImpl() override;
  WriterStatus getClipIdImpl(std::u16string& clipId) override;
  WriterStatus getFileSizeImpl(int64_t* size) override;
  WriterStatus getFileTypeImpl(QUILWriter::_QUIL_FILE_TYPE* type) override;
  WriterStatus setFileSizeImpl(int64_t size) override;
  WriterStatus setFilePointerImpl(int64_t distance, int64_t* newPosition, QUILWriter::_QUIL_WHENCE whence) override;
  WriterStatus writeFileImpl(const void* buffer, uint32_t length, uint32_t* count) override;

 private:
  std::shared_ptr<QUILWriter::ClipWriter> writer_;
};

class WriterComponentFile final : public WriterFile {
 protected:
  WriterStatus createImpl(const quil::files::FileNameManage& name) override;
  WriterStatus closeImpl() override;
  WriterStatus getFileSizeImpl(int64_t* size) override;
  WriterStatus getFileTypeImpl(QUILWriter::_QUIL_FILE_TYPE* type) override;
  WriterStatus setFileSizeImpl(int64_t size) override;
  WriterStatus setFilePointerImpl(int64_t distance, int64_t* newPosition, QUILWriter::_QUIL_WHENCE whence) override;
  WriterStatus writeFileImpl(const void* buffer, uint32_t length, uint32_t* count) override;

 private:
  std::shared_ptr<QUILWriter::ComponentWriter> writer_;
};

class WriterUserDataFile final : public WriterFile {
 protected:
  WriterStatus createFileImpl(const quil::files::FileNameManage& name, uint32_t access, uint32_t share,
                              void* security, uint32_t disposition, uint32_t flags, void* templateFile) override;
  WriterStatus closeImpl() override;
  WriterStatus getFileSizeImpl(int64_t* size) override;
  WriterStatus getFileTypeImpl(QUILWriter::_QUIL_FILE_TYPE* type) override;
  WriterStatus readFileImpl(void* buffer, uint32_t length, uint32_t* count) override;
  WriterStatus setFilePointerImpl(int64_t distance, int64_t* newPosition, QUILWriter::_QUIL_WHENCE whence) override;
  WriterStatus writeFileImpl(const void* buffer, uint32_t length, uint32_t* count) override;
  WriterStatus setEndOfFileImpl() override;
  WriterStatus setFileTimeImpl(int64_t creation, int64_t lastAccess, int64_t lastWrite) override;

 private:
  std::shared_ptr<QUILWriter::UserDataWriter> writer_;
};

class WriterUserMetaFile final : public WriterFile {
 protected:
  WriterStatus createImpl(const quil::files::FileNameManage& name) override;
  WriterStatus openImpl(const quil::files::FileNameManage& name) override;
  WriterStatus closeImpl() override;
  WriterStatus getFileSizeImpl(int64_t* size) override;
  WriterStatus readFileImpl(void* buffer, uint32_t length, uint32_t* count) override;
  WriterStatus setFileSizeImpl(int64_t size) override;
  WriterStatus setFilePointerImpl(int64_t distance, int64_t* newPosition, QUILWriter::_QUIL_WHENCE whence) override;
  WriterStatus writeFileImpl(const void* buffer, uint32_t length, uint32_t* count) override;

 private:
  std::shared_ptr<QUILWriter::UserMetaWriter> writer_;
};

// What the five XML-like files share: one writer object used through the
// operations of XMLReaderWriter. The subclasses only say how it is made.
class WriterXMLReaderWriter : public WriterFile {
 protected:
  WriterStatus closeImpl() override;
  WriterStatus getFileSizeImpl(int64_t* size) override;
  WriterStatus readFileImpl(void* buffer, uint32_t length, uint32_t* count) override;
  WriterStatus setFileSizeImpl(int64_t size) override;
  WriterStatus setFilePointerImpl(int64_t distance, int64_t* newPosition, QUILWriter::_QUIL_WHENCE whence) override;
  WriterStatus writeFileImpl(const void* buffer, uint32_t length, uint32_t* count) override;

  // Traces the made object and keeps it.
  WriterStatus keep(const char16_t* function, int32_t line, std::shared_ptr<QUILWriter::XMLReaderWriter> writer);

 private:
  std::shared_ptr<QUILWriter::XMLReaderWriter> writer_;
};

class WriterAliasFile final : public WriterXMLReaderWriter {
 protected:
  WriterStatus createImpl(const quil::files::FileNameManage& name) override;
  WriterStatus openImpl(const quil::files::FileNameManage& name) override;
};

class WriterDiscMetaFile final : public WriterXMLReaderWriter {
 protected:
  WriterStatus createImpl(const quil::files::FileNameManage& name) override;
  WriterStatus openImpl(const quil::files::FileNameManage& name) override;
};

class WriterEditlistFile final : public WriterXMLReaderWriter {
 protected:
  WriterStatus createImpl(const quil::files::FileNameManage& name) override;
  WriterStatus openImpl(const quil::files::FileNameManage& name) override;
};

class WriterClipNRTMetaFile final : public WriterXMLReaderWriter {
 protected:
  WriterStatus openImpl(const quil::files::FileNameManage& name) override;
};

class WriterEdlNRTMetaFile final : public WriterXMLReaderWriter {
 protected:
  WriterStatus openImpl(const quil::files::FileNameManage& name) override;
};

}  // namespace quil::writer
