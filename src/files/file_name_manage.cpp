#include "files/file_name_manage.h"

#include "text/case_fold.h"

#include <array>

namespace quil::files {

namespace {

struct NamePattern {
  FileKind kind;
  std::u16string_view extension;
  std::u16string_view suffix;
  int fileNameRule;  // 0: clipName + suffix, 1: clipName, 2: left empty
  bool dropSuffix;   // a free-naming match of this row takes no suffix
};

struct PatternFolder {
  std::u16string_view folder;      // upper case, as compared
  char16_t prefix;                 // the letter before the four digits
  std::u16string_view notifyName;  // the folder as the reader writes it
  std::array<NamePattern, 3> rows;
  size_t rowCount;
};

// Tried in order; the first matching row decides.
constexpr std::array<PatternFolder, 4> kFolders = {{
    {u"CLIP", u'C', u"Clip",
     {{{Clip, u"MXF", u"", 1, false}, {ClipNrtMeta, u"XML", u"M01", 1, false}, {ClipUserMeta, u"KLV", u"M02", 1, false}}},
     3},
    {u"EDIT", u'E', u"Edit", {{{Editlist, u"SMI", u"E01", 0, true}, {EdlNrtMeta, u"XML", u"M01", 0, false}}}, 2},
    {u"SUB", u'C', u"Sub", {{{SubClip, u"MXF", u"S01", 2, false}}}, 1},
    {u"COMPONENT", u'P', u"Component", {{{Component, u"MXF", u"", 1, false}}}, 1},
}};

constexpr std::array<std::u16string_view, 6> kRootFiles = {u"", u"INDEX.XML", u"ALIAS.XML", u"DISCMETA.XML",
                                                           u"MEDIAPRO.XML", u"SYSPRO.XML"};

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

FileNameManage::FileNameManage(std::u16string_view path, bool freeNaming) : freeNaming_(freeNaming), path_(path) {
  classify();
}

FileNameManage::FileNameManage(FileKind kind, bool freeNaming) : freeNaming_(freeNaming) {
  if (kind < IndexXml || kind > SysProXml) return;
  fileKind_ = kind;
  fileName_ = std::u16string(kRootFiles[kind]);
  path_ = u"\\" + fileName_;
  notifyPath_ = path_;
}

void FileNameManage::classify() {
  for (auto& c : path_) {
    if (c == u'/') c = u'\\';
  }
  if (path_.empty() || path_[0] != u'\\') return;
  const size_t separator = path_.find(u'\\', 1);
  if (separator == std::u16string::npos) {
    // A root entry: one of the five XML files, or nothing we know.
    fileName_ = toUpper(std::u16string_view(path_).substr(1));
    for (uint32_t k = IndexXml; k <= SysProXml; ++k) {
      if (fileName_ == kRootFiles[k]) fileKind_ = static_cast<FileKind>(k);
    }
    notifyPath_ = u"\\" + fileName_;
    return;
  }
  const std::u16string folder = toUpper(std::u16string_view(path_).substr(1, separator - 1));
  if (folder == u"USERDATA" || folder == u"GENERAL") {
    // The free areas: any name, any depth, in the case the caller gave.
    const std::u16string rest = path_.substr(separator + 1);
    if (rest.empty()) return;
    fileKind_ = folder == u"USERDATA" ? UserData : General;
    fileName_ = rest;
    clipName_ = rest;
    return;
  }
  if (path_.find(u'\\', separator + 1) != std::u16string::npos) return;  // one level below the root only
  const std::u16string_view given = std::u16string_view(path_).substr(separator + 1);
  const std::u16string name = toUpper(given);
  if (name.empty()) return;
  const size_t dot = name.rfind(u'.');
  if (dot == std::u16string::npos || dot + 4 != name.size()) return;  // a three-character extension
  const std::u16string_view base = std::u16string_view(name).substr(0, dot);
  const std::u16string_view extension = std::u16string_view(name).substr(dot + 1);
  const std::u16string_view givenBase = given.substr(0, dot);

  for (const auto& f : kFolders) {
    if (folder != f.folder) continue;
    for (size_t r = 0; r < f.rowCount; ++r) {
      const NamePattern& row = f.rows[r];
      if (extension != row.extension) continue;
      bool suffixMatched = true;
      std::u16string_view candidate = base;
      if (!row.suffix.empty()) {
        suffixMatched = base.size() >= row.suffix.size() && base.substr(base.size() - row.suffix.size()) == row.suffix;
        if (suffixMatched) candidate = base.substr(0, base.size() - row.suffix.size());
      }
      std::u16string_view suffix = row.suffix;
      if (suffixMatched && candidate.size() == 5 && candidate[0] == f.prefix && isDigit(candidate[1]) &&
          isDigit(candidate[2]) && isDigit(candidate[3]) && isDigit(candidate[4])) {
        clipName_ = std::u16string(candidate);
      } else {
        if (!freeNaming_) continue;
        if (row.dropSuffix) suffix = std::u16string_view();
        else if (!suffixMatched) continue;
        clipName_ = std::u16string(givenBase.substr(0, givenBase.size() - suffix.size()));
      }
      fileKind_ = row.kind;
      notifyPath_ = u"\\" + std::u16string(f.notifyName) + u"\\" + clipName_ + std::u16string(suffix) + u"." +
                    std::u16string(row.extension);
      if (row.fileNameRule == 0) fileName_ = clipName_ + std::u16string(suffix);
      else if (row.fileNameRule == 1) fileName_ = clipName_;
      return;
    }
    return;
  }
}

}  // namespace quil::files
