// The 36 exported functions. Each is a thin frame: an entry trace line with
// every argument, one operation of the volume object (or of the last-error
// store), an exit trace line with the result and the out-values (a NULL
// out-pointer is printed as NULL and never read), and, for what a user of
// the drive would notice, one operation-log line. No exception gets out.
#include <algorithm>
#include <climits>
#include <string>

#include "api/find_data_fields.h"
#include "api/last_error.h"
#include "api/operation_log.h"
#include "logging/trace.h"
#include "quil/quilcoreapi.h"
#include "volume/volume_handle.h"

namespace {

using quil::volume::VolumeHandle;
namespace oplog = quil::api::oplog;
using oplog::FileRole;

constexpr const char16_t* kSource = u"project/QUILCoreAPI/QUILCOREAPI";

template <class... A>
[[gnu::noinline]] void traceWritten(const char16_t* function, int32_t line, quil::FormatString<A...> format,
                                    const A&... args) {
  QUILLogger::writeTrace<A...>(2, 1, 0, kSource, function, line, format, args...);
}

// Every export makes two of these; at the usual level both are turned away
// right here, without a call.
template <class... A>
[[gnu::always_inline]] inline void trace(const char16_t* function, int32_t line, quil::FormatString<A...> format,
                                         const A&... args) {
  if (QUILLogger::detail::surelyRejected(1, 0)) return;
  traceWritten<A...>(function, line, format, args...);
}

// An operation-log line that carries the source position of the export.
template <class... A>
void errorLine(const char16_t* function, int32_t line, quil::FormatString<A...> format, const A&... args) {
  QUILLogger::writeTrace<A...>(1, 4, 0, kSource, function, line, format, args...);
}

VolumeHandle& volume() { return VolumeHandle::instance(); }

// Runs a frame so that nothing thrown inside (an allocation failure while
// building a line) reaches the caller; the call then fails with -1.
template <class F>
auto guarded(decltype(std::declval<F>()()) failure, F&& body) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    try {
      quil::api::setLastError(-1);
    } catch (...) {
    }
    return failure;
  }
}

// "%.*ls" takes an int precision; a caller's buffer length beyond INT_MAX
// is still a bound, never "no precision".
int32_t precisionOf(uint32_t length) { return static_cast<int32_t>(std::min<uint32_t>(length, INT32_MAX)); }

const void* ptr(const void* p) { return p; }

const char* yesNo(bool value, const char* yes, const char* no) { return value ? yes : no; }

// The open kind of a create or open: 1 creating for writing, 2 opening for
// writing, 3 reading only, 0 neither.
uint32_t openKindOf(uint32_t desiredAccess, uint32_t creationDisposition) {
  if ((desiredAccess & 0x40000000u) != 0) return creationDisposition == 1 || creationDisposition == 2 ? 1 : 2;
  return (desiredAccess & 0x80000000u) != 0 ? 3 : 0;
}

bool logsOperation(uint32_t openKind) { return openKind == 1 || openKind == 2; }

const char* stopReasonWord(uint32_t reason) {
  switch (reason) {
    case 1: return "Size Full";
    case 2: return "Duration Full";
    case 3: return "Format Error";
    default: return "";
  }
}

void traceFindExit(bool first, const char16_t* function, int32_t line, int32_t result, const FindData* d) {
  if (d == nullptr) {
    if (first)
      trace(function, line, u"QUILAPI_FindFirstFile return=%ld (NULL)\n", result);
    else
      trace(function, line, u"QUILAPI_FindNextFile return=%ld (NULL)\n", result);
    return;
  }
  quil::api::withFindDataFields(*d, [&](const auto&... fields) {
    if (first) {
      trace(function, line,
            u"QUILAPI_FindFirstFile return=%ld (\"%.*ls\", 0x%08X, (%hd,%hd/%hd/%hd %hd:%hd:%hd.%03hd), "
            u"(%hd,%hd/%hd/%hd %hd:%hd:%hd.%03hd), (%hd,%hd/%hd/%hd %hd:%hd:%hd.%03hd), %lld)\n",
            result, fields...);
    } else {
      trace(function, line,
            u"QUILAPI_FindNextFile return=%ld (\"%.*ls\", 0x%08X, (%hd,%hd/%hd/%hd %hd:%hd:%hd.%03hd), "
            u"(%hd,%hd/%hd/%hd %hd:%hd:%hd.%03hd), (%hd,%hd/%hd/%hd %hd:%hd:%hd.%03hd), %lld)\n",
            result, fields...);
    }
  });
}

}  // namespace

