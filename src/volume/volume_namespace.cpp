// The namespace and metadata operations: enumeration, delete and rename,
// attributes and locks, directories, label, clip id, metadata, capacity and
// flush. Their bodies come with the namespace work; until then an open
// volume answers "Not implemented." after the usual handle checks.
#include "volume/volume_handle.h"

namespace quil::volume {

#define QUIL_VOLUME_OP(failure)               \
  do {                                        \
    if (!checkVolume(volume)) return failure; \
    return notImplemented(failure);           \
  } while (0)

#define QUIL_HANDLE_OP(failure)                        \
  do {                                                 \
    if (findHandle(handle) == nullptr) return failure; \
    return notImplemented(failure);                    \
  } while (0)

int32_t VolumeHandle::flushVolume(int32_t volume) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::getVolumeCapacity(int32_t volume, uint64_t*, uint64_t*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::getVolumeLabel(int32_t volume, QUILCHAR*, uint32_t, uint32_t*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::setVolumeLabel(int32_t volume, const QUILCHAR*, uint32_t) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::getNRTdata(int32_t volume, const NrtDataRequest*, NrtResult*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::getNRTinfo(int32_t volume, const NrtInfoRequest*, NrtResult*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::deleteFile(int32_t volume, const QUILCHAR*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::moveFile(int32_t volume, const QUILCHAR*, const QUILCHAR*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::moveFileEx(int32_t volume, const QUILCHAR*, const QUILCHAR*, uint32_t) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::getFileAttributes(int32_t volume, const QUILCHAR*, uint32_t*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::setFileAttributes(int32_t volume, const QUILCHAR*, uint32_t) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::createDirectory(int32_t volume, const QUILCHAR*, void*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::removeDirectory(int32_t volume, const QUILCHAR*) { QUIL_VOLUME_OP(0); }
int32_t VolumeHandle::findFirstFile(int32_t volume, const QUILCHAR*, QUIL_FIND_DATA*) { QUIL_VOLUME_OP(-1); }
int32_t VolumeHandle::findNextFile(int32_t handle, QUIL_FIND_DATA*) { QUIL_HANDLE_OP(0); }
int32_t VolumeHandle::findClose(int32_t handle) { QUIL_HANDLE_OP(0); }
int32_t VolumeHandle::getClipId(int32_t handle, QUILCHAR*, uint32_t, uint32_t*) { QUIL_HANDLE_OP(0); }

}  // namespace quil::volume
