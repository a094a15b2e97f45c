#include "files/allocation_fault.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <string>

namespace quil::files {

void allocationPoint() {
  const char* armed = std::getenv("QUIL_TEST_FAIL_ALLOCATION");
  if (armed == nullptr || *armed == '\0') return;
  static std::mutex& mutex = *new std::mutex;
  static std::string& seen = *new std::string;
  static unsigned long long passed = 0;
  std::lock_guard<std::mutex> lock(mutex);
  if (seen != armed) {
    seen = armed;
    passed = 0;
  }
  if (++passed == std::strtoull(armed, nullptr, 10)) throw std::bad_alloc();
}

}  // namespace quil::files
