// The drive's file-system driver: the volume device of a drive letter and
// its six control codes, answered from the disc's medium description.
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "disc.h"
#include "windows_errors.h"
#include "quil/emulator_control.h"
#include "quil/platform_error.h"
#include "quil/sibling/quildriver.h"

namespace quil::emulator {
void updateDriverState(void (*change)(DriverState&, uint32_t), uint32_t value);
}

namespace {

using quil::emulator::DriverState;

using namespace quil::emulator::winerror;
constexpr uint32_t kErrorInvalidFunction = kWinInvalidFunction;
constexpr uint32_t kErrorFileNotFound = kWinFileNotFound;
constexpr uint32_t kErrorInvalidHandle = kWinInvalidHandle;
constexpr uint32_t kErrorInvalidParameter = kWinInvalidParameter;
constexpr uint32_t kErrorInsufficientBuffer = kWinInsufficientBuffer;

struct Devices {
  std::mutex mutex;
  std::map<int32_t, std::string> open;  // handle -> disc folder
  int32_t next = 1;
};

Devices& devices() {
  static Devices* d = new Devices;  // never destroyed, like the rest of the emulator's state
  return *d;
}

int32_t fail(uint32_t windowsError) {
  QUILPlatform_SetLastError(windowsError);
  return 0;
}

bool injected(const char* function) {
  quil::emulator::Fault f;
  if (!quil::emulator::takeFault(function, f)) return false;
  QUILPlatform_SetLastError(f.windowsError != 0 ? f.windowsError : kErrorInvalidFunction);
  return true;
}

const char* codeName(uint32_t code) {
  switch (code) {
    case GLYSCTL_ENTER_PRIVILEGED_MODE: return "GLYSCTL_ENTER_PRIVILEGED_MODE";
    case GLYSCTL_EXIT_PRIVILEGED_MODE: return "GLYSCTL_EXIT_PRIVILEGED_MODE";
    case GLYSCTL_REGISTER_PRIVILEGED_PROCESS: return "GLYSCTL_REGISTER_PRIVILEGED_PROCESS";
    case GLYSCTL_MARK_VOLUME_DIRTY: return "GLYSCTL_MARK_VOLUME_DIRTY";
    case GLYSCTL_GET_DEVICE_INFORMATION: return "GLYSCTL_GET_DEVICE_INFORMATION";
    case GLYSCTL_GET_VOLUME_MOUNT_INFORMATION: return "GLYSCTL_GET_VOLUME_MOUNT_INFORMATION";
    default: return "unknown";
  }
}

}  // namespace

static int32_t openDevice(const QUILCHAR* deviceName) {
  if (injected("CreateFile(device)")) return -1;
  // "\\.\X:" and nothing else.
  if (deviceName == nullptr || std::char_traits<char16_t>::length(deviceName) != 6 || deviceName[0] != u'\\' ||
      deviceName[1] != u'\\' || deviceName[2] != u'.' || deviceName[3] != u'\\' || deviceName[5] != u':') {
    QUILPlatform_SetLastError(kErrorFileNotFound);
    return -1;
  }
  const auto folder = quil::emulator::discFolderOfDrive(deviceName[4]);
  if (!folder || !quil::emulator::MediumDescription::load(*folder)) {
    QUILPlatform_SetLastError(kErrorFileNotFound);
    return -1;
  }
  auto& d = devices();
  std::lock_guard<std::mutex> lock(d.mutex);
  const int32_t handle = d.next++;
  d.open[handle] = *folder;
  return handle;
}

static int32_t closeDevice(int32_t device) {
  auto& d = devices();
  std::lock_guard<std::mutex> lock(d.mutex);
  if (d.open.erase(device) == 0) return fail(kErrorInvalidHandle);
  return 1;
}

