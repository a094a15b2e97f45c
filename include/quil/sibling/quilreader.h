/*
 * quilreader.h - what libquilcoreapi needs of the reader library.
 *
 * The reader library presents the disc as virtual files. The core calls it
 * for every read-side operation and tells it, through the QUIL_Notify*
 * calls, about each change that it made through the writer library, so that
 * the reader's view of the disc follows.
 *
 * Conventions:
 *  - Handles (volume, file, find) are 32-bit numbers; -1 means none.
 *  - "Yes/no" results are non-zero on success and 0 on failure; after a
 *    failure QUIL_GetLastErrorWithMessage gives the reader's code and text.
 *  - Text is UTF-16.
 *
 * Only what the core relies on is declared here.
 */
#ifndef QUIL_SIBLING_QUILREADER_H
#define QUIL_SIBLING_QUILREADER_H

#include <quil/quilcoreapi.h>

#if defined(__GNUC__) || defined(__clang__)
#define QUIL_READER_API __attribute__((visibility("default")))
#else
#define QUIL_READER_API
#endif

/* The reader's volume record: the caller's volume parameters (with recInhMode
 * replaced by the volume's current write-protect flag word) immediately
 * followed by the media record. 228 bytes. */
typedef struct QUIL_READER_VOLUME_PARAM {
    _Volume_Param volume;         /*   0 */
    Media_Param_ media;           /* 212 */
} QUIL_READER_VOLUME_PARAM;

QUIL_LAYOUT_CHECK(offsetof(QUIL_READER_VOLUME_PARAM, volume) == 0, "QUIL_READER_VOLUME_PARAM.volume");
QUIL_LAYOUT_CHECK(offsetof(QUIL_READER_VOLUME_PARAM, media) == 212, "QUIL_READER_VOLUME_PARAM.media");
QUIL_LAYOUT_CHECK(sizeof(QUIL_READER_VOLUME_PARAM) == 228, "QUIL_READER_VOLUME_PARAM is 228 bytes");

