// The writer volume on an emulated disc in drive E: and the file objects it
// opens, where the exports' tests do not reach: the medium as the driver
// reports it, driver failures, the volume checks, failed name operations,
// the CMPTR folder with the driver's privileged mode, and the file objects'
// types, seeks, closes and failed creates.
#include "writer/writer_volume.h"

#include <fstream>
#include <iterator>
#include <tuple>

#include "writer/writer_file.h"
#include "writer_fixture.h"

namespace {

using namespace writertest;
using quil::emulator::driverState;
using quil::files::FileNameManage;
using quil::writer::WriterFile;
using quil::writer::WriterVolume;

FileNameManage path(std::u16string_view p) { return FileNameManage(p, false); }

using VolumeTest = DiscTest;

TEST_F(VolumeTest, CreateReadsTheMediumFromTheDriver) {
  using Row = std::tuple<MediumDescription, uint8_t, bool, uint32_t>;  // the medium, then what the driver tells of it
  for (const auto& [described, mediumType, isRMedia, fwVersion] :
       {Row{medium('S', false, true, "0123"), 0x53, false, 123}, Row{medium('S', true, true, "4567"), 0x52, true, 4567},
        Row{medium('V', false, true, "12"), 0x56, true, 1200},
        Row{medium('W', false, true, "9999"), 0x57, false, 9999}}) {
    format(described);
    // Even when the writer's own start fails, what the driver said is there.
    quil::emulator::failNext("QUILWriter::CreateVolume", 1, writerFault(0x8600000F, 0));
    media_ = Media_Param_{};
    const size_t mark = logMark();
    const auto failed = WriterVolume::create(u"E:", _Volume_Param{}, media_, reader_);
    EXPECT_EQ(failed.volume, nullptr);
    EXPECT_EQ(failed.status.errorCode(), -3002);
    EXPECT_EQ(media_.mediumType, mediumType);
    EXPECT_EQ(media_.isRMedia, isRMedia) << described.mediumType;
    EXPECT_EQ(media_.fwVersion, fwVersion);
    EXPECT_EQ(countSince(mark, std::string("Media_Param::isRMedia=") + (isRMedia ? "true" : "false") +
                                   ", mediaParam.fwVersion=" + std::to_string(fwVersion)),
              1u);
    EXPECT_FALSE(driverState().privileged);
  }
  EXPECT_NE(openVolume(), nullptr);
}

TEST_F(VolumeTest, DriverFailuresGiveTheDriverCommandError) {
  using Row = std::pair<const char*, const char*>;  // the driver call made to fail, the line it leaves
  for (const auto& [fault, line] :
       {Row{"CreateFile(device)", "GlysCtrlVolume::openVolumeHandle() CreateFile() error. GetLastError()=0x00000015"},
        Row{"DeviceIoControl(GLYSCTL_GET_VOLUME_MOUNT_INFORMATION)",
            "getVolumeMountInformation() GLYSCTL_GET_VOLUME_MOUNT_INFORMATION error. GetLastError()=0x00000015"},
        Row{"DeviceIoControl(GLYSCTL_GET_DEVICE_INFORMATION)",
            "getDeviceInformation() GLYSCTL_GET_DEVICE_INFORMATION error. GetLastError()=0x00000015"}}) {
    quil::emulator::failNext(fault, 1, windowsFault(21));
    const size_t mark = logMark();
    const auto result = WriterVolume::create(u"E:", _Volume_Param{}, media_, reader_);
    EXPECT_EQ(result.volume, nullptr);
    EXPECT_EQ(result.status.status(), 3u);
    EXPECT_EQ(result.status.errorCode(), -3101);
    EXPECT_EQ(result.status.message(), u"File System driver's command error");
    EXPECT_EQ(countSince(mark, line), 1u) << line;
    EXPECT_EQ(countSince(mark, "QUILWriter::CreateVolume("), 0u) << "the writer is not started";
  }
}

TEST_F(VolumeTest, ChecksOfTheVolumeAndItsTree) {
  // A volume check that fails reaches the volume open in volume_session_test
  // (OpeningFails/VolumeCheck).
  auto volume = openVolume();
  std::string discId;
  QUILWriter::QUIL_AliasRename alias;
  EXPECT_EQ(volume->checkKeldaFile(_Volume_Param{}, discId, alias), quil::writer::kKeldaGood);
  // A writer exception of the write-protect code, of the unsupported-tree
  // code and of another code reach the volume open in volume_session_test
  // (NotWritable, OpeningFails/UnsupportedTree and /TreeCheckFails).
  for (const FaultKind kind : {FaultKind::kStandardException, FaultKind::kNonStandardObject}) {
    quil::emulator::failNext("QUILWriter::CheckKeldaFile", 1, kindFault(kind));
    EXPECT_EQ(volume->checkKeldaFile(_Volume_Param{}, discId, alias), quil::writer::kKeldaUnsupported);
  }
  bool current = false;
  quil::emulator::failNext("QUILWriter::parseDiscmeta", 1, kindFault(FaultKind::kNonStandardObject));
  EXPECT_FALSE(volume->parseDiscmeta("<DiscMeta/>", 11, discId, current));

  // A disc missing a folder of its tree: the writer's result is a writer code.
  fs::remove(disc() / "SUB");
  const auto broken = volume->checkVolume();
  EXPECT_EQ(broken.status(), 3u);
  EXPECT_EQ(broken.errorCode(), -3002);
  EXPECT_EQ(broken.message(), u"Disc Corrupted (0x8600000F)");
}

// A kind an operation does not handle never reaches the writer through the
// exports, which refuse it first (volume_namespace_test: NameTable), and a
// rename or delete that succeeds is there too
// (RenamedAndDeletedFilesShowInTheListingAndTheLog).
TEST_F(VolumeTest, FailedNameOperationsAreMapped) {
  auto volume = openVolume();
  EXPECT_EQ(volume->deleteFile(path(u"\\CLIP\\C0009.MXF")).errorCode(), 1000);
  quil::emulator::failNext("QUILWriter::LockClipFile", 1, kindFault(FaultKind::kStandardException));
  const size_t mark = logMark();
  EXPECT_EQ(volume->lockFile(path(u"\\CLIP\\C0001.MXF"), true).errorCode(), -3);
  EXPECT_EQ(countSince(mark, "WriterVolume::lockFile() std::exception : what=\"injected\""), 1u);
}

TEST_F(VolumeTest, CmptrFolderCreatedOnlyWhereItMayBeAndNoDriverStateLeftBehind) {
  const MediumDescription rewritable = medium('S', false), writeOnce = medium('S', true),
                          notWritable = medium('S', true, false);
  const struct {
    const char* name;
    MediumDescription medium;
    uint32_t recInhMode;
    const char* fault;  // a driver call made to fail, or null
    bool result, created;
    uint32_t privilegedEntries, dirtyMarks;
  } rows[] = {
      {"WriteProtectedByCaller", writeOnce, 1, nullptr, true, false, 0, 0},
      {"NotWritable", notWritable, 0, nullptr, true, false, 0, 0},
      {"WriteOnce", writeOnce, 0, nullptr, true, true, 1, 1},
      {"Rewritable", rewritable, 0, nullptr, true, true, 1, 0},
      {"MarkDirtyFails", writeOnce, 0, "DeviceIoControl(GLYSCTL_MARK_VOLUME_DIRTY)", false, false, 1, 0},
      {"EnterFails", writeOnce, 0, "DeviceIoControl(GLYSCTL_ENTER_PRIVILEGED_MODE)", false, false, 0, 0},
      {"DeviceFails", rewritable, 0, "CreateFile(device)", false, false, 0, 0},
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(c.name);
    format(c.medium);
    quil::emulator::reset();
    _Volume_Param param{};
    param.recInhMode = c.recInhMode;
    auto volume = openVolume(param);
    ASSERT_NE(volume, nullptr);
    const auto before = driverState();
    if (c.fault != nullptr) quil::emulator::failNext(c.fault, 1, windowsFault(0x1F));

    bool created = !c.created;
    EXPECT_EQ(volume->checkCmptrFolder(created), c.result);
    EXPECT_EQ(created, c.created);
    EXPECT_EQ(fs::is_directory(disc() / "KELDA" / "CMPTR"), c.created);
    const auto after = driverState();
    EXPECT_FALSE(after.privileged);
    EXPECT_EQ(after.privilegedEntries - before.privilegedEntries, c.privilegedEntries);
    EXPECT_EQ(after.dirtyMarks - before.dirtyMarks, c.dirtyMarks);
    EXPECT_EQ(after.lastFlushPolicy, c.dirtyMarks != 0 ? 2u : before.lastFlushPolicy);
    if (c.created) {  // once there, it is left alone
      EXPECT_TRUE(volume->checkCmptrFolder(created));
      EXPECT_FALSE(created);
      EXPECT_EQ(driverState().privilegedEntries, after.privilegedEntries);
    }
  }
}

// A KELDA that is missing, or a link elsewhere (a disc folder is data), gets
// no folder made, through the link or otherwise: a file-system warning, and
// the driver left alone.
TEST_F(VolumeTest, CmptrFolderNeedsItsParentAndIsNeverMadeThroughALink) {
  auto volume = openVolume();
  const fs::path outside = disc().parent_path() / "outside";
  fs::create_directories(outside);
  for (const bool link : {false, true}) {
    SCOPED_TRACE(link ? "link" : "missing");
    fs::remove_all(disc() / "KELDA");
    if (link) fs::create_directory_symlink(outside, disc() / "KELDA");
    const size_t mark = logMark();
    bool created = true;
    EXPECT_FALSE(volume->checkCmptrFolder(created));
    EXPECT_FALSE(created);
    EXPECT_FALSE(driverState().privileged);
    EXPECT_EQ(countSince(mark, "checkCmptrFolder() WARNING filesystem_error : what=\""), 1u);
  }
  EXPECT_FALSE(fs::exists(outside / "CMPTR"));
}

// ---------------------------------------------------------------------------
// File objects

class WriterFileTest : public DiscTest {
 protected:
  void SetUp() override {
    DiscTest::SetUp();
    volume_ = openVolume();
  }
  std::unique_ptr<quil::writer::WriterVolume> volume_;
};

// A kind opened or created in a way it does not allow is refused by the
// exports before the writer is reached (volume_session_test: Sharing), but a
// metadata or XML file is opened for writing and may be asked its type.
TEST_F(WriterFileTest, MetadataAndXmlFilesHaveNoFileType) {
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
  std::ifstream essence(disc() / "CLIP" / "C0001.MXF", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(essence), {}), "essenES!");
}

