// The writer volume on an emulated disc in drive E:: the medium as the
// driver reports it, driver failures, the volume checks, the name operations
// by kind, and the CMPTR folder with the driver's privileged mode.
#include "writer/writer_volume.h"

#include <fstream>

#include "writer_fixture.h"

namespace {

using namespace writertest;
using quil::emulator::driverState;
using quil::files::FileNameManage;
using quil::writer::WriterVolume;

FileNameManage path(std::u16string_view p) { return FileNameManage(p, false); }

using VolumeTest = DiscTest;

TEST_F(VolumeTest, CreateReadsTheMediumFromTheDriver) {
  struct Row {
    MediumDescription medium;
    uint8_t mediumType;
    bool isRMedia;
    uint32_t fwVersion;
  };
  for (const Row& r :
       {Row{medium('S', false, true, "0123"), 0x53, false, 123}, Row{medium('S', true, true, "4567"), 0x52, true, 4567},
        Row{medium('V', false, true, "12"), 0x56, true, 1200},
        Row{medium('W', false, true, "9999"), 0x57, false, 9999}}) {
    format(r.medium);
    // Even when the writer's own start fails, what the driver said is there.
    quil::emulator::failNext("QUILWriter::CreateVolume", 1, writerFault(0x8600000F, 0));
    media_ = Media_Param_{};
    const size_t mark = logMark();
    const auto failed = WriterVolume::create(u"E:", _Volume_Param{}, media_, reader_);
    EXPECT_EQ(failed.volume, nullptr);
    EXPECT_EQ(failed.status.errorCode(), -3002);
    EXPECT_EQ(media_.mediumType, r.mediumType);
    EXPECT_EQ(media_.isRMedia, r.isRMedia) << r.medium.mediumType;
    EXPECT_EQ(media_.fwVersion, r.fwVersion);
    EXPECT_EQ(countSince(mark, std::string("Media_Param::isRMedia=") + (r.isRMedia ? "true" : "false") +
                                   ", mediaParam.fwVersion=" + std::to_string(r.fwVersion)),
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
  auto volume = openVolume();
  EXPECT_EQ(volume->checkVolume().status(), 0u);
  quil::emulator::failNext("QUILWriter::CheckVolume", 1, writerFault(0x8800001C, 2));
  EXPECT_EQ(volume->checkVolume().status(), 5u);

  std::string discId;
  QUILWriter::QUIL_AliasRename alias;
  EXPECT_EQ(volume->checkKeldaFile(_Volume_Param{}, discId, alias), quil::writer::kKeldaGood);
  using Row = std::pair<Fault, quil::writer::KeldaCheck>;
  for (const auto& [fault, result] : {Row{writerFault(0x84000010, 0), quil::writer::kKeldaWriteProtect},
                                      Row{writerFault(0x8400000F, 0), quil::writer::kKeldaUnsupported},
                                      Row{writerFault(0x84000011, 0), quil::writer::kKeldaOtherFailure},
                                      Row{kindFault(FaultKind::kStandardException), quil::writer::kKeldaUnsupported},
                                      Row{kindFault(FaultKind::kNonStandardObject), quil::writer::kKeldaUnsupported}}) {
    quil::emulator::failNext("QUILWriter::CheckKeldaFile", 1, fault);
    EXPECT_EQ(volume->checkKeldaFile(_Volume_Param{}, discId, alias), result) << std::hex << fault.writerCode;
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

TEST_F(VolumeTest, NameOperationsByKind) {
  auto volume = openVolume();
  { std::ofstream(disc() / "USERDATA" / "a.txt") << "a"; }
  // Kinds an operation does not handle never reach the writer.
  const size_t mark = logMark();
  for (std::u16string_view p :
       {u"\\CLIP\\C0001M01.XML", u"\\SUB\\C0001S01.MXF", u"\\EDIT\\E0001M01.XML", u"\\INDEX.XML"}) {
    EXPECT_EQ(volume->deleteFile(path(p)).status(), 2u);
  }
  EXPECT_EQ(volume->moveFile(path(u"\\USERDATA\\a.txt"), path(u"\\GENERAL\\a.txt")).status(), 2u);
  EXPECT_EQ(volume->moveFileEx(path(u"\\CLIP\\C0001.MXF"), path(u"\\CLIP\\C0002.MXF"), 1).status(), 2u);
  EXPECT_EQ(volume->lockFile(path(u"\\USERDATA\\a.txt"), true).status(), 2u);
  EXPECT_EQ(volume->createDirectory(path(u"\\CLIP\\C0001.MXF"), nullptr).status(), 2u);
  EXPECT_EQ(countSince(mark, "ERROR_NOIMPLEMENT"), 8u);
  EXPECT_EQ(countSince(mark, "QUILWriter::"), 0u);
  EXPECT_TRUE(fs::exists(disc() / "USERDATA" / "a.txt"));

  // Handled kinds reach the writer; its failures are mapped like any other.
  EXPECT_EQ(volume->moveFileEx(path(u"\\USERDATA\\a.txt"), path(u"\\USERDATA\\b.txt"), 1).status(), 0u);
  EXPECT_TRUE(fs::exists(disc() / "USERDATA" / "b.txt"));
  EXPECT_EQ(volume->deleteFile(path(u"\\CLIP\\C0009.MXF")).errorCode(), 1000);
  quil::emulator::failNext("QUILWriter::LockClipFile", 1, kindFault(FaultKind::kStandardException));
  const size_t lockMark = logMark();
  EXPECT_EQ(volume->lockFile(path(u"\\CLIP\\C0001.MXF"), true).errorCode(), -3);
  EXPECT_EQ(countSince(lockMark, "WriterVolume::lockFile() std::exception : what=\"injected\""), 1u);
}

TEST_F(VolumeTest, RegisterPrivilegedProcess) {
  auto volume = openVolume();
  EXPECT_TRUE(volume->registerPrivilegedProcess());
  EXPECT_EQ(driverState().registeredProcesses, 1u);
  quil::emulator::failNext("DeviceIoControl(GLYSCTL_REGISTER_PRIVILEGED_PROCESS)", 1, windowsFault(0x1F));
  const size_t mark = logMark();
  EXPECT_FALSE(volume->registerPrivilegedProcess());
  EXPECT_EQ(driverState().registeredProcesses, 1u);
  EXPECT_EQ(countSince(mark, "GLYSCTL_REGISTER_PRIVILEGED_PROCESS error. GetLastError()=0x0000001F"), 1u);
}

struct CmptrCase {
  const char* name;
  MediumDescription medium;
  uint32_t recInhMode;
  const char* fault;  // a driver call made to fail, or null
  bool result, created;
  uint32_t privilegedEntries, dirtyMarks;
};
void PrintTo(const CmptrCase& c, std::ostream* os) { *os << c.name; }

class CmptrFolder : public DiscTest, public testing::WithParamInterface<CmptrCase> {};

TEST_P(CmptrFolder, CreatedOnlyWhereItMayBeAndNoDriverStateLeftBehind) {
  const CmptrCase& c = GetParam();
  format(c.medium);
  _Volume_Param param{};
  param.recInhMode = c.recInhMode;
  auto volume = openVolume(param);
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

const MediumDescription kRewritable = medium('S', false), kWriteOnce = medium('S', true),
                        kNotWritable = medium('S', true, false);

INSTANTIATE_TEST_SUITE_P(
    Media, CmptrFolder,
    testing::Values(
        CmptrCase{"WriteProtectedByCaller", kWriteOnce, 1, nullptr, true, false, 0, 0},
        CmptrCase{"NotWritable", kNotWritable, 0, nullptr, true, false, 0, 0},
        CmptrCase{"WriteOnce", kWriteOnce, 0, nullptr, true, true, 1, 1},
        CmptrCase{"Rewritable", kRewritable, 0, nullptr, true, true, 1, 0},
        CmptrCase{"MarkDirtyFails", kWriteOnce, 0, "DeviceIoControl(GLYSCTL_MARK_VOLUME_DIRTY)", false, false, 1, 0},
        CmptrCase{"EnterFails", kWriteOnce, 0, "DeviceIoControl(GLYSCTL_ENTER_PRIVILEGED_MODE)", false, false, 0, 0},
        CmptrCase{"DeviceFails", kRewritable, 0, "CreateFile(device)", false, false, 0, 0}),
    [](const testing::TestParamInfo<CmptrCase>& info) { return std::string(info.param.name); });

TEST_F(VolumeTest, CmptrFolderWithoutItsParentIsAFilesystemWarning) {
  auto volume = openVolume();
  fs::remove_all(disc() / "KELDA");
  const size_t mark = logMark();
  bool created = true;
  EXPECT_FALSE(volume->checkCmptrFolder(created));
  EXPECT_FALSE(created);
  EXPECT_FALSE(driverState().privileged);
  EXPECT_EQ(countSince(mark, "checkCmptrFolder() WARNING filesystem_error : what=\""), 1u);
}

// A disc folder is data: a KELDA that links elsewhere gets no folder made
// through it.
TEST_F(VolumeTest, CmptrFolderIsNeverMadeThroughALink) {
  auto volume = openVolume();
  const fs::path outside = disc().parent_path() / "outside";
  fs::create_directories(outside);
  fs::remove_all(disc() / "KELDA");
  fs::create_directory_symlink(outside, disc() / "KELDA");
  bool created = true;
  EXPECT_FALSE(volume->checkCmptrFolder(created));
  EXPECT_FALSE(created);
  EXPECT_FALSE(fs::exists(outside / "CMPTR"));
  EXPECT_FALSE(driverState().privileged);
}

}  // namespace
