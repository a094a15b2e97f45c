// Control of the disc emulator, for tests and tools. Not linked into the
// core library: link libquilemulator.
//
// Fault injection makes the next N calls of a named sibling function fail in
// a chosen way; the journal records every notification call the reader
// library received, so that a test can assert what the core told it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#define QUIL_EMULATOR_API __attribute__((visibility("default")))

namespace quil::emulator {

enum class FaultKind : uint32_t {
  kWriterException,    // QUILWriterException with writerCode and repairStatus
  kReaderError,        // the reader fails with readerCode and message
  kWindowsError,       // the call fails with a Windows error (user data, general, driver)
  kStandardException,  // a std::runtime_error
  kNonStandardObject,  // an object that is not a std::exception
};

struct Fault {
  FaultKind kind = FaultKind::kReaderError;
  uint32_t writerCode = 0;
  int32_t repairStatus = 0;
  int32_t readerCode = -1;
  uint32_t windowsError = 0;
  std::u16string message;
};

// The next `count` calls of `function` (e.g. "QUIL_ReadFile",
// "ClipWriter::Write", "QUILWriter::DeleteClipFile", "DeviceIoControl")
// fail with the fault. The driver also answers to "CreateFile(device)" (the
// device open) and to "DeviceIoControl(GLYSCTL_...)" for one control code.
QUIL_EMULATOR_API void failNext(const std::string& function, uint32_t count, const Fault& fault);

struct JournalEntry {
  std::string function;  // e.g. "QUIL_NotifyCreateFile"
  uint32_t status = 0;
  std::u16string path;     // path or label
  std::u16string newPath;  // the target of a move
  std::vector<uint8_t> bytes;  // the alias bytes of QUIL_NotifyVirtualAlias
};

// Fault sweeps. Every sibling call that consults the fault table (every
// entry point of the reader, the writer and the driver) is one numbered
// call, counted from the last reset(). A test records the names of the
// calls of a clean run, then makes exactly the N-th call fail.
QUIL_EMULATOR_API void recordCalls(bool on);
QUIL_EMULATOR_API std::vector<std::string> takeCalls();
QUIL_EMULATOR_API void failCallNumber(uint64_t n, const Fault& fault);
// Kill sweeps: the process kills itself with SIGKILL as its N-th call
// begins, as a process killed (or a machine losing power) at that point.
QUIL_EMULATOR_API void dieAtCallNumber(uint64_t n);

// Host faults: the next `count` host calls of a kind fail with the errno
// `error`, as a host disc that fails or fills under the emulated one would:
// "write" (a write of a disc file's bytes) and "sync" (the flush of the
// disc's file system).
QUIL_EMULATOR_API void failHostCalls(const std::string& call, int error, uint32_t count = 1);
// Used by the sibling libraries at those calls: the errno pending for the
// kind, consumed by asking; 0 when none.
QUIL_EMULATOR_API int takeHostFault(const char* call);

// Reads and clears the journal of notification calls.
QUIL_EMULATOR_API std::vector<JournalEntry> takeJournal();

// Forgets every pending fault, the journal, the call count and log, and the
// driver's state.
QUIL_EMULATOR_API void reset();

// The driver's state, as a test sees it.
struct DriverState {
  uint32_t registeredProcesses = 0;
  uint32_t privilegedEntries = 0;  // times privileged mode was entered
  bool privileged = false;
  uint32_t dirtyMarks = 0;
  uint32_t lastFlushPolicy = 0;
};
QUIL_EMULATOR_API DriverState driverState();

// Used by the sibling libraries themselves: the fault pending for a call, if
// any, consumed by asking.
QUIL_EMULATOR_API bool takeFault(const char* function, Fault& fault);

// Records a notification call.
QUIL_EMULATOR_API void recordNotification(JournalEntry entry);

// Why the file at `path` cannot be read as a disc image, in words (for
// example "no anchor volume descriptor at sector 256"); empty when it can.
// What the tools print where the library can give only its code.
QUIL_EMULATOR_API std::string imageProblem(const std::string& path);

}  // namespace quil::emulator
