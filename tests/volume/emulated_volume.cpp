#include "volume/emulated_volume.h"

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "support/process_log.h"

namespace voltest {

namespace fs = std::filesystem;

void EmulatedVolume::SetUp() {
  static int serial = 0;
  const char* tmp = std::getenv("QUIL_TEST_TMP");
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::replace(name.begin(), name.end(), '/', '_');
  const std::string unique = std::to_string(getpid()) + "-" + std::to_string(++serial);
  base_ = fs::path(tmp != nullptr ? tmp : "/tmp") / ("volume-" + unique + "-" + name);
  fs::remove_all(base_);
  disc_ = base_ / "disc";
  // A socket's path must stay short: the pipe folder lives in /tmp.
  pipes_ = fs::temp_directory_path() / ("quil-pipes-" + unique);
  fs::create_directories(base_ / "drives");
  fs::create_directories(pipes_);
  ASSERT_EQ(quil::emulator::formatDisc(disc_.string(), medium()), "");
  fs::create_directory_symlink(disc_, base_ / "drives" / "e:");
  setenv("QUIL_DRIVES", (base_ / "drives").c_str(), 1);
  setenv("QUIL_PIPE_DIR", pipes_.c_str(), 1);
  unsetenv("QUIL_ACTIVE_SESSION");
  quil::emulator::reset();
  QUILAPI_SetLastError(0);
  logMark_ = quiltest::processLogLines().size();
}

void EmulatedVolume::TearDown() {
  QUILAPI_CloseVolume(0);
  quil::emulator::reset();
  std::error_code ec;
  fs::remove_all(base_, ec);
  fs::remove_all(pipes_, ec);
}

_Volume_Param EmulatedVolume::params(uint32_t maxClipReadHandles) {
  _Volume_Param p{};
  p.maxClipReadHandles = maxClipReadHandles;
  std::memcpy(p.modelName, "ZRD-K2", 6);
  return p;
}

std::string EmulatedVolume::hostBytes(const std::string& relative) const {
  std::ifstream in(host(relative), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void EmulatedVolume::putHostBytes(const std::string& relative, const std::string& bytes) const {
  std::ofstream(host(relative), std::ios::binary | std::ios::trunc) << bytes;
}

bool writeAll(int32_t handle, const std::string& bytes, uint32_t chunk) {
  for (size_t at = 0; at < bytes.size(); at += chunk) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(chunk, bytes.size() - at));
    uint32_t written = 0;
    if (QUILAPI_WriteFile(handle, bytes.data() + at, n, &written) == 0 || written != n) return false;
  }
  return true;
}

std::string readAll(int32_t handle) {
  std::string out;
  char buffer[70000];
  uint32_t read = 0;
  bool ok = true;
  while ((ok = QUILAPI_ReadFile(handle, buffer, sizeof buffer, &read) != 0) && read != 0) out.append(buffer, read);
  EXPECT_TRUE(ok) << "read failed with " << QUILAPI_GetLastError();
  return out;
}

void record(const char16_t* path, const std::string& bytes) {
  const int32_t h = openFile(path, kWrite, kCreateNew);
  ASSERT_NE(h, -1) << QUILAPI_GetLastError();
  ASSERT_TRUE(writeAll(h, bytes));
  ASSERT_NE(QUILAPI_CloseHandle(h), 0) << QUILAPI_GetLastError();
}

std::vector<std::string> EmulatedVolume::logLines(const std::string& levels) const {
  const auto all = quiltest::processLogLines();
  std::vector<std::string> out;
  for (size_t i = std::min(logMark_, all.size()); i < all.size(); ++i) {
    const std::string& line = all[i];
    if (levels.empty()) {
      out.push_back(line);
    } else if (line.size() > 23 && levels.find(line[1]) != std::string::npos) {
      // An operation-log line: "[1] [hh:mm:ss:mmm.000] text" -> "1 text".
      out.push_back(line.substr(1, 1) + " " + line.substr(23));
    }
  }
  return out;
}

std::pair<int32_t, uint32_t> EmulatedVolume::volumeInformation() {
  uint32_t status = 0, flags = 0;
  EXPECT_EQ(QUILAPI_GetVolumeInformation(0, &status, &flags), -1);
  return {static_cast<int32_t>(status), flags};
}

std::string pattern(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : out) c = static_cast<char>(x ^= x << 13, x ^= x >> 17, x ^= x << 5);
  return out;
}

}  // namespace voltest
