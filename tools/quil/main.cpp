// quil: a command-line client of libquilcoreapi, through its public header
// only, so that what it shows is what any caller gets.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "quil/quilcoreapi.h"

namespace {

constexpr const char* kVersion = "0.1.0";

void usage(FILE* out) {
  std::fputs(
      "usage: quil COMMAND [ARGS]\n"
      "\n"
      "A command-line client of libquilcoreapi.\n"
      "\n"
      "commands:\n"
      "  version        print the version of this tool and of the library's interface\n"
      "  status         print the volume status and write-protect flags that the library reports\n"
      "                 (status -9999 until a volume has been opened in this process)\n"
      "  error CODE     print the message the library gives for an error code\n"
      "  session [ROOT] open the volume at ROOT (default E:), record the clip \\CLIP\\C0001.MXF and the\n"
      "                 user-data file \\USERDATA\\hello.txt, read both back and compare, list the\n"
      "                 disc, rename and delete the file, set the label, close\n"
      "  --help, -h     print this help\n"
      "\n"
      "Every call is traced into the library's log files. Settings come from the registry\n"
      "file named by QUIL_REGISTRY (default /etc/quil/registry.reg), key\n"
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc:\n"
      "LogLevel (1: all but debug lines, 2: all lines), LogFolder, MaxLogFileNum, MaxLogFileSize.\n",
      out);
}

std::string narrow(const QUILCHAR* text) {
  std::string out;
  for (; *text != 0; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

int printLastError() {
  QUILCHAR buffer[256];
  uint32_t required = 0;
  const int32_t code = QUILAPI_GetLastErrorWithMessage(buffer, 256, &required);
  std::printf("last error %d: %s\n", code, narrow(buffer).c_str());
  return code == 0 ? 0 : 1;
}

int status() {
  uint32_t status = 0;
  uint32_t flags = 0;
  if (QUILAPI_GetVolumeInformation(0, &status, &flags) == 0) return printLastError();
  std::printf("volume status %d, write-protect flags 0x%08X\n", static_cast<int32_t>(status), flags);
  return 0;
}

int error(const char* text) {
  char* end = nullptr;
  const long code = std::strtol(text, &end, 0);
  if (end == text || *end != '\0') {
    std::fprintf(stderr, "quil: not an error code: %s\n", text);
    return 2;
  }
  QUILAPI_SetLastError(static_cast<int32_t>(code));
  printLastError();
  return 0;
}

std::u16string widen(const char* text) {
  std::u16string out;
  for (; *text != 0; ++text) out.push_back(static_cast<unsigned char>(*text));
  return out;
}

// Prints what failed with the library's code and message; exit status 1.
int failed(const char* what) {
  QUILCHAR buffer[256];
  const int32_t code = QUILAPI_GetLastErrorWithMessage(buffer, 256, nullptr);
  std::fprintf(stderr, "quil: %s: %d %s\n", what, code, narrow(buffer).c_str());
  return 1;
}

// Writes bytes to a new file and reads them back through a second handle.
int roundTrip(const char16_t* path, const char* shown, const std::string& bytes, uint32_t readShare) {
  const int32_t w = QUILAPI_CreateFile(0, path, 0x40000000u, 0, nullptr, 1, 0, nullptr);
  if (w == -1) return failed(shown);
  for (size_t at = 0; at < bytes.size();) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(64 * 1024, bytes.size() - at));
    uint32_t written = 0;
    if (QUILAPI_WriteFile(w, bytes.data() + at, n, &written) == 0) return failed(shown);
    if (written == 0) break;  // the recording was stopped
    at += written;
  }
  if (QUILAPI_CloseHandle(w) == 0) return failed(shown);
  const int32_t r = QUILAPI_CreateFile(0, path, 0x80000000u, readShare, nullptr, 3, 0, nullptr);
  if (r == -1) return failed(shown);
  std::string back;
  char buffer[64 * 1024];
  for (;;) {
    uint32_t read = 0;
    if (QUILAPI_ReadFile(r, buffer, sizeof buffer, &read) == 0) return failed(shown);
    if (read == 0) break;
    back.append(buffer, read);
  }
  QUILAPI_CloseHandle(r);
  const bool same = back == bytes;
  std::printf("%-22s %zu bytes written, %zu read back, %s\n", shown, bytes.size(), back.size(),
              same ? "identical" : "DIFFERENT");
  return same ? 0 : 1;
}

// Prints the entries of a folder as the library lists them.
int listFolder(const char16_t* pattern, const char* shown) {
  FindData entry{};
  const int32_t find = QUILAPI_FindFirstFile(0, pattern, &entry);
  if (find == -1) return failed(shown);
  std::printf("listing %s\n", shown);
  do {
    std::u16string name(entry.name, std::find(entry.name, entry.name + 64, u'\0'));
    std::printf("  %-24s %10lld %s\n", narrow(name.c_str()).c_str(), static_cast<long long>(entry.size),
                (entry.attributes & 0x10u) != 0 ? "<dir>" : "");
  } while (QUILAPI_FindNextFile(find, &entry) != 0);
  QUILAPI_FindClose(find);
  return 0;
}

int session(const char* root) {
  _Volume_Param param{};
  param.maxClipReadHandles = 4;
  std::memcpy(param.modelName, "ZRD-K2", 6);
  const std::u16string rootPath = widen(root);
  if (QUILAPI_CreateVolume(rootPath.c_str(), &param) == -1) return failed("opening the volume");
  std::printf("volume %s open\n", root);
  std::string clip(256 * 1024, '\0');
  uint32_t x = 12345;
  for (char& c : clip) c = static_cast<char>(x = x * 1103515245u + 12345u, x >> 16);
  int result = roundTrip(u"\\CLIP\\C0001.MXF", "\\CLIP\\C0001.MXF", clip, 1);
  if (result == 0) {
    result = roundTrip(u"\\USERDATA\\hello.txt", "\\USERDATA\\hello.txt", "Hello from libquilcoreapi.\n", 1);
  }
  if (result == 0) result = listFolder(u"\\*", "\\*") | listFolder(u"\\CLIP\\*", "\\CLIP\\*");
  if (result == 0) {
    if (QUILAPI_MoveFile(0, u"\\USERDATA\\hello.txt", u"\\USERDATA\\greeting.txt") == 0) return failed("renaming");
    std::printf("renamed \\USERDATA\\hello.txt to \\USERDATA\\greeting.txt\n");
    result = listFolder(u"\\USERDATA\\*", "\\USERDATA\\*");
    if (QUILAPI_DeleteFile(0, u"\\USERDATA\\greeting.txt") == 0) return failed("deleting");
    std::printf("deleted \\USERDATA\\greeting.txt\n");
    if (QUILAPI_SetVolumeLabel(0, u"QUIL SESSION", 32) == 0) return failed("setting the label");
    QUILCHAR label[64] = {};
    uint32_t length = 0;
    if (QUILAPI_GetVolumeLabel(0, label, 64, &length) == 0) return failed("reading the label");
    std::printf("volume label now \"%s\"\n", narrow(label).c_str());
  }
  if (QUILAPI_CloseVolume(0) == 0) return failed("closing the volume");
  std::printf("volume %s closed\n", root);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  if (command == "version" && argc == 2) {
    std::printf("quil %s (libquilcoreapi, 36 exports)\n", kVersion);
    return 0;
  }
  if (command == "status" && argc == 2) return status();
  if (command == "error" && argc == 3) return error(argv[2]);
  if (command == "session" && argc <= 3) return session(argc == 3 ? argv[2] : "E:");
  std::fprintf(stderr, "quil: unknown command or wrong arguments: %s (see quil --help)\n", command.c_str());
  return 2;
}
