#include "volume/volume_handle.h"

namespace quil::volume {

namespace {
constexpr int32_t kInvalidHandle = -4;
constexpr int32_t kInvalidParameter = -5;
constexpr int32_t kAlreadyCreated = -3001;
constexpr int32_t kNotImplemented = -9999;
constexpr int32_t kNoHandle = -1;

// Built at load, before any export can run, and destroyed at unload.
VolumeHandle gVolume;
}  // namespace

VolumeHandle& VolumeHandle::instance() { return gVolume; }

void VolumeHandle::setVolumeStatus() { volumeStatus_ = quil::api::lastErrorRecord().code; }

void VolumeHandle::clearLastError() { quil::api::clearLastError(); }

bool VolumeHandle::checkVolume(int32_t volume) const {
  if (volume == 0 && created_) return true;
  quil::api::setLastError(kInvalidHandle);
  return false;
}

bool VolumeHandle::checkHandle(int32_t /*handle*/) const {
  // No volume open means no handle table, so no handle can be known.
  if (created_) return true;
  quil::api::setLastError(kInvalidHandle);
  return false;
}

int32_t VolumeHandle::notImplemented(int32_t failure) {
  quil::api::setLastError(kNotImplemented);
  return failure;
}

int32_t VolumeHandle::createVolume(const QUILCHAR* rootPath, const _Volume_Param* param) {
  if (created_) {
    quil::api::setLastError(kAlreadyCreated);
    return -1;
  }
  (void)param;
  rootPath_ = rootPath != nullptr ? std::u16string(rootPath) : std::u16string();
  // Opening a volume needs the disc emulator's sibling libraries.
  quil::api::setLastError(kNotImplemented);
  setVolumeStatus();
  return -1;
}

int32_t VolumeHandle::closeVolume(int32_t volume) {
  if (!checkVolume(volume)) return 0;
  return notImplemented(0);
}

int32_t VolumeHandle::getVolumeInformation(int32_t volume, uint32_t* status, uint32_t* writeProtectFlag) {
  if (created_ && volume != 0) {
    quil::api::setLastError(kInvalidHandle);
    return 0;
  }
  if (status == nullptr || writeProtectFlag == nullptr) {
    quil::api::setLastError(kInvalidParameter);
    return 0;
  }
  *status = static_cast<uint32_t>(volumeStatus_);
  *writeProtectFlag = writeProtectFlag_;
  return -1;
}

#define QUIL_VOLUME_OP(failure)        \
  do {                                       \
    if (!checkVolume(volume)) return failure; \
    return notImplemented(failure);          \
  } while (0)

#define QUIL_HANDLE_OP(failure)               \
  do {                                        \
    if (!checkHandle(handle)) return failure; \
    return notImplemented(failure);           \
  } while (0)

int32_t VolumeHandle::flushVolume(int32_t volume) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::getVolumeCapacity(int32_t volume, uint64_t*, uint64_t*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::getVolumeLabel(int32_t volume, QUILCHAR*, uint32_t, uint32_t*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::setVolumeLabel(int32_t volume, const QUILCHAR*, uint32_t) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::getNRTdata(int32_t volume, const NrtDataRequest*, NrtResult*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::getNRTinfo(int32_t volume, const NrtInfoRequest*, NrtResult*) { QUIL_VOLUME_OP(0); }

int32_t VolumeHandle::createFile(int32_t volume, const QUILCHAR*, uint32_t, uint32_t, void*, uint32_t, uint32_t, void*,
                                 uint32_t&) {
  QUIL_VOLUME_OP(kNoHandle);
}
int32_t VolumeHandle::deleteFile(int32_t volume, const QUILCHAR*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::moveFile(int32_t volume, const QUILCHAR*, const QUILCHAR*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::moveFileEx(int32_t volume, const QUILCHAR*, const QUILCHAR*, uint32_t) {
  QUIL_VOLUME_OP(0);
}
int32_t VolumeHandle::getFileAttributes(int32_t volume, const QUILCHAR*, uint32_t*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::setFileAttributes(int32_t volume, const QUILCHAR*, uint32_t) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::createDirectory(int32_t volume, const QUILCHAR*, void*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::removeDirectory(int32_t volume, const QUILCHAR*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::findFirstFile(int32_t volume, const QUILCHAR*, QUIL_FIND_DATA*) {
  QUIL_VOLUME_OP(kNoHandle);
}

int32_t VolumeHandle::closeHandle(int32_t handle, uint32_t& openKind, uint32_t& /*stopReason*/) {
  openKind = 0;  // unknown handle: no open kind to report
  QUIL_HANDLE_OP(0);
}
int32_t VolumeHandle::deleteFileWithHandle(int32_t handle) { QUIL_HANDLE_OP(0); }
int32_t VolumeHandle::readFile(int32_t handle, void*, uint32_t, uint32_t*, std::u16string& path) {
  path.clear();
  QUIL_HANDLE_OP(0);
}
int32_t VolumeHandle::writeFile(int32_t handle, const void*, uint32_t, uint32_t*) { QUIL_HANDLE_OP(0); }
int32_t VolumeHandle::setFilePointer(int32_t handle, int64_t, int64_t*, uint32_t) { QUIL_HANDLE_OP(0); }
int32_t VolumeHandle::getFileSize(int32_t handle, int64_t*) { QUIL_HANDLE_OP(0); }
int32_t VolumeHandle::setFileSize(int32_t handle, int64_t) { QUIL_HANDLE_OP(0); }
int32_t VolumeHandle::setEndOfFile(int32_t handle) { QUIL_HANDLE_OP(0); }
int32_t VolumeHandle::setFileTime(int32_t handle, int64_t, int64_t, int64_t) { QUIL_HANDLE_OP(0); }
int32_t VolumeHandle::getFileType(int32_t handle, uint32_t*) { QUIL_HANDLE_OP(0); }
int32_t VolumeHandle::getClipId(int32_t handle, QUILCHAR*, uint32_t, uint32_t*) { QUIL_HANDLE_OP(0); }
int32_t VolumeHandle::isHandleReadable(int32_t handle, int32_t*) { QUIL_HANDLE_OP(0); }
int32_t VolumeHandle::findNextFile(int32_t handle, QUIL_FIND_DATA*) { QUIL_HANDLE_OP(0); }
int32_t VolumeHandle::findClose(int32_t handle) { QUIL_HANDLE_OP(0); }

}  // namespace quil::volume
