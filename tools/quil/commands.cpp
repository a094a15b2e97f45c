#include "commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "log_files.h"
#include "stop_notice.h"
#include "quil/platform_error.h"
#include "quil/sibling/quildriver.h"

namespace quiltool {

namespace {

constexpr uint32_t kRead = 0x80000000u;
constexpr uint32_t kWrite = 0x40000000u;
constexpr uint32_t kShareRead = 1;
constexpr uint32_t kCreateNew = 1, kCreateAlways = 2, kOpenExisting = 3;
constexpr uint32_t kDirectory = 0x10;
constexpr size_t kBlock = 1u << 20;  // large blocks: the disc is written in runs

std::string pathText(const std::u16string& path) { return narrow(path); }

// Bytes and the rate so far, rewritten in place on a terminal.
class Progress {
 public:
  Progress(const TransferOptions& options, const char* verb)
      : shown_(options.progress && isatty(STDERR_FILENO) != 0), verb_(verb),
        start_(std::chrono::steady_clock::now()) {}
  void update(uint64_t bytes, bool last = false) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!last && now - lastShown_ < std::chrono::milliseconds(200)) return;
    lastShown_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double mib = static_cast<double>(bytes) / (1 << 20);
    std::fprintf(stderr, "\r%s %.1f MiB  %.1f MiB/s   %s", verb_, mib, seconds > 0 ? mib / seconds : 0.0,
                 last ? "\n" : "");
  }

 private:
  bool shown_;
  const char* verb_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastShown_{};
};

// A host file, closed at the end of its scope.
struct HostFile {
  HostFile(const std::string& path, int flags) : fd(::open(path.c_str(), flags | O_CLOEXEC, 0666)) {
    if (fd < 0) throw Failure("quil: " + path + ": " + std::strerror(errno), kLibraryFailure);
  }
  ~HostFile() {
    if (fd >= 0) ::close(fd);
  }
  int fd;
};

// Reads the whole of an open file to a sink, in blocks.
template <class Sink>
uint64_t readAll(int32_t handle, const std::u16string& path, Sink&& sink, Progress* progress = nullptr) {
  std::vector<char> buffer(kBlock);
  uint64_t total = 0;
  for (;;) {
    uint32_t read = 0;
    if (QUILAPI_ReadFile(handle, buffer.data(), kBlock, &read) == 0) libraryFailure(pathText(path));
    if (read == 0) return total;
    sink(buffer.data(), read);
    total += read;
    if (progress != nullptr) progress->update(total);
  }
}

// Copies a host file into an open file; the count the disc took (short
// when the drive stopped a recording).
uint64_t writeAll(int fd, const std::string& hostFile, int32_t handle, const std::u16string& path, Progress& progress,
                  bool& stopped) {
  std::vector<char> buffer(kBlock);
  uint64_t total = 0;
  stopped = false;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), kBlock);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure("quil: " + hostFile + ": " + std::strerror(errno), kLibraryFailure);
    if (n == 0) return total;
    uint32_t written = 0;
    if (QUILAPI_WriteFile(handle, buffer.data(), static_cast<uint32_t>(n), &written) == 0) {
      libraryFailure(pathText(path));
    }
    total += written;
    progress.update(total);
    if (written < static_cast<uint32_t>(n)) {
      stopped = true;
      return total;
    }
  }
}

std::string isoTime(const QUIL_SYSTEMTIME& t) {
  char text[48];  // room for any 16-bit values
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond);
  return text;
}

std::u16string nameOf(const FindData& entry) {
  return std::u16string(entry.name, std::find(entry.name, entry.name + 64, u'\0'));
}

// \CLIP\NAME.MXF or \COMPONENT\NAME.MXF, in any case: what the drive records.
bool isEssencePath(const std::u16string& path) {
  std::string upper;
  for (const char16_t c : path) upper.push_back(c < 0x80 ? static_cast<char>(std::toupper(static_cast<int>(c))) : '?');
  for (const std::string folder : {"\\CLIP\\", "\\COMPONENT\\"}) {
    if (upper.rfind(folder, 0) != 0) continue;
    const std::string name = upper.substr(folder.size());
    return name.size() > 4 && name.find('\\') == std::string::npos && name.substr(name.size() - 4) == ".MXF";
  }
  return false;
}

}  // namespace

