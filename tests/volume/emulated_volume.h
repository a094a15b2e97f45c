// A fresh emulated disc for each test, reached as drive E:, with the close-
// error pipe folder and the drive folder of the test's own. Everything goes
// through the public header, as a caller's program would.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "disc.h"
#include "quil/emulator_control.h"
#include "quil/quilcoreapi.h"

namespace voltest {

constexpr uint32_t kRead = 0x80000000u;
constexpr uint32_t kWrite = 0x40000000u;
constexpr uint32_t kCreateNew = 1, kCreateAlways = 2, kOpenExisting = 3, kOpenAlways = 4;

class EmulatedVolume : public ::testing::Test {
 public:
  static _Volume_Param params(uint32_t maxClipReadHandles = 4);

 protected:
  void SetUp() override;
  void TearDown() override;

  // The medium the test's disc is formatted with: a fixture's constructor
  // changes medium_.
  quil::emulator::MediumDescription medium() const { return medium_; }
  quil::emulator::MediumDescription medium_;

  static int32_t openVolume(const _Volume_Param& p = params()) { return QUILAPI_CreateVolume(u"E:", &p); }

  std::filesystem::path host(const std::string& relative) const { return disc_ / relative; }
  const std::filesystem::path& pipeFolder() const { return pipes_; }
  std::string hostBytes(const std::string& relative) const;
  void putHostBytes(const std::string& relative, const std::string& bytes) const;

  // The log lines written since the test began (operation-log lines only
  // when levels is "123").
  std::vector<std::string> logLines(const std::string& levels = "") const;
  // The volume status (the code its opening left) and the write-protect flags.
  static std::pair<int32_t, uint32_t> volumeInformation();

 private:
  std::filesystem::path base_;
  std::filesystem::path disc_;
  std::filesystem::path pipes_;
  size_t logMark_ = 0;
};

inline int32_t openFile(const char16_t* path, uint32_t access, uint32_t disposition, uint32_t share = 0,
                        uint32_t flags = 0) {
  return QUILAPI_CreateFile(0, path, access, share, nullptr, disposition, flags, nullptr);
}
// The last error a call left when it returned `failure`; 1 (no code) when
// it returned anything else.
inline int32_t refusal(int32_t result, int32_t failure = 0) { return result == failure ? QUILAPI_GetLastError() : 1; }
bool writeAll(int32_t handle, const std::string& bytes, uint32_t chunk = 64 * 1024);
std::string readAll(int32_t handle);
// Records a clip whole: create, write, close.
void record(const char16_t* path, const std::string& bytes);

// Bytes of a repeatable pseudo-random pattern.
std::string pattern(size_t size, uint32_t seed);

inline bool contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

// The volume open, with a clip recorded (and its metadata file).
class WithClip : public EmulatedVolume {
 protected:
  void SetUp() override {
    EmulatedVolume::SetUp();
    ASSERT_EQ(openVolume(), 0);
    record(u"\\CLIP\\C0001.MXF", pattern(4096, 1));
  }
};

// A row of a table run on that volume: what stays open, the attempt, and
// the last error it leaves (0: it succeeds).
struct Attempt { const char* name; std::function<void()> before; std::function<int32_t()> call; int32_t code; };

class AttemptTable : public WithClip, public ::testing::WithParamInterface<Attempt> {
 protected:
  // `failure`: what the table's calls return when they fail.
  void runRow(int32_t failure) {
    GetParam().before();
    EXPECT_EQ(refusal(GetParam().call(), failure), GetParam().code == 0 ? 1 : GetParam().code);
  }
};

inline void nothing() {}
inline std::function<void()> keepOpen(const char16_t* path, uint32_t access, uint32_t disposition, uint32_t share = 0) {
  return [=] { ASSERT_NE(openFile(path, access, disposition, share), -1) << QUILAPI_GetLastError(); };
}
inline std::string rowName(const ::testing::TestParamInfo<Attempt>& info) { return info.param.name; }

// The failures the emulator can inject, one of each kind.
using quil::emulator::FaultKind;
inline quil::emulator::Fault faultOf(FaultKind kind, uint32_t writerCode = 0, int32_t repair = 0, int32_t readerCode = -1,
                                     uint32_t windowsError = 0) {
  quil::emulator::Fault f;
  f.kind = kind, f.writerCode = writerCode, f.repairStatus = repair, f.readerCode = readerCode;
  f.windowsError = windowsError;
  return f;
}
inline quil::emulator::Fault writerFault(uint32_t code, int32_t repair = 0) {
  return faultOf(FaultKind::kWriterException, code, repair);
}
inline quil::emulator::Fault readerFault(int32_t code) { return faultOf(FaultKind::kReaderError, 0, 0, code); }
inline quil::emulator::Fault windowsFault(uint32_t error) { return faultOf(FaultKind::kWindowsError, 0, 0, -1, error); }

}  // namespace voltest
