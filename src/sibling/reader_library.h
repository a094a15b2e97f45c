// The reader library as a table of operations. The core calls the reader
// through this table so that a test can put a recording fake in its place
// and assert the exact order of calls, evictions and reopen positions.
#pragma once

#include <cstdint>

#include "quil/quilcoreapi.h"
#include "quil/sibling/quilreader.h"

namespace quil::sibling {

struct ReaderLibrary {
  int32_t (*createFile)(int32_t volume, const QUILCHAR* path, uint32_t access, uint32_t share, void* security,
                        uint32_t disposition, uint32_t flags, void* extra);
  int32_t (*closeHandle)(int32_t file);
  int32_t (*readFile)(int32_t file, void* buffer, uint32_t size, uint32_t* done);
  int32_t (*setFilePointer)(int32_t file, int64_t distance, int64_t* position, uint32_t method);
  int32_t (*getLastErrorWithMessage)(QUILCHAR* buffer, uint32_t length, uint32_t* textLength);
  void (*setLastErrorWithMessage)(int32_t code, const QUILCHAR* message);
  // The rest of the reader's functions, for the volume session. They point
  // at the real library unless a test puts fakes in their place.
  decltype(&QUIL_CreateVolume) createVolume = &QUIL_CreateVolume;
  decltype(&QUIL_CloseVolume) closeVolume = &QUIL_CloseVolume;
  decltype(&QUIL_WriteFile) writeFile = &QUIL_WriteFile;
  decltype(&QUIL_GetFileSize) getFileSize = &QUIL_GetFileSize;
  decltype(&QUIL_SetFileSize) setFileSize = &QUIL_SetFileSize;
  decltype(&QUIL_GetFileType) getFileType = &QUIL_GetFileType;
  decltype(&QUIL_GetClipId) getClipId = &QUIL_GetClipId;
  decltype(&QUIL_GetFileAttributes) getFileAttributes = &QUIL_GetFileAttributes;
  decltype(&QUIL_FindFirstFile) findFirstFile = &QUIL_FindFirstFile;
  decltype(&QUIL_FindNextFile) findNextFile = &QUIL_FindNextFile;
  decltype(&QUIL_FindClose) findClose = &QUIL_FindClose;
  decltype(&QUIL_GetVolumeCapacity) getVolumeCapacity = &QUIL_GetVolumeCapacity;
  decltype(&QUIL_GetVolumeLabel) getVolumeLabel = &QUIL_GetVolumeLabel;
  decltype(&QUIL_GetNRTdata) getNRTdata = &QUIL_GetNRTdata;
  decltype(&QUIL_GetNRTinfo) getNRTinfo = &QUIL_GetNRTinfo;
  decltype(&QUIL_NotifyCreateFile) notifyCreateFile = &QUIL_NotifyCreateFile;
  decltype(&QUIL_NotifyCreateDirectory) notifyCreateDirectory = &QUIL_NotifyCreateDirectory;
  decltype(&QUIL_NotifyDeleteFile) notifyDeleteFile = &QUIL_NotifyDeleteFile;
  decltype(&QUIL_NotifySetFileAttribute) notifySetFileAttribute = &QUIL_NotifySetFileAttribute;
  decltype(&QUIL_NotifySetVolumeLabel) notifySetVolumeLabel = &QUIL_NotifySetVolumeLabel;
  decltype(&QUIL_NotifyMoveFile) notifyMoveFile = &QUIL_NotifyMoveFile;
  decltype(&QUIL_NotifyVirtualAlias) notifyVirtualAlias = &QUIL_NotifyVirtualAlias;
};

// The real reader library.
const ReaderLibrary& readerLibrary();

}  // namespace quil::sibling
