// Clip essence and component files: made by the writer's factories with the
// volume parameters and the UMID mode, closed inside a traced writer call.
#include "writer/writer_file_calls.h"
#include "writer/writer_file_kinds.h"

namespace quil::writer {

using quil::files::FileNameManage;
using calls::ptr;
using calls::trace;

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
  return calls::fileSize(writerObject(writer_), u"WriterClipFile::getFileSizeImpl", u"ClipWriter::GetFileSize()\n",
                         size);
}

WriterStatus WriterClipFile::getFileTypeImpl(QUILWriter::_QUIL_FILE_TYPE* type) {
  return calls::fileType(writerObject(writer_), u"WriterClipFile::getFileTypeImpl", u"ClipWriter::GetFileType()\n",
                         u"SUCCESS fileType=%d\n", type);
}

WriterStatus WriterClipFile::setFileSizeImpl(int64_t size) {
  trace(u"WriterClipFile::setFileSizeImpl", __LINE__, u"ClipWriter::SetFileSize(%lld)\n", size);
  writerObject(writer_).SetFileSize(size);
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterClipFile::setFilePointerImpl(int64_t distance, int64_t* newPosition,
                                                QUILWriter::_QUIL_WHENCE whence) {
  return calls::seek(writerObject(writer_), u"WriterClipFile::setFilePointerImpl", u"ClipWriter::Seek(%lld,%p,%d)\n",
                     distance, newPosition, whence);
}

WriterStatus WriterClipFile::writeFileImpl(const void* buffer, uint32_t length, uint32_t* count) {
  return calls::write(writerObject(writer_), u"WriterClipFile::writeFileImpl", u"ClipWriter::Write(%p,%u,%p)\n",
                      buffer, length, count);
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
  return calls::fileSize(writerObject(writer_), u"WriterComponentFile::getFileSizeImpl",
                         u"ComponentWriter::GetFileSize()\n", size);
}

WriterStatus WriterComponentFile::getFileTypeImpl(QUILWriter::_QUIL_FILE_TYPE* type) {
  return calls::fileType(writerObject(writer_), u"WriterComponentFile::getFileTypeImpl",
                         u"ComponentWriter::GetFileType()\n", u"SUCCESS fileType=%d\n", type);
}

WriterStatus WriterComponentFile::setFileSizeImpl(int64_t size) {
  trace(u"WriterComponentFile::setFileSizeImpl", __LINE__, u"ComponentWriter::SetFileSize(%lld)\n", size);
  writerObject(writer_).SetFileSize(size);
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterComponentFile::setFilePointerImpl(int64_t distance, int64_t* newPosition,
                                                     QUILWriter::_QUIL_WHENCE whence) {
  return calls::seek(writerObject(writer_), u"WriterComponentFile::setFilePointerImpl",
                     u"ComponentWriter::Seek(%lld,%p,%d)\n", distance, newPosition, whence);
}

WriterStatus WriterComponentFile::writeFileImpl(const void* buffer, uint32_t length, uint32_t* count) {
  return calls::write(writerObject(writer_), u"WriterComponentFile::writeFileImpl",
                      u"ComponentWriter::Write(%p,%u,%p)\n", buffer, length, count);
}

}  // namespace quil::writer
