// Writer file objects on an emulated disc: the class a path gets, what each
// family refuses, when a close commits, and what reaches the disc.
#include "writer/writer_file.h"

#include <fstream>
#include <iterator>

#include "writer_fixture.h"

namespace {

using namespace writertest;
using quil::files::FileNameManage;
using quil::writer::WriterFile;

FileNameManage path(std::u16string_view p) { return FileNameManage(p, false); }

std::string slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class WriterFileTest : public DiscTest {
 protected:
  void SetUp() override {
    DiscTest::SetUp();
    volume_ = openVolume();
  }
  quil::writer::WriterFileResult createFile(std::u16string_view p) {
    return WriterFile::createFile(*volume_, path(p), 0x40000000, 0, nullptr, 2, 0x80, nullptr);
  }
  std::unique_ptr<quil::writer::WriterVolume> volume_;
};

TEST_F(WriterFileTest, KindsWithoutTheOperationGiveStatus2AndNoObject) {
  using Row = std::pair<const char16_t*, bool>;  // path, open rather than create
  for (const auto& [p, open] :
       {Row{u"\\CLIP\\C0001.MXF", true}, Row{u"\\COMPONENT\\P0001.MXF", true}, Row{u"\\CLIP\\C0001M01.XML", false},
        Row{u"\\EDIT\\E0001M01.XML", false}, Row{u"\\SUB\\C0001S01.MXF", false}, Row{u"\\INDEX.XML", true},
        Row{u"\\NOTHING.BIN", false}}) {
    const auto result = open ? WriterFile::open(*volume_, path(p), 1) : WriterFile::create(*volume_, path(p), 1);
    EXPECT_EQ(result.status.status(), 2u) << open;
    EXPECT_EQ(result.file, nullptr);
  }
  EXPECT_EQ(createFile(u"\\CLIP\\C0002.MXF").status.status(), 2u);
  EXPECT_FALSE(fs::exists(disc() / "CLIP" / "C0002.MXF"));

  // Metadata and XML files have no file type.
  auto meta = WriterFile::create(*volume_, path(u"\\CLIP\\C0001M02.KLV"), 1);
  auto discMeta = WriterFile::open(*volume_, path(u"\\DISCMETA.XML"), 1);
  ASSERT_TRUE(meta.file && discMeta.file);
  QUILWriter::_QUIL_FILE_TYPE type{};
  EXPECT_EQ(meta.file->getFileType(&type).status(), 2u);
  EXPECT_EQ(discMeta.file->getFileType(&type).status(), 2u);
}

TEST_F(WriterFileTest, UnchangedXmlCloseSkipsTheWriterButEvenAFailedWriteCommits) {
  // A Close that reached the writer would consume this fault.
  quil::emulator::failNext("XMLReaderWriter::Close", 1, writerFault(0x8200000D, 0));
  auto alias = WriterFile::open(*volume_, path(u"\\ALIAS.XML"), 1);
  ASSERT_NE(alias.file, nullptr);
  const size_t mark = logMark();
  EXPECT_EQ(alias.file->close().status(), 1u);
  EXPECT_EQ(countSince(mark, "WriterXMLReaderWriter::closeImpl() SUCCESS(No modify)"), 1u);

  auto edited = WriterFile::open(*volume_, path(u"\\ALIAS.XML"), 1);
  ASSERT_NE(edited.file, nullptr);
  quil::emulator::failNext("XMLReaderWriter::Write", 1, writerFault(0x8200000D, 0));
  uint32_t count = 0;
  EXPECT_EQ(edited.file->writeFile("<x/>", 4, &count).status(), 3u);
  const auto committed = edited.file->close();  // meets the fault left pending above
  EXPECT_EQ(committed.status(), 3u);
  EXPECT_EQ(committed.message(), u"File write error. (0x8200000D)");
}

TEST_F(WriterFileTest, ClipRoundTripReachesTheDisc) {
  _Volume_Param param{};
  param.namingMode = 1, param.audioMode[2] = 7, param.modelName[0] = '\x0A';
  volume_ = openVolume(param);
  const size_t mark = logMark();
  auto clip = WriterFile::create(*volume_, path(u"\\CLIP\\C0001.MXF"), 2);
  ASSERT_NE(clip.file, nullptr);
  EXPECT_EQ(countSince(mark,
                       "WriterClipFile::createImpl() ClipWriter::create(\"E:\", \"C0001\", \"(volumeParam=("
                       "namingMode=1 audioMode=([0][0][7][0]) tcMode=0 dfndfMode=0 ownerInfo=(country=(00 00 00 "
                       "00 ) organization=(00 00 00 00 ) user=(00 00 00 00 )) dataItemMode=0 alignMode=0 "
                       "recInhMode=0 proHdnMode=0 modelName=(0A 00 "),
            1u);
  EXPECT_EQ(countSince(mark, "mixedRecMode=0) umidMode=2)\" )"), 1u);

  uint32_t count = 0;
  int64_t position = -1;
  ASSERT_EQ(clip.file->writeFile("essence!", 8, &count).status(), 0u);
  ASSERT_EQ(clip.file->setFilePointer(-3, &position, QUILWriter::QUIL_WHENCE_END).status(), 0u);
  EXPECT_EQ(position, 5);
  ASSERT_EQ(clip.file->writeFile("ES!", 3, &count).status(), 0u);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(clip.file->setEndOfFile().status(), 2u);
  const auto closed = clip.file->close();
  EXPECT_EQ(closed.status(), 0u);
  EXPECT_EQ(closed.closeResult(), 0u);
  EXPECT_EQ(slurp(disc() / "CLIP" / "C0001.MXF"), "essenES!");
}

TEST_F(WriterFileTest, ClipCutShortByAFullMediumReportsItsCloseResult) {
  auto m = *MediumDescription::load(disc().string());
  m.capacity = quil::emulator::usedBytes(disc().string()) + (64 << 10);
  ASSERT_TRUE(m.save(disc().string()));
  volume_ = openVolume();
  auto clip = WriterFile::create(*volume_, path(u"\\CLIP\\C0001.MXF"), 1);
  ASSERT_NE(clip.file, nullptr);
  const std::string big(256 << 10, 'x');
  uint32_t count = 0;
  ASSERT_EQ(clip.file->writeFile(big.data(), static_cast<uint32_t>(big.size()), &count).status(), 0u);
  EXPECT_LT(count, big.size());
  EXPECT_EQ(clip.file->close().closeResult(), 1u);
}

TEST_F(WriterFileTest, CreateWhoseWriterThrowsKeepsNoObject) {
  quil::emulator::failNext("ClipWriter::create", 1, writerFault(0x82000002, 1));
  const auto repaired = WriterFile::create(*volume_, path(u"\\CLIP\\C0001.MXF"), 1);
  EXPECT_EQ(repaired.status.status(), 4u);  // a success by the outcome table, yet every status above 1 drops it
  EXPECT_EQ(repaired.status.errorCode(), -3003);
  EXPECT_EQ(repaired.file, nullptr);

  quil::emulator::failNext("UserDataWriter::createFile", 1, windowsFault(5));
  const auto denied = createFile(u"\\USERDATA\\a.txt");
  EXPECT_EQ(denied.status.errorCode(), -8);
  EXPECT_EQ(denied.file, nullptr);
}

TEST_F(WriterFileTest, UserDataAndGeneralFiles) {
  const size_t mark = logMark();
  auto user = createFile(u"\\USERDATA\\a.txt");
  auto general = createFile(u"\\GENERAL\\g.bin");
  ASSERT_TRUE(user.file && general.file);
  // The last argument says whether the file is a general one.
  const std::string args = "0x40000000, 0x00000000, 0000000000000000, 0x00000002, 0x00000080, 0000000000000000, ";
  EXPECT_EQ(countSince(mark, "UserDataWriter::createFile(\"E:\", \"a.txt\", " + args + "0 )"), 1u);
  EXPECT_EQ(countSince(mark, "UserDataWriter::createFile(\"E:\", \"g.bin\", " + args + "1 )"), 1u);

  uint32_t count = 0;
  int64_t position = -1;
  ASSERT_EQ(user.file->writeFile("hello world", 11, &count).status(), 0u);
  ASSERT_EQ(user.file->setFilePointer(5, &position, QUILWriter::QUIL_WHENCE_BEGIN).status(), 0u);
  ASSERT_EQ(user.file->setEndOfFile().status(), 0u);
  EXPECT_EQ(user.file->setFileSize(3).status(), 2u);  // a user-data file is cut by its end of file
  EXPECT_EQ(user.file->close().status(), 0u);
  EXPECT_EQ(general.file->close().status(), 0u);
  EXPECT_EQ(slurp(disc() / "USERDATA" / "a.txt"), "hello");
  EXPECT_TRUE(fs::exists(disc() / "GENERAL" / "g.bin"));
}

}  // namespace
