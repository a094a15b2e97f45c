/*
 * quilcoreapi.h - public interface of libquilcoreapi.
 *
 * A handle-based, Win32-file-like interface onto one volume of the disc in
 * the drive: 36 flat functions with C linkage, usable from C11 and C++.
 *
 * Conventions shared by every function:
 *  - The volume handle is 0 (the value QUILAPI_CreateVolume returns); file and
 *    find handles are numbers issued per volume; -1 means "no handle".
 *  - Yes/no functions return non-zero (usually -1) on success and 0 on
 *    failure; the reason is then the calling thread's last error
 *    (QUILAPI_GetLastError / QUILAPI_GetLastErrorWithMessage).
 *  - Text is UTF-16 (QUILCHAR). Volume paths are relative to the volume root
 *    and begin with a backslash, e.g. L"\\CLIP\\C0001.MXF".
 *  - Every record below has a fixed byte layout (little-endian) that crosses
 *    library boundaries; each field offset is checked at compile time.
 *
 * The library was first written for Windows, where QUILCHAR is wchar_t and
 * every 32-bit value is a long. On Linux long is 64-bit, so the interface uses
 * exact-width integers throughout.
 */
#ifndef QUIL_QUILCOREAPI_H
#define QUIL_QUILCOREAPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
/* char16_t and bool are built into C++. */
typedef char16_t QUILCHAR;
#else
#include <stdbool.h>
#include <uchar.h>
typedef char16_t QUILCHAR;
#endif

#if defined(__GNUC__) || defined(__clang__)
#define QUILAPI_EXPORT __attribute__((visibility("default")))
#else
#define QUILAPI_EXPORT
#endif

/* One spelling of a compile-time check for both languages: the records below
 * are exchanged with separately built libraries, so a layout that drifts must
 * stop the build rather than corrupt a call. */
#ifdef __cplusplus
#define QUIL_LAYOUT_CHECK(cond, msg) static_assert(cond, msg)
#else
#define QUIL_LAYOUT_CHECK(cond, msg) _Static_assert(cond, msg)
#endif

QUIL_LAYOUT_CHECK(sizeof(QUILCHAR) == 2, "QUILCHAR is one UTF-16 code unit");
QUIL_LAYOUT_CHECK(sizeof(bool) == 1, "flag fields of the records are one byte");

/* ------------------------------------------------------------------------- */
/* Volume parameter record: given by the caller to QUILAPI_CreateVolume and   */
/* passed on whole to the reader and writer libraries. 212 bytes. Text fields */
/* are 8-bit and need not be NUL-terminated.                                  */
/* ------------------------------------------------------------------------- */

typedef struct QUIL_OWNER_INFO {
    char country[4];
    char organization[4];
    char user[4];
} QUIL_OWNER_INFO;

typedef struct _Volume_Param {
    uint32_t namingMode;          /*   0: 2 = free naming, anything else strict */
    uint32_t audioMode[4];        /*   4 */
    uint32_t tcMode;              /*  20 */
    uint32_t dfndfMode;           /*  24 */
    QUIL_OWNER_INFO ownerInfo;    /*  28: country 28, organization 32, user 36 */
    uint32_t dataItemMode;        /*  40 */
    uint32_t alignMode;           /*  44 */
    uint32_t recInhMode;          /*  48: initial write-protect flag word */
    uint32_t proHdnMode;          /*  52 */
    uint32_t clipProtectMode;     /*  56: 1 refuses changes to clip essence */
    char modelName[32];           /*  60 */
    char serialNo[64];            /*  92 */
    char quilVersion[32];         /* 156 */
    uint32_t mixedRecMode;        /* 188 */
    uint32_t maxClipReadHandles;  /* 192: 0 = no shared clip read handles */
    uint32_t option196;           /* 196 */
    bool Quil23Mode;              /* 200 */
    bool norcFlag;                /* 201 */
    uint8_t padding202[2];        /* 202: aligns option204 */
    int32_t option204;            /* 204 */
    bool SecDeleteMode;           /* 208 */
    bool GpsDataDelete;           /* 209 */
    bool VerifyOnWrite;           /* 210 */
    uint8_t padding211;           /* 211: rounds the record to 212 bytes */
} _Volume_Param, QUIL_VOLUME_PARAM;

QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, namingMode) == 0, "_Volume_Param.namingMode");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, audioMode) == 4, "_Volume_Param.audioMode");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, tcMode) == 20, "_Volume_Param.tcMode");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, dfndfMode) == 24, "_Volume_Param.dfndfMode");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, ownerInfo.country) == 28, "_Volume_Param.ownerInfo.country");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, ownerInfo.organization) == 32, "_Volume_Param.ownerInfo.organization");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, ownerInfo.user) == 36, "_Volume_Param.ownerInfo.user");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, dataItemMode) == 40, "_Volume_Param.dataItemMode");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, alignMode) == 44, "_Volume_Param.alignMode");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, recInhMode) == 48, "_Volume_Param.recInhMode");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, proHdnMode) == 52, "_Volume_Param.proHdnMode");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, clipProtectMode) == 56, "_Volume_Param.clipProtectMode");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, modelName) == 60, "_Volume_Param.modelName");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, serialNo) == 92, "_Volume_Param.serialNo");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, quilVersion) == 156, "_Volume_Param.quilVersion");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, mixedRecMode) == 188, "_Volume_Param.mixedRecMode");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, maxClipReadHandles) == 192, "_Volume_Param.maxClipReadHandles");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, option196) == 196, "_Volume_Param.option196");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, Quil23Mode) == 200, "_Volume_Param.Quil23Mode");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, norcFlag) == 201, "_Volume_Param.norcFlag");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, padding202) == 202, "_Volume_Param.padding202");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, option204) == 204, "_Volume_Param.option204");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, SecDeleteMode) == 208, "_Volume_Param.SecDeleteMode");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, GpsDataDelete) == 209, "_Volume_Param.GpsDataDelete");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, VerifyOnWrite) == 210, "_Volume_Param.VerifyOnWrite");
QUIL_LAYOUT_CHECK(offsetof(_Volume_Param, padding211) == 211, "_Volume_Param.padding211");
QUIL_LAYOUT_CHECK(sizeof(_Volume_Param) == 212, "_Volume_Param is 212 bytes");

/* ------------------------------------------------------------------------- */
/* Media record: describes the medium in the drive. Filled by the writer side */
/* while a volume opens and handed to the reader library. 16 bytes.          */
/* ------------------------------------------------------------------------- */

typedef struct Media_Param_ {
    bool isRMedia;                /*  0: write-once medium */
    uint8_t padding1[3];          /*  1 */
    uint32_t driveType;           /*  4 */
    uint32_t fwVersion;           /*  8: drive firmware revision */
    uint8_t mediumType;           /* 12: e.g. 'S' (0x53), 'W' (0x57) */
    uint8_t padding13[3];         /* 13 */
} Media_Param_;

QUIL_LAYOUT_CHECK(offsetof(Media_Param_, isRMedia) == 0, "Media_Param_.isRMedia");
QUIL_LAYOUT_CHECK(offsetof(Media_Param_, padding1) == 1, "Media_Param_.padding1");
QUIL_LAYOUT_CHECK(offsetof(Media_Param_, driveType) == 4, "Media_Param_.driveType");
QUIL_LAYOUT_CHECK(offsetof(Media_Param_, fwVersion) == 8, "Media_Param_.fwVersion");
QUIL_LAYOUT_CHECK(offsetof(Media_Param_, mediumType) == 12, "Media_Param_.mediumType");
QUIL_LAYOUT_CHECK(offsetof(Media_Param_, padding13) == 13, "Media_Param_.padding13");
QUIL_LAYOUT_CHECK(sizeof(Media_Param_) == 16, "Media_Param_ is 16 bytes");

/* ------------------------------------------------------------------------- */
/* Directory enumeration record, filled by QUILAPI_FindFirstFile and          */
/* QUILAPI_FindNextFile. 192 bytes. What the three times and the attribute    */
/* bits mean is the reader library's; this library only passes them on.      */
/* ------------------------------------------------------------------------- */

typedef struct QUIL_SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
} QUIL_SYSTEMTIME;

QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wYear) == 0, "QUIL_SYSTEMTIME.wYear");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wMonth) == 2, "QUIL_SYSTEMTIME.wMonth");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wDayOfWeek) == 4, "QUIL_SYSTEMTIME.wDayOfWeek");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wDay) == 6, "QUIL_SYSTEMTIME.wDay");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wHour) == 8, "QUIL_SYSTEMTIME.wHour");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wMinute) == 10, "QUIL_SYSTEMTIME.wMinute");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wSecond) == 12, "QUIL_SYSTEMTIME.wSecond");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wMilliseconds) == 14, "QUIL_SYSTEMTIME.wMilliseconds");
QUIL_LAYOUT_CHECK(sizeof(QUIL_SYSTEMTIME) == 16, "QUIL_SYSTEMTIME is 16 bytes");

