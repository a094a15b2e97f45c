// What a volume path names. Every operation that takes a path first turns it
// into a FileNameManage: the kind of file, the name handed to the writer
// library, the clip name that keys the open-file table, and the path in the
// reader library's notation for its notification calls. Purely textual; the
// disc is never touched.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "text/case_fold.h"

namespace quil::files {

enum FileKind : uint32_t {
  None = 0,
  IndexXml = 1,
  AliasXml = 2,
  DiscMetaXml = 3,
  MediaProXml = 4,
  SysProXml = 5,
  Clip = 6,
  ClipNrtMeta = 7,
  ClipUserMeta = 8,
  SubClip = 9,
  Component = 10,
  Editlist = 11,
  EdlNrtMeta = 12,
  UserData = 13,
  General = 14,
};

inline constexpr uint32_t kFileKindCount = 15;

class FileNameManage {
 public:
  // Classifies a caller's path; an unrecognised path gives None.
  FileNameManage(std::u16string_view path, bool freeNaming);
  // One of the five root files (kinds 1 to 5); any other kind gives None
  // with every name empty.
  FileNameManage(FileKind kind, bool freeNaming);

  bool freeNaming() const { return freeNaming_; }
  const std::u16string& path() const { return path_; }
  const std::u16string& fileName() const { return fileName_; }
  const std::u16string& clipName() const { return clipName_; }
  const std::u16string& notifyPath() const { return notifyPath_; }
  FileKind fileKind() const { return fileKind_; }

 private:
  void classify();

  bool freeNaming_;
  std::u16string path_;
  std::u16string fileName_;
  std::u16string clipName_;
  std::u16string notifyPath_;
  FileKind fileKind_ = None;
};

// Shared between the open-file table, the handle records and the writer file
// objects; never changed after construction.
using FileNamePtr = std::shared_ptr<const FileNameManage>;

inline FileNamePtr classifyPath(std::u16string_view path, bool freeNaming) {
  return std::make_shared<const FileNameManage>(path, freeNaming);
}

// Names are upper-cased by quil::toUpper (text/case_fold.h).
using quil::toUpper;

}  // namespace quil::files
