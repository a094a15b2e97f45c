/**
 * @file quilcoreapi.h
 * @brief Public interface of libquilcoreapi: a handle-based, Win32-file-like
 *        interface onto one volume of the disc in the drive.
 *
 * 36 flat functions with C linkage, usable from C11 and C++. A guide with an
 * example is docs/API.md.
 *
 * @par Handles
 * The volume handle is 0, the value QUILAPI_CreateVolume returns; it is valid
 * only while the volume is open, and only one volume can be open in a process.
 * File handles (QUILAPI_CreateFile) and find handles (QUILAPI_FindFirstFile)
 * share one number space: they are numbered from 1 for each opened volume and
 * never reused while it stays open. -1 means "no handle". Numbers never wrap:
 * once 2,147,483,646 has been handed out, QUILAPI_CreateFile and
 * QUILAPI_FindFirstFile fail with `-1` and the message "No handle numbers
 * are left in this volume session: close the volume and open it again."
 * (at one handle every 25 microseconds, after some fifteen hours). The
 * functions that work on an open file take its handle alone, without the
 * volume handle.
 *
 * @par Results
 * Yes/no functions return non-zero on success and 0 on failure. The checks
 * and the writer side of this library answer -1; the calls that are passed
 * through to the reader library return its non-zero value unchanged, so test
 * for non-zero, not for -1. QUILAPI_CreateFile and QUILAPI_FindFirstFile
 * return a handle or -1, QUILAPI_CreateVolume returns 0 or -1.
 *
 * @par Last error
 * Every failure leaves a code and a message (at most 255 characters) as the
 * calling thread's last error; read them with QUILAPI_GetLastError and
 * QUILAPI_GetLastErrorWithMessage. Success does not clear them. The codes
 * that each function names below are this library's own; besides them a call
 * can leave:
 * - the reader library's code, when a call passed to it fails: a code of this
 *   library's table (for example `1000` "No object found in searching." or
 *   the `-1100` to `-1512` input/output family), whose message is the table
 *   text followed by a space and the reader's own text;
 * - the writer library's code, when a change made through it fails: its
 *   error is translated to a code of the same table (for example `-3003` no
 *   free space, `-3008` file already exists, `-1400` write error, `-3101`
 *   driver command error), and the message ends in the writer's own code in
 *   hexadecimal in parentheses;
 * - `-1` "Internal SDK error." after an unexpected internal failure, such as
 *   running out of memory.
 *
 * @anchor quil_relay
 * @par User-data and general files: the Windows error
 * For files below `\USERDATA` and `\GENERAL` the sibling libraries report
 * failures as Windows error numbers (for example 2 file not found, 5 access
 * denied, 32 sharing violation, 80 or 183 file exists, 112 disk full). When a
 * call that reaches them for such a file ends with their Windows error set,
 * that number becomes the thread's Windows error, read with
 * QUILPlatform_GetLastError (quil/platform_error.h), and this library's own
 * last error is set to 0. So after a failed call on a user-data or general
 * file: if QUILAPI_GetLastError returns 0, the cause is
 * QUILPlatform_GetLastError(). The refusals that this library makes itself
 * before it calls a sibling library (sharing, write protection, bad paths)
 * keep their own codes.
 *
 * @par Write protection
 * The volume's write-protect flag word (QUILAPI_GetVolumeInformation) starts
 * as `recInhMode` of the volume parameters; opening the volume may add `0x10`
 * (AV-tree check or CMPTR folder) or `0x40000000` (2.3-mode check), and a
 * change that failed in a way that may have left the disc changed adds
 * `0x80000000` (the disc is treated as corrupted until the volume is opened
 * again). While the word is not 0 every change is refused: with `-3002`
 * "Disc Corrupted" when the word is exactly `0x80000000`, else with `-3012`
 * "Media write protected". Reading goes on.
 *
 * @par Text, paths and file kinds
 * Text is UTF-16 (QUILCHAR). Volume paths are relative to the volume root and
 * begin with a backslash, e.g. `\CLIP\C0001.MXF`; a slash is taken as a
 * backslash and names compare without regard to case. The AV tree holds
 * `\INDEX.XML`, `\ALIAS.XML`, `\DISCMETA.XML`, `\MEDIAPRO.XML`,
 * `\SYSPRO.XML`, clips `\CLIP\Cnnnn.MXF` with their non-real-time metadata
 * `\CLIP\CnnnnM01.XML` and user metadata `\CLIP\CnnnnM02.KLV`, sub clips
 * `\SUB\CnnnnS01.MXF`, components `\COMPONENT\Pnnnn.MXF`, edit lists
 * `\EDIT\EnnnnE01.SMI` with their metadata `\EDIT\EnnnnM01.XML` (nnnn: four
 * digits; any base name on a volume opened with free naming). Any path below
 * `\USERDATA` or `\GENERAL` is a user-data or general file; any other path
 * names no file kind and is refused with `-9` (or `-3005`, see each
 * function). `-9` says nothing of whether a file exists: a path of a known
 * kind that names no existing file fails with the reader's `-1100` ("File
 * open error.") for the AV tree, and for user-data and general files with
 * last error 0 and the Windows error 2 or 3 (see QUILPlatform_GetLastError);
 * an enumeration that finds nothing fails with `1000`.
 *
 * @par Records
 * Every record below has a fixed byte layout (little-endian) that crosses
 * library boundaries; each field offset is checked at compile time.
 *
 * @par Threads
 * The library takes no lock for the volume: call the functions one at a
 * time. The last error is kept per thread. It starts one thread of its own,
 * with its first log file, which watches the log folder for removals and
 * renames; it blocks every signal and makes no call into the application.
 *
 * The library was first written for Windows, where QUILCHAR is wchar_t and
 * every 32-bit value is a long. On Linux long is 64-bit, so the interface uses
 * exact-width integers throughout.
 */
#ifndef QUIL_QUILCOREAPI_H
#define QUIL_QUILCOREAPI_H

#include <stddef.h>
#include <stdint.h>

/**
 * @typedef QUILCHAR
 * @brief One UTF-16 code unit: the character of every text and path of the
 *        interface (wchar_t on Windows).
 */
#ifdef __cplusplus
/* char16_t and bool are built into C++. */
typedef char16_t QUILCHAR;
#else
#include <stdbool.h>
#include <uchar.h>
typedef char16_t QUILCHAR;
#endif

/** @brief Marks the exported functions (default visibility). */
#if defined(__GNUC__) || defined(__clang__)
#define QUILAPI_EXPORT __attribute__((visibility("default")))
#else
#define QUILAPI_EXPORT
#endif