typedef struct FindData {
    QUILCHAR name[64];            /*   0: not necessarily terminated when full */
    uint32_t attributes;          /* 128 */
    QUIL_SYSTEMTIME time1;        /* 132 */
    QUIL_SYSTEMTIME time2;        /* 148 */
    QUIL_SYSTEMTIME time3;        /* 164 */
    uint32_t reserved;            /* 180: aligns size */
    int64_t size;                 /* 184: bytes */
} FindData, QUIL_FIND_DATA;

QUIL_LAYOUT_CHECK(offsetof(FindData, name) == 0, "QUIL_FIND_DATA.name");
QUIL_LAYOUT_CHECK(offsetof(FindData, attributes) == 128, "QUIL_FIND_DATA.attributes");
QUIL_LAYOUT_CHECK(offsetof(FindData, time1) == 132, "QUIL_FIND_DATA.time1");
QUIL_LAYOUT_CHECK(offsetof(FindData, time2) == 148, "QUIL_FIND_DATA.time2");
QUIL_LAYOUT_CHECK(offsetof(FindData, time3) == 164, "QUIL_FIND_DATA.time3");
QUIL_LAYOUT_CHECK(offsetof(FindData, reserved) == 180, "QUIL_FIND_DATA.reserved");
QUIL_LAYOUT_CHECK(offsetof(FindData, size) == 184, "QUIL_FIND_DATA.size");
QUIL_LAYOUT_CHECK(sizeof(FindData) == 192, "FindData is 192 bytes");

/* ------------------------------------------------------------------------- */
/* Non-real-time metadata records. The reader library alone gives the values  */
/* their meaning; this library passes the caller's records through unchanged, */
/* hence the neutral field names.                                             */
/* ------------------------------------------------------------------------- */

typedef struct NrtDataRequest {
    uint64_t value1;              /*  0 */
    uint32_t value2;              /*  8 */
    uint32_t padding12;           /* 12: the 64-bit member rounds the record up */
} NrtDataRequest;

QUIL_LAYOUT_CHECK(offsetof(NrtDataRequest, value1) == 0, "NrtDataRequest.value1");
QUIL_LAYOUT_CHECK(offsetof(NrtDataRequest, value2) == 8, "NrtDataRequest.value2");
QUIL_LAYOUT_CHECK(offsetof(NrtDataRequest, padding12) == 12, "NrtDataRequest.padding12");
QUIL_LAYOUT_CHECK(sizeof(NrtDataRequest) == 16, "NrtDataRequest is 16 bytes");

typedef struct NrtInfoRequest {
    uint32_t value1;              /* 0 */
    uint32_t value2;              /* 4 */
} NrtInfoRequest;

QUIL_LAYOUT_CHECK(offsetof(NrtInfoRequest, value1) == 0, "NrtInfoRequest.value1");
QUIL_LAYOUT_CHECK(offsetof(NrtInfoRequest, value2) == 4, "NrtInfoRequest.value2");
QUIL_LAYOUT_CHECK(sizeof(NrtInfoRequest) == 8, "NrtInfoRequest is 8 bytes");

typedef struct NrtResult {
    uint32_t value1;              /* 0 */
    uint32_t value2;              /* 4 */
    void* pointer;                /* 8 */
} NrtResult;

QUIL_LAYOUT_CHECK(offsetof(NrtResult, value1) == 0, "NrtResult.value1");
QUIL_LAYOUT_CHECK(offsetof(NrtResult, value2) == 4, "NrtResult.value2");
QUIL_LAYOUT_CHECK(offsetof(NrtResult, pointer) == 8, "NrtResult.pointer");
QUIL_LAYOUT_CHECK(sizeof(NrtResult) == 8 + sizeof(void*), "NrtResult is two words and a pointer");

/* ------------------------------------------------------------------------- */
/* The exported functions, in the order of the export table.                 */
/* ------------------------------------------------------------------------- */

