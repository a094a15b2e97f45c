// What quilfs needs to speak both languages: UTF-8 paths of the mount to
// the library's UTF-16 volume paths and back, the few path shapes it treats
// on its own (user data, recorded essence), and the library's times
// (SYSTEMTIME in UTC, Windows FILETIME) as the kernel's timespecs.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "common/utf.h"
#include "quil/quilcoreapi.h"

namespace quilfs {

// Strict UTF-8 to UTF-16 (a broken sequence, an overlong form or an encoded
// surrogate gives nothing, so that two different byte strings never reach
// the same volume name) and back (a lone surrogate becomes U+FFFD).
using quiltools::utf16Of;
using quiltools::utf8Of;

// "/USERDATA/a.txt" -> "\USERDATA\a.txt", "/" -> "\". Nothing when the path
// is not valid UTF-8 or a name holds a backslash, which the volume would
// take as a separator.
std::optional<std::u16string> volumePathOf(std::string_view mountPath);

// The last name of a volume path ("\USERDATA\a.txt" -> "a.txt").
std::u16string_view lastName(std::u16string_view volumePath);

// Names on the volume compare without regard to case; quilfs folds ASCII
// (its own records only: the volume decides what a lookup finds).
bool sameName(std::u16string_view a, std::u16string_view b);

// The path as sameName compares it: one spelling for every case.
std::u16string foldedPath(std::u16string_view path);
// a is b or lies below it.
bool isAtOrBelow(std::u16string_view path, std::u16string_view folder);

// Below \USERDATA or \GENERAL (not the folder itself): the files the
// volume lets a host use as on any disk.
bool isUserArea(std::u16string_view volumePath);
// \CLIP\*.MXF and \COMPONENT\*.MXF: essence that is recorded once, always
// as a new file, and never rewritten.
bool isRecordedEssence(std::u16string_view volumePath);

// A time of a directory entry (UTC) as a timespec; the zero record gives
// the epoch.
struct timespec timespecOf(const QUIL_SYSTEMTIME& utc);
// A Windows file time: 100-ns intervals since 1601-01-01 UTC.
int64_t fileTimeOf(const struct timespec& t);

struct timespec now();
bool later(const struct timespec& a, const struct timespec& b);
bool sameTime(const struct timespec& a, const struct timespec& b);

}  // namespace quilfs