int info(const DiscChoice& disc) {
  OpenVolume volume(disc);
  uint32_t status = 0, flags = 0;
  if (QUILAPI_GetVolumeInformation(0, &status, &flags) == 0) libraryFailure("volume information");
  std::printf("root             %s\n", narrow(volume.rootPath()).c_str());
  if (!volume.imageFile().empty()) std::printf("image            %s (UDF, read-only)\n", volume.imageFile().c_str());
  std::printf("volume status    %d\n", static_cast<int32_t>(status));
  std::printf("write protection 0x%08X%s\n", flags, flags == 0 ? " (writable)" : " (write-protected)");
  // The medium as the drive reports it.
  const std::u16string device = u"\\\\.\\" + volume.rootPath().substr(0, 1) + u":";
  const int32_t d = QUILDriver_Open(device.c_str());
  if (d != -1) {
    uint8_t mount[QUIL_VOLUME_MOUNT_INFORMATION_SIZE] = {};
    uint8_t device_info[QUIL_DEVICE_INFORMATION_SIZE] = {};
    uint32_t returned = 0;
    if (QUILDriver_Control(d, GLYSCTL_GET_VOLUME_MOUNT_INFORMATION, nullptr, 0, mount, sizeof mount, &returned) != 0) {
      uint32_t notWritable = 0;
      std::memcpy(&notWritable, mount + 4, 4);
      const uint8_t type = mount[12];
      const bool writeOnce = type == 0x52 || type == 0x56 || type == 0x5A || type == 0xC2 || type == 0xD2;
      std::printf("medium           type 0x%02X%s, %s\n", type, writeOnce ? " (write-once)" : "",
                  notWritable != 0 ? "not writable" : "writable");
    }
    if (QUILDriver_Control(d, GLYSCTL_GET_DEVICE_INFORMATION, nullptr, 0, device_info, sizeof device_info,
                           &returned) != 0) {
      std::printf("drive firmware   %.4s\n", reinterpret_cast<const char*>(device_info + 24));
    }
    QUILDriver_Close(d);
  }
  uint64_t total = 0, free = 0;
  if (QUILAPI_GetVolumeCapacity(0, &total, &free) == 0) libraryFailure("capacity");
  std::printf("capacity         %llu bytes, %llu free\n", static_cast<unsigned long long>(total),
              static_cast<unsigned long long>(free));
  QUILCHAR labelText[64] = {};
  uint32_t length = 0;
  if (QUILAPI_GetVolumeLabel(0, labelText, 64, &length) == 0) libraryFailure("label");
  std::printf("label            %s\n", narrow(labelText).c_str());
  volume.close();
  return kOk;
}

namespace {

// Prints what the pattern finds; the names of the folders among it go to
// `folders` (for -R).
void listPattern(const std::u16string& pattern, bool longFormat, std::vector<std::u16string>* folders) {
  FindData entry{};
  const int32_t find = QUILAPI_FindFirstFile(0, pattern.c_str(), &entry);
  if (find == -1) {
    if (QUILAPI_GetLastError() == 1000) return;  // nothing there
    libraryFailure(pathText(pattern));
  }
  do {
    const std::string name = narrow(nameOf(entry));
    const bool directory = (entry.attributes & kDirectory) != 0;
    if (longFormat) {
      std::printf("%c 0x%08X %12lld %s %s\n", directory ? 'd' : '-', entry.attributes,
                  static_cast<long long>(entry.size), isoTime(entry.time3).c_str(), name.c_str());
    } else {
      std::printf("%s\n", name.c_str());
    }
    if (directory && folders != nullptr) folders->push_back(nameOf(entry));
  } while (QUILAPI_FindNextFile(find, &entry) != 0);
  QUILAPI_FindClose(find);
}

}  // namespace

