// The writer operations on names: each picks the writer function by the
// path's kind, traces the call, and answers a kind it does not handle with
// status 2.
#include "logging/trace.h"
#include "writer/writer_call.h"
#include "writer/writer_volume.h"

namespace quil::writer {

namespace {

using quil::files::FileKind;
using quil::files::FileNameManage;

constexpr const char16_t* kSource = u"project/QUILCoreAPI/WriterVolume";

template <class... A>
void trace(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(2, 1, 0, kSource, function, line, format, args...);
}

WriterStatus notImplemented(const char16_t* function, int32_t line) {
  trace(function, line, u"ERROR_NOIMPLEMENT\n");
  return WriterStatus(kStatusNotImplemented);
}

// The frame every name operation shares: the trace before is the caller's,
// then the call, "SUCCESS", status 0; exceptions become statuses.
template <class Call>
WriterStatus run(const char16_t* function, int32_t line, Call&& call) {
  return catchWriterCall(kSource, function, line, [&] {
    call();
    trace(function, line, u"SUCCESS\n");
    return WriterStatus(kStatusSuccess);
  });
}

}  // namespace

WriterStatus WriterVolume::deleteFile(const FileNameManage& name) {
  constexpr auto fn = u"WriterVolume::deleteFile";
  // The whole delete, its refusal and its catch clauses included, is a
  // traced writer call.
  QUILLogger::WriterTraceScope scope;
  const std::u16string& file = name.fileName();
  switch (name.fileKind()) {
    case FileKind::Clip:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::DeleteClipFile(\"%ls\", \"%ls\", %d)\n", root_, file, naming());
        QUILWriter::DeleteClipFile(root_, file, naming());
      });
    case FileKind::ClipUserMeta:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::DeleteUserMetaFile(\"%ls\", \"%ls\", %d)\n", root_, file, naming());
        QUILWriter::DeleteUserMetaFile(root_, file, naming());
      });
    case FileKind::Component:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::DeleteComponentFile(\"%ls\", \"%ls\", %d)\n", root_, file, naming());
        QUILWriter::DeleteComponentFile(root_, file, naming());
      });
    case FileKind::Editlist:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::DeleteEdlFile(\"%ls\", \"%ls\", %d)\n", root_, file, naming());
        QUILWriter::DeleteEdlFile(root_, file, naming());
      });
    case FileKind::UserData:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::DeleteUserDataFile(\"%ls\", \"%ls\")\n", root_, file);
        QUILWriter::DeleteUserDataFile(root_, file);
      });
    case FileKind::General:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::DeleteGeneralFile(\"%ls\", \"%ls\")\n", root_, file);
        QUILWriter::DeleteGeneralFile(root_, file);
      });
    default:
      return catchWriterCall(kSource, fn, __LINE__, [&] { return notImplemented(fn, __LINE__); });
  }
}

WriterStatus WriterVolume::moveFile(const FileNameManage& from, const FileNameManage& to) {
  constexpr auto fn = u"WriterVolume::moveFile";
  if (from.fileKind() != to.fileKind()) return notImplemented(fn, __LINE__);
  const std::u16string& oldName = from.fileName();
  const std::u16string& newName = to.fileName();
  switch (from.fileKind()) {
    case FileKind::Clip:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::RenameClipFile(\"%ls\", \"%ls\",\"%ls\",%d)\n", root_, oldName, newName,
              naming());
        QUILWriter::RenameClipFile(root_, oldName, newName, naming());
      });
    case FileKind::Component:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::RenameComponentFile(\"%ls\", \"%ls\",\"%ls\",%d)\n", root_, oldName,
              newName, naming());
        QUILWriter::RenameComponentFile(root_, oldName, newName, naming());
      });
    case FileKind::Editlist:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::RenameEdlFile(\"%ls\", \"%ls\",\"%ls\",%d)\n", root_, oldName, newName,
              naming());
        QUILWriter::RenameEdlFile(root_, oldName, newName, naming());
      });
    case FileKind::UserData:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::MoveUserDataFile(\"%ls\", \"%ls\",\"%ls\")\n", root_, oldName, newName);
        QUILWriter::MoveUserDataFile(root_, oldName, newName);
      });
    case FileKind::General:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::MoveGeneralFile(\"%ls\", \"%ls\",\"%ls\")\n", root_, oldName, newName);
        QUILWriter::MoveGeneralFile(root_, oldName, newName);
      });
    default:
      return notImplemented(fn, __LINE__);
  }
}

