// Fault injection, the journal of notification calls, and the driver's
// state: the process-wide state of the emulator, shared by both sibling
// libraries through this one shared library.
#include <signal.h>
#include <unistd.h>

#include <deque>
#include <map>
#include <mutex>

#include "quil/emulator_control.h"

namespace quil::emulator {

namespace {

struct PendingFault {
  uint32_t remaining;
  Fault fault;
};

struct ControlState {
  std::mutex mutex;
  std::map<std::string, std::deque<PendingFault>> faults;
  std::vector<JournalEntry> journal;
  DriverState driver;
  uint64_t calls = 0;            // numbered calls since the last reset
  bool recording = false;
  std::vector<std::string> callLog;
  uint64_t failingCall = 0;      // 0: none armed
  uint64_t dyingCall = 0;        // the call at which the process kills itself; 0: none
  Fault failingFault;
  std::map<std::string, std::deque<int>> hostFaults;  // errno values by kind of host call
};

ControlState& state() {
  // Never destroyed: faults are asked for by sibling calls made from other
  // libraries' static destructors at process exit.
  static ControlState* s = new ControlState;
  return *s;
}

}  // namespace

void failNext(const std::string& function, uint32_t count, const Fault& fault) {
  if (count == 0) return;
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.faults[function].push_back(PendingFault{count, fault});
}

void recordCalls(bool on) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.recording = on;
  if (on) s.callLog.clear();
}

std::vector<std::string> takeCalls() {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::vector<std::string> out;
  out.swap(s.callLog);
  return out;
}

void failCallNumber(uint64_t n, const Fault& fault) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.failingCall = n;
  s.failingFault = fault;
}

void dieAtCallNumber(uint64_t n) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.dyingCall = n;
}

bool takeFault(const char* function, Fault& fault) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  ++s.calls;
  if (s.recording) s.callLog.emplace_back(function);
  // As a process killed at this point: nothing of the call happens, and no
  // destructor or exit handler runs.
  if (s.dyingCall != 0 && s.calls == s.dyingCall) ::kill(::getpid(), SIGKILL);
  if (s.failingCall != 0 && s.calls == s.failingCall) {
    fault = s.failingFault;
    s.failingCall = 0;
    return true;
  }
  const auto it = s.faults.find(function);
  if (it == s.faults.end() || it->second.empty()) return false;
  PendingFault& p = it->second.front();
  fault = p.fault;
  if (--p.remaining == 0) it->second.pop_front();
  return true;
}

void failHostCalls(const std::string& call, int error, uint32_t count) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.hostFaults[call].insert(s.hostFaults[call].end(), count, error);
}

int takeHostFault(const char* call) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  const auto it = s.hostFaults.find(call);
  if (it == s.hostFaults.end() || it->second.empty()) return 0;
  const int error = it->second.front();
  it->second.pop_front();
  return error;
}

void recordNotification(JournalEntry entry) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.journal.push_back(std::move(entry));
}

std::vector<JournalEntry> takeJournal() {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::vector<JournalEntry> out;
  out.swap(s.journal);
  return out;
}

DriverState driverState() {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.driver;
}

// For the driver stand-in.
void updateDriverState(void (*change)(DriverState&, uint32_t), uint32_t value) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  change(s.driver, value);
}

void reset() {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.faults.clear();
  s.journal.clear();
  s.driver = DriverState{};
  s.calls = 0;
  s.recording = false;
  s.callLog.clear();
  s.failingCall = 0;
  s.dyingCall = 0;
  s.hostFaults.clear();
}

}  // namespace quil::emulator
