// The open-file table where the exports' sharing tables do not reach: records
// sharing a hash chain, handles leaving a record out of order, free-naming
// case and the fixed records of the root files. The counts, the reader
// shares and the pending delete the sharing questions answer are checked
// through the exports (volume_session_test: Sharing; volume_namespace_test:
// NameTable and UserDataDeleteRefusedBySharingHappensAtClose).
#include "files/open_files.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

using namespace quil::files;
using Handles = std::vector<HandleRecord*>;

class OpenFiles : public testing::Test {
 protected:
  // Counts a new handle on `path` in `control` and returns it.
  HandleRecord* open(OpenFileControl& control, uint32_t mode, const FileNamePtr& path) {
    HandleRecord& h = handles_.emplace_back();
    h.openFile = control.increment(mode, path, &h);
    return &h;
  }
  // Takes the handle out again, freeing its record when it was the last.
  void close(OpenFileControl& control, uint32_t mode, HandleRecord* h) {
    if (h->openFile->decrement(mode, h)) control.remove(h->openFile);
  }
  static FileNamePtr path(const std::u16string& p) { return classifyPath(p, false); }

  OpenFileControl strict_{false};
  OpenFileControl free_{true};
  std::deque<HandleRecord> handles_;
};

TEST_F(OpenFiles, RecordsSharingABucketChainAndUnlinkFromTheHead) {
  const FileNamePtr a = path(u"\\CLIP\\C0001.MXF"), b = path(u"\\CLIP\\C0513.MXF"), c = path(u"\\CLIP\\C1025.MXF");
  for (const FileNamePtr& p : {a, b, c}) ASSERT_EQ(strict_.bucketOf(Clip, p->clipName()), 1u);
  HandleRecord* ha = open(strict_, kReading, a);
  HandleRecord* hb = open(strict_, kReading, b);
  HandleRecord* hc = open(strict_, kWriting, c);
  OpenFileStruct *ra = ha->openFile, *rb = hb->openFile, *rc = hc->openFile;
  EXPECT_EQ(strict_.bucketHead(Clip, 1), ra);
  EXPECT_EQ(ra->next, rb);
  EXPECT_EQ(rb->next, rc);
  EXPECT_EQ(rc->next, nullptr);
  EXPECT_EQ(rb->backLink, &ra->next);
  EXPECT_EQ(rc->backLink, &rb->next);

  close(strict_, kReading, ha);
  EXPECT_EQ(strict_.find(*a), nullptr);
  EXPECT_EQ(strict_.bucketHead(Clip, 1), rb);
  EXPECT_EQ(*rb->backLink, rb);
  EXPECT_EQ(strict_.find(*b), rb);
  // The new head unlinks through its back link: the bucket must empty.
  close(strict_, kReading, hb);
  EXPECT_EQ(strict_.bucketHead(Clip, 1), rc);
  EXPECT_EQ(*rc->backLink, rc);
  close(strict_, kWriting, hc);
  EXPECT_EQ(strict_.bucketHead(Clip, 1), nullptr);
}

TEST_F(OpenFiles, DecrementRemovesOnlyThatHandleAndKeepsTheOrder) {
  const FileNamePtr p = path(u"\\CLIP\\C0002.MXF");
  HandleRecord* h1 = open(strict_, kReading, p);
  HandleRecord* h2 = open(strict_, kReading, p);
  HandleRecord* h3 = open(strict_, kReading, p);
  OpenFileStruct* r = h1->openFile;
  HandleRecord stranger;
  EXPECT_FALSE(r->decrement(kReading, h2));
  EXPECT_EQ(r->readers, (Handles{h1, h3}));
  EXPECT_FALSE(r->decrement(kReading, &stranger));
  EXPECT_FALSE(r->decrement(kWriting, h1));  // a reader is not a writer
  EXPECT_FALSE(r->decrement(7, h1));         // other modes remove nothing
  EXPECT_EQ(r->readers, (Handles{h1, h3}));
  EXPECT_FALSE(r->decrement(kReading, h1));
  EXPECT_TRUE(r->decrement(kReading, h3));
  EXPECT_TRUE(r->decrement(kReading, h3));  // absent, but both vectors are empty
}

TEST_F(OpenFiles, ClipNamesCompareCaseSensitivelyAfterClassification) {
  // Free naming keeps the caller's case: two files, two records.
  HandleRecord* a = open(free_, kReading, classifyPath(u"\\CLIP\\Interview.MXF", true));
  HandleRecord* b = open(free_, kReading, classifyPath(u"\\CLIP\\INTERVIEW.MXF", true));
  EXPECT_NE(a->openFile, b->openFile);
  // Strict naming upper-cases the numbered name: one file, one record.
  HandleRecord* c = open(strict_, kReading, path(u"\\clip\\c0001.mxf"));
  HandleRecord* d = open(strict_, kReading, path(u"\\CLIP\\C0001.MXF"));
  EXPECT_EQ(c->openFile, d->openFile);
  EXPECT_EQ(c->openFile->readers.size(), 2u);
}

// The names are those the exports open by path; the record is made from the
// kind alone, in either naming, and every open of the name reaches it.
TEST_F(OpenFiles, TheFiveRootFilesHaveFixedRecords) {
  const std::u16string names[] = {u"INDEX.XML", u"ALIAS.XML", u"DISCMETA.XML", u"MEDIAPRO.XML", u"SYSPRO.XML"};
  for (const bool freeNaming : {false, true}) {
    OpenFileControl& control = freeNaming ? free_ : strict_;
    for (uint32_t k = IndexXml; k <= SysProXml; ++k) {
      SCOPED_TRACE(testing::Message() << k << (freeNaming ? " free" : " strict"));
      const std::u16string& name = names[k - IndexXml];
      OpenFileStruct* fixed = control.find(FileNameManage(static_cast<FileKind>(k), freeNaming));
      ASSERT_NE(fixed, nullptr);
      EXPECT_EQ(fixed->fileName->fileKind(), k);
      EXPECT_EQ(fixed->fileName->fileName(), name);
      EXPECT_EQ(fixed->fileName->path(), u"\\" + name);
      EXPECT_EQ(fixed->fileName->notifyPath(), u"\\" + name);
      HandleRecord* h = open(control, kWriting, classifyPath(u"/" + name, freeNaming));
      EXPECT_EQ(h->openFile, fixed);
      EXPECT_TRUE(control.isOpen(kWriting, k, nullptr, 1));
      close(control, kWriting, h);  // the record outlives its last handle
      EXPECT_EQ(control.find(*fixed->fileName), fixed);
    }
  }
}

}  // namespace
