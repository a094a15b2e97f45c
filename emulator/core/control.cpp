// Fault injection, the journal of notification calls, and the driver's
// state: the process-wide state of the emulator, shared by both sibling
// libraries through this one shared library.
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

bool takeFault(const char* function, Fault& fault) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  const auto it = s.faults.find(function);
  if (it == s.faults.end() || it->second.empty()) return false;
  PendingFault& p = it->second.front();
  fault = p.fault;
  if (--p.remaining == 0) it->second.pop_front();
  return true;
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
}

}  // namespace quil::emulator
