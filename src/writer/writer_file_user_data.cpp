// Files below \USERDATA and \GENERAL: opened with the arguments of
// CreateFileW, read and written like host files, with end of file and file
// times of their own.
#include "writer/writer_file_calls.h"
#include "writer/writer_file_kinds.h"

namespace quil::writer {

using quil::files::FileNameManage;
using calls::ptr;
using calls::trace;

WriterStatus WriterUserDataFile::createFileImpl(const FileNameManage& name, uint32_t access, uint32_t share,
                                                void* security, uint32_t disposition, uint32_t flags,
                                                void* templateFile) {
  constexpr auto fn = u"WriterUserDataFile::createFileImpl";
  const bool general = name.fileKind() == quil::files::General;
  trace(fn, __LINE__, u"UserDataWriter::createFile(\"%ls\", \"%ls\", 0x%08X, 0x%08X, %p, 0x%08X, 0x%08X, %p, %d )\n",
        root(), name.fileName(), access, share, ptr(security), disposition, flags, ptr(templateFile),
        general ? 1 : 0);
  writer_ = QUILWriter::UserDataWriter::createFile(root(), name.fileName(), access, share, security, disposition,
                                                   flags, templateFile, general);
  trace(fn, __LINE__, u"SUCCESS result=%p\n", ptr(writer_.get()));
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterUserDataFile::closeImpl() {
  constexpr auto fn = u"WriterUserDataFile::closeImpl";
  trace(fn, __LINE__, u"UserDataWriter::Close()\n");
  writerObject(writer_).Close();
  trace(fn, __LINE__, u"SUCCESS\n");
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterUserDataFile::getFileSizeImpl(int64_t* size) {
  return calls::fileSize(writerObject(writer_), u"WriterUserDataFile::getFileSizeImpl",
                         u"UserDataWriter::GetFileSize()\n", size);
}

WriterStatus WriterUserDataFile::getFileTypeImpl(QUILWriter::_QUIL_FILE_TYPE* type) {
  return calls::fileType(writerObject(writer_), u"WriterUserDataFile::getFileTypeImpl",
                         u"UserDataWriter::GetFileType()\n", u"SUCCESS GetFileType=%d\n", type);
}

WriterStatus WriterUserDataFile::readFileImpl(void* buffer, uint32_t length, uint32_t* count) {
  return calls::read(writerObject(writer_), u"WriterUserDataFile::readFileImpl", u"UserDataWriter::Read(%p,%u,%p)\n",
                     buffer, length, count);
}

WriterStatus WriterUserDataFile::setFilePointerImpl(int64_t distance, int64_t* newPosition,
                                                    QUILWriter::_QUIL_WHENCE whence) {
  return calls::seek(writerObject(writer_), u"WriterUserDataFile::setFilePointerImpl",
                     u"UserDataWriter::Seek(%lld,%p,%d)\n", distance, newPosition, whence);
}

WriterStatus WriterUserDataFile::writeFileImpl(const void* buffer, uint32_t length, uint32_t* count) {
  return calls::write(writerObject(writer_), u"WriterUserDataFile::writeFileImpl",
                      u"UserDataWriter::Write(%p,%u,%p)\n", buffer, length, count);
}

WriterStatus WriterUserDataFile::setEndOfFileImpl() {
  constexpr auto fn = u"WriterUserDataFile::setEndOfFileImpl";
  trace(fn, __LINE__, u"UserDataWriter::SetEndOfFile()\n");
  writerObject(writer_).SetEndOfFile();
  trace(fn, __LINE__, u"SUCCESS\n");
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterUserDataFile::setFileTimeImpl(int64_t creation, int64_t lastAccess, int64_t lastWrite) {
  constexpr auto fn = u"WriterUserDataFile::setFileTimeImpl";
  trace(fn, __LINE__, u"UserDataWriter::setFileTime(%lld, %lld, %lld)\n", creation, lastAccess, lastWrite);
  writerObject(writer_).SetFileTime(creation, lastAccess, lastWrite);
  trace(fn, __LINE__, u"SUCCESS\n");
  return WriterStatus(kStatusSuccess);
}

}  // namespace quil::writer
