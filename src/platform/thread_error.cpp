// The one piece of state behind QUILPlatform_GetLastError/SetLastError.
#include "quil/platform_error.h"

namespace {
thread_local uint32_t tWindowsError = 0;
}

extern "C" uint32_t QUILPlatform_GetLastError(void) { return tWindowsError; }

extern "C" void QUILPlatform_SetLastError(uint32_t error) { tWindowsError = error; }
