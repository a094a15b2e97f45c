// The Windows error numbers the emulated reader, writer and driver report,
// in the place a Windows caller would find them.
#pragma once

#include <cstdint>

namespace quil::emulator::winerror {

inline constexpr uint32_t kWinInvalidFunction = 1;
inline constexpr uint32_t kWinFileNotFound = 2;
inline constexpr uint32_t kWinPathNotFound = 3;
inline constexpr uint32_t kWinAccessDenied = 5;
inline constexpr uint32_t kWinInvalidHandle = 6;
inline constexpr uint32_t kWinNoMoreFiles = 18;
inline constexpr uint32_t kWinWriteProtect = 19;
inline constexpr uint32_t kWinWriteFault = 29;
inline constexpr uint32_t kWinReadFault = 30;
inline constexpr uint32_t kWinSharingViolation = 32;
inline constexpr uint32_t kWinFileExists = 80;
inline constexpr uint32_t kWinInvalidParameter = 87;
inline constexpr uint32_t kWinDiskFull = 112;
inline constexpr uint32_t kWinInsufficientBuffer = 122;
inline constexpr uint32_t kWinInvalidName = 123;
inline constexpr uint32_t kWinFilenameTooLong = 206;
inline constexpr uint32_t kWinNegativeSeek = 131;
inline constexpr uint32_t kWinDirNotEmpty = 145;
inline constexpr uint32_t kWinAlreadyExists = 183;
inline constexpr uint32_t kWinDirectory = 267;
inline constexpr uint32_t kWinIoDevice = 1117;

}  // namespace quil::emulator::winerror
