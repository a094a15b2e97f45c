/*
 * A C11 client of quil/quilcoreapi.h.
 *
 * Compiling proves the header is plain C and that every export keeps its
 * exact signature; linking against the library proves all 36 exports are
 * visible with C linkage; running checks the record layouts byte for byte,
 * as a C caller that fills or reads the records in memory sees them.
 */
#include <quil/quilcoreapi.h>

#include <stdio.h>
#include <string.h>

/* Every export with the exact type it must have. */
#define QUILAPI_EXPORTS(X)                                                                               \
    X(QUILAPI_CloseHandle, int32_t (*)(int32_t))                                                         \
    X(QUILAPI_CloseVolume, int32_t (*)(int32_t))                                                         \
    X(QUILAPI_CreateDirectory, int32_t (*)(int32_t, const QUILCHAR*, void*))                             \
    X(QUILAPI_CreateFile,                                                                                \
      int32_t (*)(int32_t, const QUILCHAR*, uint32_t, uint32_t, void*, uint32_t, uint32_t, void*))       \
    X(QUILAPI_CreateVolume, int32_t (*)(const QUILCHAR*, const _Volume_Param*))                          \
    X(QUILAPI_DeleteFile, int32_t (*)(int32_t, const QUILCHAR*))                                         \
    X(QUILAPI_DeleteFileWithHandle, int32_t (*)(int32_t))                                                \
    X(QUILAPI_FindClose, int32_t (*)(int32_t))                                                           \
    X(QUILAPI_FindFirstFile, int32_t (*)(int32_t, const QUILCHAR*, QUIL_FIND_DATA*))                     \
    X(QUILAPI_FindNextFile, int32_t (*)(int32_t, QUIL_FIND_DATA*))                                       \
    X(QUILAPI_FlushVolume, int32_t (*)(int32_t))                                                         \
    X(QUILAPI_GetClipId, int32_t (*)(int32_t, QUILCHAR*, uint32_t, uint32_t*))                           \
    X(QUILAPI_GetFileAttributes, int32_t (*)(int32_t, const QUILCHAR*, uint32_t*))                       \
    X(QUILAPI_GetFileSize, int32_t (*)(int32_t, int64_t*))                                               \
    X(QUILAPI_GetFileType, int32_t (*)(int32_t, uint32_t*))                                              \
    X(QUILAPI_GetLastError, int32_t (*)(void))                                                           \
    X(QUILAPI_GetLastErrorWithMessage, int32_t (*)(QUILCHAR*, uint32_t, uint32_t*))                      \
    X(QUILAPI_GetNRTdata, int32_t (*)(int32_t, const NrtDataRequest*, NrtResult*))                       \
    X(QUILAPI_GetNRTinfo, int32_t (*)(int32_t, const NrtInfoRequest*, NrtResult*))                       \
    X(QUILAPI_GetVolumeCapacity, int32_t (*)(int32_t, uint64_t*, uint64_t*))                             \
    X(QUILAPI_GetVolumeInformation, int32_t (*)(int32_t, uint32_t*, uint32_t*))                          \
    X(QUILAPI_GetVolumeLabel, int32_t (*)(int32_t, QUILCHAR*, uint32_t, uint32_t*))                      \
    X(QUILAPI_IsHandleReadable, int32_t (*)(int32_t, int32_t*))                                          \
    X(QUILAPI_MoveFile, int32_t (*)(int32_t, const QUILCHAR*, const QUILCHAR*))                          \
    X(QUILAPI_MoveFileEx, int32_t (*)(int32_t, const QUILCHAR*, const QUILCHAR*, uint32_t))              \
    X(QUILAPI_ReadFile, int32_t (*)(int32_t, void*, uint32_t, uint32_t*))                                \
    X(QUILAPI_RemoveDirectory, int32_t (*)(int32_t, const QUILCHAR*))                                    \
    X(QUILAPI_SetDebugMode, void (*)(uint32_t))                                                          \
    X(QUILAPI_SetEndOfFile, int32_t (*)(int32_t))                                                        \
    X(QUILAPI_SetFileAttributes, int32_t (*)(int32_t, const QUILCHAR*, uint32_t))                        \
    X(QUILAPI_SetFilePointer, int32_t (*)(int32_t, int64_t, int64_t*, uint32_t))                         \
    X(QUILAPI_SetFileSize, int32_t (*)(int32_t, int64_t))                                                \
    X(QUILAPI_SetFileTime, int32_t (*)(int32_t, int64_t, int64_t, int64_t))                              \
    X(QUILAPI_SetLastError, void (*)(int32_t))                                                           \
    X(QUILAPI_SetVolumeLabel, int32_t (*)(int32_t, const QUILCHAR*, uint32_t))                           \
    X(QUILAPI_WriteFile, int32_t (*)(int32_t, const void*, uint32_t, uint32_t*))

/* A changed argument or result type, or a lost const, stops the build here. */
#define EXPECT_SIGNATURE(fn, type) \
    _Static_assert(_Generic(&fn, type: 1, default: 0), #fn " has changed its signature");
QUILAPI_EXPORTS(EXPECT_SIGNATURE)

/* Every export by name, so that the link step needs all 36 symbols. */
typedef void (*AnyFunction)(void);
#define EXPORT_ENTRY(fn, type) {#fn, (AnyFunction)fn},
static const struct {
    const char* name;
    AnyFunction address;
} exports[] = {QUILAPI_EXPORTS(EXPORT_ENTRY)};

int main(void)
{
    int failures = 0;
    if (sizeof exports / sizeof exports[0] != 36) {
        fprintf(stderr, "expected 36 exports\n");
        ++failures;
    }
    for (size_t i = 0; i < sizeof exports / sizeof exports[0]; ++i) {
        if (exports[i].address == NULL) {
            fprintf(stderr, "%s is not linked\n", exports[i].name);
            ++failures;
        }
    }
    /* A C caller sets and reads the last error through the C interface. */
    QUILCHAR buffer[64];
    uint32_t required = 0;
    QUILAPI_SetLastError(-5);
    if (QUILAPI_GetLastErrorWithMessage(buffer, 64, &required) != -5 || required != 50 || buffer[0] != u'A') {
        fprintf(stderr, "last error through C: required %u\n", (unsigned)required);
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