WriterStatus WriterVolume::moveFileEx(const FileNameManage& from, const FileNameManage& to, uint32_t flags) {
  constexpr auto fn = u"WriterVolume::moveFileEx";
  if (from.fileKind() != to.fileKind()) return notImplemented(fn, __LINE__);
  const std::u16string& oldName = from.fileName();
  const std::u16string& newName = to.fileName();
  switch (from.fileKind()) {
    case FileKind::UserData:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::MoveUserDataFileEx(\"%ls\", \"%ls\",\"%ls\", 0x%08X)\n", root_, oldName,
              newName, flags);
        QUILWriter::MoveUserDataFileEx(root_, oldName, newName, flags);
      });
    case FileKind::General:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::MoveGeneralFileEx(\"%ls\", \"%ls\",\"%ls\", 0x%08X)\n", root_, oldName,
              newName, flags);
        QUILWriter::MoveGeneralFileEx(root_, oldName, newName, flags);
      });
    default:
      return notImplemented(fn, __LINE__);
  }
}

WriterStatus WriterVolume::lockFile(const FileNameManage& name, bool lock) {
  constexpr auto fn = u"WriterVolume::lockFile";
  const std::u16string& file = name.fileName();
  const int32_t lockValue = lock ? 1 : 0;
  switch (name.fileKind()) {
    case FileKind::Clip:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::LockClipFile(\"%ls\", \"%ls\",%d, %d)\n", root_, file, lockValue,
              naming());
        QUILWriter::LockClipFile(root_, file, lock, naming());
      });
    case FileKind::Component:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::LockComponentFile(\"%ls\", \"%ls\",%d, %d)\n", root_, file, lockValue,
              naming());
        QUILWriter::LockComponentFile(root_, file, lock, naming());
      });
    default:
      return notImplemented(fn, __LINE__);
  }
}

WriterStatus WriterVolume::createDirectory(const FileNameManage& name, void* security) {
  constexpr auto fn = u"WriterVolume::createDirectory";
  const std::u16string& file = name.fileName();
  switch (name.fileKind()) {
    case FileKind::UserData:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::CreateUserDataDirectory(\"%ls\", \"%ls\", %p)\n", root_, file, security);
        QUILWriter::CreateUserDataDirectory(root_, file, security);
      });
    case FileKind::General:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::CreateGeneralDirectory(\"%ls\", \"%ls\", %p)\n", root_, file, security);
        QUILWriter::CreateGeneralDirectory(root_, file, security);
      });
    default:
      return notImplemented(fn, __LINE__);
  }
}

WriterStatus WriterVolume::removeDirectory(const FileNameManage& name) {
  constexpr auto fn = u"WriterVolume::removeDirectory";
  const std::u16string& file = name.fileName();
  switch (name.fileKind()) {
    case FileKind::UserData:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::RemoveUserDataDirectory(\"%ls\", \"%ls\")\n", root_, file);
        QUILWriter::RemoveUserDataDirectory(root_, file);
      });
    case FileKind::General:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::RemoveGeneralDirectory(\"%ls\", \"%ls\")\n", root_, file);
        QUILWriter::RemoveGeneralDirectory(root_, file);
      });
    default:
      return notImplemented(fn, __LINE__);
  }
}

WriterStatus WriterVolume::setFileAttributes(const FileNameManage& name, uint32_t attributes) {
  constexpr auto fn = u"WriterVolume::setFileAttributes";
  const std::u16string& file = name.fileName();
  switch (name.fileKind()) {
    case FileKind::UserData:
      return run(fn, __LINE__, [&] {
        // The trace text has always lacked its closing parenthesis.
        trace(fn, __LINE__, u"QUILWriter::SetUserDataFileAttributes(\"%ls\", \"%ls\", 0x%08X\n", root_, file,
              attributes);
        QUILWriter::SetUserDataFileAttributes(root_, file, attributes);
      });
    case FileKind::General:
      return run(fn, __LINE__, [&] {
        trace(fn, __LINE__, u"QUILWriter::SetGeneralFileAttributes(\"%ls\", \"%ls\", 0x%08X\n", root_, file,
              attributes);
        QUILWriter::SetGeneralFileAttributes(root_, file, attributes);
      });
    default:
      return notImplemented(fn, __LINE__);
  }
}

WriterStatus WriterVolume::setVolumeLabel(const std::u16string& label) {
  constexpr auto fn = u"WriterVolume::setVolumeLabel";
  return run(fn, __LINE__, [&] {
    trace(fn, __LINE__, u"QUILWriter::SetVolumeLabel(\"%ls\", \"%ls\")\n", root_, label);
    QUILWriter::SetVolumeLabel(root_, label);
  });
}

WriterStatus WriterVolume::flushVolume() {
  constexpr auto fn = u"WriterVolume::flushVolume";
  return run(fn, __LINE__, [&] {
    trace(fn, __LINE__, u"QUILWriter::FlushVolume(\"%ls\")", root_);
    QUILWriter::FlushVolume(root_);
  });
}

}  // namespace quil::writer
