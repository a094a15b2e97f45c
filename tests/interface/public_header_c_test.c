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

/* The typed pointers a client would hold; assigning an export of another
 * type is a constraint violation. */
static int32_t (*const readFile)(int32_t, void*, uint32_t, uint32_t*) = QUILAPI_ReadFile;
static int32_t (*const createVolume)(const QUILCHAR*, const _Volume_Param*) = QUILAPI_CreateVolume;
static int32_t (*const findNextFile)(int32_t, QUIL_FIND_DATA*) = QUILAPI_FindNextFile;
static void (*const setLastError)(int32_t) = QUILAPI_SetLastError;

/* Every export by name, so that the link step needs all 36 symbols. */
typedef void (*AnyFunction)(void);
#define EXPORT_ENTRY(fn, type) {#fn, (AnyFunction)fn},
static const struct {
    const char* name;
    AnyFunction address;
} exports[] = {QUILAPI_EXPORTS(EXPORT_ENTRY)};

static int failures;

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) {                                                     \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                    \
        }                                                                  \
    } while (0)

static void put32(unsigned char* bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + (size_t)i] = (unsigned char)(value >> (8 * i));
}

static void put64(unsigned char* bytes, size_t at, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        bytes[at + (size_t)i] = (unsigned char)(value >> (8 * i));
}

static void put16(unsigned char* bytes, size_t at, uint16_t value)
{
    bytes[at] = (unsigned char)value;
    bytes[at + 1] = (unsigned char)(value >> 8);
}

static void checkSizesAndOffsets(void)
{
    CHECK(sizeof(QUILCHAR) == 2);
    CHECK((QUILCHAR)-1 > 0); /* code units are unsigned */
    CHECK(sizeof(_Volume_Param) == 212);
    CHECK(sizeof(QUIL_VOLUME_PARAM) == 212);
    CHECK(sizeof(Media_Param_) == 16);
    CHECK(sizeof(QUIL_SYSTEMTIME) == 16);
    CHECK(sizeof(QUIL_FIND_DATA) == 192);
    CHECK(sizeof(NrtDataRequest) == 16);
    CHECK(sizeof(NrtInfoRequest) == 8);
    CHECK(sizeof(NrtResult) == 8 + sizeof(void*));

    CHECK(offsetof(_Volume_Param, ownerInfo.user) == 36);
    CHECK(offsetof(_Volume_Param, serialNo) == 92);
    CHECK(offsetof(_Volume_Param, Quil23Mode) == 200);
    CHECK(offsetof(_Volume_Param, option204) == 204);
    CHECK(offsetof(_Volume_Param, VerifyOnWrite) == 210);
    CHECK(offsetof(Media_Param_, mediumType) == 12);
    CHECK(offsetof(QUIL_FIND_DATA, time3) == 164);
    CHECK(offsetof(QUIL_FIND_DATA, size) == 184);
    CHECK(offsetof(NrtResult, pointer) == 8);
}

/* A caller that builds the record as raw bytes must read back the fields it
 * meant, including text fields without a terminator and a negative option. */
static void checkVolumeParamImage(void)
{
    unsigned char bytes[212];
    memset(bytes, 0, sizeof bytes);
    put32(bytes, 0, 2);
    put32(bytes, 16, 0xA4A3A2A1u);
    memcpy(bytes + 28, "JPNX", 4);
    memcpy(bytes + 36, "USR1", 4);
    put32(bytes, 48, 0x80000000u);
    put32(bytes, 56, 1);
    memset(bytes + 60, 'M', 32);
    memcpy(bytes + 92, "SN-0001", 7);
    put32(bytes, 192, 16);
    bytes[200] = 1;
    bytes[201] = 0;
    put32(bytes, 204, (uint32_t)-2);
    bytes[209] = 1;

    _Volume_Param param;
    memcpy(&param, bytes, sizeof param);
    CHECK(param.namingMode == 2);
    CHECK(param.audioMode[3] == 0xA4A3A2A1u);
    CHECK(param.tcMode == 0);
    CHECK(memcmp(param.ownerInfo.country, "JPNX", 4) == 0);
    CHECK(memcmp(param.ownerInfo.user, "USR1", 4) == 0);
    CHECK(param.recInhMode == 0x80000000u);
    CHECK(param.clipProtectMode == 1);
    CHECK(param.modelName[0] == 'M' && param.modelName[31] == 'M');
    CHECK(param.serialNo[0] == 'S' && param.serialNo[6] == '1' && param.serialNo[7] == 0);
    CHECK(param.maxClipReadHandles == 16);
    CHECK(param.Quil23Mode);
    CHECK(!param.norcFlag);
    CHECK(param.option204 == -2);
    CHECK(!param.SecDeleteMode);
    CHECK(param.GpsDataDelete);
    CHECK(!param.VerifyOnWrite);
}