/** @cond QUIL_LAYOUT_CHECKS */
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
/** @endcond */

/* ------------------------------------------------------------------------- */
/* Volume parameter record: given by the caller to QUILAPI_CreateVolume and   */
/* passed on whole to the reader and writer libraries. 212 bytes. Text fields */
/* are 8-bit and need not be NUL-terminated.                                  */
/* ------------------------------------------------------------------------- */

/** @brief Owner information of the volume parameters: three 4-byte 8-bit
 *         texts, passed on to the sibling libraries. */
typedef struct QUIL_OWNER_INFO {
    char country[4];              /**< offset 28 of the volume parameters */
    char organization[4];         /**< offset 32 */
    char user[4];                 /**< offset 36 */
} QUIL_OWNER_INFO;

/**
 * @brief Volume parameters, given to QUILAPI_CreateVolume (212 bytes).
 *
 * The record is passed on whole to the writer library, and to the reader
 * library with `recInhMode` replaced by the volume's current write-protect
 * flag word. This library itself reads only `namingMode`, `recInhMode`,
 * `clipProtectMode`, `modelName`, `maxClipReadHandles` and `Quil23Mode`;
 * the other fields belong to the sibling libraries. Text fields are 8-bit
 * and need not be NUL-terminated. Zero the record before filling it.
 */
typedef struct _Volume_Param {
    uint32_t namingMode;          /**<   0: 2 = free naming (any base name in the AV-tree folders), anything else strict */
    uint32_t audioMode[4];        /**<   4: passed on */
    uint32_t tcMode;              /**<  20: passed on */
    uint32_t dfndfMode;           /**<  24: passed on */
    QUIL_OWNER_INFO ownerInfo;    /**<  28: country 28, organization 32, user 36 */
    uint32_t dataItemMode;        /**<  40: passed on */
    uint32_t alignMode;           /**<  44: passed on */
    uint32_t recInhMode;          /**<  48: initial write-protect flag word; non-zero opens the volume write-protected */
    uint32_t proHdnMode;          /**<  52: passed on */
    uint32_t clipProtectMode;     /**<  56: 1 refuses changes to clip essence files (-8) */
    char modelName[32];           /**<  60: drive model; "ZRD-K1" gives drive type 1, "ZRD-K4" type 4, anything else 2 */
    char serialNo[64];            /**<  92: passed on */
    char quilVersion[32];         /**< 156: passed on */
    uint32_t mixedRecMode;        /**< 188: passed on */
    uint32_t maxClipReadHandles;  /**< 192: 0 = no shared clip read handles; else the most reader handles kept open for clips */
    uint32_t option196;           /**< 196: passed on */
    bool Quil23Mode;              /**< 200: disc in 2.3 mode: governs the DISCMETA.XML check at opening */
    bool norcFlag;                /**< 201: passed on */
    uint8_t padding202[2];        /**< 202: aligns option204 */
    int32_t option204;            /**< 204: passed on */
    bool SecDeleteMode;           /**< 208: passed on */
    bool GpsDataDelete;           /**< 209: passed on */
    bool VerifyOnWrite;           /**< 210: passed on */
    uint8_t padding211;           /**< 211: rounds the record to 212 bytes */
} _Volume_Param, QUIL_VOLUME_PARAM;

/** @typedef QUIL_VOLUME_PARAM
 *  @brief Another name of _Volume_Param. */

/** @cond QUIL_LAYOUT_CHECKS */
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
/** @endcond */

/* ------------------------------------------------------------------------- */
/* Media record: describes the medium in the drive. Filled by the writer side */
/* while a volume opens and handed to the reader library. 16 bytes.          */
/* ------------------------------------------------------------------------- */

/**
 * @brief The medium in the drive (16 bytes).
 *
 * Made while QUILAPI_CreateVolume runs: the drive type comes from
 * `modelName` of the volume parameters, the other fields from the writer
 * side, and the record is handed to the reader library behind the volume
 * parameters. An application never fills it; it is declared here because it
 * is part of the reader library's volume record.
 */
typedef struct Media_Param_ {
    bool isRMedia;                /**<  0: write-once medium */
    uint8_t padding1[3];          /**<  1 */
    uint32_t driveType;           /**<  4: 1, 2 or 4, from the model name */
    uint32_t fwVersion;           /**<  8: drive firmware revision */
    uint8_t mediumType;           /**< 12: e.g. 'S' (0x53), 'W' (0x57) */
    uint8_t padding13[3];         /**< 13 */
} Media_Param_;

/** @cond QUIL_LAYOUT_CHECKS */
QUIL_LAYOUT_CHECK(offsetof(Media_Param_, isRMedia) == 0, "Media_Param_.isRMedia");
QUIL_LAYOUT_CHECK(offsetof(Media_Param_, padding1) == 1, "Media_Param_.padding1");
QUIL_LAYOUT_CHECK(offsetof(Media_Param_, driveType) == 4, "Media_Param_.driveType");
QUIL_LAYOUT_CHECK(offsetof(Media_Param_, fwVersion) == 8, "Media_Param_.fwVersion");
QUIL_LAYOUT_CHECK(offsetof(Media_Param_, mediumType) == 12, "Media_Param_.mediumType");
QUIL_LAYOUT_CHECK(offsetof(Media_Param_, padding13) == 13, "Media_Param_.padding13");
QUIL_LAYOUT_CHECK(sizeof(Media_Param_) == 16, "Media_Param_ is 16 bytes");
/** @endcond */

/* ------------------------------------------------------------------------- */
/* Directory enumeration record, filled by QUILAPI_FindFirstFile and          */
/* QUILAPI_FindNextFile. 192 bytes. What the three times and the attribute    */
/* bits mean is the reader library's; this library only passes them on.      */
/* ------------------------------------------------------------------------- */

/** @brief A date and time in the layout of the Windows SYSTEMTIME (16 bytes). */
typedef struct QUIL_SYSTEMTIME {
    uint16_t wYear;               /**< e.g. 2024 */
    uint16_t wMonth;              /**< 1 to 12 */
    uint16_t wDayOfWeek;          /**< 0 (Sunday) to 6 */
    uint16_t wDay;                /**< 1 to 31 */
    uint16_t wHour;               /**< 0 to 23 */
    uint16_t wMinute;             /**< 0 to 59 */
    uint16_t wSecond;             /**< 0 to 59 */
    uint16_t wMilliseconds;       /**< 0 to 999 */
} QUIL_SYSTEMTIME;