#ifdef __cplusplus
extern "C" {
#endif

/* --- volume --- */

/* Opens the reader's view of the disc at root; a reader volume number or -1.
 * *is23modeCheckOK tells whether the disc passed the reader's 2.3-mode check. */
QUIL_READER_API int32_t QUIL_CreateVolume(const QUILCHAR* root, const QUIL_READER_VOLUME_PARAM* param,
                                          bool* is23modeCheckOK);

/* Closes a reader volume; non-zero on success. */
QUIL_READER_API int32_t QUIL_CloseVolume(int32_t volume);

/* --- files --- */

/* Opens a file as CreateFileW does (security is always NULL); a file number or -1. */
QUIL_READER_API int32_t QUIL_CreateFile(int32_t volume, const QUILCHAR* path, uint32_t access, uint32_t share,
                                        void* security, uint32_t disposition, uint32_t flags, void* extra);

/* Closes a file number; non-zero on success. */
QUIL_READER_API int32_t QUIL_CloseHandle(int32_t file);

/* Reads at the file pointer; *done receives the count read. Non-zero on success. */
QUIL_READER_API int32_t QUIL_ReadFile(int32_t file, void* buffer, uint32_t size, uint32_t* done);

/* Writes at the file pointer; *done receives the count written. Non-zero on success. */
QUIL_READER_API int32_t QUIL_WriteFile(int32_t file, const void* buffer, uint32_t size, uint32_t* done);

/* Moves the file pointer; position may be NULL. Non-zero on success. */
QUIL_READER_API int32_t QUIL_SetFilePointer(int32_t file, int64_t distance, int64_t* position, uint32_t method);

/* Reads the file size; non-zero on success. */
QUIL_READER_API int32_t QUIL_GetFileSize(int32_t file, int64_t* size);

/* Sets the file size; non-zero on success. */
QUIL_READER_API int32_t QUIL_SetFileSize(int32_t file, int64_t size);

/* Reads the file type; non-zero on success. */
QUIL_READER_API int32_t QUIL_GetFileType(int32_t file, uint32_t* type);

/* Copies the clip identifier of an open clip; non-zero on success. */
QUIL_READER_API int32_t QUIL_GetClipId(int32_t file, QUILCHAR* buffer, uint32_t length, uint32_t* lengthOut);

/* Reads the attribute bits of a path; non-zero on success. */
QUIL_READER_API int32_t QUIL_GetFileAttributes(int32_t volume, const QUILCHAR* path, uint32_t* attributes);

/* --- enumeration --- */

/* Starts an enumeration; a find number or -1. */
QUIL_READER_API int32_t QUIL_FindFirstFile(int32_t volume, const QUILCHAR* pattern, QUIL_FIND_DATA* findData);

/* Next entry; non-zero when one was delivered. */
QUIL_READER_API int32_t QUIL_FindNextFile(int32_t find, QUIL_FIND_DATA* findData);

/* Ends an enumeration; non-zero on success. */
QUIL_READER_API int32_t QUIL_FindClose(int32_t find);

/* --- volume queries --- */

/* Reads the two capacity values; non-zero on success. */
QUIL_READER_API int32_t QUIL_GetVolumeCapacity(int32_t volume, uint64_t* first, uint64_t* second);

/* Copies the volume label; non-zero on success. */
QUIL_READER_API int32_t QUIL_GetVolumeLabel(int32_t volume, QUILCHAR* buffer, uint32_t length, uint32_t* lengthOut);

/* Reads non-real-time metadata; non-zero on success. */
QUIL_READER_API int32_t QUIL_GetNRTdata(int32_t volume, const NrtDataRequest* request, NrtResult* result);

/* Reads non-real-time metadata information; non-zero on success. */
QUIL_READER_API int32_t QUIL_GetNRTinfo(int32_t volume, const NrtInfoRequest* request, NrtResult* result);

/* --- change notifications ---
 * status is 0 after a successful change through the writer, else the failed
 * writer call's error code. The core only logs the results. */

QUIL_READER_API int32_t QUIL_NotifyCreateFile(int32_t volume, uint32_t status, const QUILCHAR* path);
QUIL_READER_API int32_t QUIL_NotifyCreateDirectory(int32_t volume, uint32_t status, const QUILCHAR* path);
QUIL_READER_API int32_t QUIL_NotifyDeleteFile(int32_t volume, uint32_t status, const QUILCHAR* path);
QUIL_READER_API int32_t QUIL_NotifySetFileAttribute(int32_t volume, uint32_t status, const QUILCHAR* path);
QUIL_READER_API int32_t QUIL_NotifySetVolumeLabel(int32_t volume, uint32_t status, const QUILCHAR* label);
QUIL_READER_API int32_t QUIL_NotifyMoveFile(int32_t volume, uint32_t status, const QUILCHAR* oldPath,
                                            const QUILCHAR* newPath);

/* Hands the reader the ALIAS.XML content to present instead of the one on a
 * disc that cannot be written; non-zero on success. */
QUIL_READER_API int32_t QUIL_NotifyVirtualAlias(int32_t volume, const uint8_t* bytes, uint32_t count);

/* --- last error --- */

/* Copies the reader's last-error text (the core passes a 256-character
 * buffer); *textLength receives its length. Returns the reader's last code. */
QUIL_READER_API int32_t QUIL_GetLastErrorWithMessage(QUILCHAR* buffer, uint32_t length, uint32_t* textLength);

/* Sets the reader's last error to a code and a message. */
QUIL_READER_API void QUIL_SetLastErrorWithMessage(int32_t code, const QUILCHAR* message);

#ifdef __cplusplus
}

/* The reader's own Windows-level error (0: none), kept apart from its last
 * error above. The core clears it before a relayed user-data or general-file
 * call and moves a non-zero value into the thread's Windows error after. */
namespace QUILReaderLastError {

class QUIL_READER_API QUILLastErrorManager {
public:
    static uint32_t get();
    static void clear();
    /* Not used by the core: this is how the reader library itself records
     * the Windows-level error of a failing call. */
    static void set(uint32_t value);
};

} // namespace QUILReaderLastError
#endif /* __cplusplus */

#endif /* QUIL_SIBLING_QUILREADER_H */
