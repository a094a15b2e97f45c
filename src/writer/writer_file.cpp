// The writer file base: the factory by file kind, the closures that defer
// one file operation with its arguments, and the frame they run in.
#include "writer/writer_file.h"

#include <tuple>
#include <utility>

#include "logging/trace.h"
#include "writer/writer_call.h"
#include "writer/writer_file_kinds.h"
#include "writer/writer_volume.h"

namespace quil::writer {

namespace {

using quil::files::FileKind;
using quil::files::FileNameManage;

constexpr const char16_t* kSource = u"project/QUILCoreAPI/WriterFile";

// One writer file operation with its arguments, run later inside the
// catching frame.
class WriterFunc {
 public:
  virtual ~WriterFunc() = default;
  virtual WriterStatus operator()() = 0;
};

// The closure family: the target object, the virtual operation to call on
// it and that operation's arguments, copied at construction (references
// stay references: the out-values). No arguments for close and set end of
// file, one for create, open, clip id, size, type and set size, three for
// read, write, seek and set time, seven for a user-data or general create.
template <class... A>
class WriterFuncN final : public WriterFunc {
 public:
  using Operation = WriterStatus (WriterFile::*)(A...);
  WriterFuncN(WriterFile& target, Operation operation, A... args)
      : target_(target), operation_(operation), args_(std::forward<A>(args)...) {}
  WriterStatus operator()() override {
    return std::apply([this](auto&&... a) { return (target_.*operation_)(std::forward<A>(a)...); }, args_);
  }

