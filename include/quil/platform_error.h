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

#define QUILPLATFORM_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* The calling thread's Windows-level error; 0 on a new thread. */
QUILPLATFORM_API uint32_t QUILPlatform_GetLastError(void);

/* Sets the calling thread's Windows-level error. */
QUILPLATFORM_API void QUILPlatform_SetLastError(uint32_t error);

#ifdef __cplusplus
}
#endif

#endif /* QUIL_PLATFORM_ERROR_H */
