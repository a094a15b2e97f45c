// A freshly formatted emulated disc behind drive E: for the writer adapter's
// tests, the process log since a mark, and fault shorthands.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "disc.h"
#include "quil/emulator_control.h"
#include "support/process_log.h"
#include "writer/writer_volume.h"

namespace writertest {

namespace fs = std::filesystem;
using quil::emulator::Fault;
using quil::emulator::FaultKind;
using quil::emulator::MediumDescription;

inline Fault writerFault(uint32_t code, int32_t repair, std::u16string what = u"injected") {
  return Fault{.kind = FaultKind::kWriterException, .writerCode = code, .repairStatus = repair, .message = what};
}
inline Fault kindFault(FaultKind kind) { return Fault{.kind = kind, .message = u"injected"}; }
inline Fault windowsFault(uint32_t error) {
  return Fault{.kind = FaultKind::kWindowsError, .windowsError = error, .message = u""};
}
inline MediumDescription medium(char type, bool writeOnce, bool writable = true, std::string firmware = "0100") {
  MediumDescription m;
  m.mediumType = type, m.writeOnce = writeOnce, m.writable = writable, m.firmware = std::move(firmware);
  return m;
}

// Lent to the writer's volume, which never reads through it here.
class UnusedCacheReader final : public QUILWriter::QUILCacheReader {
  int32_t cacheOpen(const QUILCHAR*) override { return -1; }
  int32_t cacheClose(int32_t) override { return 0; }
  int32_t cacheRead(int32_t, void*, uint32_t, uint32_t*) override { return 0; }
  int32_t cacheGetSize(int32_t, int64_t*) override { return 0; }
};

class DiscTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("QUIL_TEST_TMP");
    base_ =
        fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") /
        ("writer-" + std::to_string(getpid()) + "-" + testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base_);
    fs::create_directories(base_ / "drives");
    fs::create_directory_symlink(base_ / "disc", base_ / "drives" / "e:");
    ASSERT_EQ(::setenv("QUIL_DRIVES", (base_ / "drives").c_str(), 1), 0);
    format(MediumDescription{});
    quil::emulator::reset();
  }
  void TearDown() override {
    quil::emulator::reset();
    fs::remove_all(base_);
  }

  void format(const MediumDescription& m) {
    fs::remove_all(disc());
    ASSERT_EQ(quil::emulator::formatDisc(disc().string(), m), "");
  }
  fs::path disc() const { return base_ / "disc"; }

  std::unique_ptr<quil::writer::WriterVolume> openVolume(const _Volume_Param& param = {}) {
    auto result = quil::writer::WriterVolume::create(u"E:", param, media_, reader_);
    EXPECT_EQ(result.status.status(), 0u);
    return std::move(result.volume);
  }

  size_t logMark() const { return quiltest::processLogLines().size(); }
  // Lines written since the mark that contain text.
  size_t countSince(size_t mark, const std::string& text) const {
    const auto lines = quiltest::processLogLines();
    return static_cast<size_t>(std::count_if(lines.begin() + static_cast<std::ptrdiff_t>(mark), lines.end(),
                                             [&](const std::string& l) { return l.find(text) != std::string::npos; }));
  }

  Media_Param_ media_{};
  UnusedCacheReader reader_;

 private:
  fs::path base_;
};

}  // namespace writertest
