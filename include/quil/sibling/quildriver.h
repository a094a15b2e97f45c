/* The disc file-system driver, reached as the volume device of a drive
 * letter ("\\.\E:"). On Windows these are CreateFileW, DeviceIoControl and
 * CloseHandle on the device; here the disc emulator answers them. A failure
 * leaves its Windows error in the thread's error (QUILPlatform_GetLastError). */
#ifndef QUIL_SIBLING_QUILDRIVER_H
#define QUIL_SIBLING_QUILDRIVER_H

#include <stdint.h>

#include "quil/quilcoreapi.h"

#define QUIL_DRIVER_API __attribute__((visibility("default")))

#define GLYSCTL_ENTER_PRIVILEGED_MODE 0x00092803u
#define GLYSCTL_EXIT_PRIVILEGED_MODE 0x00092807u
#define GLYSCTL_REGISTER_PRIVILEGED_PROCESS 0x0009281Fu
#define GLYSCTL_MARK_VOLUME_DIRTY 0x00092837u
#define GLYSCTL_GET_DEVICE_INFORMATION 0x0009284Fu
#define GLYSCTL_GET_VOLUME_MOUNT_INFORMATION 0x00092853u

#define QUIL_DEVICE_INFORMATION_SIZE 58u
#define QUIL_VOLUME_MOUNT_INFORMATION_SIZE 16u

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the volume device "\\.\X:"; a device handle, or -1. */
QUIL_DRIVER_API int32_t QUILDriver_Open(const QUILCHAR* deviceName);

/* Sends one control code; non-zero on success. *returned receives the
 * number of output bytes written (when returned is not NULL). */
QUIL_DRIVER_API int32_t QUILDriver_Control(int32_t device, uint32_t code, const void* input, uint32_t inputSize,
                                           void* output, uint32_t outputSize, uint32_t* returned);

/* Closes the device handle; non-zero on success. */
QUIL_DRIVER_API int32_t QUILDriver_Close(int32_t device);

#ifdef __cplusplus
}
#endif

#endif /* QUIL_SIBLING_QUILDRIVER_H */
