/*
 * record_and_read: the smallest complete use of libquilcoreapi.
 *
 * Opens the volume at ROOT (default E:), records the clip \CLIP\C0001.MXF,
 * reads it back through a second handle and compares the bytes, then closes
 * the volume. Every failure prints the library's last error and its message.
 *
 *   record_and_read [ROOT]
 *
 * Build: cc record_and_read.c $(pkg-config --cflags --libs quilcoreapi) \
 *           -Wl,-rpath,$(pkg-config --variable=libdir quilcoreapi)
 *        (the run path only when the prefix is outside the linker's path,
 *        /usr/local included on some systems; else LD_LIBRARY_PATH)
 *    or: find_package(quilcoreapi CONFIG) and link quil::quilcoreapi.
 */
#include <quil/quilcoreapi.h>

#include <limits.h>
#include <locale.h>
#include <stdio.h>
#include <string.h>
#include <uchar.h>

/* The CreateFile arguments keep their Win32 values. */
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1u
#define CREATE_NEW 1u
#define OPEN_EXISTING 3u

#define VOLUME 0                        /* the handle QUILAPI_CreateVolume returns */
#define CLIP_PATH u"\\CLIP\\C0001.MXF"
#define CLIP_SHOWN "\\CLIP\\C0001.MXF"
enum { kClipBytes = 384 * 1024, kChunk = 64 * 1024 };

static unsigned char recorded[kClipBytes];
static unsigned char readBack[kClipBytes + 1];  /* one spare byte shows a file that grew */

/* Command-line text to UTF-16 through the user's locale, so that a host
 * folder with non-ASCII letters reaches the library intact. */
static int widen(const char* text, QUILCHAR* out, size_t capacity) {
    mbstate_t state;
    memset(&state, 0, sizeof state);
    const char* end = text + strlen(text) + 1;  /* the NUL is converted too */
    for (size_t n = 0; n < capacity; ++n) {
        const size_t r = mbrtoc16(&out[n], text, (size_t)(end - text), &state);
        if (r == (size_t)-1 || r == (size_t)-2) return 0;
        if (r == 0) return 1;
        if (r != (size_t)-3) text += r;  /* -3: second half of a surrogate pair, no input used */
    }
    return 0;
}

/* UTF-16 from the library to the terminal's encoding. */
static void narrow(const QUILCHAR* text, char* out, size_t capacity) {
    mbstate_t state;
    memset(&state, 0, sizeof state);
    size_t n = 0;
    for (; *text != 0 && n + MB_LEN_MAX < capacity; ++text) {
        const size_t r = c16rtomb(out + n, *text, &state);
        if (r != (size_t)-1) n += r;
    }
    out[n] = '\0';
}

/* Prints what failed with the thread's last error; the exit status 1. */
static int failed(const char* what) {
    QUILCHAR message[512];
    char shown[4 * 512];
    const int32_t code = QUILAPI_GetLastErrorWithMessage(message, 512, NULL);
    narrow(message, shown, sizeof shown);
    fprintf(stderr, "record_and_read: %s: error %d: %s\n", what, (int)code, shown);
    return 1;
}

static int record(void) {
    const int32_t file = QUILAPI_CreateFile(VOLUME, CLIP_PATH, GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    if (file == -1) return failed("creating " CLIP_SHOWN);
    for (uint32_t at = 0; at < kClipBytes;) {
        const uint32_t size = kClipBytes - at < kChunk ? kClipBytes - at : kChunk;
        uint32_t written = 0;
        if (QUILAPI_WriteFile(file, recorded + at, size, &written) == 0) {
            const int result = failed("writing " CLIP_SHOWN);  /* before the close replaces the error */
            QUILAPI_CloseHandle(file);
            return result;
        }
        if (written == 0) {  /* the drive stopped the recording */
            fprintf(stderr, "record_and_read: the recording stopped after %u bytes\n", (unsigned)at);
            QUILAPI_CloseHandle(file);
            return 1;
        }
        at += written;
    }
    if (QUILAPI_CloseHandle(file) == 0) return failed("closing " CLIP_SHOWN " after recording");
    return 0;
}

static int readAndCompare(void) {
    const int32_t file = QUILAPI_CreateFile(VOLUME, CLIP_PATH, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                            0, NULL);
    if (file == -1) return failed("opening " CLIP_SHOWN " for reading");
    uint32_t total = 0;
    for (;;) {
        uint32_t read = 0;
        const uint32_t room = (uint32_t)sizeof readBack - total;
        if (QUILAPI_ReadFile(file, readBack + total, room < kChunk ? room : kChunk, &read) == 0) {
            const int result = failed("reading " CLIP_SHOWN);
            QUILAPI_CloseHandle(file);
            return result;
        }
        total += read;
        if (read == 0 || total == sizeof readBack) break;
    }
    if (QUILAPI_CloseHandle(file) == 0) return failed("closing " CLIP_SHOWN " after reading");
    if (total != kClipBytes || memcmp(recorded, readBack, kClipBytes) != 0) {
        fprintf(stderr, "record_and_read: " CLIP_SHOWN " reads back %s (%u bytes of %u)\n",
                total == kClipBytes ? "different" : "with another size", (unsigned)total, (unsigned)kClipBytes);
        return 1;
    }
    printf(CLIP_SHOWN ": %u bytes recorded and read back identical\n", (unsigned)total);
    return 0;
}

int main(int argc, char** argv) {
    setlocale(LC_CTYPE, "");
    const char* root = argc > 1 ? argv[1] : "E:";
    QUILCHAR rootPath[1024];
    if (!widen(root, rootPath, sizeof rootPath / sizeof rootPath[0])) {
        fprintf(stderr, "record_and_read: cannot use %s as a root path\n", root);
        return 2;
    }

    /* Any pattern that differs from byte to byte shows a misplaced chunk. */
    uint32_t x = 20240601u;
    for (size_t i = 0; i < kClipBytes; ++i) {
        x = x * 1103515245u + 12345u;
        recorded[i] = (unsigned char)(x >> 16);
    }

    _Volume_Param param;
    memset(&param, 0, sizeof param);  /* every mode at its default */
    if (QUILAPI_CreateVolume(rootPath, &param) == -1) return failed("opening the volume");
    printf("volume %s open\n", root);

    int result = record();
    if (result == 0) result = readAndCompare();
    /* The volume is closed whatever happened, and a failed close counts. */
    if (QUILAPI_CloseVolume(VOLUME) == 0) result = failed("closing the volume");
    else printf("volume %s closed\n", root);
    return result;
}
