// Status mapping: what each way a writer call can fail comes back as, through
// a real clip write on an emulated disc, the line each failure leaves, the
// outcome table and the writer error map.
#include "writer/writer_status.h"

#include "api/error_table.h"
#include "files/file_name_manage.h"
#include "writer/writer_file.h"
#include "writer_fixture.h"

namespace {

using namespace writertest;
using quil::writer::WriterFile;
using quil::writer::WriterStatus;

std::u16string text(int32_t code) { return std::u16string(quil::api::errorText(code)); }

// A writer exception's line names the place the writer threw from.
constexpr const char* kThrown = "ClipWriter::Write() QUILWriterException : errcode=";

using StatusTest = DiscTest;

TEST_F(StatusTest, FailedClipWriteGivesItsStatusCodeMessageAndLine) {
  const struct {
    const char* name;
    Fault fault;
    uint32_t status;
    int32_t errorCode;
    std::u16string message;
    bool success;      // by the outcome table
    const char* line;  // the information line the failure leaves
  } rows[] = {
      {"CodeOfNoError", writerFault(0x82000022, 0, u"odd"), 3, 0, u" (0x82000022)", false,
       "ClipWriter::Write() QUILWriterException : errcode=0x82000022 QUILREPAIR_STATUS=0 what=\"odd\""},
      {"NotFound", writerFault(0x86000010, 0, u"gone"), 3, 1000, u"No object found in searching. (0x86000010)", false,
       "QUILWriterException : errcode=0x86000010 QUILREPAIR_STATUS=0 what=\"gone\""},
      {"Repaired1", writerFault(0x87000007, 1), 4, -1000, text(-1000) + u" (0x87000007)", true, kThrown},
      {"Repaired2", writerFault(0x87000007, 2), 5, -1000, text(-1000) + u" (0x87000007)", false, "QUILREPAIR_STATUS=2"},
      {"Repaired3", writerFault(0x8800001C, 3), 6, -4, text(-4) + u" (0x8800001C)", false, "QUILREPAIR_STATUS=3"},
      {"RepairOutOfRange", writerFault(0x8800001C, 9), 7, -4, text(-4) + u" (0x8800001C)", false,
       "QUILREPAIR_STATUS=9"},
      {"AbsentFromMap", writerFault(0x8D000001, 2), 5, -1, u"Internal SDK error. (0x8D000001)", false,
       "errcode=0x8D000001 QUILREPAIR_STATUS=2"},
      {"StandardException", kindFault(FaultKind::kStandardException), 3, -3, text(-3), false,
       "invokeWriterFunction() std::exception : what=\"injected\""},
      {"NonStandardObject", kindFault(FaultKind::kNonStandardObject), 3, -2, text(-2), false,
       "invokeWriterFunction() unknown exception"},
  };
  auto volume = openVolume();
  auto clip = WriterFile::create(*volume, quil::files::FileNameManage(u"\\CLIP\\C0001.MXF", false), 1);
  ASSERT_NE(clip.file, nullptr);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    quil::emulator::failNext("ClipWriter::Write", 1, row.fault);
    const size_t mark = logMark();
    uint32_t count = 0xDEAD;
    const WriterStatus s = clip.file->writeFile("abcd", 4, &count);
    EXPECT_EQ(s.status(), row.status);
    EXPECT_EQ(s.errorCode(), row.errorCode);
    EXPECT_EQ(s.message(), row.message);
    EXPECT_EQ(s.closeResult(), 0u);
    EXPECT_EQ(quil::writer::writerOutcome(s).success, row.success);
    EXPECT_EQ(count, 0xDEADu) << "the count is written only on success";
    EXPECT_EQ(countSince(mark, row.line), 1u) << row.line;
    // The object stays usable after a failure.
    EXPECT_EQ(clip.file->writeFile("abcd", 4, &count).status(), 0u);
    EXPECT_EQ(count, 4u);
  }
}

TEST(WriterStatus, ConstructionRulesAndOutcomeTable) {
  EXPECT_EQ(WriterStatus().status(), 7u);  // not produced yet
  EXPECT_EQ(WriterStatus().errorCode(), -1);
  EXPECT_EQ(WriterStatus(0, 5).closeResult(), 5u);
  // Not implemented is -1 with its text, not a code of its own.
  EXPECT_EQ(WriterStatus(2).errorCode(), -1);
  EXPECT_EQ(WriterStatus(2).message(), u"Internal SDK error.");
  // A system code the table lacks still shows the writer's own code.
  EXPECT_TRUE(quil::writer::writerErrorMessage(-7777, 0x12345678).ends_with(u" (0x12345678)"));

  const bool success[] = {true, true, false, false, true, false, false, false, false};
  const bool notify[] = {true, false, true, false, true, false, true, true, true};
  for (uint32_t status = 0; status < 9; ++status) {
    EXPECT_EQ(quil::writer::writerOutcome(status).success, success[status]) << status;
    EXPECT_EQ(quil::writer::writerOutcome(status).notify, notify[status]) << status;
  }
}

TEST(WriterErrorMap, HoldsEveryPairOnceWithRunsInclusive) {
  EXPECT_EQ(quil::writer::writerErrorMapSize(), 307u);
  const std::pair<uint32_t, int32_t> pairs[] = {
      {0x82000022, 0},     {0x86000010, 1000},  {0x86000011, 1000},  {0x85000002, -3007}, {0x85000003, -2015},
      {0x85000014, -2015}, {0x85000015, -1},    {0x94000004, -2015}, {0x9400000A, -2015}, {0x9400000B, -1},
      {0x8800001C, -4},    {0x8A000006, -3101}, {0x8200001E, -3208}, {0x8400000F, -3009}, {0x84000010, -1},
      {0x81000001, -1},    {0x00000000, -1},    {0xFFFFFFFF, -1}};
  for (const auto& [writer, system] : pairs)
    EXPECT_EQ(quil::writer::mapWriterError(writer), system) << std::hex << writer;
}

}  // namespace
