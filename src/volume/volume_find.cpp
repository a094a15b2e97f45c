// Enumeration and the reader pass-through queries: the reader library lists
// and answers, the volume keeps its enumeration handles among the file
// handles and takes the reader's last error over when it fails.
#include <string>

#include "quil/sibling/quilreader.h"
#include "volume/volume_handle.h"
#include "api/find_data_fields.h"
#include "volume/volume_detail.h"

namespace quil::volume {

namespace {

using namespace detail;
using namespace quil::files;


// A path as the caller wrote it, with every '/' made a '\'.
std::u16string backslashed(const QUILCHAR* path) {
  std::u16string out = path != nullptr ? std::u16string(path) : std::u16string();
  for (char16_t& c : out) {
    if (c == u'/') c = u'\\';
  }
  return out;
}

// The reader's answer for an entry, or the NULL variant.
void traceEntry(const char16_t* function, int32_t line, bool first, int32_t result, const FindData* d) {
  if (d == nullptr) {
    if (first) {
      trace(function, line, u"QUIL_FindFirstFile return=%ld (NULL)\n", result);
    } else {
      trace(function, line, u"QUIL_FindNextFile return=%ld (NULL)\n", result);
    }
    return;
  }
  quil::api::withFindDataFields(*d, [&](const auto&... fields) {
    if (first) {
      trace(function, line,
            u"QUIL_FindFirstFile return=%ld (\"%.*s\", 0x%08X, (%hd,%hd/%hd/%hd %hd:%hd:%hd.%03hd), "
            u"(%hd,%hd/%hd/%hd %hd:%hd:%hd.%03hd), (%hd,%hd/%hd/%hd %hd:%hd:%hd.%03hd), %lld)\n",
            result, fields...);
    } else {
      trace(function, line,
            u"QUIL_FindNextFile return=%ld (\"%.*s\", 0x%08X, (%hd,%hd/%hd/%hd %hd:%hd:%hd.%03hd), "
            u"(%hd,%hd/%hd/%hd %hd:%hd:%hd.%03hd), (%hd,%hd/%hd/%hd %hd:%hd:%hd.%03hd), %lld)\n",
            result, fields...);
    }
  });
}

}  // namespace

int32_t VolumeHandle::findFirstFile(int32_t volume, const QUILCHAR* pattern, FindData* data) {
  constexpr auto fn = u"VolumeHandle::findFirstFile";
  if (!checkVolume(volume)) return -1;
  const std::u16string path = backslashed(pattern);
  trace(fn, __LINE__, u"QUIL_FindFirstFile(%ld, \"%ls\", %p)\n", readerVolume_, path, ptr(data));
  const int32_t found = reader_->findFirstFile(readerVolume_, path.c_str(), data);
  traceEntry(fn, __LINE__, true, found, data);
  if (found == -1) {
    quil::api::takeOverReaderError();
    return -1;
  }
  // The reader's enumeration is ended again should no record be made.
  UndoUnlessCommitted endFind([&] {
    trace(fn, __LINE__, u"QUIL_FindClose(%ld)\n", found);
    const int32_t closed = reader_->findClose(found);
    trace(fn, __LINE__, u"QUIL_FindClose return=%ld\n", closed);
  });
  int32_t number = -1;
  HandleRecord* record = newHandle(number);
  if (record == nullptr) return -1;
  endFind.commit();
  record->type = kEnumeration;
  record->readerHandle = found;
  return number;
}

int32_t VolumeHandle::findNextFile(int32_t handle, FindData* data) {
  constexpr auto fn = u"VolumeHandle::findNextFile";
  HandleRecord* record = findHandle(handle);
  if (record == nullptr) return 0;
  if (record->type != kEnumeration) {
    quil::api::setLastError(kInvalidHandle);
    return 0;
  }
  trace(fn, __LINE__, u"QUIL_FindNextFile(%ld, %p)\n", record->readerHandle, ptr(data));
  const int32_t result = reader_->findNextFile(record->readerHandle, data);
  traceEntry(fn, __LINE__, false, result, data);
  return readerResult(result);
}

int32_t VolumeHandle::findClose(int32_t handle) {
  constexpr auto fn = u"VolumeHandle::findClose";
  HandleRecord* record = findHandle(handle);
  if (record == nullptr) return 0;
  if (record->type != kEnumeration) {
    quil::api::setLastError(kInvalidHandle);
    return 0;
  }
  trace(fn, __LINE__, u"QUIL_FindClose(%lu)\n", static_cast<uint32_t>(record->readerHandle));
  const int32_t result = reader_->findClose(record->readerHandle);
  trace(fn, __LINE__, u"QUIL_FindClose return=%ld\n", result);
  readerResult(result);
  // The number is given up whatever the reader said.
  handles_->erase(handle);
  return result;
}

int32_t VolumeHandle::getFileAttributes(int32_t volume, const QUILCHAR* path, uint32_t* attributes) {
  constexpr auto fn = u"VolumeHandle::getFileAttributes";
  if (!checkVolume(volume)) return 0;
  const std::u16string converted = backslashed(path);
  trace(fn, __LINE__, u"QUIL_GetFileAttributes(%ld, \"%ls\", %p)\n", readerVolume_, converted, ptr(attributes));
  const int32_t result = reader_->getFileAttributes(readerVolume_, converted.c_str(), attributes);
  if (attributes != nullptr) {
    trace(fn, __LINE__, u"QUIL_GetFileAttributes return=%ld (0x%08X)\n", result, *attributes);
  } else {
    trace(fn, __LINE__, u"QUIL_GetFileAttributes return=%ld (NULL)\n", result);
  }
  return readerResult(result);
}

int32_t VolumeHandle::getVolumeLabel(int32_t volume, QUILCHAR* buffer, uint32_t bufferLength, uint32_t* length) {
  constexpr auto fn = u"VolumeHandle::getVolumeLabel";
  if (!checkVolume(volume)) return 0;
  trace(fn, __LINE__, u"QUIL_GetVolumeLabel(%ld, %p, %lu, %p)\n", readerVolume_, ptr(buffer), bufferLength,
        ptr(length));
  const int32_t result = reader_->getVolumeLabel(readerVolume_, buffer, bufferLength, length);
  // The label is printed to at most the buffer's size: it need not end in it.
  const int32_t precision = static_cast<int32_t>(std::min<uint32_t>(bufferLength, INT32_MAX));
  if (buffer != nullptr && length != nullptr) {
    trace(fn, __LINE__, u"QUIL_GetVolumeLabel return=%ld (\"%.*s\", %lu)\n", result, precision,
          static_cast<const char16_t*>(buffer), *length);
  } else if (buffer != nullptr) {
    trace(fn, __LINE__, u"QUIL_GetVolumeLabel return=%ld (\"%.*s\", NULL)\n", result, precision,
          static_cast<const char16_t*>(buffer));
  } else if (length != nullptr) {
    trace(fn, __LINE__, u"QUIL_GetVolumeLabel return=%ld (NULL, %lu)\n", result, *length);
  } else {
    trace(fn, __LINE__, u"QUIL_GetVolumeLabel return=%ld (NULL, NULL)\n", result);
  }
  return readerResult(result);
}

int32_t VolumeHandle::getVolumeCapacity(int32_t volume, uint64_t* first, uint64_t* second) {
  constexpr auto fn = u"VolumeHandle::getVolumeCapacity";
  if (!checkVolume(volume)) return 0;
  trace(fn, __LINE__, u"QUIL_GetVolumeCapacity(%ld, %p, %p)\n", readerVolume_, ptr(first), ptr(second));
  const int32_t result = reader_->getVolumeCapacity(readerVolume_, first, second);
  if (first != nullptr && second != nullptr) {
    trace(fn, __LINE__, u"QUIL_GetVolumeCapacity return=%ld (%llu, %llu)\n", result, *first, *second);
  } else if (first != nullptr) {
    trace(fn, __LINE__, u"QUIL_GetVolumeCapacity return=%ld (%llu, NULL)\n", result, *first);
  } else if (second != nullptr) {
    trace(fn, __LINE__, u"QUIL_GetVolumeCapacity return=%ld (NULL, %llu)\n", result, *second);
  } else {
    trace(fn, __LINE__, u"QUIL_GetVolumeCapacity return=%ld (NULL, NULL)\n", result);
  }
  return readerResult(result);
}

// The metadata queries leave the last error alone when they fail.
int32_t VolumeHandle::getNRTdata(int32_t volume, const NrtDataRequest* request, NrtResult* result) {
  constexpr auto fn = u"VolumeHandle::getNRTdata";
  if (!checkVolume(volume)) return 0;
  if (request != nullptr) {
    trace(fn, __LINE__, u"QUIL_GetNRTdata(%ld, (%llu, %lu), %p)", readerVolume_, request->value1, request->value2,
          ptr(result));
  } else {
    trace(fn, __LINE__, u"QUIL_GetNRTdata(%ld, NULL, %p)", readerVolume_, ptr(result));
  }
  const int32_t got = reader_->getNRTdata(readerVolume_, request, result);
  if (result != nullptr) {
    trace(fn, __LINE__, u"QUIL_GetNRTdata return=%ld (%lu, %u, %p)", got, result->value1, result->value2,
          ptr(result->pointer));
  } else {
    trace(fn, __LINE__, u"QUIL_GetNRTdata return=%ld", got);
  }
  return got;
}

int32_t VolumeHandle::getNRTinfo(int32_t volume, const NrtInfoRequest* request, NrtResult* result) {
  constexpr auto fn = u"VolumeHandle::getNRTinfo";
  if (!checkVolume(volume)) return 0;
  if (request != nullptr) {
    trace(fn, __LINE__, u"QUIL_GetNRTinfo(%ld, (%lu, %lu), %p)", readerVolume_, request->value1, request->value2,
          ptr(result));
  } else {
    trace(fn, __LINE__, u"QUIL_GetNRTinfo(%ld, NULL, %p)", readerVolume_, ptr(result));
  }
  const int32_t got = reader_->getNRTinfo(readerVolume_, request, result);
  if (result != nullptr) {
    trace(fn, __LINE__, u"QUIL_GetNRTinfo return=%ld (%lu, %u, %p)", got, result->value1, result->value2,
          ptr(result->pointer));
  } else {
    trace(fn, __LINE__, u"QUIL_GetNRTinfo return=%ld", got);
  }
  return got;
}

}  // namespace quil::volume