 private:
  WriterFile& target_;
  Operation operation_;
  std::tuple<A...> args_;
};

// The frame every writer file operation runs in. Never throws.
WriterStatus invokeWriterFunction(WriterFunc& func) noexcept {
  return catchWriterCall(kSource, u"invokeWriterFunction", __LINE__, [&] { return func(); });
}

std::unique_ptr<WriterFile> makeForKind(FileKind kind);

}  // namespace

template <class... A>
WriterStatus WriterFile::invoke(WriterStatus (WriterFile::*op)(A...), A... args) {
  WriterFuncN<A...> closure(*this, op, std::forward<A>(args)...);
  return invokeWriterFunction(closure);
}

WriterFile::~WriterFile() = default;

const std::u16string& WriterFile::root() const { return volume_->root(); }

QUILWriter::_QUIL_NAMING_MODE WriterFile::naming() const { return volume_->naming(); }

const _Volume_Param& WriterFile::volumeParam() const { return volume_->volumeParam(); }

WriterStatus WriterFile::returnNoImplement() {
  QUILLogger::writeTrace(2, 1, 0, kSource, u"WriterFile::returnNoImplement", __LINE__, u"ERROR_NOIMPLEMENT\n");
  return WriterStatus(kStatusNotImplemented);
}

template <class... A>
WriterFileResult WriterFile::make(WriterVolume& volume, FileKind kind, uint32_t umidMode,
                                  WriterStatus (WriterFile::*op)(A...), std::type_identity_t<A>... args) {
  WriterFileResult result;
  result.file = makeForKind(kind);
  if (!result.file) {
    result.status = WriterStatus(kStatusNotImplemented);
    return result;
  }
  result.file->volume_ = &volume;
  result.file->umidMode_ = umidMode;
  result.status = result.file->invoke<A...>(op, args...);
  if (result.status.status() > kStatusNoChange) result.file.reset();
  return result;
}

WriterFileResult WriterFile::create(WriterVolume& volume, const FileNameManage& name, uint32_t umidMode) {
  return make<const FileNameManage&>(volume, name.fileKind(), umidMode, &WriterFile::createImpl, name);
}

WriterFileResult WriterFile::open(WriterVolume& volume, const FileNameManage& name, uint32_t umidMode) {
  return make<const FileNameManage&>(volume, name.fileKind(), umidMode, &WriterFile::openImpl, name);
}

WriterFileResult WriterFile::createFile(WriterVolume& volume, const FileNameManage& name, uint32_t access,
                                        uint32_t share, void* security, uint32_t disposition, uint32_t flags,
                                        void* templateFile) {
  // The UMID mode means nothing to user-data and general files.
  return make<const FileNameManage&, uint32_t, uint32_t, void*, uint32_t, uint32_t, void*>(
      volume, name.fileKind(), 1, &WriterFile::createFileImpl, name, access, share, security, disposition, flags,
      templateFile);
}

WriterStatus WriterFile::close() { return invoke<>(&WriterFile::closeImpl); }

WriterStatus WriterFile::getClipId(std::u16string& clipId) {
  return invoke<std::u16string&>(&WriterFile::getClipIdImpl, clipId);
}

WriterStatus WriterFile::getFileSize(int64_t* size) { return invoke<int64_t*>(&WriterFile::getFileSizeImpl, size); }

WriterStatus WriterFile::getFileType(QUILWriter::_QUIL_FILE_TYPE* type) {
  return invoke<QUILWriter::_QUIL_FILE_TYPE*>(&WriterFile::getFileTypeImpl, type);
}

WriterStatus WriterFile::readFile(void* buffer, uint32_t length, uint32_t* count) {
  return invoke<void*, uint32_t, uint32_t*>(&WriterFile::readFileImpl, buffer, length, count);
}

WriterStatus WriterFile::setFileSize(int64_t size) {
  // Even a failed size change makes the close commit.
  modified_ = true;
  return invoke<int64_t>(&WriterFile::setFileSizeImpl, size);
}

WriterStatus WriterFile::setFilePointer(int64_t distance, int64_t* newPosition, QUILWriter::_QUIL_WHENCE whence) {
  return invoke<int64_t, int64_t*, QUILWriter::_QUIL_WHENCE>(&WriterFile::setFilePointerImpl, distance, newPosition,
                                                             whence);
}

WriterStatus WriterFile::writeFile(const void* buffer, uint32_t length, uint32_t* count) {
  modified_ = true;
  return invoke<const void*, uint32_t, uint32_t*>(&WriterFile::writeFileImpl, buffer, length, count);
}

WriterStatus WriterFile::setEndOfFile() { return invoke<>(&WriterFile::setEndOfFileImpl); }

WriterStatus WriterFile::setFileTime(int64_t creation, int64_t lastAccess, int64_t lastWrite) {
  return invoke<int64_t, int64_t, int64_t>(&WriterFile::setFileTimeImpl, creation, lastAccess, lastWrite);
}

// What a family does not support.
WriterStatus WriterFile::createFileImpl(const FileNameManage&, uint32_t, uint32_t, void*, uint32_t, uint32_t, void*) {
  return returnNoImplement();
}
WriterStatus WriterFile::createImpl(const FileNameManage&) { return returnNoImplement(); }
WriterStatus WriterFile::openImpl(const FileNameManage&) { return returnNoImplement(); }
WriterStatus WriterFile::closeImpl() { return returnNoImplement(); }
WriterStatus WriterFile::getClipIdImpl(std::u16string&) { return returnNoImplement(); }
WriterStatus WriterFile::getFileSizeImpl(int64_t*) { return returnNoImplement(); }
WriterStatus WriterFile::getFileTypeImpl(QUILWriter::_QUIL_FILE_TYPE*) { return returnNoImplement(); }
WriterStatus WriterFile::readFileImpl(void*, uint32_t, uint32_t*) { return returnNoImplement(); }
WriterStatus WriterFile::setFileSizeImpl(int64_t) { return returnNoImplement(); }
WriterStatus WriterFile::setFilePointerImpl(int64_t, int64_t*, QUILWriter::_QUIL_WHENCE) {
  return returnNoImplement();
}
WriterStatus WriterFile::writeFileImpl(const void*, uint32_t, uint32_t*) { return returnNoImplement(); }
WriterStatus WriterFile::setEndOfFileImpl() { return returnNoImplement(); }
WriterStatus WriterFile::setFileTimeImpl(int64_t, int64_t, int64_t) { return returnNoImplement(); }

namespace {

std::unique_ptr<WriterFile> makeForKind(FileKind kind) {
  switch (kind) {
    case FileKind::AliasXml: return std::make_unique<WriterAliasFile>();
    case FileKind::DiscMetaXml: return std::make_unique<WriterDiscMetaFile>();
    case FileKind::Clip: return std::make_unique<WriterClipFile>();
    case FileKind::ClipNrtMeta: return std::make_unique<WriterClipNRTMetaFile>();
    case FileKind::ClipUserMeta: return std::make_unique<WriterUserMetaFile>();
    case FileKind::Component: return std::make_unique<WriterComponentFile>();
    case FileKind::Editlist: return std::make_unique<WriterEditlistFile>();
    case FileKind::EdlNrtMeta: return std::make_unique<WriterEdlNRTMetaFile>();
    case FileKind::UserData:
    case FileKind::General: return std::make_unique<WriterUserDataFile>();
    default: return nullptr;  // None, INDEX.XML, MEDIAPRO.XML, SYSPRO.XML, sub clips
  }
}

// "(" then "%02X " for every byte, then ")".
std::u16string hexDump(const void* bytes, size_t count) {
  std::u16string out = u"(";
  const auto* p = static_cast<const uint8_t*>(bytes);
  for (size_t i = 0; i < count; ++i) quil::formatTo(out, u"%02X ", p[i]);
  out += u')';
  return out;
}

}  // namespace

std::u16string dumpClipParam(const QUILWriter::_Clip_Param& param) {
  const _Volume_Param& v = param.volumeParam;
  std::u16string audio = u"(";
  for (uint32_t mode : v.audioMode) quil::formatTo(audio, u"[%d]", mode);
  audio += u')';
  const std::u16string owner =
      quil::format(u"(country=%ls organization=%ls user=%ls)", hexDump(v.ownerInfo.country, 4),
                   hexDump(v.ownerInfo.organization, 4), hexDump(v.ownerInfo.user, 4));
  // recInhMode is the one number printed unsigned.
  const std::u16string volumeParam = quil::format(
      u"(namingMode=%d audioMode=%ls tcMode=%d dfndfMode=%d ownerInfo=%ls dataItemMode=%d alignMode=%d "
      u"recInhMode=%u proHdnMode=%d modelName=%ls serialNo=%ls quilVersion=%ls mixedRecMode=%d)",
      v.namingMode, audio, v.tcMode, v.dfndfMode, owner, v.dataItemMode, v.alignMode, v.recInhMode, v.proHdnMode,
      hexDump(v.modelName, sizeof v.modelName), hexDump(v.serialNo, sizeof v.serialNo),
      hexDump(v.quilVersion, sizeof v.quilVersion), v.mixedRecMode);
  return quil::format(u"(volumeParam=%ls umidMode=%ls)", volumeParam,
                      quil::format(u"%u", static_cast<uint32_t>(param.umidMode)));
}

}  // namespace quil::writer
