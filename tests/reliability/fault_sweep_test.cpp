// Every sibling call of a scripted session made to fail, in turn, once for
// each kind of failure that call can have. After each run: every failing
// export returned its failure value with an error set, every handle the run
// got is closed or closable, the volume closes, a new volume opens on the
// same disc, and every byte the run was told was written reads back.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "quil/platform_error.h"
#include "text/utf.h"
#include "volume/emulated_volume.h"

namespace voltest {
namespace {

using quil::emulator::Fault;
using quil::emulator::FaultKind;

std::string narrowForMessage(const std::u16string& s) { return std::string(s.begin(), s.end()); }

// What one run of the script did and what it saw go wrong.
struct Session {
  std::vector<int32_t> openHandles;
  std::map<std::u16string, std::string> committed;  // files closed successfully, by their final path
  // A rename the writer failed but repaired counts as done, though the file
  // may still have its old name: new path -> old path.
  std::map<std::u16string, std::u16string> formerly;
  std::vector<std::string> violations;
  int failures = 0;  // exports that reported a failure
};

// An export's result judged: a failure must leave a code (or the relayed
// Windows error) and never "Not implemented.".
bool judge(Session& run, const char* call, int32_t result, int32_t failure) {
  if (result != failure) return true;
  ++run.failures;
  const int32_t code = QUILAPI_GetLastError();
  if (code == 0 && QUILPlatform_GetLastError() == 0) run.violations.push_back(std::string(call) + " failed with no error");
  if (code == -9999) run.violations.push_back(std::string(call) + " answered Not implemented");
  return false;
}

// Clears the last errors, makes the call and judges its result.
template <class Call>
bool attempt(Session& run, const char* name, int32_t failure, Call call) {
  QUILAPI_SetLastError(0);
  QUILPlatform_SetLastError(0);
  return judge(run, name, call(), failure);
}

// Writes, closes and remembers what the library said it wrote.
void writeFile(Session& run, const std::u16string& path, uint32_t access, uint32_t disposition, const std::string& bytes) {
  int32_t h = -1;
  if (!attempt(run, "CreateFile", -1, [&] { return h = openFile(path.c_str(), access, disposition); })) return;
  run.openHandles.push_back(h);
  std::string told;
  for (size_t at = 0; at < bytes.size(); at += 65536) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(65536, bytes.size() - at));
    uint32_t written = 0;
    if (!attempt(run, "WriteFile", 0, [&] { return QUILAPI_WriteFile(h, bytes.data() + at, n, &written); })) break;
    told.append(bytes, at, written);
    if (written < n) break;
  }
  if (attempt(run, "CloseHandle", 0, [&] { return QUILAPI_CloseHandle(h); })) {
    run.openHandles.pop_back();
    run.committed[path] = told;
  }
}

std::string readFile(Session& run, const std::u16string& path) {
  int32_t h = -1;
  if (!attempt(run, "CreateFile(read)", -1, [&] { return h = openFile(path.c_str(), kRead, kOpenExisting, 1); })) {
    return {};
  }
  run.openHandles.push_back(h);
  std::string out;
  char buffer[65536];
  for (;;) {
    uint32_t read = 0;
    if (!attempt(run, "ReadFile", 0, [&] { return QUILAPI_ReadFile(h, buffer, sizeof buffer, &read); })) break;
    if (read == 0) break;
    out.append(buffer, read);
  }
  if (attempt(run, "CloseHandle(read)", 0, [&] { return QUILAPI_CloseHandle(h); })) run.openHandles.pop_back();
  return out;
}

void rename(Session& run, const std::u16string& from, const std::u16string& to) {
  if (!attempt(run, "MoveFile", 0, [&] { return QUILAPI_MoveFile(0, from.c_str(), to.c_str()); })) return;
  const auto it = run.committed.find(from);
  if (it != run.committed.end()) {
    run.committed[to] = it->second;
    run.committed.erase(it);
    run.formerly[to] = from;
  }
}

