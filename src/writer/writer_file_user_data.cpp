// Files below \USERDATA and \GENERAL: opened with the arguments of
// CreateFileW, read and written like host files, with end of file and file
// times of their own.
#include "logging/trace.h"
#include "writer/writer_file_kinds.h"

namespace quil::writer {

namespace {

using quil::files::FileNameManage;

constexpr const char16_t* kSource = u"project/QUILCoreAPI/WriterFile";

template <class... A>
void trace(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(2, 1, 0, kSource, function, line, format, args...);
}

const void* ptr(const void* p) { return p; }

}  // namespace

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
  constexpr auto fn = u"WriterUserDataFile::getFileSizeImpl";
  trace(fn, __LINE__, u"UserDataWriter::GetFileSize()\n");
  const int64_t value = writerObject(writer_).GetFileSize();
  trace(fn, __LINE__, u"SUCCESS fileSize=%lld\n", value);
  *size = value;
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterUserDataFile::getFileTypeImpl(QUILWriter::_QUIL_FILE_TYPE* type) {
  constexpr auto fn = u"WriterUserDataFile::getFileTypeImpl";
  trace(fn, __LINE__, u"UserDataWriter::GetFileType()\n");
  const QUILWriter::_QUIL_FILE_TYPE value = writerObject(writer_).GetFileType();
  trace(fn, __LINE__, u"SUCCESS GetFileType=%d\n", value);
  *type = value;
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterUserDataFile::readFileImpl(void* buffer, uint32_t length, uint32_t* count) {
  constexpr auto fn = u"WriterUserDataFile::readFileImpl";
  uint32_t read = 0;
  trace(fn, __LINE__, u"UserDataWriter::Read(%p,%u,%p)\n", ptr(buffer), length, ptr(count));
  writerObject(writer_).Read(buffer, length, &read);
  trace(fn, __LINE__, u"SUCCESS bytesRead=%u\n", read);
  *count = read;
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterUserDataFile::setFilePointerImpl(int64_t distance, int64_t* newPosition,
                                                    QUILWriter::_QUIL_WHENCE whence) {
  constexpr auto fn = u"WriterUserDataFile::setFilePointerImpl";
  int64_t position = 0;
  trace(fn, __LINE__, u"UserDataWriter::Seek(%lld,%p,%d)\n", distance, ptr(newPosition), whence);
  writerObject(writer_).Seek(distance, &position, whence);
  trace(fn, __LINE__, u"SUCCESS newPosition=%lld\n", position);
  *newPosition = position;
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterUserDataFile::writeFileImpl(const void* buffer, uint32_t length, uint32_t* count) {
  constexpr auto fn = u"WriterUserDataFile::writeFileImpl";
  uint32_t written = 0;
  trace(fn, __LINE__, u"UserDataWriter::Write(%p,%u,%p)\n", buffer, length, ptr(count));
  writerObject(writer_).Write(buffer, length, &written);
  trace(fn, __LINE__, u"SUCCESS bytesWritten=%u\n", written);
  *count = written;
  return WriterStatus(kStatusSuccess);
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
