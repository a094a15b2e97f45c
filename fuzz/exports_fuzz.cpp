// Sequences of export calls with arguments from the fuzzer's bytes, on a
// fresh emulated disc each time: handles are drawn from those issued and
// from wrong ones, paths from a set of the disc's names in every kind,
// access, share and disposition from the bytes. Nothing may crash, hang,
// leak or throw, and a failing call must leave an error.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "disc.h"
#include "quil/emulator_control.h"
#include "quil/platform_error.h"
#include "quil/quilcoreapi.h"

namespace {

namespace fs = std::filesystem;

fs::path gBase;

const char16_t* const kPaths[] = {
    u"\\INDEX.XML", u"\\ALIAS.XML", u"\\DISCMETA.XML", u"\\MEDIAPRO.XML", u"\\SYSPRO.XML",
    u"\\CLIP\\C0001.MXF", u"\\CLIP\\C0001M01.XML", u"\\CLIP\\C0001M02.KLV", u"\\SUB\\C0001S01.MXF",
    u"\\COMPONENT\\P0001.MXF", u"\\EDIT\\E0001E01.SMI", u"\\EDIT\\E0001M01.XML", u"\\USERDATA\\a.txt",
    u"\\USERDATA\\dir", u"\\USERDATA\\dir\\b.bin", u"\\GENERAL\\g.dat", u"\\CLIP\\C0002.MXF", u"/USERDATA/a.txt",
    u"\\NOWHERE", u"", u"\\USERDATA\\*", u"\\*"};
constexpr uint32_t kAccess[] = {0, 0x80000000u, 0x40000000u, 0xC0000000u, 0xC0010000u};

struct Bytes {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint32_t next(uint32_t bound) {
    if (at >= size || bound == 0) return 0;
    return data[at++] % bound;
  }
  bool more() const { return at < size; }
};

void checkFailure(int32_t result, int32_t failure) {
  if (result != failure) return;
  const int32_t code = QUILAPI_GetLastError();
  if ((code == 0 && QUILPlatform_GetLastError() == 0) || code == -9999) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gBase = fs::temp_directory_path() / ("quil-exports-fuzz-" + std::to_string(getpid()));
  fs::create_directories(gBase / "drives");
  // libFuzzer ends a timed run with exit(): the scratch disc goes with it.
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(gBase, ec);
  });
  std::error_code ec;
  fs::create_directory_symlink(gBase / "disc", gBase / "drives" / "f:", ec);
  setenv("QUIL_DRIVES", (gBase / "drives").c_str(), 1);
  unsetenv("QUIL_ACTIVE_SESSION");
  if (std::getenv("QUIL_REGISTRY") == nullptr) setenv("QUIL_REGISTRY", (gBase / "none.reg").c_str(), 1);
  setenv("QUIL_PROGRAM_FILES", (gBase / "opt").c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::error_code ec;
  fs::remove_all(gBase / "disc", ec);
  quil::emulator::MediumDescription medium;
  medium.capacity = 64ull << 20;
  if (!quil::emulator::formatDisc((gBase / "disc").string(), medium).empty()) std::abort();
  quil::emulator::reset();

  Bytes in{data, size};
  _Volume_Param param{};
  param.maxClipReadHandles = in.next(3);
  param.namingMode = in.next(3);
  if (QUILAPI_CreateVolume(u"F:", &param) != 0) std::abort();
  std::vector<int32_t> handles{-1, 0, 9999};
  char buffer[4096] = {};
  uint32_t done = 0;
  int64_t position = 0;
  FindData entry{};
  for (int steps = 0; in.more() && steps < 64; ++steps) {
    const auto path = [&] { return kPaths[in.next(std::size(kPaths))]; };
    const auto handle = [&] { return handles[in.next(static_cast<uint32_t>(handles.size()))]; };
    QUILAPI_SetLastError(0);
    QUILPlatform_SetLastError(0);
    switch (in.next(14)) {
      case 0: {
        const int32_t h = QUILAPI_CreateFile(0, path(), kAccess[in.next(std::size(kAccess))], in.next(8), nullptr,
                                             in.next(6), in.next(2) != 0 ? 0x00010000u : 0, nullptr);
        checkFailure(h, -1);
        if (h != -1) handles.push_back(h);
        break;
      }
      case 1: checkFailure(QUILAPI_WriteFile(handle(), buffer, in.next(sizeof buffer), &done), 0); break;
      case 2: checkFailure(QUILAPI_ReadFile(handle(), buffer, in.next(sizeof buffer), &done), 0); break;
      case 3: checkFailure(QUILAPI_SetFilePointer(handle(), in.next(5000), &position, in.next(4)), 0); break;
      case 4: checkFailure(QUILAPI_CloseHandle(handle()), 0); break;
      case 5: checkFailure(QUILAPI_DeleteFile(0, path()), 0); break;
      case 6: checkFailure(QUILAPI_MoveFile(0, path(), path()), 0); break;
      case 7: checkFailure(QUILAPI_SetFileAttributes(0, path(), in.next(2) != 0 ? 0x1u : 0x80u), 0); break;
      case 8: checkFailure(QUILAPI_CreateDirectory(0, path(), nullptr), 0); break;
      case 9: {
        const int32_t h = QUILAPI_FindFirstFile(0, path(), &entry);
        if (h != -1) {
          handles.push_back(h);
          while (QUILAPI_FindNextFile(h, &entry) != 0) {
          }
        }
        break;
      }
      case 10: checkFailure(QUILAPI_FindClose(handle()), 0); break;
      case 11: checkFailure(QUILAPI_SetEndOfFile(handle()), 0); break;
      case 12: checkFailure(QUILAPI_DeleteFileWithHandle(handle()), 0); break;
      default: {
        QUILCHAR id[64];
        uint32_t length = 0;
        checkFailure(QUILAPI_GetClipId(handle(), id, in.next(64), &length), 0);
        break;
      }
    }
  }
  // The volume always closes, taking every handle with it.
  if (QUILAPI_CloseVolume(0) != -1) std::abort();
  return 0;
}
