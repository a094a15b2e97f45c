// The one volume session of the process. Every export calls one of its
// operations. A volume handle is valid only when it is 0 and a volume is
// open; file and find handles are looked up in the handle table, which
// exists only while a volume is open.
#pragma once

#include <cstdint>
#include <string>

#include "api/last_error.h"
#include "quil/quilcoreapi.h"

namespace quil::volume {

// Lets the volume record the code a volume opening left behind.
class SetVolumeStatusIf {
 public:
  virtual ~SetVolumeStatusIf() = default;
  virtual void setVolumeStatus() = 0;
};

class VolumeHandle : public SetVolumeStatusIf, public quil::api::ClearQUILLastErrorIf {
 public:
  VolumeHandle() = default;
  ~VolumeHandle() override = default;
  VolumeHandle(const VolumeHandle&) = delete;
  VolumeHandle& operator=(const VolumeHandle&) = delete;

  // The process's volume, built when the library loads.
  static VolumeHandle& instance();

  void setVolumeStatus() override;
  void clearLastError() override;

  // Volume.
  int32_t createVolume(const QUILCHAR* rootPath, const _Volume_Param* param);
  int32_t closeVolume(int32_t volume);
  int32_t getVolumeInformation(int32_t volume, uint32_t* status, uint32_t* writeProtectFlag);
  int32_t flushVolume(int32_t volume);
  int32_t getVolumeCapacity(int32_t volume, uint64_t* first, uint64_t* second);
  int32_t getVolumeLabel(int32_t volume, QUILCHAR* buffer, uint32_t bufferLength, uint32_t* length);
  int32_t setVolumeLabel(int32_t volume, const QUILCHAR* label, uint32_t length);
  int32_t getNRTdata(int32_t volume, const NrtDataRequest* request, NrtResult* result);
  int32_t getNRTinfo(int32_t volume, const NrtInfoRequest* request, NrtResult* result);

  // Files by path.
  int32_t createFile(int32_t volume, const QUILCHAR* path, uint32_t desiredAccess, uint32_t shareMode,
                     void* securityAttributes, uint32_t creationDisposition, uint32_t flagsAndAttributes, void* extra,
                     uint32_t& openKind);
  int32_t deleteFile(int32_t volume, const QUILCHAR* path);
  int32_t moveFile(int32_t volume, const QUILCHAR* from, const QUILCHAR* to);
  int32_t moveFileEx(int32_t volume, const QUILCHAR* from, const QUILCHAR* to, uint32_t flags);
  int32_t getFileAttributes(int32_t volume, const QUILCHAR* path, uint32_t* attributes);
  int32_t setFileAttributes(int32_t volume, const QUILCHAR* path, uint32_t attributes);
  int32_t createDirectory(int32_t volume, const QUILCHAR* path, void* security);
  int32_t removeDirectory(int32_t volume, const QUILCHAR* path);
  int32_t findFirstFile(int32_t volume, const QUILCHAR* pattern, QUIL_FIND_DATA* data);

  // Files by handle.
  int32_t closeHandle(int32_t handle, uint32_t& openKind, uint32_t& stopReason);
  int32_t deleteFileWithHandle(int32_t handle);
  int32_t readFile(int32_t handle, void* buffer, uint32_t size, uint32_t* read, std::u16string& path);
  int32_t writeFile(int32_t handle, const void* buffer, uint32_t size, uint32_t* written);
  int32_t setFilePointer(int32_t handle, int64_t distance, int64_t* newPosition, uint32_t moveMethod);
  int32_t getFileSize(int32_t handle, int64_t* size);
  int32_t setFileSize(int32_t handle, int64_t size);
  int32_t setEndOfFile(int32_t handle);
  int32_t setFileTime(int32_t handle, int64_t creation, int64_t lastAccess, int64_t lastWrite);
  int32_t getFileType(int32_t handle, uint32_t* type);
  int32_t getClipId(int32_t handle, QUILCHAR* buffer, uint32_t bufferLength, uint32_t* length);
  int32_t isHandleReadable(int32_t handle, int32_t* readable);
  int32_t findNextFile(int32_t handle, QUIL_FIND_DATA* data);
  int32_t findClose(int32_t handle);

  // The root path given to the last createVolume; its first character is
  // the drive letter of the operation log.
  const std::u16string& rootPath() const { return rootPath_; }
  bool created() const { return created_; }
  int32_t volumeStatus() const { return volumeStatus_; }

 private:
  // True when the volume handle names the open volume; else sets -4.
  bool checkVolume(int32_t volume) const;
  // True when the handle table knows the handle; else sets -4.
  bool checkHandle(int32_t handle) const;
  // The operations whose building blocks have not landed yet answer
  // "Not implemented." (-9999) on an open volume.
  static int32_t notImplemented(int32_t failure);

  bool created_ = false;
  uint32_t openFileCount_ = 0;
  bool freeNaming_ = false;
  uint32_t writeProtectFlag_ = 0;
  uint32_t clipProtectMode_ = 0;
  int32_t volumeStatus_ = -9999;
  int32_t readerVolume_ = -1;
  std::u16string rootPath_;
};

}  // namespace quil::volume