/** @cond QUIL_LAYOUT_CHECKS */
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wYear) == 0, "QUIL_SYSTEMTIME.wYear");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wMonth) == 2, "QUIL_SYSTEMTIME.wMonth");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wDayOfWeek) == 4, "QUIL_SYSTEMTIME.wDayOfWeek");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wDay) == 6, "QUIL_SYSTEMTIME.wDay");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wHour) == 8, "QUIL_SYSTEMTIME.wHour");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wMinute) == 10, "QUIL_SYSTEMTIME.wMinute");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wSecond) == 12, "QUIL_SYSTEMTIME.wSecond");
QUIL_LAYOUT_CHECK(offsetof(QUIL_SYSTEMTIME, wMilliseconds) == 14, "QUIL_SYSTEMTIME.wMilliseconds");
QUIL_LAYOUT_CHECK(sizeof(QUIL_SYSTEMTIME) == 16, "QUIL_SYSTEMTIME is 16 bytes");
/** @endcond */

/**
 * @brief One directory entry, filled by QUILAPI_FindFirstFile and
 *        QUILAPI_FindNextFile (192 bytes).
 *
 * The reader library fills the record; this library passes it through
 * unchanged. On Linux: `time1` is the last change of the file's status (the
 * host keeps no creation time), `time2` the last access and `time3` the last
 * write, all in UTC. Listings do not include `.` and `..`. A pattern without
 * `*` or `?` finds the entries whose name equals it without regard to case
 * (more than one only on a disc that holds names differing in case alone).
 */
typedef struct FindData {
    QUILCHAR name[64];            /**<   0: entry name; not necessarily terminated when all 64 units are used */
    uint32_t attributes;          /**< 128: Windows file attribute bits (0x1 read-only, 0x10 directory, ...) */
    QUIL_SYSTEMTIME time1;        /**< 132 */
    QUIL_SYSTEMTIME time2;        /**< 148 */
    QUIL_SYSTEMTIME time3;        /**< 164 */
    uint32_t reserved;            /**< 180: aligns size */
    int64_t size;                 /**< 184: bytes */
} FindData, QUIL_FIND_DATA;

/** @typedef QUIL_FIND_DATA
 *  @brief Another name of FindData. */

/** @cond QUIL_LAYOUT_CHECKS */
QUIL_LAYOUT_CHECK(offsetof(FindData, name) == 0, "QUIL_FIND_DATA.name");
QUIL_LAYOUT_CHECK(offsetof(FindData, attributes) == 128, "QUIL_FIND_DATA.attributes");
QUIL_LAYOUT_CHECK(offsetof(FindData, time1) == 132, "QUIL_FIND_DATA.time1");
QUIL_LAYOUT_CHECK(offsetof(FindData, time2) == 148, "QUIL_FIND_DATA.time2");
QUIL_LAYOUT_CHECK(offsetof(FindData, time3) == 164, "QUIL_FIND_DATA.time3");
QUIL_LAYOUT_CHECK(offsetof(FindData, reserved) == 180, "QUIL_FIND_DATA.reserved");
QUIL_LAYOUT_CHECK(offsetof(FindData, size) == 184, "QUIL_FIND_DATA.size");
QUIL_LAYOUT_CHECK(sizeof(FindData) == 192, "FindData is 192 bytes");
/** @endcond */

/* ------------------------------------------------------------------------- */
/* Non-real-time metadata records. The reader library alone gives the values  */
/* their meaning; this library passes the caller's records through unchanged, */
/* hence the neutral field names.                                             */
/* ------------------------------------------------------------------------- */

/** @brief Request of QUILAPI_GetNRTdata (16 bytes), passed to the reader
 *         library unchanged; the reader library gives the values their
 *         meaning. */
typedef struct NrtDataRequest {
    uint64_t value1;              /**<  0 */
    uint32_t value2;              /**<  8 */
    uint32_t padding12;           /**< 12: the 64-bit member rounds the record up */
} NrtDataRequest;

/** @cond QUIL_LAYOUT_CHECKS */
QUIL_LAYOUT_CHECK(offsetof(NrtDataRequest, value1) == 0, "NrtDataRequest.value1");
QUIL_LAYOUT_CHECK(offsetof(NrtDataRequest, value2) == 8, "NrtDataRequest.value2");
QUIL_LAYOUT_CHECK(offsetof(NrtDataRequest, padding12) == 12, "NrtDataRequest.padding12");
QUIL_LAYOUT_CHECK(sizeof(NrtDataRequest) == 16, "NrtDataRequest is 16 bytes");
/** @endcond */

/** @brief Request of QUILAPI_GetNRTinfo (8 bytes), passed to the reader
 *         library unchanged; the reader library gives the values their
 *         meaning. */
typedef struct NrtInfoRequest {
    uint32_t value1;              /**< 0 */
    uint32_t value2;              /**< 4 */
} NrtInfoRequest;

/** @cond QUIL_LAYOUT_CHECKS */
QUIL_LAYOUT_CHECK(offsetof(NrtInfoRequest, value1) == 0, "NrtInfoRequest.value1");
QUIL_LAYOUT_CHECK(offsetof(NrtInfoRequest, value2) == 4, "NrtInfoRequest.value2");
QUIL_LAYOUT_CHECK(sizeof(NrtInfoRequest) == 8, "NrtInfoRequest is 8 bytes");
/** @endcond */

/** @brief Result of QUILAPI_GetNRTdata and QUILAPI_GetNRTinfo (two 32-bit
 *         values and a pointer), filled by the reader library, which also
 *         owns what the pointer points to. */
typedef struct NrtResult {
    uint32_t value1;              /**< 0 */
    uint32_t value2;              /**< 4 */
    void* pointer;                /**< 8 */
} NrtResult;

/** @cond QUIL_LAYOUT_CHECKS */
QUIL_LAYOUT_CHECK(offsetof(NrtResult, value1) == 0, "NrtResult.value1");
QUIL_LAYOUT_CHECK(offsetof(NrtResult, value2) == 4, "NrtResult.value2");
QUIL_LAYOUT_CHECK(offsetof(NrtResult, pointer) == 8, "NrtResult.pointer");
QUIL_LAYOUT_CHECK(sizeof(NrtResult) == 8 + sizeof(void*), "NrtResult is two words and a pointer");
/** @endcond */

