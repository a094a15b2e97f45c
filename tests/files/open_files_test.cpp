// The open-file table where the exports' sharing tables do not reach: records
// sharing a hash chain, free-naming case, the fixed records of the root
// files, and the counts and reader shares the sharing questions answer.
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
  HandleRecord* open(OpenFileControl& control, uint32_t mode, const FileNamePtr& path, uint32_t share = 7) {
    HandleRecord& h = handles_.emplace_back();
    h.shareMode = share;
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

TEST_F(OpenFiles, KindWideCountsSumEveryRecordOfTheKind) {
  for (const char16_t* p : {u"\\CLIP\\C0001.MXF", u"\\CLIP\\C0001.MXF", u"\\CLIP\\C0513.MXF", u"\\EDIT\\E0001E01.SMI"})
    open(strict_, kReading, path(p));
  open(strict_, kWriting, path(u"\\CLIP\\C0003.MXF"));
  struct Row {
    uint32_t mode, kind, n;
    bool expected;
  };
  const Row rows[] = {
      {kReading, Clip, 3, true},        {kReading, Clip, 4, false},        {kWriting, Clip, 1, true},
      {kWriting, Clip, 2, false},       {kReading, ClipNrtMeta, 1, false}, {kReading, Editlist, 1, true},
      {kReading, IndexXml, 1, false},   {kReading, None, 1, false},        {2, Clip, 1, false},
      {kReading, ClipNrtMeta, 0, true},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(strict_.isOpen(r.mode, r.kind, nullptr, r.n), r.expected)
        << "mode " << r.mode << " kind " << r.kind << " n " << r.n;
  }
}

TEST_F(OpenFiles, TheFiveRootFilesHaveFixedRecords) {
  for (uint32_t k = IndexXml; k <= SysProXml; ++k) {
    const FileNameManage byKind(static_cast<FileKind>(k), false);
    OpenFileStruct* fixed = strict_.find(byKind);
    ASSERT_NE(fixed, nullptr) << k;
    EXPECT_EQ(fixed->fileName->fileName(), byKind.fileName());
    HandleRecord* h = open(strict_, kWriting, path(u"/" + byKind.fileName()));
    EXPECT_EQ(h->openFile, fixed);
    EXPECT_TRUE(strict_.isOpen(kWriting, k, nullptr, 1));
    close(strict_, kWriting, h);  // the record outlives its last handle
    EXPECT_EQ(strict_.find(byKind), fixed);
    EXPECT_EQ(fixed->fileName->fileKind(), k);
  }
}

TEST_F(OpenFiles, CollectReadersRefusesAReaderThatDoesNotShareWriteAndDelete) {
  const std::pair<std::vector<uint32_t>, bool> rows[] = {  // the readers' shares in opening order, refused
      {{}, false}, {{6}, false}, {{7, 0x7FFFFFFF}, false}, {{2}, true},
      {{4}, true}, {{1}, true},  {{6, 5}, true},           {{6, 6, 3}, true},
  };
  for (const auto& [shares, refused] : rows) {
    SCOPED_TRACE(testing::PrintToString(shares));
    OpenFileControl control(false);
    const FileNamePtr one = path(u"\\CLIP\\C0001.MXF");
    Handles readers;
    for (uint32_t share : shares) readers.push_back(open(control, kReading, one, share));
    open(control, kWriting, one, 0);                         // writers are never gathered
    open(control, kReading, path(u"\\CLIP\\C0002.MXF"), 6);  // another file of the kind

    Handles out;
    EXPECT_EQ(control.collectReaders(out, Clip, one.get()), refused);
    if (!refused) {
      EXPECT_EQ(out, readers);
    }
    out.clear();
    EXPECT_EQ(control.collectReaders(out, Clip, nullptr), refused);
    if (!refused) {
      EXPECT_EQ(out.size(), readers.size() + 1);
    }
  }
}

TEST_F(OpenFiles, DeletePendingNeedsAWriterAndKindNoneIsNotCounted) {
  const FileNamePtr read = path(u"\\USERDATA\\notes.txt"), written = path(u"\\USERDATA\\log.txt");
  open(strict_, kReading, read);
  open(strict_, kWriting, written);
  EXPECT_FALSE(strict_.markDeletePending(*read));
  EXPECT_FALSE(strict_.find(*read)->deletePending);
  EXPECT_FALSE(strict_.markDeletePending(*path(u"\\USERDATA\\other.txt")));
  EXPECT_TRUE(strict_.markDeletePending(*written));
  EXPECT_TRUE(strict_.find(*written)->deletePending);

  HandleRecord h;
  EXPECT_EQ(strict_.increment(kReading, path(u"\\CLIP\\X.TXT"), &h), nullptr);
}

}  // namespace