#ifdef __cplusplus
extern "C" {
#endif

/* Closes a file handle; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_CloseHandle(int32_t handle);

/* Closes the volume and every handle still open on it; -1 on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_CloseVolume(int32_t volume);

/* Creates a directory below \USERDATA or \GENERAL; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_CreateDirectory(int32_t volume, const QUILCHAR* path, void* security);

/* Creates or opens a file as CreateFileW does; a file handle, or -1 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_CreateFile(int32_t volume, const QUILCHAR* path, uint32_t desiredAccess,
                                          uint32_t shareMode, void* securityAttributes,
                                          uint32_t creationDisposition, uint32_t flagsAndAttributes,
                                          void* extra);

/* Opens the volume at rootPath; the volume handle 0, or -1 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_CreateVolume(const QUILCHAR* rootPath, const _Volume_Param* param);

/* Deletes a file by path; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_DeleteFile(int32_t volume, const QUILCHAR* path);

/* Deletes the file behind an open handle; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_DeleteFileWithHandle(int32_t handle);

/* Ends a directory enumeration; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_FindClose(int32_t findHandle);

/* Starts an enumeration and fills the first entry; a find handle, or -1 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_FindFirstFile(int32_t volume, const QUILCHAR* pattern, QUIL_FIND_DATA* findData);

/* Fills the next entry; non-zero when one was delivered, 0 at the end or on failure. */
QUILAPI_EXPORT int32_t QUILAPI_FindNextFile(int32_t findHandle, QUIL_FIND_DATA* findData);

/* Flushes the volume to the disc; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_FlushVolume(int32_t volume);

/* Copies the clip identifier of an open clip file (length: characters + 1); non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_GetClipId(int32_t handle, QUILCHAR* buffer, uint32_t bufferLength, uint32_t* length);

/* Reads the attribute bits of a path; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_GetFileAttributes(int32_t volume, const QUILCHAR* path, uint32_t* attributes);

/* Reads the size of an open file; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_GetFileSize(int32_t handle, int64_t* size);

/* Reads the file type of an open file; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_GetFileType(int32_t handle, uint32_t* type);

/* Returns the calling thread's last-error code (0: no error). */
QUILAPI_EXPORT int32_t QUILAPI_GetLastError(void);

/* Copies the calling thread's last-error message (requiredLength: characters + 1); returns the code. */
QUILAPI_EXPORT int32_t QUILAPI_GetLastErrorWithMessage(QUILCHAR* buffer, uint32_t bufferLength,
                                                       uint32_t* requiredLength);

/* Reads non-real-time metadata through the reader library; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_GetNRTdata(int32_t volume, const NrtDataRequest* request, NrtResult* result);

/* Reads non-real-time metadata information; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_GetNRTinfo(int32_t volume, const NrtInfoRequest* request, NrtResult* result);

/* Reads the two capacity values of the volume; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_GetVolumeCapacity(int32_t volume, uint64_t* first, uint64_t* second);

/* Reads the volume status and the write-protect flag word; -1 on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_GetVolumeInformation(int32_t volume, uint32_t* volumeStatus,
                                                    uint32_t* writeProtectFlag);

/* Copies the volume label; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_GetVolumeLabel(int32_t volume, QUILCHAR* buffer, uint32_t bufferLength,
                                              uint32_t* length);

/* Tells whether an open handle may be read; -1 on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_IsHandleReadable(int32_t handle, int32_t* readable);

/* Renames a file; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_MoveFile(int32_t volume, const QUILCHAR* from, const QUILCHAR* to);

/* Renames a user-data or general file with MoveFileExW flags; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_MoveFileEx(int32_t volume, const QUILCHAR* from, const QUILCHAR* to,
                                          uint32_t flags);

/* Reads from an open file at its file pointer; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_ReadFile(int32_t handle, void* buffer, uint32_t size, uint32_t* read);

/* Removes a directory below \USERDATA or \GENERAL; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_RemoveDirectory(int32_t volume, const QUILCHAR* path);

/* Does nothing: writes no trace and changes no state. */
QUILAPI_EXPORT void QUILAPI_SetDebugMode(uint32_t mode);

/* Cuts an open file at its file pointer; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_SetEndOfFile(int32_t handle);

/* Sets attribute bits (read-only 0x1 locks a clip or component); non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_SetFileAttributes(int32_t volume, const QUILCHAR* path, uint32_t attributes);

/* Moves the file pointer (moveMethod 0 begin, 1 current, 2 end); non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_SetFilePointer(int32_t handle, int64_t distance, int64_t* newPosition,
                                              uint32_t moveMethod);

/* Sets the size of an open file; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_SetFileSize(int32_t handle, int64_t size);

/* Sets creation, last-access and last-write times of an open file; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_SetFileTime(int32_t handle, int64_t creationTime, int64_t lastAccessTime,
                                           int64_t lastWriteTime);

/* Sets the calling thread's last error to a code and its standard message. */
QUILAPI_EXPORT void QUILAPI_SetLastError(int32_t code);

/* Sets the volume label to the first `length` characters at most; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_SetVolumeLabel(int32_t volume, const QUILCHAR* label, uint32_t length);

/* Writes to an open file at its file pointer; non-zero on success, 0 on failure. */
QUILAPI_EXPORT int32_t QUILAPI_WriteFile(int32_t handle, const void* buffer, uint32_t size, uint32_t* written);

#ifdef __cplusplus
}
#endif

#endif /* QUIL_QUILCOREAPI_H */
