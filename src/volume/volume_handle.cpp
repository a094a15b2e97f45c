#include "volume/volume_handle.h"

#include "quil/sibling/quilreader.h"
#include "volume/volume_detail.h"

namespace quil::volume {

namespace {

using namespace detail;

// Built at load, before any export can run, and destroyed at unload.
VolumeHandle gVolume;
}  // namespace

VolumeHandle& VolumeHandle::instance() { return gVolume; }

// The members free the tables, the clip read manager's entries and the
// writer volume; nothing here calls a sibling library to close anything.
VolumeHandle::~VolumeHandle() = default;

void VolumeHandle::setVolumeStatus() { volumeStatus_ = quil::api::lastErrorRecord().code; }

void VolumeHandle::clearLastError() { quil::api::clearLastError(); }

int32_t VolumeHandle::cacheOpen(const QUILCHAR* path) {
  return reader_->createFile(readerVolume_, path, 0x80000000u, 0, nullptr, 3, 0, nullptr);
}

int32_t VolumeHandle::cacheClose(int32_t file) { return reader_->closeHandle(file); }

int32_t VolumeHandle::cacheRead(int32_t file, void* buffer, uint32_t size, uint32_t* read) {
  return reader_->readFile(file, buffer, size, read);
}

int32_t VolumeHandle::cacheGetSize(int32_t file, int64_t* size) { return reader_->getFileSize(file, size); }

bool VolumeHandle::checkVolume(int32_t volume) const {
  if (volume == 0 && created_) return true;
  quil::api::setLastError(kInvalidHandle);
  return false;
}

quil::files::HandleRecord* VolumeHandle::findHandle(int32_t handle) const {
  quil::files::HandleRecord* record = created_ && handles_ ? handles_->find(handle) : nullptr;
  if (record == nullptr) quil::api::setLastError(kInvalidHandle);
  return record;
}

quil::files::HandleRecord* VolumeHandle::newHandle(int32_t& number) {
  const auto [n, record] = handles_->add();
  number = n;
  if (record == nullptr) {
    quil::api::setLastError(kInternal,
                            u"No handle numbers are left in this volume session: close the volume and open it again.");
  }
  return record;
}

const quil::files::FileNameManage& VolumeHandle::nameOf(const quil::files::HandleRecord& record) {
  return *record.openFile->fileName;
}

int32_t VolumeHandle::getVolumeInformation(int32_t volume, uint32_t* status, uint32_t* writeProtectFlag) {
  // With no volume open any handle is accepted, so that a caller can read
  // what a failed opening left.
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

}  // namespace quil::volume