/* ------------------------------------------------------------------------- */
/* The exported functions, in the order of the export table.                 */
/* ------------------------------------------------------------------------- */

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @brief Closes a file handle.
 *
 * A file open for writing is finished: the writer library closes it, the
 * reader library learns of the new or changed AV-tree file, a lock that
 * QUILAPI_SetFileAttributes deferred to the close is applied, and a delete
 * accepted while the file was open (QUILAPI_DeleteFileWithHandle, or
 * QUILAPI_DeleteFile refused with Windows error 32) is carried out. The
 * handle is released even when the close fails.
 *
 * When the writer stopped a clip recording early (size full, duration full,
 * format error) the close still succeeds, an operation-log line names the
 * reason and the desktop utility receives a Truncate notification. When the
 * close of a file that was written fails (general files excepted), the
 * utility receives a CloseError notification; a failed close of an AV-tree
 * file may mark the volume corrupted (write-protect bit `0x80000000`).
 *
 * A reader handle suspended to let a writer in closes with success, unless
 * closing its reader side had failed at the suspension: then the close fails
 * with the error saved then. Find handles are closed with QUILAPI_FindClose.
 *
 * @param handle a file handle from QUILAPI_CreateFile.
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` no volume is open, the handle is unknown, or it is a find handle;
 * - the reader library's code (closing a reader handle, or saved at its
 *   suspension);
 * - the writer library's code (closing a written file, or the deferred delete);
 * - user-data and general files: the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_CloseHandle(int32_t handle);

/**
 * @brief Closes the volume and every handle still open on it.
 *
 * Open file and find handles are ended without regard to their results, so
 * close written files with QUILAPI_CloseHandle first to learn whether they
 * were closed properly. The volume status, the write-protect flag word and
 * the root path stay readable through QUILAPI_GetVolumeInformation until the
 * next QUILAPI_CreateVolume.
 *
 * @param volume the volume handle, 0.
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` the handle is not 0 or no volume is open.
 */
QUILAPI_EXPORT int32_t QUILAPI_CloseVolume(int32_t volume);

/**
 * @brief Creates a directory below `\USERDATA` or `\GENERAL`.
 *
 * Open handles are not consulted and the reader library is not told.
 *
 * @param volume the volume handle, 0.
 * @param path a path below `\USERDATA` or `\GENERAL` (not the folder itself).
 * @param security security attributes, passed to the writer library unchanged
 *        (may be NULL).
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - `-3002` / `-3012` the volume is write-protected (see the file comment);
 * - `-3005` the path is not below `\USERDATA` or `\GENERAL`;
 * - the writer library's code;
 * - the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_CreateDirectory(int32_t volume, const QUILCHAR* path, void* security);

/**
 * @brief Creates or opens a file, in the manner of CreateFileW.
 *
 * Without write access the file is opened through the reader library, with
 * write access through the writer library. User-data and general files
 * opened without write access go through the writer (and count as being
 * written) unless the disposition is 3 (open existing).
 *
 * Sharing: the volume has at most one file open for writing at a time, but
 * for general files, of which up to four may be written together. Opening
 * an AV-tree file for writing makes open readers of related files give way:
 * a reader of `\MEDIAPRO.XML` (and, for a clip or its `M01.XML`, of that
 * `M01.XML`) that shares write and delete (share bits `0x2` and `0x4`) is
 * suspended, so that its later reads, writes and seeks fail with `-3011` and
 * only its close works; one that does not share both refuses the open.
 *
 * Dispositions of AV-tree files opened for writing: clips and components are
 * always created new (2, 3 and 4 become 1); `\DISCMETA.XML` and the `M01.XML`
 * metadata files of clips and edit lists are always opened existing (2 and 4
 * become 3); `\ALIAS.XML` is opened always (2 and 3 become 4) and only with
 * flag `0x00020000` on a volume opened with free naming; clip user metadata
 * and edit lists take 1 to 4 as given; `\INDEX.XML`, `\MEDIAPRO.XML`,
 * `\SYSPRO.XML` and sub clips cannot be written.
 *
 * With write access the export writes an operation-log line: "Creating" for
 * dispositions 1 and 2, "Opening" for the others, "started" or "failed".
 *
 * @param volume the volume handle, 0.
 * @param path the volume path of the file.
 * @param desiredAccess `0x80000000` read, `0x40000000` write; `0x00010000`
 *        (with write access, user-data and general files) allows
 *        QUILAPI_DeleteFileWithHandle on the handle.
 * @param shareMode `0x1` read, `0x2` write, `0x4` delete; a reader that shares
 *        write and delete may be suspended for a writer (see above).
 * @param securityAttributes passed to the sibling library unchanged (may be NULL).
 * @param creationDisposition 1 create new, 2 create always, 3 open existing,
 *        4 open always.
 * @param flagsAndAttributes `0x00010000` UMID mode 2 for AV-tree files written;
 *        `0x00020000` allows writing `\ALIAS.XML`; `0x00040000` makes `extra`
 *        point to 8 bytes that the reader library uses for clips; for
 *        user-data and general files passed on to the writer library.
 * @param extra passed to the sibling library unchanged (may be NULL).
 * @return the new file handle (1 or more), or -1 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - `-5` neither read nor write access for a path that is no user-data or
 *   general file, or a disposition the file kind does not take;
 * - `-8` denied: for writing, another file is being written (only general
 *   files may be written together, up to four); a related file is being
 *   written (e.g. reading `\INDEX.XML` or `\MEDIAPRO.XML` during a
 *   recording, reading a clip while its `M01.XML` or `M02.KLV` is written) or
 *   read (e.g. `\INDEX.XML` or `\ALIAS.XML` while a clip is created); a
 *   reader that would have to give way does not share write and delete;
 *   `clipProtectMode` 1 and a clip opened for writing; a clip's `M01.XML`
 *   that is read-only;
 * - `-9` the path names no file (see the file comment);
 * - `-3002` / `-3012` write access on a write-protected volume (see the file
 *   comment); reading goes on;
 * - `-3005` write access to `\INDEX.XML`, `\MEDIAPRO.XML`, `\SYSPRO.XML` or a
 *   sub clip, or to `\ALIAS.XML` without flag `0x00020000` and free naming;
 * - `-3010` sharing violation: the file is already open for writing (for
 *   reading: `\ALIAS.XML`, `\DISCMETA.XML`, clip and edit-list metadata, edit
 *   lists, user-data and general files); for writing, the file is also open
 *   for reading, a fifth general file is asked for, or a reader of the clip
 *   metadata file being opened does not share write and delete;
 * - the reader library's code (opening for reading, reading the attributes
 *   of a clip's `M01.XML`, or a reader that could not be suspended);
 * - the writer library's code (opening for writing, e.g. `-3008` when a clip
 *   already exists);
 * - user-data and general files: the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_CreateFile(int32_t volume, const QUILCHAR* path, uint32_t desiredAccess,
                                          uint32_t shareMode, void* securityAttributes,
                                          uint32_t creationDisposition, uint32_t flagsAndAttributes,
                                          void* extra);

/**
 * @brief Opens the volume at rootPath.
 *
 * Opens the drive through the writer side, checks the AV tree, opens the
 * reader library's view, checks and if need be rewrites `\DISCMETA.XML`,
 * makes sure the CMPTR folder exists and applies the writer's renaming of
 * duplicated file names (rewriting `\ALIAS.XML`, or on a write-protected
 * volume presenting a virtual alias; the desktop utility is told either
 * way). A failed opening leaves nothing open.
 *
 * The volume may open write-protected: see the write-protect flag word of
 * QUILAPI_GetVolumeInformation. Each call records the thread's last-error
 * code at its end as the volume status, except a call refused with `-3001`;
 * after a success that is the code the thread had before (0 on a thread that
 * never failed).
 *
 * @param rootPath a drive root such as `E:` or `E:\` (either case); its first
 *        character names the drive in log lines and notifications. On Linux a
 *        drive is a link in the drive folder (`$QUIL_DRIVES`, default
 *        `/var/lib/quil/drives`) named `e:` and leading to the disc's folder.
 *        A host folder is not taken here: the `quil` tool and `quilfs` link
 *        one for you under a private drive folder.
 * @param param the volume parameters (see _Volume_Param).
 * @return 0, the volume handle, on success; -1 on failure.
 * @par Last error
 * - `-3001` a volume is already open (the volume status is left unchanged);
 * - `-5` rootPath or param is NULL;
 * - `-3101` the disc's file-system driver refused to register the process;
 * - `-3007` the disc holds files that are not supported; `-1` the AV-tree
 *   check gave another unexpected answer;
 * - `-3002` `\DISCMETA.XML` cannot be opened;
 * - `-4001` `\DISCMETA.XML` is broken and may not be rewritten (medium type
 *   other than 'S' and 'W', 2.3 mode without a passed 2.3-mode check, or a
 *   write-protected volume);
 * - the reader library's code (its volume, or reading `\DISCMETA.XML`);
 * - the writer library's code (opening the drive and reading the medium, its
 *   volume check, rewriting `\DISCMETA.XML` or `\ALIAS.XML`).
 */