// The session every run plays.
Session script() {
  Session run;
  const _Volume_Param p = EmulatedVolume::params(2);
  if (!attempt(run, "CreateVolume", -1, [&] { return QUILAPI_CreateVolume(u"E:", &p); })) return run;
  writeFile(run, u"\\CLIP\\C0001.MXF", kWrite, kCreateNew, pattern(200000, 1));
  writeFile(run, u"\\USERDATA\\keep.txt", kRead | kWrite, kCreateAlways, pattern(70000, 2));
  writeFile(run, u"\\USERDATA\\gone.txt", kWrite, kCreateAlways, pattern(100, 3));
  readFile(run, u"\\CLIP\\C0001.MXF");
  readFile(run, u"\\USERDATA\\keep.txt");
  FindData entry{};
  int32_t find = -1;
  if (attempt(run, "FindFirstFile", -1, [&] { return find = QUILAPI_FindFirstFile(0, u"\\USERDATA\\*", &entry); })) {
    run.openHandles.push_back(find);
    while (QUILAPI_FindNextFile(find, &entry) != 0) {
    }
    if (attempt(run, "FindClose", 0, [&] { return QUILAPI_FindClose(find); })) run.openHandles.pop_back();
  }
  rename(run, u"\\USERDATA\\keep.txt", u"\\USERDATA\\kept.txt");
  if (attempt(run, "DeleteFile", 0, [] { return QUILAPI_DeleteFile(0, u"\\USERDATA\\gone.txt"); })) {
    run.committed.erase(u"\\USERDATA\\gone.txt");
  }
  attempt(run, "SetFileAttributes(lock)", 0, [] { return QUILAPI_SetFileAttributes(0, u"\\CLIP\\C0001.MXF", 0x1); });
  attempt(run, "SetFileAttributes(unlock)", 0,
          [] { return QUILAPI_SetFileAttributes(0, u"\\CLIP\\C0001.MXF", 0x80); });
  attempt(run, "SetVolumeLabel", 0, [] { return QUILAPI_SetVolumeLabel(0, u"SWEEP", 5); });
  attempt(run, "CloseVolume", 0, [] { return QUILAPI_CloseVolume(0); });
  return run;
}

// The failures a call of this name can meet.
std::vector<Fault> faultsFor(const std::string& call) {
  if (call.rfind("QUIL_", 0) == 0) return {readerFault(-1300), windowsFault(32)};
  if (call.rfind("DeviceIoControl", 0) == 0 || call == "CreateFile(device)") return {windowsFault(1)};
  std::vector<Fault> out;
  for (int32_t repair : {0, 1, 2, 3, 9}) out.push_back(writerFault(0x8200000D, repair));
  out.push_back(faultOf(FaultKind::kStandardException));
  out.push_back(faultOf(FaultKind::kNonStandardObject));
  out.push_back(windowsFault(32));
  return out;
}

class FaultSweep : public EmulatedVolume {
 protected:
  void remakeDisc() {
    std::filesystem::remove_all(host(""));
    ASSERT_EQ(quil::emulator::formatDisc(host("").string(), medium()), "");
  }
};

// After a run: whatever is still open closes, and so does the volume; a new
// volume opens on the same disc and has every committed byte.
void checkAfter(const Session& run) {
  for (const auto& v : run.violations) ADD_FAILURE() << v;
  quil::emulator::reset();
  for (int32_t h : run.openHandles) QUILAPI_CloseHandle(h);
  const int32_t closed = QUILAPI_CloseVolume(0);
  EXPECT_TRUE(closed == -1 || QUILAPI_GetLastError() == -4) << "the volume would not close";
  EXPECT_FALSE(quil::emulator::driverState().privileged);
  const _Volume_Param p = EmulatedVolume::params(2);
  ASSERT_EQ(QUILAPI_CreateVolume(u"E:", &p), 0) << QUILAPI_GetLastError();
  for (const auto& [path, bytes] : run.committed) {
    Session check;
    std::string back = readFile(check, path);
    if (!check.violations.empty() || (back.empty() && run.formerly.count(path) != 0)) {
      Session again;
      back = readFile(again, run.formerly.count(path) != 0 ? run.formerly.at(path) : path);
    }
    EXPECT_EQ(back.size(), bytes.size()) << narrowForMessage(path);
    EXPECT_TRUE(back == bytes) << narrowForMessage(path);
  }
  EXPECT_EQ(QUILAPI_CloseVolume(0), -1);
}

TEST_F(FaultSweep, EveryCallFailingInTurn) {
  quil::emulator::reset();
  quil::emulator::recordCalls(true);
  const Session clean = script();
  const std::vector<std::string> calls = quil::emulator::takeCalls();
  quil::emulator::recordCalls(false);
  ASSERT_TRUE(clean.violations.empty()) << clean.violations.front();
  ASSERT_EQ(clean.committed.size(), 2u) << "the clean run keeps the clip and the renamed file";
  ASSERT_GT(calls.size(), 20u);

  size_t runs = 0;
  std::set<std::string> distinct;
  for (size_t n = 1; n <= calls.size(); ++n) {
    for (const Fault& fault : faultsFor(calls[n - 1])) {
      SCOPED_TRACE("call " + std::to_string(n) + " " + calls[n - 1] + " kind " +
                   std::to_string(static_cast<int>(fault.kind)) + " repair " + std::to_string(fault.repairStatus));
      remakeDisc();
      quil::emulator::reset();
      quil::emulator::failCallNumber(n, fault);
      Session run = script();
      ++runs;
      distinct.insert(calls[n - 1] + "/" + std::to_string(static_cast<int>(fault.kind)) + "/" +
                      std::to_string(fault.repairStatus));
      checkAfter(run);
      if (HasFailure()) return;  // one broken run says enough
    }
  }
  std::printf("fault sweep: %zu sibling calls, %zu runs, %zu distinct failures\n", calls.size(), runs,
              distinct.size());
}