TEST_F(WriterFileTest, CreateWhoseWriterThrowsKeepsNoObject) {
  quil::emulator::failNext("ClipWriter::create", 1, writerFault(0x82000002, 1));
  const auto repaired = WriterFile::create(*volume_, path(u"\\CLIP\\C0001.MXF"), 1);
  EXPECT_EQ(repaired.status.status(), 4u);  // a success by the outcome table, yet every status above 1 drops it
  EXPECT_EQ(repaired.status.errorCode(), -3003);
  EXPECT_EQ(repaired.file, nullptr);

  // The arguments are traced before the call; the last says whether the
  // file is a general one.
  quil::emulator::failNext("UserDataWriter::createFile", 1, windowsFault(5));
  const size_t mark = logMark();
  const auto denied =
      WriterFile::createFile(*volume_, path(u"\\USERDATA\\a.txt"), 0x40000000, 0, nullptr, 2, 0x80, nullptr);
  EXPECT_EQ(denied.status.errorCode(), -8);
  EXPECT_EQ(denied.file, nullptr);
  EXPECT_EQ(countSince(mark, "UserDataWriter::createFile(\"E:\", \"a.txt\", 0x40000000, 0x00000000, "
                             "0000000000000000, 0x00000002, 0x00000080, 0000000000000000, 0 )"),
            1u);
}

}  // namespace