QUILAPI_EXPORT int32_t QUILAPI_CreateVolume(const QUILCHAR* rootPath, const _Volume_Param* param);

/**
 * @brief Deletes a file by path.
 *
 * Only clips (`.MXF` in `\CLIP`), clip user metadata (`M02.KLV`), components,
 * edit lists (`E01.SMI`), user-data and general files can be deleted. For a
 * clip, component or edit list, readers of `\MEDIAPRO.XML` (and of a clip's
 * `M01.XML`) that share write and delete are suspended (see
 * QUILAPI_CreateFile). When the writer library refuses to delete a
 * user-data or general file with Windows error 32 (sharing violation)
 * because it is open for writing, the call fails but the file is deleted
 * when its writing handle is closed. A writer failure on an
 * AV-tree file may mark the volume corrupted (`0x80000000`). An
 * operation-log line reports the result.
 *
 * @param volume the volume handle, 0.
 * @param path the volume path of the file.
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - `-8` `clipProtectMode` 1 and a clip; an AV-tree file is being written
 *   (for a general file also a user-data file); a related file is read (for
 *   a clip: `\INDEX.XML`, `\ALIAS.XML`, `\DISCMETA.XML`, its `M02.KLV` or sub
 *   clip, any edit list or its metadata; for the others likewise); a reader
 *   that would have to give way does not share write and delete;
 * - `-9` the path names no file;
 * - `-3002` / `-3012` the volume is write-protected;
 * - `-3005` a kind that cannot be deleted (the root XML files, `M01.XML`
 *   metadata files, sub clips);
 * - `-3010` the AV-tree file itself is open for writing or for reading;
 * - the reader library's code (a reader that could not be suspended);
 * - the writer library's code;
 * - user-data and general files: the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_DeleteFile(int32_t volume, const QUILCHAR* path);

/**
 * @brief Deletes the file behind an open handle, when that handle closes.
 *
 * Only for a user-data or general file opened with write access and access
 * bit `0x00010000`. The file is marked; writes to it then fail with `-8`,
 * and it is deleted when the file's writing handle is closed
 * (QUILAPI_CloseHandle).
 *
 * @param handle a file handle from QUILAPI_CreateFile.
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` no volume is open or the handle is unknown;
 * - `-8` the handle was not opened for delete (`0x00010000`), or is a find
 *   handle.
 */
QUILAPI_EXPORT int32_t QUILAPI_DeleteFileWithHandle(int32_t handle);

/**
 * @brief Ends a directory enumeration.
 *
 * The handle is released whatever the reader library answers.
 *
 * @param findHandle a find handle from QUILAPI_FindFirstFile.
 * @return the reader library's result: non-zero on success, 0 on failure.
 * @par Last error
 * - `-4` no volume is open, the handle is unknown or is a file handle (the
 *   file stays open);
 * - the reader library's code.
 */
QUILAPI_EXPORT int32_t QUILAPI_FindClose(int32_t findHandle);

/**
 * @brief Starts a directory enumeration and fills the first entry.
 *
 * The pattern goes to the reader library as given, every slash made a
 * backslash (e.g. `\CLIP\*.MXF`, `\USERDATA\*`); entries are passed on as the
 * reader library gives them.
 *
 * @param volume the volume handle, 0.
 * @param pattern the directory and name pattern.
 * @param findData receives the first entry (passed to the reader library as
 *        given, NULL included).
 * @return a find handle, or -1 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - the reader library's code (e.g. `1000` when nothing matches).
 */
QUILAPI_EXPORT int32_t QUILAPI_FindFirstFile(int32_t volume, const QUILCHAR* pattern, QUIL_FIND_DATA* findData);

/**
 * @brief Fills the next entry of an enumeration.
 *
 * @param findHandle a find handle from QUILAPI_FindFirstFile.
 * @param findData receives the entry.
 * @return the reader library's result: non-zero when an entry was delivered,
 *         0 at the end of the listing or on failure.
 * @par Last error
 * - `-4` no volume is open, the handle is unknown or is a file handle;
 * - the reader library's code, also at the end of the listing (`1000`
 *   "No object found in searching." with the disc emulator's reader).
 */