// Every point where an open acquires its handle's records, failing in turn
// as an allocation would: the export fails with an error set, and what the
// open had acquired of a sibling library is given back (the volume closes,
// a new one opens, the files can be opened again, no byte is lost).
TEST_F(FaultSweep, EveryAllocationOfAnOpenFailingInTurn) {
  size_t runs = 0;
  for (int n = 1;; ++n) {
    SCOPED_TRACE("allocation point " + std::to_string(n));
    remakeDisc();
    quil::emulator::reset();
    ::setenv("QUIL_TEST_FAIL_ALLOCATION", (std::to_string(n) + "@" + std::to_string(n)).c_str(), 1);
    Session run = script();
    ::unsetenv("QUIL_TEST_FAIL_ALLOCATION");
    ++runs;
    checkAfter(run);
    // A recording the open had begun was closed again: no clip is left
    // without the metadata file its close writes.
    for (const auto& e : std::filesystem::directory_iterator(host("CLIP"))) {
      const std::string name = e.path().filename().string();
      if (name.size() == 9 && name.substr(5) == ".MXF") {
        EXPECT_TRUE(std::filesystem::exists(host("CLIP/" + name.substr(0, 5) + "M01.XML"))) << name;
      }
    }
    if (HasFailure()) return;
    // A run that met no failure has passed every point.
    if (run.committed.size() == 2 && run.openHandles.empty() && runs > 1) {
      bool anyFailed = false;
      for (const auto& v : run.violations) anyFailed = anyFailed || !v.empty();
      if (!anyFailed && run.failures == 0) break;
    }
    ASSERT_LT(n, 200) << "the script never ran clean";
  }
  EXPECT_GT(runs, 10u) << "the script's opens pass that many allocation points";
  std::printf("allocation sweep: %zu runs\n", runs);
}

}  // namespace
}  // namespace voltest

namespace voltest {
namespace {

// The host disc under the emulated one failing or filling: a write of a
// file's bytes or the flush at a written close fails on the host. The caller
// gets a code and a message, what was closed before reads back, the volume
// closes and opens again, and the space account agrees with the host folder.
class HostFaults : public EmulatedVolume {};

TEST_F(HostFaults, FailingWritesAndFlushesLoseNothingClosed) {
  // User data reports the Windows error (1117: I/O device error, 112: disc
  // full), a clip the library's code; a failing flush is the flush's.
  const struct { const char* call; int error; const char16_t* path; int32_t code; const char* said; } rows[] = {
      {"write", EIO, u"\\USERDATA\\eio.bin", 0, "1117"},
      {"write", ENOSPC, u"\\USERDATA\\full.bin", 0, "112"},
      {"write", EIO, u"\\CLIP\\C0002.MXF", -1400, "File write error. (0x8200000D)"},
      {"sync", EIO, u"\\USERDATA\\flushed.bin", -1400, "File write error. (0x8200000D)"}};
  ASSERT_EQ(openVolume(), 0);
  const std::string kept = pattern(300000, 7);
  record(u"\\CLIP\\C0001.MXF", kept);
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.call) + " " + std::strerror(row.error));
    quil::emulator::failHostCalls(row.call, row.error);
    QUILAPI_SetLastError(0);
    QUILPlatform_SetLastError(0);
    const int32_t h = openFile(row.path, kWrite, kCreateNew);
    ASSERT_NE(h, -1);
    const bool written = writeAll(h, pattern(200000, 8));
    EXPECT_NE(QUILAPI_CloseHandle(h), 0);
    EXPECT_EQ(written, row.call != std::string("write"));
    if (written) {
      EXPECT_EQ(QUILAPI_FlushVolume(0), 0);
    }
    EXPECT_EQ(QUILAPI_GetLastError(), row.code);
    QUILCHAR message[512] = {};
    uint32_t length = 0;
    QUILAPI_GetLastErrorWithMessage(message, 512, &length);
    EXPECT_EQ(row.code != 0 ? quil::toUtf8(message) : std::to_string(QUILPlatform_GetLastError()), row.said);
    ASSERT_EQ(QUILAPI_CloseVolume(0), -1);
    ASSERT_EQ(openVolume(), 0);
    const int32_t again = openFile(u"\\CLIP\\C0001.MXF", kRead, kOpenExisting, 1);
    EXPECT_EQ(readAll(again), kept);
    QUILAPI_CloseHandle(again);
    uint64_t total = 0, free = 0;
    ASSERT_NE(QUILAPI_GetVolumeCapacity(0, &total, &free), 0);
    EXPECT_EQ(total - free, quil::emulator::usedBytes(host("").string()));
  }
}

}  // namespace
}  // namespace voltest