static void checkMediaParamImage(void)
{
    unsigned char bytes[16];
    memset(bytes, 0, sizeof bytes);
    bytes[0] = 1;
    put32(bytes, 4, 7);
    put32(bytes, 8, 123);
    bytes[12] = 'W';

    Media_Param_ media;
    memcpy(&media, bytes, sizeof media);
    CHECK(media.isRMedia);
    CHECK(media.driveType == 7);
    CHECK(media.fwVersion == 123);
    CHECK(media.mediumType == 0x57);
}

/* The reader fills the record; a name of 64 units fills the field exactly. */
static void checkFindDataImage(void)
{
    unsigned char bytes[192];
    memset(bytes, 0, sizeof bytes);
    for (size_t i = 0; i < 64; ++i)
        put16(bytes, 2 * i, (uint16_t)(0x3041 + i)); /* non-ASCII UTF-16 units */
    put32(bytes, 128, 0x80);
    put16(bytes, 132, 2024);                   /* time1.wYear */
    put16(bytes, 148 + 6, 29);                 /* time2.wDay */
    put16(bytes, 164 + 14, 999);               /* time3.wMilliseconds */
    put64(bytes, 184, 0x0000000123456789ull); /* beyond 32 bits */

    QUIL_FIND_DATA data;
    memcpy(&data, bytes, sizeof data);
    CHECK(data.name[0] == 0x3041);
    CHECK(data.name[63] == 0x3041 + 63);
    CHECK(data.attributes == 0x80);
    CHECK(data.time1.wYear == 2024);
    CHECK(data.time2.wDay == 29);
    CHECK(data.time3.wMilliseconds == 999);
    CHECK(data.size == 0x0000000123456789ll);
}

static void checkNrtImages(void)
{
    unsigned char bytes[16];
    memset(bytes, 0, sizeof bytes);
    put64(bytes, 0, 0x1122334455667788ull);
    put32(bytes, 8, 42);
    NrtDataRequest data;
    memcpy(&data, bytes, sizeof data);
    CHECK(data.value1 == 0x1122334455667788ull);
    CHECK(data.value2 == 42);

    memset(bytes, 0, sizeof bytes);
    put32(bytes, 0, 5);
    put32(bytes, 4, 6);
    NrtInfoRequest info;
    memcpy(&info, bytes, sizeof info);
    CHECK(info.value1 == 5 && info.value2 == 6);

    NrtResult result;
    memset(&result, 0, sizeof result);
    result.pointer = &result;
    unsigned char image[sizeof result];
    memcpy(image, &result, sizeof result);
    void* stored;
    memcpy(&stored, image + 8, sizeof stored);
    CHECK(stored == (void*)&result);
}

static void checkExports(void)
{
    CHECK(sizeof exports / sizeof exports[0] == 36);
    for (size_t i = 0; i < sizeof exports / sizeof exports[0]; ++i) {
        if (exports[i].address == NULL) {
            fprintf(stderr, "export %s is not resolved\n", exports[i].name);
            ++failures;
        }
    }
    CHECK(readFile != NULL && createVolume != NULL && findNextFile != NULL && setLastError != NULL);
}

int main(void)
{
    checkSizesAndOffsets();
    checkVolumeParamImage();
    checkMediaParamImage();
    checkFindDataImage();
    checkNrtImages();
    checkExports();
    if (failures != 0)
        fprintf(stderr, "%d check(s) failed\n", failures);
    return failures != 0;
}