int list(const DiscChoice& disc, const std::string& typed, bool longFormat, bool recursive) {
  OpenVolume volume(disc);
  // A folder lists its entries; a pattern with wildcards lists what matches.
  std::u16string path = volumePath(typed);
  if (path.find_first_of(u"*?") != std::u16string::npos) {
    listPattern(path, longFormat, nullptr);
    volume.close();
    return kOk;
  }
  while (path.size() > 1 && path.back() == u'\\') path.pop_back();
  if (path != u"\\") {
    // A folder that is not there is a failure, not an empty listing; a file
    // lists itself.
    uint32_t attributes = 0;
    if (QUILAPI_GetFileAttributes(0, path.c_str(), &attributes) == 0) libraryFailure(pathText(path));
    if ((attributes & kDirectory) == 0) {
      listPattern(path, longFormat, nullptr);
      volume.close();
      return kOk;
    }
  }
  std::vector<std::u16string> pending{path};
  for (size_t i = 0; i < pending.size(); ++i) {
    const std::u16string folder = pending[i];
    const std::u16string prefix = folder == u"\\" ? folder : folder + u"\\";
    if (recursive && i > 0) std::printf("\n%s:\n", pathText(folder).c_str());
    std::vector<std::u16string> below;
    listPattern(prefix + u"*", longFormat, recursive ? &below : nullptr);
    for (const auto& name : below) pending.push_back(prefix + name);
  }
  volume.close();
  return kOk;
}

int cat(const DiscChoice& disc, const std::string& typed) {
  OpenVolume volume(disc);
  const std::u16string path = volumePath(typed);
  OpenFile file(path, kRead, kShareRead, kOpenExisting);
  readAll(file.handle(), path, [](const char* data, uint32_t size) { std::fwrite(data, 1, size, stdout); });
  std::fflush(stdout);
  file.close();
  volume.close();
  return kOk;
}

int get(const DiscChoice& disc, const std::string& discPath, const std::string& hostFile,
        const TransferOptions& options) {
  OpenVolume volume(disc);
  const std::u16string path = volumePath(discPath);
  OpenFile file(path, kRead, kShareRead, kOpenExisting);
  HostFile out(hostFile, O_WRONLY | O_CREAT | O_TRUNC);
  Progress progress(options, "get");
  const uint64_t total = readAll(
      file.handle(), path,
      [&](const char* data, uint32_t size) {
        for (uint32_t done = 0; done < size;) {
          const ssize_t n = ::write(out.fd, data + done, size - done);
          if (n < 0 && errno == EINTR) continue;
          if (n < 0) throw Failure("quil: " + hostFile + ": " + std::strerror(errno), kLibraryFailure);
          done += static_cast<uint32_t>(n);
        }
      },
      &progress);
  progress.update(total, true);
  file.close();
  volume.close();
  return kOk;
}

int put(const DiscChoice& disc, const std::string& hostFile, const std::string& discPath,
        const TransferOptions& options) {
  HostFile in(hostFile, O_RDONLY);
  OpenVolume volume(disc);
  const std::u16string path = volumePath(discPath);
  OpenFile file(path, kWrite, 0, kCreateAlways);
  Progress progress(options, "put");
  bool stopped = false;
  const uint64_t total = writeAll(in.fd, hostFile, file.handle(), path, progress, stopped);
  progress.update(total, true);
  file.close();
  volume.close();
  if (stopped) throw Failure("quil: " + pathText(path) + ": the disc took only " + std::to_string(total) + " bytes",
                             kLibraryFailure);
  return kOk;
}

namespace {

// Why the drive stopped a recording, as far as this process can tell
// without the operation log: the Truncate message says the drive cut the
// clip short; a disc with less room left than one block of the copy says
// it filled (the writer's "Size Full"), else the clip reached the drive's longest recording ("Duration
// Full") or the drive found a format error, which the message does not
// tell apart.
std::string stopReason(StopNotice& notice, const std::u16string& path, uint64_t freeAfter) {
  if (!notice.serving()) {
    return "the drive stopped it (the desktop utility was told; the operation log gives the reason)";
  }
  if (!notice.truncated(path.substr(path.rfind(u'\\') + 1))) return "the drive took no more (no Truncate message came)";
  if (freeAfter < kBlock) return "Size Full: the disc is full";
  return "Duration Full: the clip reached the drive's longest recording (or the drive found a format error)";
}

}  // namespace