QUILAPI_EXPORT int32_t QUILAPI_FindNextFile(int32_t findHandle, QUIL_FIND_DATA* findData);

/**
 * @brief Flushes the volume to the disc.
 *
 * Works on a write-protected volume too; open handles are not consulted.
 *
 * @param volume the volume handle, 0.
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - the writer library's code.
 */
QUILAPI_EXPORT int32_t QUILAPI_FlushVolume(int32_t volume);

/**
 * @brief Copies the clip identifier of an open clip file.
 *
 * For a file open for writing the identifier comes from the writer library:
 * its first bufferLength - 1 characters at most and a terminating NUL are
 * copied when buffer is given and bufferLength is not 0, and `*length`
 * receives the identifier's full length + 1, so a short buffer still tells
 * the size needed. For a file open for reading the reader library answers
 * and fills buffer and length by its own rules.
 *
 * @param handle a file handle from QUILAPI_CreateFile.
 * @param buffer receives the identifier (may be NULL).
 * @param bufferLength size of buffer in characters.
 * @param length receives the identifier's length + 1 (may be NULL).
 * @return -1 (writer side) or the reader library's non-zero result on
 *         success, 0 on failure.
 * @par Last error
 * - `-4` no volume is open or the handle is unknown;
 * - `-3011` the handle was suspended to let a writer in;
 * - the writer library's code (e.g. `-1` for a file that has no clip
 *   identifier);
 * - the reader library's code.
 */
QUILAPI_EXPORT int32_t QUILAPI_GetClipId(int32_t handle, QUILCHAR* buffer, uint32_t bufferLength, uint32_t* length);

/**
 * @brief Reads the attribute bits of a path.
 *
 * Asked of the reader library with every slash made a backslash. The bits
 * are Windows file attributes: `0x1` read-only (a locked clip or component),
 * `0x10` directory, `0x80` normal.
 *
 * @param volume the volume handle, 0.
 * @param path the volume path.
 * @param attributes receives the bits.
 * @return the reader library's result: non-zero on success, 0 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - the reader library's code.
 */
QUILAPI_EXPORT int32_t QUILAPI_GetFileAttributes(int32_t volume, const QUILCHAR* path, uint32_t* attributes);

/**
 * @brief Reads the size of an open file in bytes.
 *
 * @param handle a file handle from QUILAPI_CreateFile.
 * @param size receives the size.
 * @return -1 (writer side) or the reader library's non-zero result on
 *         success, 0 on failure.
 * @par Last error
 * - `-4` no volume is open or the handle is unknown (a find handle is handed
 *   to the reader library as it is, and its answer stands);
 * - `-3011` the handle was suspended to let a writer in;
 * - the reader or the writer library's code;
 * - user-data and general files: the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_GetFileSize(int32_t handle, int64_t* size);

/**
 * @brief Reads the file type of an open file.
 *
 * The value is the sibling library's (a Windows file type, e.g. 1 for a disk
 * file); `*type` is written only on success.
 *
 * @param handle a file handle from QUILAPI_CreateFile.
 * @param type receives the type.
 * @return -1 (writer side) or the reader library's non-zero result on
 *         success, 0 on failure.
 * @par Last error
 * - `-4` no volume is open or the handle is unknown (a find handle is handed
 *   to the reader library as it is, and its answer stands);
 * - `-3011` the handle was suspended to let a writer in;
 * - the reader or the writer library's code;
 * - user-data and general files: the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_GetFileType(int32_t handle, uint32_t* type);

/**
 * @brief Returns the calling thread's last-error code.
 *
 * The code stays until the thread's next failure (or QUILAPI_SetLastError);
 * successful calls do not clear it. A new thread reads 0.
 *
 * @return the code; 0 means no error, or, after a failed call on a
 *         user-data or general file, that the cause is the thread's Windows
 *         error (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_GetLastError(void);

/**
 * @brief Copies the calling thread's last-error message and returns its code.
 *
 * When buffer is not NULL and bufferLength is not 0, the message's first
 * bufferLength - 1 characters at most and a terminating NUL are copied.
 * When requiredLength is not NULL it receives the message's length + 1,
 * whatever the buffer was, so a call with a NULL buffer asks for the size
 * needed. A message has at most 255 characters: a buffer of 256 always
 * suffices. Reading does not clear the error.
 *
 * @param buffer receives the message (may be NULL).
 * @param bufferLength size of buffer in characters.
 * @param requiredLength receives the message's length + 1 (may be NULL).
 * @return the last-error code, as QUILAPI_GetLastError.
 */
QUILAPI_EXPORT int32_t QUILAPI_GetLastErrorWithMessage(QUILCHAR* buffer, uint32_t bufferLength,
                                                       uint32_t* requiredLength);

/**
 * @brief Reads non-real-time metadata through the reader library.
 *
 * Both records go to the reader library unchanged; it alone gives them their
 * meaning.
 *
 * @param volume the volume handle, 0.
 * @param request the request (may be NULL, passed on as such).
 * @param result receives the answer.
 * @return the reader library's result: non-zero on success, 0 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - a failure of the reader library leaves the last error as it was.
 */
QUILAPI_EXPORT int32_t QUILAPI_GetNRTdata(int32_t volume, const NrtDataRequest* request, NrtResult* result);

/**
 * @brief Reads non-real-time metadata information through the reader library.
 *
 * Both records go to the reader library unchanged; it alone gives them their
 * meaning.
 *
 * @param volume the volume handle, 0.
 * @param request the request (may be NULL, passed on as such).
 * @param result receives the answer.
 * @return the reader library's result: non-zero on success, 0 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - a failure of the reader library leaves the last error as it was.
 */
QUILAPI_EXPORT int32_t QUILAPI_GetNRTinfo(int32_t volume, const NrtInfoRequest* request, NrtResult* result);

/**
 * @brief Reads the two capacity values of the volume.
 *
 * The reader library gives them their meaning; the disc emulator's reader
 * reports the capacity and the free space, in bytes.
 *
 * @param volume the volume handle, 0.
 * @param first receives the first value (may be NULL).
 * @param second receives the second value (may be NULL).
 * @return the reader library's result: non-zero on success, 0 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - the reader library's code.
 */
QUILAPI_EXPORT int32_t QUILAPI_GetVolumeCapacity(int32_t volume, uint64_t* first, uint64_t* second);

