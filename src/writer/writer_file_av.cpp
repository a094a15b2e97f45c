// Clip essence and component files: made by the writer's factories with the
// volume parameters and the UMID mode, closed inside a traced writer call.
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

// ---------------------------------------------------------------------------
// Clip
// ---------------------------------------------------------------------------

WriterStatus WriterClipFile::createImpl(const FileNameManage& name) {
  constexpr auto fn = u"WriterClipFile::createImpl";
  QUILWriter::_Clip_Param param{volumeParam(), static_cast<QUILWriter::_QUIL_UMID_MODE>(umidMode())};
  trace(fn, __LINE__, u"ClipWriter::create(\"%ls\", \"%ls\", \"%ls\" )\n", root(), name.fileName(),
        dumpClipParam(param));
  writer_ = QUILWriter::ClipWriter::create(root(), name.fileName(), param);
  trace(fn, __LINE__, u"SUCCESS result=%p\n", ptr(writer_.get()));
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterClipFile::closeImpl() {
  constexpr auto fn = u"WriterClipFile::closeImpl";
  QUILLogger::WriterTraceScope scope;
  trace(fn, __LINE__, u"ClipWriter::Close()\n");
  int32_t closeResult = 0;
  writerObject(writer_).Close(&closeResult);
  trace(fn, __LINE__, u"SUCCESS\n");
  return WriterStatus(kStatusSuccess, static_cast<uint32_t>(closeResult));
}

WriterStatus WriterClipFile::getClipIdImpl(std::u16string& clipId) {
  constexpr auto fn = u"WriterClipFile::getClipIdImpl";
  trace(fn, __LINE__, u"ClipWriter::GetClipId()\n");
  std::u16string id = writerObject(writer_).GetClipId();
  trace(fn, __LINE__, u"SUCCESS clipid=%ls\n", id);
  clipId = std::move(id);
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterClipFile::getFileSizeImpl(int64_t* size) {
  constexpr auto fn = u"WriterClipFile::getFileSizeImpl";
  trace(fn, __LINE__, u"ClipWriter::GetFileSize()\n");
  const int64_t value = writerObject(writer_).GetFileSize();
  trace(fn, __LINE__, u"SUCCESS fileSize=%lld\n", value);
  *size = value;
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterClipFile::getFileTypeImpl(QUILWriter::_QUIL_FILE_TYPE* type) {
  constexpr auto fn = u"WriterClipFile::getFileTypeImpl";
  trace(fn, __LINE__, u"ClipWriter::GetFileType()\n");
  const QUILWriter::_QUIL_FILE_TYPE value = writerObject(writer_).GetFileType();
  trace(fn, __LINE__, u"SUCCESS fileType=%d\n", value);
  *type = value;
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterClipFile::setFileSizeImpl(int64_t size) {
  trace(u"WriterClipFile::setFileSizeImpl", __LINE__, u"ClipWriter::SetFileSize(%lld)\n", size);
  writerObject(writer_).SetFileSize(size);
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterClipFile::setFilePointerImpl(int64_t distance, int64_t* newPosition,
                                                QUILWriter::_QUIL_WHENCE whence) {
  constexpr auto fn = u"WriterClipFile::setFilePointerImpl";
  int64_t position = 0;
  trace(fn, __LINE__, u"ClipWriter::Seek(%lld,%p,%d)\n", distance, ptr(newPosition), whence);
  writerObject(writer_).Seek(distance, &position, whence);
  trace(fn, __LINE__, u"SUCCESS newPosition=%lld\n", position);
  *newPosition = position;
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterClipFile::writeFileImpl(const void* buffer, uint32_t length, uint32_t* count) {
  constexpr auto fn = u"WriterClipFile::writeFileImpl";
  uint32_t written = 0;
  trace(fn, __LINE__, u"ClipWriter::Write(%p,%u,%p)\n", buffer, length, ptr(count));
  writerObject(writer_).Write(buffer, length, &written);
  trace(fn, __LINE__, u"SUCCESS bytesWritten=%u\n", written);
  *count = written;
  return WriterStatus(kStatusSuccess);
}

// ---------------------------------------------------------------------------
// Component
// ---------------------------------------------------------------------------

WriterStatus WriterComponentFile::createImpl(const FileNameManage& name) {
  constexpr auto fn = u"WriterComponentFile::createImpl";
  QUILWriter::_Component_Param param{volumeParam(), static_cast<QUILWriter::_QUIL_UMID_MODE>(umidMode())};
  trace(fn, __LINE__, u"ComponentWriter::create(\"%ls\", \"%ls\", \"%ls\" )\n", root(), name.fileName(),
        dumpClipParam(param));
  writer_ = QUILWriter::ComponentWriter::create(root(), name.fileName(), param);
  trace(fn, __LINE__, u"SUCCESS result=%p\n", ptr(writer_.get()));
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterComponentFile::closeImpl() {
  constexpr auto fn = u"WriterComponentFile::closeImpl";
  QUILLogger::WriterTraceScope scope;
  trace(fn, __LINE__, u"ComponentWriter::Close()\n");
  writerObject(writer_).Close();
  trace(fn, __LINE__, u"SUCCESS\n");
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterComponentFile::getFileSizeImpl(int64_t* size) {
  constexpr auto fn = u"WriterComponentFile::getFileSizeImpl";
  trace(fn, __LINE__, u"ComponentWriter::GetFileSize()\n");
  const int64_t value = writerObject(writer_).GetFileSize();
  trace(fn, __LINE__, u"SUCCESS fileSize=%lld\n", value);
  *size = value;
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterComponentFile::getFileTypeImpl(QUILWriter::_QUIL_FILE_TYPE* type) {
  constexpr auto fn = u"WriterComponentFile::getFileTypeImpl";
  trace(fn, __LINE__, u"ComponentWriter::GetFileType()\n");
  const QUILWriter::_QUIL_FILE_TYPE value = writerObject(writer_).GetFileType();
  trace(fn, __LINE__, u"SUCCESS fileType=%d\n", value);
  *type = value;
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterComponentFile::setFileSizeImpl(int64_t size) {
  trace(u"WriterComponentFile::setFileSizeImpl", __LINE__, u"ComponentWriter::SetFileSize(%lld)\n", size);
  writerObject(writer_).SetFileSize(size);
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterComponentFile::setFilePointerImpl(int64_t distance, int64_t* newPosition,
                                                     QUILWriter::_QUIL_WHENCE whence) {
  constexpr auto fn = u"WriterComponentFile::setFilePointerImpl";
  int64_t position = 0;
  trace(fn, __LINE__, u"ComponentWriter::Seek(%lld,%p,%d)\n", distance, ptr(newPosition), whence);
  writerObject(writer_).Seek(distance, &position, whence);
  trace(fn, __LINE__, u"SUCCESS newPosition=%lld\n", position);
  *newPosition = position;
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterComponentFile::writeFileImpl(const void* buffer, uint32_t length, uint32_t* count) {
  constexpr auto fn = u"WriterComponentFile::writeFileImpl";
  uint32_t written = 0;
  trace(fn, __LINE__, u"ComponentWriter::Write(%p,%u,%p)\n", buffer, length, ptr(count));
  writerObject(writer_).Write(buffer, length, &written);
  trace(fn, __LINE__, u"SUCCESS bytesWritten=%u\n", written);
  *count = written;
  return WriterStatus(kStatusSuccess);
}

}  // namespace quil::writer
