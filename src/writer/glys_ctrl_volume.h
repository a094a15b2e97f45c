// The disc's file-system driver, reached through the volume device of the
// drive letter. A GlysCtrlVolume is short-lived, on the stack of the step
// that needs the driver; its destructor always leaves privileged mode and
// closes the device, whatever path the step took. No operation throws:
// failures are reported by an information line and the result.
#pragma once

#include <cstdint>
#include <string>

#include "quil/sibling/quildriver.h"

namespace quil::writer {

class GlysCtrlVolume {
 public:
  using MountInformation = uint8_t[QUIL_VOLUME_MOUNT_INFORMATION_SIZE];
  using DeviceInformation = uint8_t[QUIL_DEVICE_INFORMATION_SIZE];

  // Opens nothing yet.
  explicit GlysCtrlVolume(std::u16string root) : root_(std::move(root)) {}
  ~GlysCtrlVolume();
  GlysCtrlVolume(const GlysCtrlVolume&) = delete;
  GlysCtrlVolume& operator=(const GlysCtrlVolume&) = delete;

  // Opens "\\.\X:" for the root's first character.
  bool openVolumeHandle();
  bool getVolumeMountInformation(MountInformation& out);
  bool getDeviceInformation(DeviceInformation& out);
  bool enterPrivilegedMode();
  bool markVolumeDirty(uint32_t flushPolicy);
  bool exitPrivilegedMode();

  // Opens the device of root, registers the process as privileged, closes.
  static bool registerPrivilegedProcess(const std::u16string& root);

  bool privileged() const { return privileged_; }

 private:
  bool control(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize);

  std::u16string root_;
  bool privileged_ = false;
  int32_t handle_ = -1;
};

// Fields of the mount and device information.
bool mountNotWritable(const GlysCtrlVolume::MountInformation& mount);
uint8_t mountMediumType(const GlysCtrlVolume::MountInformation& mount);
// Bytes 24 to 27 as four decimal digits, most significant first, in 32-bit
// unsigned arithmetic (a byte that is not a digit wraps, as it always did).
uint32_t firmwareRevision(const GlysCtrlVolume::DeviceInformation& device);

}  // namespace quil::writer
