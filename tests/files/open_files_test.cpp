// The handle table and the open-file table: which handles count against
// which file, how records come and go in their hash chains, and what the
// sharing questions of create/open answer.
#include "support/process_log.h"
#include "files/open_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace quil::files;

// How many lines of the log end with `text`.
size_t logLinesEndingWith(const std::string& text) {
  size_t n = 0;
  for (const auto& line : quiltest::processLogLines()) {
    if (line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0) ++n;
  }
  return n;
}

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

  OpenFileControl strict_{false};
  OpenFileControl free_{true};
  std::deque<HandleRecord> handles_;
};

TEST_F(OpenFiles, EssenceAndMetadataOfOneClipHaveOneRecordPerKind) {
  const FileNamePtr mxf = classifyPath(u"\\CLIP\\C0001.MXF", false);
  const FileNamePtr mxfAgain = classifyPath(u"\\clip\\C0001.mxf", false);
  const FileNamePtr meta = classifyPath(u"\\CLIP\\C0001M01.XML", false);
  HandleRecord* r1 = open(strict_, kReading, mxf);
  HandleRecord* r2 = open(strict_, kReading, mxfAgain);
  HandleRecord* m1 = open(strict_, kReading, meta);

  OpenFileStruct* clip = strict_.find(*mxf);
  ASSERT_NE(clip, nullptr);
  EXPECT_EQ(r1->openFile, clip);
  EXPECT_EQ(r2->openFile, clip);
  EXPECT_EQ(clip->fileName, mxf);  // the first opener's path
  EXPECT_EQ(clip->readers, (std::vector<HandleRecord*>{r1, r2}));
  OpenFileStruct* nrt = strict_.find(*meta);
  ASSERT_NE(nrt, nullptr);
  EXPECT_NE(nrt, clip);
  EXPECT_EQ(nrt->readers, (std::vector<HandleRecord*>{m1}));

  // Asking about another kind with this clip's path looks in that kind's table.
  EXPECT_TRUE(strict_.isOpen(kReading, ClipNrtMeta, mxf.get(), 1));
  EXPECT_FALSE(strict_.isOpen(kReading, ClipNrtMeta, mxf.get(), 2));
  EXPECT_FALSE(strict_.isOpen(kReading, ClipUserMeta, mxf.get(), 1));
  EXPECT_TRUE(strict_.isOpen(kReading, Clip, meta.get(), 2));
  EXPECT_EQ(strict_.findHandle(kReading, ClipNrtMeta, *mxf), m1);
  std::vector<HandleRecord*> out;
  EXPECT_FALSE(strict_.collectReaders(out, ClipNrtMeta, mxf.get()));
  EXPECT_EQ(out, (std::vector<HandleRecord*>{m1}));

  close(strict_, kReading, m1);
  EXPECT_FALSE(strict_.isOpen(kReading, ClipNrtMeta, mxf.get(), 1));
}