/**
 * @brief Reads the volume status and the write-protect flag word.
 *
 * The volume status is the last-error code that the last
 * QUILAPI_CreateVolume left (a signed code stored in 32 bits: read it as
 * int32_t); `-9999` before the first attempt. The write-protect flag word is
 * 0 on a writable volume; see the file comment for its bits. With no volume
 * open any volume handle is accepted, so the reason of a failed opening can
 * be read.
 *
 * @param volume the volume handle, 0 (any value while no volume is open).
 * @param volumeStatus receives the volume status.
 * @param writeProtectFlag receives the write-protect flag word.
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` a volume is open and the handle is not 0;
 * - `-5` either pointer is NULL.
 */
QUILAPI_EXPORT int32_t QUILAPI_GetVolumeInformation(int32_t volume, uint32_t* volumeStatus,
                                                    uint32_t* writeProtectFlag);

/**
 * @brief Copies the volume label.
 *
 * The reader library fills buffer and length: length receives the label's
 * length plus one (its terminating NUL), whatever the buffer; the buffer
 * receives as much of the label as fits with a NUL after it. A buffer too
 * small for the whole label (or NULL) makes the call fail with `-5`, so
 * call it once with a buffer of 33 characters (a label has at most 32), or
 * ask the length with a small buffer first.
 *
 * @param volume the volume handle, 0.
 * @param buffer receives the label, terminated.
 * @param bufferLength size of buffer in characters, the NUL included.
 * @param length receives the label's length plus one.
 * @return the reader library's result: non-zero on success, 0 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - the reader library's code.
 */
QUILAPI_EXPORT int32_t QUILAPI_GetVolumeLabel(int32_t volume, QUILCHAR* buffer, uint32_t bufferLength,
                                              uint32_t* length);

/**
 * @brief Tells whether an open handle may be read.
 *
 * `*readable` becomes -1 (all bits set), or 0 for a clip or component open
 * for writing: one being written cannot be read back. A NULL readable makes
 * the call succeed without an answer.
 *
 * @param handle a file handle from QUILAPI_CreateFile.
 * @param readable receives -1 or 0 (may be NULL).
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` no volume is open or the handle is unknown.
 */
QUILAPI_EXPORT int32_t QUILAPI_IsHandleReadable(int32_t handle, int32_t* readable);

/**
 * @brief Gives a file a new name.
 *
 * Clips, components, edit lists, user-data and general files can be renamed,
 * each within its own kind. For a clip, component or edit list, readers of
 * `\MEDIAPRO.XML` (and of a clip's `M01.XML`) that share write and delete are
 * suspended (see QUILAPI_CreateFile). The new path is not checked against
 * open handles. A writer failure on an AV-tree file may mark the volume
 * corrupted (`0x80000000`). An operation-log line reports the result.
 *
 * @param volume the volume handle, 0.
 * @param from the current volume path.
 * @param to the new volume path.
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - `-8` `clipProtectMode` 1 and a clip; an AV-tree file is being written
 *   (for a general file also a user-data file); a related file is read (for
 *   a clip: `\INDEX.XML`, `\ALIAS.XML`, `\DISCMETA.XML`, its `M02.KLV` or sub
 *   clip; for a component or edit list: `\INDEX.XML`, `\ALIAS.XML`, an edit
 *   list's metadata); a reader that would have to give way does not share
 *   write and delete;
 * - `-9` either path names no file;
 * - `-3002` / `-3012` the volume is write-protected;
 * - `-3005` either path is of a kind that cannot be renamed, or the two kinds
 *   differ;
 * - `-3010` the AV-tree file is open for writing or for reading, or the
 *   user-data file is open for reading;
 * - the reader library's code (a reader that could not be suspended);
 * - the writer library's code;
 * - user-data and general files: the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_MoveFile(int32_t volume, const QUILCHAR* from, const QUILCHAR* to);

/**
 * @brief Renames a user-data or general file with MoveFileExW flags.
 *
 * The flags go to the writer library unchanged (e.g. `0x1`, replace an
 * existing file). There is no clip protection test. An operation-log line
 * reports the result.
 *
 * @param volume the volume handle, 0.
 * @param from the current volume path.
 * @param to the new volume path.
 * @param flags MoveFileExW flags.
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - `-3002` / `-3012` the volume is write-protected;
 * - `-8` an AV-tree file is being written (for a general file also a
 *   user-data file);
 * - `-3005` either path is neither a user-data nor a general file, or the two
 *   kinds differ;
 * - `-9` either path names no file;
 * - `-3010` the user-data file is open for reading;
 * - the writer library's code;
 * - the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_MoveFileEx(int32_t volume, const QUILCHAR* from, const QUILCHAR* to,
                                          uint32_t flags);

/**
 * @brief Reads from an open file at its file pointer.
 *
 * A failure writes an operation-log line.
 *
 * @param handle a file handle from QUILAPI_CreateFile.
 * @param buffer receives the bytes.
 * @param size number of bytes wanted.
 * @param read receives the number of bytes read (may be NULL).
 * @return -1 (writer side) or the reader library's non-zero result on
 *         success, 0 on failure.
 * @par Last error
 * - `-4` no volume is open or the handle is unknown (a find handle is handed
 *   to the reader library as it is, and its answer stands);
 * - `-3011` the handle was suspended to let a writer in;
 * - `-5` buffer is NULL and size is not 0;
 * - `-3005` the file was opened for writing without read access, or is a
 *   clip or component being written;
 * - the reader or the writer library's code;
 * - user-data and general files: the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_ReadFile(int32_t handle, void* buffer, uint32_t size, uint32_t* read);

/**
 * @brief Removes a directory below `\USERDATA` or `\GENERAL`.
 *
 * Open handles are not consulted and the reader library is not told.
 *
 * @param volume the volume handle, 0.
 * @param path a path below `\USERDATA` or `\GENERAL` (not the folder itself).
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - `-3002` / `-3012` the volume is write-protected;
 * - `-3005` the path is not below `\USERDATA` or `\GENERAL`;
 * - the writer library's code;
 * - the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_RemoveDirectory(int32_t volume, const QUILCHAR* path);

/**
 * @brief Does nothing: writes no trace and changes no state.
 *
 * Kept for callers of the original interface; what is logged is set in the
 * settings (docs/API.md).
 *
 * @param mode ignored.
 */
QUILAPI_EXPORT void QUILAPI_SetDebugMode(uint32_t mode);

