#include "writer/glys_ctrl_volume.h"

#include <cstring>

#include "logging/trace.h"
#include "quil/platform_error.h"

namespace quil::writer {

namespace {

constexpr const char16_t* kSource = u"project/QUILCoreAPI/WriterVolume";

template <class... A>
void info(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(1, 2, 0, kSource, function, line, format, args...);
}

}  // namespace

GlysCtrlVolume::~GlysCtrlVolume() {
  if (privileged_) exitPrivilegedMode();
  if (handle_ != -1) {
    QUILDriver_Close(handle_);
    handle_ = -1;
  }
}

bool GlysCtrlVolume::openVolumeHandle() {
  // "\\.\E:" for a root that begins with E: the device of the drive letter.
  const std::u16string device = quil::format(u"\\\\.\\%c:", root_);
  handle_ = QUILDriver_Open(device.c_str());
  if (handle_ == -1) {
    info(u"GlysCtrlVolume::openVolumeHandle", __LINE__, u"CreateFile() error. GetLastError()=0x%08X",
         QUILPlatform_GetLastError());
    return false;
  }
  return true;
}

bool GlysCtrlVolume::control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                             uint32_t outputSize) {
  uint32_t returned = 0;
  return QUILDriver_Control(handle_, code, input, inputSize, output, outputSize, &returned) != 0;
}

bool GlysCtrlVolume::getVolumeMountInformation(MountInformation& out) {
  if (control(GLYSCTL_GET_VOLUME_MOUNT_INFORMATION, nullptr, 0, out, sizeof out)) return true;
  info(u"GlysCtrlVolume::getVolumeMountInformation", __LINE__,
       u"GLYSCTL_GET_VOLUME_MOUNT_INFORMATION error. GetLastError()=0x%08X", QUILPlatform_GetLastError());
  return false;
}

bool GlysCtrlVolume::getDeviceInformation(DeviceInformation& out) {
  if (control(GLYSCTL_GET_DEVICE_INFORMATION, nullptr, 0, out, sizeof out)) return true;
  info(u"GlysCtrlVolume::getDeviceInformation", __LINE__,
       u"GLYSCTL_GET_DEVICE_INFORMATION error. GetLastError()=0x%08X", QUILPlatform_GetLastError());
  return false;
}

bool GlysCtrlVolume::enterPrivilegedMode() {
  if (!control(GLYSCTL_ENTER_PRIVILEGED_MODE, nullptr, 0, nullptr, 0)) {
    info(u"GlysCtrlVolume::enterPrivilegedMode", __LINE__,
         u"GLYSCTL_ENTER_PRIVILEGED_MODE error. GetLastError()=0x%08X", QUILPlatform_GetLastError());
    return false;
  }
  privileged_ = true;
  info(u"GlysCtrlVolume::enterPrivilegedMode", __LINE__, u"GLYSCTL_ENTER_PRIVILEGED_MODE SUCCESS");
  return true;
}

bool GlysCtrlVolume::markVolumeDirty(uint32_t flushPolicy) {
  if (!control(GLYSCTL_MARK_VOLUME_DIRTY, &flushPolicy, sizeof flushPolicy, nullptr, 0)) {
    // This one line prints its error number in lower case.
    info(u"GlysCtrlVolume::markVolumeDirty", __LINE__, u"ERROR: GLYSCTL_MARK_VOLUME_DIRTY error GetLastError = %08x\n",
         QUILPlatform_GetLastError());
    return false;
  }
  info(u"GlysCtrlVolume::markVolumeDirty", __LINE__, u"GLYSCTL_MARK_VOLUME_DIRTY FsFlushPolicy=%u\n", flushPolicy);
  return true;
}

bool GlysCtrlVolume::exitPrivilegedMode() {
  // Cleared first: a failed exit is not retried by the release.
  privileged_ = false;
  if (!control(GLYSCTL_EXIT_PRIVILEGED_MODE, nullptr, 0, nullptr, 0)) {
    info(u"GlysCtrlVolume::exitPrivilegedMode", __LINE__,
         u"GLYSCTL_EXIT_PRIVILEGED_MODE error. GetLastError()=0x%08X", QUILPlatform_GetLastError());
    return false;
  }
  info(u"GlysCtrlVolume::exitPrivilegedMode", __LINE__, u"GLYSCTL_EXIT_PRIVILEGED_MODE SUCCESS");
  return true;
}

bool GlysCtrlVolume::registerPrivilegedProcess(const std::u16string& root) {
  GlysCtrlVolume device(root);
  if (!device.openVolumeHandle()) return false;
  if (!device.control(GLYSCTL_REGISTER_PRIVILEGED_PROCESS, nullptr, 0, nullptr, 0)) {
    info(u"GlysCtrlVolume::registerPrivilegedProcess", __LINE__,
         u"GLYSCTL_REGISTER_PRIVILEGED_PROCESS error. GetLastError()=0x%08X", QUILPlatform_GetLastError());
    return false;
  }
  return true;
}

bool mountNotWritable(const GlysCtrlVolume::MountInformation& mount) {
  uint32_t value = 0;
  std::memcpy(&value, mount + 4, sizeof value);
  return value != 0;
}

uint8_t mountMediumType(const GlysCtrlVolume::MountInformation& mount) { return mount[12]; }

uint32_t firmwareRevision(const GlysCtrlVolume::DeviceInformation& device) {
  const auto digit = [&](size_t i) { return static_cast<uint32_t>(device[i]) - 48u; };
  return 1000u * digit(24) + 100u * digit(25) + 10u * digit(26) + digit(27);
}

}  // namespace quil::writer
