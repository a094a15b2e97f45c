// Path classification: every path the volume can be asked about, in strict
// and free naming, with the four names the rest of the library keys on. The
// names made from a root file's kind are checked with the fixed records of
// the open-file table (open_files_test).
#include "files/file_name_manage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace quil::files;

struct Case {
  std::u16string path;
  bool freeNaming;
  FileKind kind;
  std::u16string clipName;
  std::u16string fileName;
  std::u16string notifyPath;
};

constexpr bool S = false;  // strict naming
constexpr bool F = true;   // free naming

const Case kCases[] = {
    // Not a volume path at all.
    {u"", S, None, u"", u"", u""},
    {u"INDEX.XML", S, None, u"", u"", u""},
    // Root entries: upper-cased whatever they are, a kind only for the five.
    {u"/index.xml", S, IndexXml, u"", u"INDEX.XML", u"\\INDEX.XML"},
    {u"\\CLIP", S, None, u"", u"CLIP", u"\\CLIP"},
    {u"\\USERDATA", S, None, u"", u"USERDATA", u"\\USERDATA"},
    {u"\\\u00EDndex.xml", S, None, u"", u"\u00CDNDEX.XML", u"\\\u00CDNDEX.XML"},
    // The free areas keep the caller's case and any depth below them.
    {u"\\USERDATA\\", S, None, u"", u"", u""},
    {u"\\UserData\\a\\b.txt", S, UserData, u"a\\b.txt", u"a\\b.txt", u""},
    {u"\\GENERAL\\x", S, General, u"x", u"x", u""},
    {u"\\USERDATA\\\u00DCberblick.txt", S, UserData, u"\u00DCberblick.txt", u"\u00DCberblick.txt", u""},
    // Pattern folders: one level only, a three-character extension.
    {u"\\CLIP\\SUB\\C0001.MXF", S, None, u"", u"", u""},
    {u"\\CLIP\\SUB\\C0001.MXF", F, None, u"", u"", u""},
    {u"\\CLIP\\C0001.MXF\\", S, None, u"", u"", u""},
    {u"\\CLIP\\C0001.MXFX", S, None, u"", u"", u""},
    {u"\\CLIP\\C0001", S, None, u"", u"", u""},
    // Strict numbered names, any case in, upper case out.
    {u"\\clip\\c0001.mxf", S, Clip, u"C0001", u"C0001", u"\\Clip\\C0001.MXF"},
    {u"\\CLIP/C0001.MXF", F, Clip, u"C0001", u"C0001", u"\\Clip\\C0001.MXF"},
    {u"\\clip\\c0012m01.xml", S, ClipNrtMeta, u"C0012", u"C0012", u"\\Clip\\C0012M01.XML"},
    {u"\\CLIP\\C0001M02.KLV", S, ClipUserMeta, u"C0001", u"C0001", u"\\Clip\\C0001M02.KLV"},
    {u"\\SUB\\C0001S01.MXF", S, SubClip, u"C0001", u"", u"\\Sub\\C0001S01.MXF"},
    {u"\\COMPONENT\\P0001.MXF", S, Component, u"P0001", u"P0001", u"\\Component\\P0001.MXF"},
    {u"\\EDIT\\E0003E01.SMI", S, Editlist, u"E0003", u"E0003E01", u"\\Edit\\E0003E01.SMI"},
    {u"\\EDIT\\E0003M01.XML", S, EdlNrtMeta, u"E0003", u"E0003M01", u"\\Edit\\E0003M01.XML"},
    // Near misses of the numbered pattern: only free naming takes them.
    {u"\\CLIP\\C001.MXF", S, None, u"", u"", u""},
    {u"\\CLIP\\C001.MXF", F, Clip, u"C001", u"C001", u"\\Clip\\C001.MXF"},
    {u"\\CLIP\\C00A1.MXF", S, None, u"", u"", u""},
    {u"\\CLIP\\C00A1.MXF", F, Clip, u"C00A1", u"C00A1", u"\\Clip\\C00A1.MXF"},
    {u"\\CLIP\\X0001.MXF", S, None, u"", u"", u""},
    {u"\\CLIP\\X0001.MXF", F, Clip, u"X0001", u"X0001", u"\\Clip\\X0001.MXF"},
    {u"\\CLIP\\C0001M01.MXF", S, None, u"", u"", u""},
    // Free names: the caller's case in clipName, the row's case after it.
    {u"\\CLIP\\Interview.MXF", F, Clip, u"Interview", u"Interview", u"\\Clip\\Interview.MXF"},
    {u"\\CLIP\\InterviewM01.XML", F, ClipNrtMeta, u"Interview", u"Interview", u"\\Clip\\InterviewM01.XML"},
    {u"\\clip\\interviewm01.xml", F, ClipNrtMeta, u"interview", u"interview", u"\\Clip\\interviewM01.XML"},
    {u"\\CLIP\\Interview.XML", F, None, u"", u"", u""},
    {u"\\CLIP\\\u00C4rgerM01.XML", F, ClipNrtMeta, u"\u00C4rger", u"\u00C4rger", u"\\Clip\\\u00C4rgerM01.XML"},
    // An edit list in free naming never carries its suffix, even when given.
    {u"\\EDIT\\Cut.SMI", F, Editlist, u"Cut", u"Cut", u"\\Edit\\Cut.SMI"},
    {u"\\EDIT\\CutE01.SMI", F, Editlist, u"CutE01", u"CutE01", u"\\Edit\\CutE01.SMI"},
    {u"\\EDIT\\CutM01.XML", F, EdlNrtMeta, u"Cut", u"CutM01", u"\\Edit\\CutM01.XML"},
};

