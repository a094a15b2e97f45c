/* The thread's Windows-level error on Linux.
 *
 * On Windows a failure relayed from a sibling library for user-data and
 * general files is left in the thread's error (SetLastError/GetLastError).
 * Here the same value lives in a small shared library that the core and both
 * sibling libraries link, so that a caller reads it after a relayed failure
 * exactly where it would on Windows. */
#ifndef QUIL_PLATFORM_ERROR_H
#define QUIL_PLATFORM_ERROR_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#define QUILPLATFORM_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* The calling thread's Windows-level error; 0 on a new thread. */
QUILPLATFORM_API uint32_t QUILPlatform_GetLastError(void);

/* Sets the calling thread's Windows-level error. */
QUILPLATFORM_API void QUILPlatform_SetLastError(uint32_t error);

/* The text of a Windows error number, as the system's message lookup gives
 * it (for 32: "The process cannot access the file because it is being used
 * by another process."), without the line break Windows ends it with.
 * Writes the text and a terminating NUL into buffer when both fit in size
 * code units and returns the count of units written without the NUL. Returns
 * 0 and sets the thread's Windows error when nothing was written: 122 (the
 * buffer is too small, or NULL), 317 (no text for this number here). The
 * numbers the sibling libraries relay all have their text. */
QUILPLATFORM_API uint32_t QUILPlatform_FormatMessage(uint32_t error, char16_t* buffer, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* QUIL_PLATFORM_ERROR_H */