TEST_F(OpenFiles, RecordsSharingABucketChainAndUnlinkFromTheHead) {
  const FileNamePtr a = classifyPath(u"\\CLIP\\C0001.MXF", false);
  const FileNamePtr b = classifyPath(u"\\CLIP\\C0513.MXF", false);
  const FileNamePtr c = classifyPath(u"\\CLIP\\C1025.MXF", false);
  for (const FileNamePtr& p : {a, b, c}) ASSERT_EQ(strict_.bucketOf(Clip, p->clipName()), 1u);
  HandleRecord* ha = open(strict_, kReading, a);
  HandleRecord* hb = open(strict_, kReading, b);
  HandleRecord* hc = open(strict_, kWriting, c);
  OpenFileStruct* ra = ha->openFile;
  OpenFileStruct* rb = hb->openFile;
  OpenFileStruct* rc = hc->openFile;
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

TEST_F(OpenFiles, DecrementKeepsOrderAndTracesAnAbsentHandle) {
  const FileNamePtr p = classifyPath(u"\\CLIP\\C0002.MXF", false);
  HandleRecord* h1 = open(strict_, kReading, p);
  HandleRecord* h2 = open(strict_, kReading, p);
  HandleRecord* h3 = open(strict_, kReading, p);
  OpenFileStruct* r = h1->openFile;
  HandleRecord stranger;

  EXPECT_FALSE(r->decrement(kReading, h2));
  EXPECT_EQ(r->readers, (std::vector<HandleRecord*>{h1, h3}));

  const std::string readMissing =
      "OpenFileControl::OpenFileStruct::decrement() OpenFileStruct::decrement Read Handle not found";
  const std::string writeMissing =
      "OpenFileControl::OpenFileStruct::decrement() OpenFileStruct::decrement Write Handle not found";
  const size_t readBefore = logLinesEndingWith(readMissing);
  const size_t writeBefore = logLinesEndingWith(writeMissing);
  EXPECT_FALSE(r->decrement(kReading, &stranger));
  EXPECT_FALSE(r->decrement(kWriting, h1));  // a reader is not a writer
  EXPECT_FALSE(r->decrement(7, h1));         // other modes remove nothing, silently
  EXPECT_EQ(r->readers, (std::vector<HandleRecord*>{h1, h3}));
  EXPECT_EQ(logLinesEndingWith(readMissing), readBefore + 1);
  EXPECT_EQ(logLinesEndingWith(writeMissing), writeBefore + 1);

  EXPECT_FALSE(r->decrement(kReading, h1));
  EXPECT_TRUE(r->decrement(kReading, h3));
  EXPECT_TRUE(r->decrement(kReading, h3));  // absent, but both vectors are empty
  EXPECT_EQ(logLinesEndingWith(readMissing), readBefore + 2);
}

TEST_F(OpenFiles, ARemovedRecordIsMadeAgainForTheNextOpener) {
  const FileNamePtr first = classifyPath(u"\\clip\\c0001.mxf", false);
  const FileNamePtr second = classifyPath(u"\\CLIP\\C0001.MXF", false);
  HandleRecord* h = open(strict_, kWriting, first);
  EXPECT_EQ(h->openFile->fileName, first);
  close(strict_, kWriting, h);
  EXPECT_EQ(strict_.find(*second), nullptr);
  EXPECT_FALSE(strict_.isOpen(kWriting, Clip, nullptr, 1));

  HandleRecord* again = open(strict_, kReading, second);
  EXPECT_EQ(strict_.find(*first), again->openFile);
  EXPECT_EQ(again->openFile->fileName, second);
  EXPECT_FALSE(again->openFile->deletePending);
}

TEST(HandleTable, NumbersKeepRisingAcrossErases) {
  HandleTable table;
  EXPECT_EQ(table.add().first, 1);
  table.erase(1);
  EXPECT_EQ(table.find(1), nullptr);
  EXPECT_EQ(table.add().first, 2);
  const auto [n3, h3] = table.add();
  EXPECT_EQ(n3, 3);
  table.erase(2);
  table.erase(42);  // never made: nothing happens
  EXPECT_EQ(table.find(3), h3);
  EXPECT_EQ(table.records().size(), 1u);
  EXPECT_EQ(table.add().first, 4);
}

TEST_F(OpenFiles, ClipNamesCompareCaseSensitivelyAfterClassification) {
  // Free naming keeps the caller's case: two files, two records.
  const FileNamePtr mixed = classifyPath(u"\\CLIP\\Interview.MXF", true);
  const FileNamePtr upper = classifyPath(u"\\CLIP\\INTERVIEW.MXF", true);
  HandleRecord* a = open(free_, kReading, mixed);
  HandleRecord* b = open(free_, kReading, upper);
  EXPECT_NE(a->openFile, b->openFile);
  EXPECT_EQ(free_.bucketOf(Clip, u"Interview"), 16509u & 511);
  EXPECT_EQ(free_.bucketOf(Clip, u"INTERVIEW"), 1917u & 511);
  // Strict naming upper-cases the numbered name: one file, one record.
  HandleRecord* c = open(strict_, kReading, classifyPath(u"\\clip\\c0001.mxf", false));
  HandleRecord* d = open(strict_, kReading, classifyPath(u"\\CLIP\\C0001.MXF", false));
  EXPECT_EQ(c->openFile, d->openFile);
  EXPECT_EQ(c->openFile->readers.size(), 2u);
}

TEST_F(OpenFiles, KindWideCountsSumEveryRecordOfTheKind) {
  open(strict_, kReading, classifyPath(u"\\CLIP\\C0001.MXF", false));
  open(strict_, kReading, classifyPath(u"\\CLIP\\C0001.MXF", false));
  open(strict_, kReading, classifyPath(u"\\CLIP\\C0513.MXF", false));
  open(strict_, kWriting, classifyPath(u"\\CLIP\\C0003.MXF", false));
  open(strict_, kReading, classifyPath(u"\\EDIT\\E0001E01.SMI", false));
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
    HandleRecord* h = open(strict_, kWriting, classifyPath(u"/" + byKind.fileName(), false));
    EXPECT_EQ(h->openFile, fixed);
    EXPECT_TRUE(strict_.isOpen(kWriting, k, nullptr, 1));
    close(strict_, kWriting, h);  // the record outlives its last handle
    EXPECT_EQ(strict_.find(byKind), fixed);
    EXPECT_EQ(fixed->fileName->fileKind(), k);
  }
}