static int32_t control(int32_t device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                uint32_t outputSize, uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  std::string folder;
  {
    auto& d = devices();
    std::lock_guard<std::mutex> lock(d.mutex);
    const auto it = d.open.find(device);
    if (it == d.open.end()) return fail(kErrorInvalidHandle);
    folder = it->second;
  }
  // A fault for one control code ("DeviceIoControl(GLYSCTL_MARK_VOLUME_DIRTY)")
  // or for whichever code comes next ("DeviceIoControl").
  const std::string oneCode = std::string("DeviceIoControl(") + codeName(code) + ")";
  if (injected(oneCode.c_str()) || injected("DeviceIoControl")) return 0;
  const auto medium = quil::emulator::MediumDescription::load(folder);
  if (!medium) return fail(kErrorFileNotFound);
  switch (code) {
    case GLYSCTL_ENTER_PRIVILEGED_MODE:
      quil::emulator::updateDriverState([](DriverState& s, uint32_t) { s.privileged = true, ++s.privilegedEntries; }, 0);
      return 1;
    case GLYSCTL_EXIT_PRIVILEGED_MODE:
      quil::emulator::updateDriverState([](DriverState& s, uint32_t) { s.privileged = false; }, 0);
      return 1;
    case GLYSCTL_REGISTER_PRIVILEGED_PROCESS:
      quil::emulator::updateDriverState([](DriverState& s, uint32_t) { ++s.registeredProcesses; }, 0);
      return 1;
    case GLYSCTL_MARK_VOLUME_DIRTY: {
      if (input == nullptr || inputSize < 4) return fail(kErrorInvalidParameter);
      uint32_t policy = 0;
      std::memcpy(&policy, input, 4);
      quil::emulator::updateDriverState([](DriverState& s, uint32_t p) { ++s.dirtyMarks, s.lastFlushPolicy = p; },
                                        policy);
      return 1;
    }
    case GLYSCTL_GET_DEVICE_INFORMATION: {
      if (output == nullptr || outputSize < QUIL_DEVICE_INFORMATION_SIZE) return fail(kErrorInsufficientBuffer);
      auto* out = static_cast<unsigned char*>(output);
      std::memset(out, 0, QUIL_DEVICE_INFORMATION_SIZE);
      std::memcpy(out, "QUIL EMULATED DRIVE", 19);
      std::string digits = medium->firmware;
      digits.resize(4, '0');
      std::memcpy(out + 24, digits.data(), 4);  // four decimal digits, most significant first
      if (returned != nullptr) *returned = QUIL_DEVICE_INFORMATION_SIZE;
      return 1;
    }
    case GLYSCTL_GET_VOLUME_MOUNT_INFORMATION: {
      if (output == nullptr || outputSize < QUIL_VOLUME_MOUNT_INFORMATION_SIZE) return fail(kErrorInsufficientBuffer);
      auto* out = static_cast<unsigned char*>(output);
      std::memset(out, 0, QUIL_VOLUME_MOUNT_INFORMATION_SIZE);
      const uint32_t notWritable = medium->writable ? 0 : 1;
      std::memcpy(out + 4, &notWritable, 4);
      out[12] = medium->mediumTypeCode();
      if (returned != nullptr) *returned = QUIL_VOLUME_MOUNT_INFORMATION_SIZE;
      return 1;
    }
    default:
      return fail(kErrorInvalidFunction);
  }
}

// Nothing thrown inside (an allocation failure) may cross the C interface.
extern "C" int32_t QUILDriver_Open(const QUILCHAR* deviceName) {
  try {
    return openDevice(deviceName);
  } catch (...) {
    QUILPlatform_SetLastError(kErrorInvalidFunction);
    return -1;
  }
}

extern "C" int32_t QUILDriver_Close(int32_t device) {
  try {
    return closeDevice(device);
  } catch (...) {
    return fail(kErrorInvalidFunction);
  }
}

extern "C" int32_t QUILDriver_Control(int32_t device, uint32_t code, const void* input, uint32_t inputSize,
                                      void* output, uint32_t outputSize, uint32_t* returned) {
  try {
    return control(device, code, input, inputSize, output, outputSize, returned);
  } catch (...) {
    return fail(kErrorInvalidFunction);
  }
}