// "\CLIP\C0001.MXF" and "/CLIP/C0001.MXF" in strict naming are the exports'
// everyday path: the notification path "\Clip\C0001.MXF" is in the journal
// in volume_session_test (RecordsAClipAndUserDataAndReadsThemBack), and the
// slashes reach the reader as backslashes in volume_namespace_test.
TEST(Classification, GivesKindAndNames) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.path) + (c.freeNaming ? " free" : " strict"));
    const FileNameManage f(c.path, c.freeNaming);
    std::u16string normalised = c.path;
    for (auto& ch : normalised) {
      if (ch == u'/') ch = u'\\';
    }
    EXPECT_EQ(f.fileKind(), c.kind);
    EXPECT_EQ(f.path(), normalised);
    EXPECT_EQ(f.clipName(), c.clipName);
    EXPECT_EQ(f.fileName(), c.fileName);
    EXPECT_EQ(f.notifyPath(), c.notifyPath);
    EXPECT_EQ(f.freeNaming(), c.freeNaming);
  }
}

// The process runs in the "C" locale here, where the C runtime would leave
// every non-ASCII letter alone; the mapping must not depend on it.
TEST(ToUpper, MapsLettersAcrossTheBasicPlane) {
  const std::pair<char16_t, char16_t> pairs[] = {
      {u'a', u'A'},           {u'z', u'Z'},           {u'A', u'A'},           {u'1', u'1'},
      {u'\u00E9', u'\u00C9'}, {u'\u00F1', u'\u00D1'}, {u'\u00FF', u'\u0178'}, {u'\u03C9', u'\u03A9'},
      {u'\u044F', u'\u042F'}, {u'\u00C9', u'\u00C9'}, {u'\u3042', u'\u3042'}, {char16_t{0xD83D}, char16_t{0xD83D}},
  };
  for (const auto& [in, out] : pairs) {
    EXPECT_EQ(static_cast<unsigned>(toUpper(in)), static_cast<unsigned>(out)) << std::hex << unsigned{in};
  }
  EXPECT_EQ(toUpper(u"ma\u00F1ana \u03C9\u044F"), u"MA\u00D1ANA \u03A9\u042F");
}

}  // namespace