int record(const DiscChoice& disc, const std::string& hostFile, const std::string& clip,
           const TransferOptions& options) {
  const std::u16string path = volumePath(clip);
  if (!isEssencePath(path)) {
    throw Failure("quil record: " + pathText(path) +
                      " is not a clip or component essence file (\\CLIP\\C0001.MXF, \\COMPONENT\\P0001.MXF); "
                      "quil put writes other files",
                  kUsage);
  }
  HostFile in(hostFile, O_RDONLY);
  StopNotice notice;  // before the volume opens: the library looks for the session then
  OpenVolume volume(disc);
  OpenFile file(path, kWrite, 0, kCreateNew);
  Progress progress(options, "record");
  bool stopped = false;
  const uint64_t total = writeAll(in.fd, hostFile, file.handle(), path, progress, stopped);
  progress.update(total, true);
  file.close();
  uint64_t capacity = 0, freeAfter = 0;
  if (stopped && QUILAPI_GetVolumeCapacity(0, &capacity, &freeAfter) == 0) freeAfter = 1;  // unknown: not full
  volume.close();
  if (stopped) {
    std::printf("%s: recording stopped after %llu bytes: %s\n", pathText(path).c_str(),
                static_cast<unsigned long long>(total), stopReason(notice, path, freeAfter).c_str());
  } else {
    std::printf("%s: %llu bytes recorded\n", pathText(path).c_str(), static_cast<unsigned long long>(total));
  }
  return kOk;
}

int remove(const DiscChoice& disc, const std::string& typed) {
  OpenVolume volume(disc);
  const std::u16string path = volumePath(typed);
  if (QUILAPI_DeleteFile(0, path.c_str()) == 0) libraryFailure(pathText(path));
  volume.close();
  return kOk;
}

int move(const DiscChoice& disc, const std::string& from, const std::string& to) {
  OpenVolume volume(disc);
  const std::u16string a = volumePath(from), b = volumePath(to);
  if (QUILAPI_MoveFile(0, a.c_str(), b.c_str()) == 0) libraryFailure(pathText(a));
  volume.close();
  return kOk;
}

int makeDirectory(const DiscChoice& disc, const std::string& typed) {
  OpenVolume volume(disc);
  const std::u16string path = volumePath(typed);
  if (QUILAPI_CreateDirectory(0, path.c_str(), nullptr) == 0) libraryFailure(pathText(path));
  volume.close();
  return kOk;
}

int removeDirectory(const DiscChoice& disc, const std::string& typed) {
  OpenVolume volume(disc);
  const std::u16string path = volumePath(typed);
  if (QUILAPI_RemoveDirectory(0, path.c_str()) == 0) libraryFailure(pathText(path));
  volume.close();
  return kOk;
}

int label(const DiscChoice& disc, const std::string* text) {
  OpenVolume volume(disc);
  if (text != nullptr) {
    const std::u16string wanted = widen(*text);
    if (QUILAPI_SetVolumeLabel(0, wanted.c_str(), static_cast<uint32_t>(wanted.size())) == 0) {
      libraryFailure("label");
    }
  } else {
    QUILCHAR current[64] = {};
    uint32_t length = 0;
    if (QUILAPI_GetVolumeLabel(0, current, 64, &length) == 0) libraryFailure("label");
    std::printf("%s\n", narrow(current).c_str());
  }
  volume.close();
  return kOk;
}

int lock(const DiscChoice& disc, const std::string& typed, bool locked) {
  OpenVolume volume(disc);
  const std::u16string path = volumePath(typed);
  if (QUILAPI_SetFileAttributes(0, path.c_str(), locked ? 0x1u : 0x80u) == 0) libraryFailure(pathText(path));
  volume.close();
  return kOk;
}

int clipId(const DiscChoice& disc, const std::string& typed) {
  OpenVolume volume(disc);
  const std::u16string path = volumePath(typed);
  OpenFile file(path, kRead, kShareRead, kOpenExisting);
  QUILCHAR id[256] = {};
  uint32_t length = 0;
  if (QUILAPI_GetClipId(file.handle(), id, 256, &length) == 0) libraryFailure(pathText(path));
  std::printf("%s\n", narrow(id).c_str());
  file.close();
  volume.close();
  return kOk;
}

int showLog(size_t tail) {
  const std::string file = todaysLogFile();
  if (file.empty()) {
    std::printf("no log file of today in %s\n", logFolder().c_str());
    return kOk;
  }
  std::printf("%s\n", file.c_str());
  for (const auto& line : lastLines(file, tail)) std::printf("%s\n", line.c_str());
  return kOk;
}

int errorText(const std::string& text) {
  char* end = nullptr;
  const long code = std::strtol(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0') throw Failure("quil: not an error code: " + text, kUsage);
  QUILAPI_SetLastError(static_cast<int32_t>(code));
  QUILCHAR message[256] = {};
  QUILAPI_GetLastErrorWithMessage(message, 256, nullptr);
  std::printf("%ld %s\n", code, narrow(message).c_str());
  return kOk;
}

}  // namespace quiltool