/**
 * @brief Cuts or extends an open user-data or general file at its file
 *        pointer.
 *
 * Only for user-data and general files opened through the writer library.
 * When it fails for lack of space (`-3003`), later writes through the handle
 * fail with `-3003` too.
 *
 * @param handle a file handle from QUILAPI_CreateFile.
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` no volume is open or the handle is unknown;
 * - `-6` the handle is not a user-data or general file opened through the
 *   writer library;
 * - the writer library's code;
 * - the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_SetEndOfFile(int32_t handle);

/**
 * @brief Sets attribute bits: locks or unlocks a clip or component, or sets
 *        the attributes of a user-data or general file.
 *
 * On the AV tree only clips and components take attributes: `0x1`
 * (read-only) locks, `0x80` (normal) without `0x1` unlocks, and any other
 * value succeeds without a change. When the clip or component is being
 * written, the lock waits for the close of its writing handle (clearing
 * `0x1` that way only cancels a waiting lock). For user-data and general
 * files the bits go to the writer library. A failed lock may mark the volume
 * corrupted (`0x80000000`). An operation-log line reports the result.
 *
 * @param volume the volume handle, 0.
 * @param path the volume path.
 * @param attributes Windows file attribute bits.
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - `-8` `clipProtectMode` 1 and a clip; another AV-tree file is being
 *   written (for a general file also a user-data file);
 * - `-3002` / `-3012` the volume is write-protected;
 * - `-3005` a kind that takes no attributes (the root XML files, metadata
 *   files, sub clips, edit lists) or a path that names no file;
 * - `-3010` the AV-tree file itself is being written (and is no clip or
 *   component);
 * - the writer library's code;
 * - user-data and general files: the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_SetFileAttributes(int32_t volume, const QUILCHAR* path, uint32_t attributes);

/**
 * @brief Moves the file pointer of an open file.
 *
 * @param handle a file handle from QUILAPI_CreateFile.
 * @param distance bytes to move, signed.
 * @param newPosition receives the new position (may be NULL).
 * @param moveMethod 0 from the start, 1 from the current position, 2 from
 *        the end.
 * @return -1 (writer side) or the reader library's non-zero result on
 *         success, 0 on failure.
 * @par Last error
 * - `-4` no volume is open or the handle is unknown (a find handle is handed
 *   to the reader library as it is, and its answer stands);
 * - `-3011` the handle was suspended to let a writer in;
 * - the reader or the writer library's code;
 * - user-data and general files: the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_SetFilePointer(int32_t handle, int64_t distance, int64_t* newPosition,
                                              uint32_t moveMethod);

/**
 * @brief Sets the size of an open AV-tree file.
 *
 * User-data and general files change their size with QUILAPI_SetEndOfFile.
 *
 * @param handle a file handle from QUILAPI_CreateFile.
 * @param size the new size in bytes.
 * @return -1 (writer side) or the reader library's non-zero result on
 *         success, 0 on failure.
 * @par Last error
 * - `-4` no volume is open or the handle is unknown (a find handle is handed
 *   to the reader library as it is, and its answer stands);
 * - `-6` the handle is a user-data or general file;
 * - `-3011` the handle was suspended to let a writer in;
 * - the reader or the writer library's code.
 */
QUILAPI_EXPORT int32_t QUILAPI_SetFileSize(int32_t handle, int64_t size);

/**
 * @brief Sets the creation, last-access and last-write times of an open
 *        user-data or general file.
 *
 * Only for user-data and general files opened through the writer library.
 * The three values are Windows file times (100-nanosecond intervals since
 * 1601-01-01 UTC), passed to the writer library in this order.
 *
 * @param handle a file handle from QUILAPI_CreateFile.
 * @param creationTime creation time.
 * @param lastAccessTime last-access time.
 * @param lastWriteTime last-write time.
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` no volume is open or the handle is unknown;
 * - `-6` the handle is not a user-data or general file opened through the
 *   writer library;
 * - the writer library's code;
 * - the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_SetFileTime(int32_t handle, int64_t creationTime, int64_t lastAccessTime,
                                           int64_t lastWriteTime);

/**
 * @brief Sets the calling thread's last error to a code and its standard
 *        message.
 *
 * A code outside the library's table gets the message "not defined error";
 * 0 gives the empty message.
 *
 * @param code the code.
 */
QUILAPI_EXPORT void QUILAPI_SetLastError(int32_t code);

/**
 * @brief Sets the volume label.
 *
 * The new label is the first `length` characters of label at most (fewer
 * when label is shorter). A failed change may mark the volume corrupted
 * (`0x80000000`). An operation-log line reports the result.
 *
 * @param volume the volume handle, 0.
 * @param label the new label; NULL with a length of 0 gives the empty label.
 * @param length the most characters to take from label.
 * @return -1 on success, 0 on failure.
 * @par Last error
 * - `-4` the volume handle is not 0 or no volume is open;
 * - `-3002` / `-3012` the volume is write-protected;
 * - `-8` an AV-tree file is being written;
 * - `-5` label is NULL and length is not 0;
 * - the writer library's code.
 */
QUILAPI_EXPORT int32_t QUILAPI_SetVolumeLabel(int32_t volume, const QUILCHAR* label, uint32_t length);

/**
 * @brief Writes to an open file at its file pointer.
 *
 * Every call that reaches the file marks the handle as written, so a later
 * failed close is reported to the desktop utility (general files excepted).
 * A failure writes an operation-log line.
 *
 * @param handle a file handle from QUILAPI_CreateFile.
 * @param buffer the bytes to write.
 * @param size number of bytes.
 * @param written receives the number of bytes written (may be NULL).
 * @return -1 (writer side) or the reader library's non-zero result on
 *         success, 0 on failure.
 * @par Last error
 * - `-4` no volume is open or the handle is unknown (a find handle is handed
 *   to the reader library as it is, and its answer stands);
 * - `-3011` the handle was suspended to let a writer in;
 * - `-5` buffer is NULL and size is not 0;
 * - `-8` the file is marked for deletion (QUILAPI_DeleteFileWithHandle);
 * - `-3003` an earlier QUILAPI_SetEndOfFile on this user-data or general
 *   file ran out of space;
 * - the writer library's code (e.g. `-3003` no free space on the disc); the
 *   reader library's code for a handle opened without write access;
 * - user-data and general files: the Windows error relay (@ref quil_relay).
 */
QUILAPI_EXPORT int32_t QUILAPI_WriteFile(int32_t handle, const void* buffer, uint32_t size, uint32_t* written);

#ifdef __cplusplus
}
#endif

#endif /* QUIL_QUILCOREAPI_H */