TEST_F(OpenFiles, CollectReadersRefusesAReaderThatDoesNotShareWriteAndDelete) {
  struct Row {
    std::vector<uint32_t> shares;  // of the readers, in opening order
    bool refused;
  };
  const Row rows[] = {
      {{}, false}, {{6}, false}, {{7, 0x7FFFFFFF}, false}, {{2}, true},
      {{4}, true}, {{1}, true},  {{6, 5}, true},           {{6, 6, 3}, true},
  };
  for (const Row& row : rows) {
    OpenFileControl control(false);
    const FileNamePtr one = classifyPath(u"\\CLIP\\C0001.MXF", false);
    const FileNamePtr other = classifyPath(u"\\CLIP\\C0002.MXF", false);
    std::vector<HandleRecord*> readers;
    for (uint32_t share : row.shares) readers.push_back(open(control, kReading, one, share));
    open(control, kWriting, one, 0);    // writers are never gathered
    open(control, kReading, other, 6);  // another file of the kind

    std::vector<HandleRecord*> out;
    EXPECT_EQ(control.collectReaders(out, Clip, one.get()), row.refused) << ::testing::PrintToString(row.shares);
    if (!row.refused) {
      EXPECT_EQ(out, readers);
    }

    out.clear();
    EXPECT_EQ(control.collectReaders(out, Clip, nullptr), row.refused);
    if (!row.refused) {
      EXPECT_EQ(out.size(), readers.size() + 1);
    }
  }
}

TEST_F(OpenFiles, DeletePendingNeedsAWriterAndKindNoneIsNotCounted) {
  const FileNamePtr read = classifyPath(u"\\USERDATA\\notes.txt", false);
  const FileNamePtr written = classifyPath(u"\\USERDATA\\log.txt", false);
  open(strict_, kReading, read);
  open(strict_, kWriting, written);
  EXPECT_FALSE(strict_.markDeletePending(*read));
  EXPECT_FALSE(strict_.find(*read)->deletePending);
  EXPECT_FALSE(strict_.markDeletePending(*classifyPath(u"\\USERDATA\\other.txt", false)));
  EXPECT_TRUE(strict_.markDeletePending(*written));
  EXPECT_TRUE(strict_.find(*written)->deletePending);

  HandleRecord h;
  EXPECT_EQ(strict_.increment(kReading, classifyPath(u"\\CLIP\\X.TXT", false), &h), nullptr);
}

TEST(Hashes, ByHand) {
  EXPECT_EQ(numberHash(u"C0001"), 1u);
  EXPECT_EQ(numberHash(u"C0513"), 513u);
  EXPECT_EQ(numberHash(u"E9999"), 9999u);
  EXPECT_EQ(stringHash(u""), 0u);
  EXPECT_EQ(stringHash(u"AB"), 1171u);     // 65 * 17 + 66
  EXPECT_EQ(stringHash(u"zzzz"), 47016u);  // 636840 cut to 16 bits
  EXPECT_EQ(stringHash(u"\u00C4"), 196u);
  OpenFileControl strict(false);
  // Components have 128 buckets; user data hashes the string in any naming.
  EXPECT_EQ(strict.bucketOf(Component, u"P0129"), 1u);
  EXPECT_EQ(strict.bucketOf(UserData, u"AB"), 1171u & 31);
  EXPECT_EQ(strict.bucketOf(General, u"zzzz"), 47016u & 31);
}

}  // namespace
