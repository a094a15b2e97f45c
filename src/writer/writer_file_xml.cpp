// Clip user metadata and the five XML-like files. Their content reaches the
// disc only through a close after at least one write or size change; an
// unchanged file is closed without calling the writer (status 1) and
// dropped when the object goes.
#include "writer/writer_file_calls.h"
#include "writer/writer_file_kinds.h"

namespace quil::writer {

using quil::files::FileNameManage;
using calls::ptr;
using calls::trace;

// ---------------------------------------------------------------------------
// Clip user metadata
// ---------------------------------------------------------------------------

WriterStatus WriterUserMetaFile::createImpl(const FileNameManage& name) {
  constexpr auto fn = u"WriterUserMetaFile::createImpl";
  trace(fn, __LINE__, u"UserMetaWriter::create(\"%ls\", \"%ls\", %d )\n", root(), name.fileName(), naming());
  writer_ = QUILWriter::UserMetaWriter::create(root(), name.fileName(), naming());
  trace(fn, __LINE__, u"SUCCESS result=%p\n", ptr(writer_.get()));
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterUserMetaFile::openImpl(const FileNameManage& name) {
  constexpr auto fn = u"WriterUserMetaFile::openImpl";
  trace(fn, __LINE__, u"UserMetaWriter::open(\"%ls\", \"%ls\", %d )\n", root(), name.fileName(), naming());
  writer_ = QUILWriter::UserMetaWriter::open(root(), name.fileName(), naming());
  trace(fn, __LINE__, u"SUCCESS result=%p\n", ptr(writer_.get()));
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterUserMetaFile::closeImpl() {
  return calls::commitIfModified(writerObject(writer_), u"WriterUserMetaFile::closeImpl", u"UserMetaWriter::Close()\n",
                                 modified());
}

WriterStatus WriterUserMetaFile::getFileSizeImpl(int64_t* size) {
  return calls::fileSize(writerObject(writer_), u"WriterUserMetaFile::getFileSizeImpl",
                         u"UserMetaWriter::GetFileSize()\n", size);
}

WriterStatus WriterUserMetaFile::readFileImpl(void* buffer, uint32_t length, uint32_t* count) {
  return calls::read(writerObject(writer_), u"WriterUserMetaFile::readFileImpl", u"UserMetaWriter::Read(%p,%u,%p)\n",
                     buffer, length, count);
}

WriterStatus WriterUserMetaFile::setFileSizeImpl(int64_t size) {
  constexpr auto fn = u"WriterUserMetaFile::setFileSizeImpl";
  trace(fn, __LINE__, u"UserMetaWriter::SetFileSize()\n");
  writerObject(writer_).SetFileSize(size);
  trace(fn, __LINE__, u"SUCCESS\n");
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterUserMetaFile::setFilePointerImpl(int64_t distance, int64_t* newPosition,
                                                    QUILWriter::_QUIL_WHENCE whence) {
  return calls::seek(writerObject(writer_), u"WriterUserMetaFile::setFilePointerImpl",
                     u"UserMetaWriter::Seek(%lld,%p,%d)\n", distance, newPosition, whence);
}

WriterStatus WriterUserMetaFile::writeFileImpl(const void* buffer, uint32_t length, uint32_t* count) {
  return calls::write(writerObject(writer_), u"WriterUserMetaFile::writeFileImpl",
                      u"UserMetaWriter::Write(%p,%u,%p)\n", buffer, length, count);
}

// ---------------------------------------------------------------------------
// The XML-like files
// ---------------------------------------------------------------------------

WriterStatus WriterXMLReaderWriter::keep(const char16_t* function, int32_t line,
                                         std::shared_ptr<QUILWriter::XMLReaderWriter> writer) {
  writer_ = std::move(writer);
  trace(function, line, u"SUCCESS result=%p\n", ptr(writer_.get()));
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterXMLReaderWriter::closeImpl() {
  return calls::commitIfModified(writerObject(writer_), u"WriterXMLReaderWriter::closeImpl",
                                 u"XMLReaderWriter::Close()\n", modified());
}

WriterStatus WriterXMLReaderWriter::getFileSizeImpl(int64_t* size) {
  return calls::fileSize(writerObject(writer_), u"WriterXMLReaderWriter::getFileSizeImpl",
                         u"XMLReaderWriter::GetFileSize()\n", size);
}

WriterStatus WriterXMLReaderWriter::readFileImpl(void* buffer, uint32_t length, uint32_t* count) {
  return calls::read(writerObject(writer_), u"WriterXMLReaderWriter::readFileImpl",
                     u"XMLReaderWriter::Read(%p,%u,%p)\n", buffer, length, count);
}

WriterStatus WriterXMLReaderWriter::setFileSizeImpl(int64_t size) {
  constexpr auto fn = u"WriterXMLReaderWriter::setFileSizeImpl";
  trace(fn, __LINE__, u"XMLReaderWriter::SetFileSize(%lld)\n", size);
  writerObject(writer_).SetFileSize(size);
  trace(fn, __LINE__, u"SUCCESS\n");
  return WriterStatus(kStatusSuccess);
}

WriterStatus WriterXMLReaderWriter::setFilePointerImpl(int64_t distance, int64_t* newPosition,
                                                       QUILWriter::_QUIL_WHENCE whence) {
  return calls::seek(writerObject(writer_), u"WriterXMLReaderWriter::setFilePointerImpl",
                     u"XMLReaderWriter::Seek(%lld,%p,%d)\n", distance, newPosition, whence);
}

WriterStatus WriterXMLReaderWriter::writeFileImpl(const void* buffer, uint32_t length, uint32_t* count) {
  return calls::write(writerObject(writer_), u"WriterXMLReaderWriter::writeFileImpl",
                      u"XMLReaderWriter::Write(%p,%u,%p)\n", buffer, length, count);
}

WriterStatus WriterAliasFile::createImpl(const FileNameManage&) {
  constexpr auto fn = u"WriterAliasFile::createImpl";
  trace(fn, __LINE__, u"AliasWriter::create(\"%ls\")\n", root());
  return keep(fn, __LINE__, QUILWriter::AliasWriter::create(root()));
}

WriterStatus WriterAliasFile::openImpl(const FileNameManage&) {
  constexpr auto fn = u"WriterAliasFile::openImpl";
  trace(fn, __LINE__, u"AliasWriter::open(\"%ls\")\n", root());
  return keep(fn, __LINE__, QUILWriter::AliasWriter::open(root()));
}

WriterStatus WriterDiscMetaFile::createImpl(const FileNameManage&) {
  constexpr auto fn = u"WriterDiscMetaFile::createImpl";
  trace(fn, __LINE__, u"DiscMetaWriter::create(\"%ls\")\n", root());
  return keep(fn, __LINE__, QUILWriter::DiscMetaWriter::open(root(), false));
}

WriterStatus WriterDiscMetaFile::openImpl(const FileNameManage&) {
  constexpr auto fn = u"WriterDiscMetaFile::openImpl";
  trace(fn, __LINE__, u"DiscMetaWriter::open(\"%ls\")\n", root());
  return keep(fn, __LINE__, QUILWriter::DiscMetaWriter::open(root(), true));
}

WriterStatus WriterEditlistFile::createImpl(const FileNameManage& name) {
  constexpr auto fn = u"WriterEditlistFile::createImpl";
  const auto umid = static_cast<QUILWriter::_QUIL_UMID_MODE>(umidMode());
  trace(fn, __LINE__, u"EditlistWriter::create(\"%ls\", \"%ls\", %d, %d )\n", root(), name.fileName(), naming(), umid);
  return keep(fn, __LINE__, QUILWriter::EditlistWriter::create(root(), name.fileName(), naming(), umid));
}

WriterStatus WriterEditlistFile::openImpl(const FileNameManage& name) {
  constexpr auto fn = u"WriterEditlistFile::openImpl";
  const auto umid = static_cast<QUILWriter::_QUIL_UMID_MODE>(umidMode());
  trace(fn, __LINE__, u"EditlistWriter::open(\"%ls\", \"%ls\", %d, %d )\n", root(), name.fileName(), naming(), umid);
  return keep(fn, __LINE__, QUILWriter::EditlistWriter::open(root(), name.fileName(), naming(), umid));
}

WriterStatus WriterClipNRTMetaFile::openImpl(const FileNameManage& name) {
  constexpr auto fn = u"WriterClipNRTMetaFile::openImpl";
  trace(fn, __LINE__, u"ClipNRTMetaWriter::open(\"%ls\", \"%ls\", %d )\n", root(), name.fileName(), naming());
  return keep(fn, __LINE__, QUILWriter::ClipNRTMetaWriter::open(root(), name.fileName(), naming()));
}

WriterStatus WriterEdlNRTMetaFile::openImpl(const FileNameManage& name) {
  constexpr auto fn = u"WriterEdlNRTMetaFile::openImpl";
  trace(fn, __LINE__, u"EdlNRTMetaWriter::open(\"%ls\", \"%ls\", %d )\n", root(), name.fileName(), naming());
  return keep(fn, __LINE__, QUILWriter::EdlNRTMetaWriter::open(root(), name.fileName(), naming()));
}

}  // namespace quil::writer