extern "C" {

QUILAPI_EXPORT int32_t QUILAPI_CloseHandle(int32_t h) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_CloseHandle";
    trace(fn, __LINE__, u"QUILAPI_CloseHandle(%ld)\n", h);
    uint32_t openKind = 0;
    uint32_t stopReason = 0;
    const int32_t result = volume().closeHandle(h, openKind, stopReason);
    trace(fn, __LINE__, u"QUILAPI_CloseHandle return=%ld\n", result);
    if (logsOperation(openKind)) {
      const auto drive = oplog::drive(volume().rootPath());
      const auto handle = oplog::handle(h);
      if (result != 0 && stopReason == 0) {
        oplog::line(5, 1, u"%ls Closing the file finished. %ls", drive, handle);
      } else if (result != 0) {
        oplog::line(6, 1, u"%ls Stopped halfway through writing the file. Reason: %hs %ls", drive,
                    stopReasonWord(stopReason), handle);
      } else if (const auto e = oplog::lastError(); e.text) {
        oplog::line(7, 1, u"%ls Closing the file failed. %ls %ls:%ls", drive, handle, e.error, *e.text);
      } else {
        oplog::line(7, 1, u"%ls Closing the file failed. %ls %ls", drive, handle, e.error);
      }
    }
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_CloseVolume(int32_t vol) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_CloseVolume";
    trace(fn, __LINE__, u"QUILAPI_CloseVolume(%ld)\n", vol);
    const int32_t result = volume().closeVolume(vol);
    trace(fn, __LINE__, u"QUILAPI_CloseVolume return=%ld\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_CreateDirectory(int32_t vol, const QUILCHAR* path, void* security) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_CreateDirectory";
    trace(fn, __LINE__, u"QUILAPI_CreateDirectory(%ld, \"%ls\", %p)\n", vol, path, security);
    const int32_t result = volume().createDirectory(vol, path, security);
    trace(fn, __LINE__, u"QUILAPI_CreateDirectory return=%ld\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_CreateFile(int32_t vol, const QUILCHAR* path, uint32_t desiredAccess,
                                          uint32_t shareMode, void* securityAttributes, uint32_t creationDisposition,
                                          uint32_t flagsAndAttributes, void* extra) {
  return guarded(-1, [&] {
    constexpr auto fn = u"QUILAPI_CreateFile";
    trace(fn, __LINE__, u"QUILAPI_CreateFile(%ld, \"%ls\", 0x%08X, 0x%08X, %p, 0x%08X, 0x%08X, %p)\n", vol, path,
          desiredAccess, shareMode, securityAttributes, creationDisposition, flagsAndAttributes, extra);
    uint32_t openKind = openKindOf(desiredAccess, creationDisposition);
    const int32_t result = volume().createFile(vol, path, desiredAccess, shareMode, securityAttributes,
                                               creationDisposition, flagsAndAttributes, extra, openKind);
    trace(fn, __LINE__, u"QUILAPI_CreateFile return=%ld\n", result);
    if (logsOperation(openKind)) {
      const auto drive = oplog::drive(volume().rootPath());
      const char16_t* verb = openKind == 1 ? u"Creating" : u"Opening";
      const auto file = oplog::file(FileRole::kFile, volume().rootPath(), path);
      const auto handle = oplog::handle(result);
      if (result != -1) {
        oplog::line(5, 1, u"%ls %ls the file started. %ls %ls", drive, verb, file, handle);
      } else {
        const auto e = oplog::lastError();
        if (openKind == 2) {
          if (e.text)
            errorLine(fn, __LINE__, u"%ls %ls the file failed. %ls %ls %ls:%ls", drive, verb, file, handle, e.error,
                      *e.text);
          else
            errorLine(fn, __LINE__, u"%ls %ls the file failed. %ls %ls %ls", drive, verb, file, handle, e.error);
        } else if (e.text) {
          oplog::line(7, 1, u"%ls %ls the file failed. %ls %ls %ls:%ls", drive, verb, file, handle, e.error, *e.text);
        } else {
          oplog::line(7, 1, u"%ls %ls the file failed. %ls %ls %ls", drive, verb, file, handle, e.error);
        }
      }
    }
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_CreateVolume(const QUILCHAR* rootPath, const _Volume_Param* p) {
  return guarded(-1, [&] {
    constexpr auto fn = u"QUILAPI_CreateVolume";
    if (p == nullptr) {
      trace(fn, __LINE__, u"QUILAPI_CreateVolume(\"%ls\", NULL)\n", rootPath);
    } else {
      trace(fn, __LINE__,
            u"QUILAPI_CreateVolume(\"%ls\", (0x%08X,(0x%08X,0x%08X,0x%08X,0x%08X),0x%08X,0x%08X,(\"%.4hs\",\"%.4hs\","
            u"\"%.4hs\"),0x%08X,0x%08X,0x%08X,0x%08X,0x%08X,\"%.32hs\",\"%.64hs\",\"%.32hs\",0x%08X,%u,%u,%hs,%hs,%d,"
            u"%hs,%hs,%hs)\n",
            rootPath, p->namingMode, p->audioMode[0], p->audioMode[1], p->audioMode[2], p->audioMode[3], p->tcMode,
            p->dfndfMode, p->ownerInfo.country, p->ownerInfo.organization, p->ownerInfo.user, p->dataItemMode,
            p->alignMode, p->recInhMode, p->proHdnMode, p->clipProtectMode, p->modelName, p->serialNo,
            p->quilVersion, p->mixedRecMode, p->maxClipReadHandles, p->option196,
            yesNo(p->Quil23Mode, "true", "false"), yesNo(p->norcFlag, "NORC", "not NORC"), p->option204,
            yesNo(p->SecDeleteMode, "SecDeleteMode ON", "SecDeleteMode OFF"),
            yesNo(p->GpsDataDelete, "GpsDataDelete ON", "GpsDataDelete OFF"),
            yesNo(p->VerifyOnWrite, "VerifyOnWrite ON", "VerifyOnWrite OFF"));
    }
    const int32_t result = volume().createVolume(rootPath, p);
    trace(fn, __LINE__, u"QUILAPI_CreateVolume return=%ld\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_DeleteFile(int32_t vol, const QUILCHAR* path) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_DeleteFile";
    trace(fn, __LINE__, u"QUILAPI_DeleteFile(%ld, \"%ls\")\n", vol, path);
    const int32_t result = volume().deleteFile(vol, path);
    trace(fn, __LINE__, u"QUILAPI_DeleteFile return=%ld\n", result);
    const auto drive = oplog::drive(volume().rootPath());
    const auto file = oplog::file(FileRole::kFile, volume().rootPath(), path);
    if (result != 0) {
      oplog::line(5, 1, u"%ls Deleting the file finished. %ls", drive, file);
    } else if (const auto e = oplog::lastError(); e.text) {
      oplog::line(7, 1, u"%ls Deleting the file failed. %ls %ls:%ls", drive, file, e.error, *e.text);
    } else {
      oplog::line(7, 1, u"%ls Deleting the file failed. %ls %ls", drive, file, e.error);
    }
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_DeleteFileWithHandle(int32_t h) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_DeleteFileWithHandle";
    trace(fn, __LINE__, u"QUILAPI_DeleteFileWithHandle(%ld)\n", h);
    const int32_t result = volume().deleteFileWithHandle(h);
    trace(fn, __LINE__, u"QUILAPI_DeleteFileWithHandle return=%ld\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_FindClose(int32_t fh) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_FindClose";
    trace(fn, __LINE__, u"QUILAPI_FindClose(%ld)\n", fh);
    const int32_t result = volume().findClose(fh);
    trace(fn, __LINE__, u"QUILAPI_FindClose return=%ld\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_FindFirstFile(int32_t vol, const QUILCHAR* pattern, FindData* data) {
  return guarded(-1, [&] {
    constexpr auto fn = u"QUILAPI_FindFirstFile";
    trace(fn, __LINE__, u"QUILAPI_FindFirstFile(%ld, \"%ls\", %p)\n", vol, pattern, ptr(data));
    const int32_t result = volume().findFirstFile(vol, pattern, data);
    traceFindExit(true, fn, __LINE__, result, data);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_FindNextFile(int32_t fh, FindData* data) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_FindNextFile";
    trace(fn, __LINE__, u"QUILAPI_FindNextFile(%ld, %p)\n", fh, ptr(data));
    const int32_t result = volume().findNextFile(fh, data);
    traceFindExit(false, fn, __LINE__, result, data);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_FlushVolume(int32_t vol) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_FlushVolume";
    // Flushing is rare and slow enough to be worth an information line.
    QUILLogger::writeTrace(1, 2, 0, kSource, fn, __LINE__, u"QUILAPI_FlushVolume(%ld)\n", vol);
    const int32_t result = volume().flushVolume(vol);
    trace(fn, __LINE__, u"QUILAPI_FlushVolume return=%ld\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_GetClipId(int32_t h, QUILCHAR* buffer, uint32_t bufferLength, uint32_t* length) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_GetClipId";
    trace(fn, __LINE__, u"QUILAPI_GetClipId(%ld, %p, %lu, %p)\n", h, ptr(buffer), bufferLength, ptr(length));
    const int32_t result = volume().getClipId(h, buffer, bufferLength, length);
    const QUILCHAR* shown = buffer;
    if (length != nullptr)
      // "retrun": the line's own spelling, which tools that read these logs
      // match on; it is kept as it has always been written.
      trace(fn, __LINE__, u"QUILAPI_GetClipId retrun=%ld (\"%.*ls\", %lu)\n", result, precisionOf(bufferLength), shown,
            *length);
    else
      trace(fn, __LINE__, u"QUILAPI_GetClipId retrun=%ld (\"%.*ls\", NULL)\n", result, precisionOf(bufferLength),
            shown);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_GetFileAttributes(int32_t vol, const QUILCHAR* path, uint32_t* attributes) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_GetFileAttributes";
    trace(fn, __LINE__, u"QUILAPI_GetFileAttributes(%ld, \"%ls\", %p)\n", vol, path, ptr(attributes));
    const int32_t result = volume().getFileAttributes(vol, path, attributes);
    if (attributes != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetFileAttributes return=%ld (0x%08X)\n", result, *attributes);
    else
      trace(fn, __LINE__, u"QUILAPI_GetFileAttributes return=%ld (NULL)\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_GetFileSize(int32_t h, int64_t* size) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_GetFileSize";
    trace(fn, __LINE__, u"QUILAPI_GetFileSize(%ld, %p)\n", h, ptr(size));
    const int32_t result = volume().getFileSize(h, size);
    if (size != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetFileSize return=%ld (%lld)\n", result, *size);
    else
      trace(fn, __LINE__, u"QUILAPI_GetFileSize return=%ld (NULL)\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_GetFileType(int32_t h, uint32_t* type) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_GetFileType";
    trace(fn, __LINE__, u"QUILAPI_GetFileType(%ld, %p)\n", h, ptr(type));
    const int32_t result = volume().getFileType(h, type);
    if (type != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetFileType return=%ld (%lu)\n", result, *type);
    else
      trace(fn, __LINE__, u"QUILAPI_GetFileType return=%ld (NULL)\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_GetLastError(void) {
  return guarded(-1, [&] {
    constexpr auto fn = u"QUILAPI_GetLastError";
    // Called after every failure, often in loops: the filter is asked once
    // for both lines (its answer only ever turns from "ask" to "rejected").
    const bool quiet = QUILLogger::detail::surelyRejected(1, 0);
    if (!quiet) traceWritten(fn, __LINE__, u"QUILAPI_GetLastError(void)\n");
    const int32_t result = quil::api::lastErrorRecord().code;
    if (!quiet) traceWritten(fn, __LINE__, u"QUILAPI_GetLastError return=%ld\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_GetLastErrorWithMessage(QUILCHAR* buffer, uint32_t bufferLength,
                                                       uint32_t* requiredLength) {
  return guarded(-1, [&] {
    constexpr auto fn = u"QUILAPI_GetLastErrorWithMessage";
    trace(fn, __LINE__, u"QUILAPI_GetLastErrorWithMessage(%p %lu %p)\n", ptr(buffer), bufferLength,
          ptr(requiredLength));
    const int32_t result = quil::api::getLastErrorWithMessage(buffer, bufferLength, requiredLength);
    const QUILCHAR* shown = buffer;
    if (buffer != nullptr && requiredLength != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetLastErrorWithMessage return=%ld (\"%.*ls\", %lu)\n", result,
            precisionOf(bufferLength), shown, *requiredLength);
    else if (buffer != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetLastErrorWithMessage return=%ld (\"%.*ls\", NULL)\n", result,
            precisionOf(bufferLength), shown);
    else if (requiredLength != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetLastErrorWithMessage return=%ld (NULL, %lu)\n", result, *requiredLength);
    else
      trace(fn, __LINE__, u"QUILAPI_GetLastErrorWithMessage return=%ld (NULL, NULL)\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_GetNRTdata(int32_t vol, const NrtDataRequest* request, NrtResult* result) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_GetNRTdata";
    if (request != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetNRTdata(%ld, (%llu, %lu), %p)\n", vol, request->value1, request->value2,
            ptr(result));
    else
      trace(fn, __LINE__, u"QUILAPI_GetNRTdata(%ld, NULL, %p)\n", vol, ptr(result));
    const int32_t r = volume().getNRTdata(vol, request, result);
    if (result != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetNRTdata return=%ld (%lu, %u, %p)\n", r, result->value1, result->value2,
            ptr(result->pointer));
    else
      trace(fn, __LINE__, u"QUILAPI_GetNRTdata return=%ld\n", r);
    return r;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_GetNRTinfo(int32_t vol, const NrtInfoRequest* request, NrtResult* result) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_GetNRTinfo";
    if (request != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetNRTinfo(%ld, (%lu, %lu), %p)\n", vol, request->value1, request->value2,
            ptr(result));
    else
      trace(fn, __LINE__, u"QUILAPI_GetNRTinfo(%ld, NULL, %p)\n", vol, ptr(result));
    const int32_t r = volume().getNRTinfo(vol, request, result);
    if (result != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetNRTinfo return=%ld (%lu, %u, %p)\n", r, result->value1, result->value2,
            ptr(result->pointer));
    else
      trace(fn, __LINE__, u"QUILAPI_GetNRTinfo return=%ld\n", r);
    return r;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_GetVolumeCapacity(int32_t vol, uint64_t* first, uint64_t* second) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_GetVolumeCapacity";
    trace(fn, __LINE__, u"QUILAPI_GetVolumeCapacity(%ld, %p, %p)\n", vol, ptr(first), ptr(second));
    const int32_t result = volume().getVolumeCapacity(vol, first, second);
    if (first != nullptr && second != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetVolumeCapacity return=%ld (%llu, %llu)\n", result, *first, *second);
    else if (first != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetVolumeCapacity return=%ld (%llu, NULL)\n", result, *first);
    else if (second != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetVolumeCapacity return=%ld (NULL, %llu)\n", result, *second);
    else
      trace(fn, __LINE__, u"QUILAPI_GetVolumeCapacity return=%ld (NULL, NULL)\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_GetVolumeInformation(int32_t vol, uint32_t* volumeStatus, uint32_t* writeProtectFlag) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_GetVolumeInformation";
    trace(fn, __LINE__, u"QUILAPI_GetVolumeInformation(%ld, %p, %p)\n", vol, ptr(volumeStatus),
          ptr(writeProtectFlag));
    const int32_t result = volume().getVolumeInformation(vol, volumeStatus, writeProtectFlag);
    if (volumeStatus != nullptr && writeProtectFlag != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetVolumeInformation return=%ld (0x%08X, 0x%08X)\n", result, *volumeStatus,
            *writeProtectFlag);
    else if (volumeStatus != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetVolumeInformation return=%ld (0x%08X, NULL)\n", result, *volumeStatus);
    else if (writeProtectFlag != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetVolumeInformation return=%ld (NULL, 0x%08X)\n", result, *writeProtectFlag);
    else
      trace(fn, __LINE__, u"QUILAPI_GetVolumeInformation return=%ld (NULL, NULL)\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_GetVolumeLabel(int32_t vol, QUILCHAR* buffer, uint32_t bufferLength,
                                              uint32_t* length) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_GetVolumeLabel";
    trace(fn, __LINE__, u"QUILAPI_GetVolumeLabel(%ld, %p, %lu, %p)\n", vol, ptr(buffer), bufferLength, ptr(length));
    const int32_t result = volume().getVolumeLabel(vol, buffer, bufferLength, length);
    const QUILCHAR* shown = buffer;
    if (buffer != nullptr && length != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetVolumeLabel return=%ld (\"%.*ls\", %lu)\n", result, precisionOf(bufferLength),
            shown, *length);
    else if (buffer != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetVolumeLabel return=%ld (\"%.*ls\", NULL)\n", result,
            precisionOf(bufferLength), shown);
    else if (length != nullptr)
      trace(fn, __LINE__, u"QUILAPI_GetVolumeLabel return=%ld (NULL, %lu)\n", result, *length);
    else
      trace(fn, __LINE__, u"QUILAPI_GetVolumeLabel return=%ld (NULL, NULL)\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_IsHandleReadable(int32_t h, int32_t* readable) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_IsHandleReadable";
    trace(fn, __LINE__, u"QUILAPI_IsHandleReadable(%ld, %p)\n", h, ptr(readable));
    const int32_t result = volume().isHandleReadable(h, readable);
    if (readable != nullptr)
      trace(fn, __LINE__, u"QUILAPI_IsHandleReadable(%ld, %d) return=%ld\n", h, *readable, result);
    else
      trace(fn, __LINE__, u"QUILAPI_IsHandleReadable(%ld, NULL) return=%ld\n", h, result);
    return result;
  });
}

namespace {

// The operation-log line shared by both renames.
int32_t logMove(const QUILCHAR* from, const QUILCHAR* to, int32_t result) {
  const auto drive = oplog::drive(volume().rootPath());
  const auto oldFile = oplog::file(FileRole::kOldFile, volume().rootPath(), from);
  const auto newFile = oplog::file(FileRole::kNewFile, volume().rootPath(), to);
  if (result != 0) {
    oplog::line(5, 1, u"%ls Changing the filename finished. %ls -> %ls", drive, oldFile, newFile);
  } else if (const auto e = oplog::lastError(); e.text) {
    oplog::line(7, 1, u"%ls Changing the filename failed. %ls -> %ls %ls:%ls", drive, oldFile, newFile, e.error,
                *e.text);
  } else {
    oplog::line(7, 1, u"%ls Changing the filename failed. %ls -> %ls %ls", drive, oldFile, newFile, e.error);
  }
  return result;
}

}  // namespace

QUILAPI_EXPORT int32_t QUILAPI_MoveFile(int32_t vol, const QUILCHAR* from, const QUILCHAR* to) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_MoveFile";
    trace(fn, __LINE__, u"QUILAPI_MoveFile(%ld, \"%ls\", \"%ls\")\n", vol, from, to);
    const int32_t result = volume().moveFile(vol, from, to);
    trace(fn, __LINE__, u"QUILAPI_MoveFile return=%ld\n", result);
    return logMove(from, to, result);
  });
}

QUILAPI_EXPORT int32_t QUILAPI_MoveFileEx(int32_t vol, const QUILCHAR* from, const QUILCHAR* to, uint32_t flags) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_MoveFileEx";
    trace(fn, __LINE__, u"QUILAPI_MoveFileEx(%ld, \"%ls\", \"%ls\", 0x%08X)\n", vol, from, to, flags);
    const int32_t result = volume().moveFileEx(vol, from, to, flags);
    trace(fn, __LINE__, u"QUILAPI_MoveFileEx return=%ld\n", result);
    return logMove(from, to, result);
  });
}

QUILAPI_EXPORT int32_t QUILAPI_ReadFile(int32_t h, void* buffer, uint32_t size, uint32_t* read) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_ReadFile";
    trace(fn, __LINE__, u"QUILAPI_ReadFile(%ld, %p, %lu, %p)\n", h, buffer, size, ptr(read));
    const int32_t result = volume().readFile(h, buffer, size, read);
    if (read != nullptr)
      trace(fn, __LINE__, u"QUILAPI_ReadFile return=%ld (%lu)\n", result, *read);
    else
      trace(fn, __LINE__, u"QUILAPI_ReadFile return=%ld (NULL)\n", result);
    if (result == 0) {
      const std::u16string path = volume().pathOfHandle(h);
      const auto drive = oplog::drive(volume().rootPath());
      const auto file = oplog::file(FileRole::kFile, volume().rootPath(), path.c_str());
      const auto handle = oplog::handle(h);
      if (const auto e = oplog::lastError(); e.text)
        oplog::line(7, 1, u"%ls Reading the file failed. %ls %ls %ls:%ls", drive, file, handle, e.error, *e.text);
      else
        oplog::line(7, 1, u"%ls Reading the file failed. %ls %ls %ls", drive, file, handle, e.error);
    }
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_RemoveDirectory(int32_t vol, const QUILCHAR* path) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_RemoveDirectory";
    trace(fn, __LINE__, u"QUILAPI_RemoveDirectory(%ld, \"%ls\")\n", vol, path);
    const int32_t result = volume().removeDirectory(vol, path);
    trace(fn, __LINE__, u"QUILAPI_RemoveDirectory return=%ld\n", result);
    return result;
  });
}

// Kept for callers of the original interface; tracing does not depend on it.
QUILAPI_EXPORT void QUILAPI_SetDebugMode(uint32_t /*mode*/) {}

QUILAPI_EXPORT int32_t QUILAPI_SetEndOfFile(int32_t h) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_SetEndOfFile";
    trace(fn, __LINE__, u"QUILAPI_SetEndOfFile(%ld)\n", h);
    const int32_t result = volume().setEndOfFile(h);
    trace(fn, __LINE__, u"QUILAPI_SetEndOfFile return=%ld\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_SetFileAttributes(int32_t vol, const QUILCHAR* path, uint32_t attributes) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_SetFileAttributes";
    trace(fn, __LINE__, u"QUILAPI_SetFileAttributes(%ld, \"%ls\", 0x%08X)\n", vol, path, attributes);
    const int32_t result = volume().setFileAttributes(vol, path, attributes);
    trace(fn, __LINE__, u"QUILAPI_SetFileAttributes return=%ld\n", result);
    const auto drive = oplog::drive(volume().rootPath());
    const auto file = oplog::file(FileRole::kFile, volume().rootPath(), path);
    if (result != 0) {
      oplog::line(5, 1, u"%ls Changing the attribute of the file finished. %ls", drive, file);
    } else if (const auto e = oplog::lastError(); e.text) {
      errorLine(fn, __LINE__, u"%ls Changing the attribute of the file failed. %ls %ls:%ls", drive, file, e.error,
                *e.text);
    } else {
      errorLine(fn, __LINE__, u"%ls Changing the attribute of the file failed. %ls %ls", drive, file, e.error);
    }
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_SetFilePointer(int32_t h, int64_t distance, int64_t* newPosition,
                                              uint32_t moveMethod) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_SetFilePointer";
    trace(fn, __LINE__, u"QUILAPI_SetFilePointer(%ld, %lld, %p, 0x%08X)\n", h, distance, ptr(newPosition),
          moveMethod);
    const int32_t result = volume().setFilePointer(h, distance, newPosition, moveMethod);
    if (newPosition != nullptr)
      trace(fn, __LINE__, u"QUILAPI_SetFilePointer return=%ld (%lld)\n", result, *newPosition);
    else
      trace(fn, __LINE__, u"QUILAPI_SetFilePointer return=%ld (NULL)\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_SetFileSize(int32_t h, int64_t size) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_SetFileSize";
    trace(fn, __LINE__, u"QUILAPI_SetFileSize(%ld, %lld)\n", h, size);
    const int32_t result = volume().setFileSize(h, size);
    trace(fn, __LINE__, u"QUILAPI_SetFileSize return=%ld\n", result);
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_SetFileTime(int32_t h, int64_t creation, int64_t lastAccess, int64_t lastWrite) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_SetFileTime";
    trace(fn, __LINE__, u"QUILAPI_SetFileTime(%ld, %lld, %lld, %lld)\n", h, creation, lastAccess, lastWrite);
    const int32_t result = volume().setFileTime(h, creation, lastAccess, lastWrite);
    trace(fn, __LINE__, u"QUILAPI_SetFileTime return=%ld\n", result);
    return result;
  });
}

QUILAPI_EXPORT void QUILAPI_SetLastError(int32_t code) {
  guarded(0, [&] {
    trace(u"QUILAPI_SetLastError", __LINE__, u"QUILAPI_SetLastError(%ld)\n", code);
    quil::api::setLastError(code);
    return 0;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_SetVolumeLabel(int32_t vol, const QUILCHAR* label, uint32_t length) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_SetVolumeLabel";
    if (label != nullptr)
      trace(fn, __LINE__, u"QUILAPI_SetVolumeLabel(%ld, \"%.*ls\", %lu)\n", vol, precisionOf(length), label, length);
    else
      trace(fn, __LINE__, u"QUILAPI_SetVolumeLabel(%ld, NULL, %lu)\n", vol, length);
    const int32_t result = volume().setVolumeLabel(vol, label, length);
    trace(fn, __LINE__, u"QUILAPI_SetVolumeLabel return=%ld\n", result);
    const auto drive = oplog::drive(volume().rootPath());
    const auto newLabel = oplog::newLabel(label, length);
    if (result != 0) {
      oplog::line(5, 1, u"%ls Changing the volume label finished. -> %ls", drive, newLabel);
    } else if (const auto e = oplog::lastError(); e.text) {
      oplog::line(7, 1, u"%ls Changing the volume label failed. -> %ls %ls:%ls", drive, newLabel, e.error, *e.text);
    } else {
      oplog::line(7, 1, u"%ls Changing the volume label failed. -> %ls %ls", drive, newLabel, e.error);
    }
    return result;
  });
}

QUILAPI_EXPORT int32_t QUILAPI_WriteFile(int32_t h, const void* buffer, uint32_t size, uint32_t* written) {
  return guarded(0, [&] {
    constexpr auto fn = u"QUILAPI_WriteFile";
    trace(fn, __LINE__, u"QUILAPI_WriteFile(%ld, %p, %lu, %p)\n", h, buffer, size, ptr(written));
    const int32_t result = volume().writeFile(h, buffer, size, written);
    if (written != nullptr)
      trace(fn, __LINE__, u"QUILAPI_WriteFile return=%ld (%lu)\n", result, *written);
    else
      trace(fn, __LINE__, u"QUILAPI_WriteFile return=%ld (NULL)\n", result);
    if (result == 0) {
      const auto drive = oplog::drive(volume().rootPath());
      const auto handle = oplog::handle(h);
      if (const auto e = oplog::lastError(); e.text)
        oplog::line(7, 1, u"%ls Writing the file failed. %ls %ls:%ls", drive, handle, e.error, *e.text);
      else
        oplog::line(7, 1, u"%ls Writing the file failed. %ls %ls", drive, handle, e.error);
    }
    return result;
  });
}

}  // extern "C"
